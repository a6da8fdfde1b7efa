#include "support/FakeSystem.h"

#include <cctype>

namespace test {

namespace {

std::string lowered(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string keyId(platform::HKEY root, const std::string& path)
{
    return std::to_string(root) + ":" + lowered(path);
}

std::string valueId(platform::HKEY root, const std::string& path, const std::string& name)
{
    return keyId(root, path) + "|" + lowered(name);
}

} // namespace

bool FakeSystem::version(platform::OSVERSIONINFOA& info)
{
    if (!versionKnown)
        return false;
    info = versionInfo;
    return true;
}

void FakeSystem::setVersion(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor,
                            std::uint32_t build, const std::string& servicePack)
{
    versionInfo.dwPlatformId = platformId;
    versionInfo.dwMajorVersion = major;
    versionInfo.dwMinorVersion = minor;
    versionInfo.dwBuildNumber = build;
    versionInfo.szCSDVersion = servicePack;
}

long FakeRegistry::openKey(platform::HKEY root, const std::string& path)
{
    ++calls;
    if (real)
        return real->openKey(root, path);
    return path.empty() || keys.count(keyId(root, path)) ? platform::ERROR_SUCCESS
                                                         : platform::ERROR_FILE_NOT_FOUND;
}

long FakeRegistry::createKey(platform::HKEY root, const std::string& path)
{
    ++calls;
    if (real)
        return real->createKey(root, path);
    keys.insert(keyId(root, path));
    return platform::ERROR_SUCCESS;
}

long FakeRegistry::queryValue(platform::HKEY root, const std::string& path, const std::string& name,
                              std::uint32_t& type, std::string& data)
{
    ++calls;
    ++reads;
    if (real)
        return real->queryValue(root, path, name, type, data);
    const auto found = values.find(valueId(root, path, name));
    if (found == values.end())
        return platform::ERROR_FILE_NOT_FOUND;
    type = found->second.first;
    data = found->second.second;
    return platform::ERROR_SUCCESS;
}

long FakeRegistry::setValue(platform::HKEY root, const std::string& path, const std::string& name,
                            std::uint32_t type, const std::string& data)
{
    ++calls;
    if (refuseWrites)
        return platform::ERROR_ACCESS_DENIED;
    if (!path.empty() && !keys.count(keyId(root, path)))
        return platform::ERROR_FILE_NOT_FOUND;
    ++writes;
    values[valueId(root, path, name)] = {type, data};
    return platform::ERROR_SUCCESS;
}

long FakeRegistry::deleteValue(platform::HKEY root, const std::string& path,
                               const std::string& name)
{
    ++calls;
    if (refuseWrites || refuseDeletes)
        return platform::ERROR_ACCESS_DENIED;
    return values.erase(valueId(root, path, name)) ? platform::ERROR_SUCCESS
                                                   : platform::ERROR_FILE_NOT_FOUND;
}

void FakeRegistry::set(const std::string& path, const std::string& name, const std::string& data,
                       std::uint32_t type)
{
    createKey(platform::HKEY_LOCAL_MACHINE, path);
    values[valueId(platform::HKEY_LOCAL_MACHINE, path, name)] = {type, data};
}

std::string FakeRegistry::get(const std::string& path, const std::string& name) const
{
    const auto* value = find(path, name);
    return value ? value->second : std::string();
}

const std::pair<std::uint32_t, std::string>* FakeRegistry::find(const std::string& path,
                                                                const std::string& name) const
{
    const auto found = values.find(valueId(platform::HKEY_LOCAL_MACHINE, path, name));
    return found == values.end() ? nullptr : &found->second;
}

} // namespace test
