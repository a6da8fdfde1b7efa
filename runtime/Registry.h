#pragma once

#include "platform/settings/Registry.h"

#include <string>

namespace runtime {

// Reads and writes values of one open key below a chosen root, raising RegistryError
// where a caller cannot go on.
class Registry
{
public:
    Registry();
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Closes the open key. HKEY_CURRENT_USER until set.
    void setRootKey(platform::HKEY root);
    platform::HKEY rootKey() const { return m_root; }

    // A key starting with "\" is found from the root, any other below the open key (or the
    // root when none is open). On success the new key replaces the open one.
    bool openKey(const std::string& key, bool canCreate);
    void closeKey();
    platform::HKEY currentKey() const { return m_current; }
    // The open key's path from the root, without a leading "\".
    const std::string& currentPath() const { return m_currentPath; }

    // A missing value reads as empty text.
    std::string readString(const std::string& name);
    void writeString(const std::string& name, const std::string& value);
    bool deleteValue(const std::string& name);
    bool valueExists(const std::string& name);

private:
    platform::HKEY m_root = platform::HKEY_CURRENT_USER;
    platform::HKEY m_current = 0;
    std::string m_currentPath;
};

} // namespace runtime
