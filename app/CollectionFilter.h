#pragma once

#include "platform/collection/CollectionRules.h"
#include "scan/FilesScn.h"

#include <string>

// What one stage of a collection never takes, as the files scanner asks it.
class TCollectionFilter : public TScanFilter
{
public:
    TCollectionFilter(platform::CollectionRules::Reach reach, const std::string& windowsRoot)
        : rules(reach, windowsRoot)
    {
    }

    bool SkipsFolder(const std::string& Folder, const std::string& Name) override
    {
        return rules.skipsFolder(Folder, Name);
    }
    bool RefusesName(const std::string& Folder, const std::string& Name) override
    {
        return rules.keepsByName(Folder, Name);
    }
    bool RefusesEntry(const platform::WIN32_FIND_DATAA& Entry) override
    {
        return rules.keepsByDetails(Entry);
    }

    platform::CollectionRules rules;
};
