#include "runtime/Registry.h"

#include "runtime/Errors.h"

namespace runtime {

Registry::Registry() = default;

Registry::~Registry()
{
    closeKey();
}

void Registry::setRootKey(platform::HKEY root)
{
    if (root == m_root)
        return;
    closeKey();
    m_root = root;
}

bool Registry::openKey(const std::string& key, bool canCreate)
{
    const bool relative = key.empty() || key[0] != '\\';
    const std::string path = relative ? key : key.substr(1);
    const platform::HKEY base = relative && m_current ? m_current : m_root;
    platform::HKEY opened = 0;
    const long status = canCreate ? platform::RegCreateKeyExA(base, path, opened)
                                  : platform::RegOpenKeyExA(base, path, opened);
    if (status != platform::ERROR_SUCCESS)
        return false;
    std::string newPath = path;
    if (relative && m_current && !m_currentPath.empty())
        newPath = path.empty() ? m_currentPath : m_currentPath + '\\' + path;
    closeKey();
    m_current = opened;
    m_currentPath = std::move(newPath);
    return true;
}

void Registry::closeKey()
{
    if (m_current)
        platform::RegCloseKey(m_current);
    m_current = 0;
    m_currentPath.clear();
}

std::string Registry::readString(const std::string& name)
{
    std::uint32_t type = platform::REG_NONE;
    std::string data;
    if (platform::RegQueryValueExA(m_current, name, type, data) != platform::ERROR_SUCCESS)
        return {};
    if (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ)
        throw RegistryError(formatMessage("Invalid data type for '%s'", name));
    return data;
}

void Registry::writeString(const std::string& name, const std::string& value)
{
    if (platform::RegSetValueExA(m_current, name, platform::REG_SZ, value) !=
        platform::ERROR_SUCCESS)
        throw RegistryError(formatMessage("Failed to set data for '%s'", name));
}

bool Registry::deleteValue(const std::string& name)
{
    return platform::RegDeleteValueA(m_current, name) == platform::ERROR_SUCCESS;
}

bool Registry::valueExists(const std::string& name)
{
    std::uint32_t type = platform::REG_NONE;
    std::string data;
    return platform::RegQueryValueExA(m_current, name, type, data) == platform::ERROR_SUCCESS;
}

} // namespace runtime
