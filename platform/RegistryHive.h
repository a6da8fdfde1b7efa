#pragma once

#include "platform/Registry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The keys and values of a hive file, in memory, and its REGEDIT4 text form. Keys keep
// the order and spelling in which they were first written; lookups ignore ASCII case.
// Roots other than the two predefined ones survive a read and write unchanged.
class RegistryHive
{
public:
    struct Value
    {
        std::string name;
        std::uint32_t type = REG_NONE;
        std::string data;
    };

    // Lines that cannot be understood are left out.
    static RegistryHive fromText(const std::string& text);
    std::string toText() const;

    // A key exists when it or a key below it is stored.
    bool keyExists(HKEY root, const std::string& path) const;
    // False when the key was there already.
    bool createKey(HKEY root, const std::string& path);
    const Value* value(HKEY root, const std::string& path, const std::string& name) const;
    // Creates the key when missing; a value of the same name is replaced whatever its type.
    void setValue(HKEY root, const std::string& path, const std::string& name, std::uint32_t type,
                  const std::string& data);
    bool removeValue(HKEY root, const std::string& path, const std::string& name);

    static std::string rootName(HKEY root);

private:
    struct Key
    {
        std::string path; // with the root's name in front
        std::vector<Value> values;
    };

    Key* findKey(const std::string& fullPath);
    const Key* findKey(const std::string& fullPath) const;
    Key& addKey(const std::string& fullPath);

    std::vector<Key> m_keys;
};

// ASCII-only, as the registry compares names.
bool equalsIgnoringCase(const std::string& a, const std::string& b);

} // namespace platform
