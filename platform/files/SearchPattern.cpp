#include "platform/files/SearchPattern.h"

#include "platform/core/AsciiCase.h"

namespace platform {

bool isDotName(std::string_view name)
{
    return name == "." || name == "..";
}

bool wildcardMatch(std::string_view pattern, std::string_view name)
{
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starAt = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            starName = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || lowerAscii(pattern[p]) == lowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

void appendToKey(std::string& key, std::string_view text)
{
    for (char c : text) {
        if (c == '/')
            c = '\\';
        if (c == '\\' && !key.empty() && key.back() == '\\')
            continue;
        key += c;
    }
}

void finishKey(std::string& key)
{
    while (!key.empty() && key.back() == '\\')
        key.pop_back();
    if (key.size() >= 2 && key[1] == ':')
        key[0] = upperAscii(key[0]);
}

bool isDriveRoot(std::string_view key)
{
    return key.size() == 2 && key[1] == ':';
}

} // namespace platform
