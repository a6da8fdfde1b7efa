#include "platform/settings/Profile.h"

#include "platform/core/Service.h"

namespace platform {

std::string GetPrivateProfileStringA(const std::string& section, const std::string& key,
                                     const std::string& defaultValue, const std::string& fileName)
{
    return Service<ProfileService>::instance().getString(section, key, defaultValue, fileName);
}

bool WritePrivateProfileStringA(const std::string& section, const std::string& key,
                                const std::string& value, const std::string& fileName)
{
    return Service<ProfileService>::instance().writeString(section, key, value, fileName);
}

bool profileFileExists(const std::string& fileName)
{
    return Service<ProfileService>::instance().fileExists(fileName);
}

std::optional<std::string> readProfileFile(const std::string& fileName)
{
    return Service<ProfileService>::instance().readFile(fileName);
}

bool writeProfileEntries(const std::string& fileName, const std::vector<ProfileEntry>& entries)
{
    return Service<ProfileService>::instance().writeEntries(fileName, entries);
}

std::string profileString(const ProfileDocument& document, const std::string& section,
                          const std::string& key, const std::string& defaultValue)
{
    std::string fallback = defaultValue;
    fallback.erase(fallback.find_last_not_of(" \t") + 1);
    if (section.empty() || key.empty())
        return fallback;
    return document.value(section, key).value_or(fallback);
}

} // namespace platform
