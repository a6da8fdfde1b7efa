#include "platform/settings/Registry.h"

#include <cerrno>

#include "platform/core/Service.h"

#include <map>
#include <mutex>

namespace platform {

namespace {

struct OpenKey
{
    HKEY root;
    std::string path;
};

// Handles of open keys. They only name a place, so a fake service installed later still
// sees the keys opened before it.
class HandleTable
{
public:
    HKEY add(HKEY root, const std::string& path)
    {
        std::lock_guard lock(m_mutex);
        const HKEY handle = m_next++;
        m_keys[handle] = {root, path};
        return handle;
    }

    bool find(HKEY handle, OpenKey& key)
    {
        if (handle == HKEY_CURRENT_USER || handle == HKEY_LOCAL_MACHINE) {
            key = {handle, {}};
            return true;
        }
        std::lock_guard lock(m_mutex);
        const auto it = m_keys.find(handle);
        if (it == m_keys.end())
            return false;
        key = it->second;
        return true;
    }

    bool remove(HKEY handle)
    {
        std::lock_guard lock(m_mutex);
        return m_keys.erase(handle) == 1;
    }

private:
    std::mutex m_mutex;
    std::map<HKEY, OpenKey> m_keys;
    HKEY m_next = 0x1000;
};

HandleTable& handles()
{
    static HandleTable table;
    return table;
}

RegistryService& service()
{
    return Service<RegistryService>::instance();
}

// Control characters cannot be stored in the hive's line format nor in a file name.
bool isValidName(const std::string& name)
{
    for (const unsigned char c : name) {
        if (c < 0x20)
            return false;
    }
    return true;
}

// Appends the components of subKey to path, dropping empty ones ("a\\b\" is "a\b").
bool appendPath(std::string& path, const std::string& subKey)
{
    std::size_t start = 0;
    while (start <= subKey.size()) {
        std::size_t end = subKey.find('\\', start);
        if (end == std::string::npos)
            end = subKey.size();
        const std::string part = subKey.substr(start, end - start);
        if (!part.empty()) {
            if (!isValidName(part))
                return false;
            if (!path.empty())
                path += '\\';
            path += part;
        }
        start = end + 1;
    }
    return true;
}

// What opening a key that is not there does.
enum class Missing { Fails, Created };

long openOrCreate(HKEY key, const std::string& subKey, HKEY& result, Missing missing)
{
    result = 0;
    OpenKey parent;
    if (!handles().find(key, parent))
        return ERROR_INVALID_HANDLE;
    std::string path = parent.path;
    if (!appendPath(path, subKey))
        return ERROR_INVALID_PARAMETER;
    const long status = missing == Missing::Created ? service().createKey(parent.root, path)
                                                    : service().openKey(parent.root, path);
    if (status == ERROR_SUCCESS)
        result = handles().add(parent.root, path);
    return status;
}

} // namespace

long RegCreateKeyExA(HKEY root, const std::string& subKey, HKEY& result)
{
    return openOrCreate(root, subKey, result, Missing::Created);
}

long RegOpenKeyExA(HKEY root, const std::string& subKey, HKEY& result)
{
    return openOrCreate(root, subKey, result, Missing::Fails);
}

long RegQueryValueExA(HKEY key, const std::string& valueName, std::uint32_t& type,
                      std::string& data)
{
    type = REG_NONE;
    data.clear();
    OpenKey open;
    if (!handles().find(key, open))
        return ERROR_INVALID_HANDLE;
    if (!isValidName(valueName))
        return ERROR_FILE_NOT_FOUND;
    return service().queryValue(open.root, open.path, valueName, type, data);
}

long RegSetValueExA(HKEY key, const std::string& valueName, std::uint32_t type,
                    const std::string& data)
{
    OpenKey open;
    if (!handles().find(key, open))
        return ERROR_INVALID_HANDLE;
    if (!isValidName(valueName))
        return ERROR_INVALID_PARAMETER;
    if (type == REG_SZ || type == REG_EXPAND_SZ)
        return service().setValue(open.root, open.path, valueName, type,
                                  data.substr(0, data.find('\0')));
    return service().setValue(open.root, open.path, valueName, type, data);
}

long RegDeleteValueA(HKEY key, const std::string& valueName)
{
    OpenKey open;
    if (!handles().find(key, open))
        return ERROR_INVALID_HANDLE;
    if (!isValidName(valueName))
        return ERROR_FILE_NOT_FOUND;
    return service().deleteValue(open.root, open.path, valueName);
}

long RegCloseKey(HKEY key)
{
    if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE)
        return ERROR_SUCCESS;
    return handles().remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

long registryErrorFromErrno(int error)
{
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    default:
        return ERROR_WRITE_FAULT;
    }
}

} // namespace platform
