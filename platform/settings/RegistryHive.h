#pragma once

#include "platform/settings/Registry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

// The keys and values of a hive file, in memory, and its REGEDIT4 text form. Keys keep
// the order and spelling in which they were first written; lookups ignore ASCII case.
// Roots other than the two predefined ones survive a read and write unchanged, and so do
// lines that cannot be understood: a hive is somebody's file, and a rewrite must not
// lose what it does not know.
class RegistryHive
{
public:
    struct Value
    {
        std::string name;
        std::uint32_t type = REG_NONE;
        std::string data;
    };

    // Comments, broken values and sections that name no key are kept as they stand and
    // written back in their place.
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
    // A value, or lines kept as they stood.
    struct Item
    {
        std::optional<Value> value;
        std::string text;
    };

    struct Key
    {
        std::string path;   // with the root's name in front; empty for a kept section
        std::string header; // a kept section's own header line
        std::vector<Item> items;
    };

    Item* findValue(const std::string& fullPath, const std::string& name);

    Key* findKey(const std::string& fullPath);
    const Key* findKey(const std::string& fullPath) const;
    Key& addKey(const std::string& fullPath);

    std::vector<std::string> m_leading; // kept lines before the first section
    std::vector<Key> m_keys;
    // Places in m_keys by lower-case path, kept sections left out: a hive of many keys is
    // read without a search of the keys before each one.
    std::unordered_map<std::string, std::size_t> m_keyIndex;
};

} // namespace platform
