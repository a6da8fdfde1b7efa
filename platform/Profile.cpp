#include "platform/Profile.h"

#include "platform/Service.h"

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

bool PrivateProfileFileExists(const std::string& fileName)
{
    return Service<ProfileService>::instance().fileExists(fileName);
}

} // namespace platform
