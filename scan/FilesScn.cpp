#include "scan/FilesScn.h"

void ParseMaskList(TMaskList& List, const std::string& Text)
{
    std::string element;
    const auto addElement = [&] {
        while (!element.empty() && element.back() == ' ')
            element.pop_back();
        if (!element.empty())
            List.push_back(std::make_unique<TMultiMask>(std::make_unique<TMask>(element)));
        element.clear();
    };
    for (const char c : Text) {
        if (c == ',')
            addElement();
        else if (c != ' ' || !element.empty())
            element += c;
    }
    addElement();
}

bool MatchesAny(const TMaskList& List, const std::string& Name)
{
    for (const auto& item : List)
        if (item->FMask()->Matches(Name))
            return true;
    return false;
}
