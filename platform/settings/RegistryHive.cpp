#include "platform/settings/RegistryHive.h"

#include "platform/core/AsciiCase.h"
#include "platform/core/HexDigit.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace platform {

namespace {

const char* const header = "REGEDIT4";

std::string_view trimmedView(std::string_view text)
{
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos)
        return {};
    const auto end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

std::string trimmed(const std::string& text)
{
    return std::string(trimmedView(text));
}

bool isStringType(std::uint32_t type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

bool hasControlCharacter(const std::string& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

std::string hexBytes(const std::string& bytes)
{
    std::string out;
    char buffer[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, i ? ",%02x" : "%02x",
                      static_cast<unsigned char>(bytes[i]));
        out += buffer;
    }
    return out;
}

std::string formatData(std::uint32_t type, const std::string& data)
{
    char buffer[32];
    if (type == REG_SZ && !hasControlCharacter(data))
        return quoted(data);
    if (type == REG_DWORD && data.size() == 4) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = value << 8 | static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", value);
        return buffer;
    }
    if (type == REG_BINARY)
        return "hex:" + hexBytes(data);
    std::snprintf(buffer, sizeof buffer, "hex(%x):", type);
    // Strings are stored with their terminating zero, as the system keeps them.
    return buffer + hexBytes(isStringType(type) ? data + '\0' : data);
}

// Reads a quoted text starting at pos (at the opening quote); pos ends after the closing one.
std::optional<std::string> readQuoted(const std::string& line, std::size_t& pos)
{
    if (pos >= line.size() || line[pos] != '"')
        return std::nullopt;
    std::string out;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\' && pos + 1 < line.size())
            c = line[++pos];
        out += c;
    }
    return std::nullopt;
}

std::optional<std::string> parseHexBytes(const std::string& text)
{
    std::string bytes;
    std::string digits;
    for (const char c : text + ',') {
        if (c == ' ' || c == '\t' || c == '\\' || c == '\r')
            continue;
        if (c != ',') {
            digits += c;
            continue;
        }
        if (digits.empty())
            continue;
        if (digits.size() > 2)
            return std::nullopt;
        int value = 0;
        for (const char d : digits) {
            const int digit = hexDigitValue(d);
            if (digit < 0)
                return std::nullopt;
            value = value * 16 + digit;
        }
        bytes += static_cast<char>(value);
        digits.clear();
    }
    return bytes;
}

std::optional<std::uint32_t> parseHexNumber(const std::string& text)
{
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        const int digit = hexDigitValue(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

std::optional<RegistryHive::Value> parseData(const std::string& text)
{
    RegistryHive::Value value;
    if (!text.empty() && text[0] == '"') {
        std::size_t pos = 0;
        auto data = readQuoted(text, pos);
        if (!data || !trimmed(text.substr(pos)).empty())
            return std::nullopt;
        value.type = REG_SZ;
        value.data = *data;
        return value;
    }
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    const std::string kind = lowerAscii(text.substr(0, colon));
    const std::string rest = trimmed(text.substr(colon + 1));
    if (kind == "dword") {
        const auto number = parseHexNumber(rest);
        if (!number)
            return std::nullopt;
        value.type = REG_DWORD;
        for (int i = 0; i < 4; ++i)
            value.data += static_cast<char>(*number >> (8 * i) & 0xff);
        return value;
    }
    if (kind == "hex") {
        value.type = REG_BINARY;
    } else if (kind.size() > 5 && kind.starts_with("hex(") && kind.back() == ')') {
        const auto type = parseHexNumber(kind.substr(4, kind.size() - 5));
        if (!type)
            return std::nullopt;
        value.type = *type;
    } else {
        return std::nullopt;
    }
    auto bytes = parseHexBytes(rest);
    if (!bytes)
        return std::nullopt;
    value.data = isStringType(value.type) ? bytes->substr(0, bytes->find('\0')) : *bytes;
    return value;
}

// A "name"=data or @=data line; nothing for anything else.
std::optional<RegistryHive::Value> parseLine(const std::string& line)
{
    if (line.empty())
        return std::nullopt;
    std::size_t pos = 0;
    std::string name;
    if (line[0] == '@') {
        pos = 1;
    } else {
        auto quotedName = readQuoted(line, pos);
        if (!quotedName)
            return std::nullopt;
        name = *quotedName;
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
    if (pos >= line.size() || line[pos] != '=')
        return std::nullopt;
    auto value = parseData(trimmed(line.substr(pos + 1)));
    if (value)
        value->name = name;
    return value;
}

std::string fullPath(HKEY root, const std::string& path)
{
    const std::string name = RegistryHive::rootName(root);
    return path.empty() ? name : name + '\\' + path;
}

} // namespace

std::string RegistryHive::rootName(HKEY root)
{
    switch (root) {
    case HKEY_CURRENT_USER:
        return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE:
        return "HKEY_LOCAL_MACHINE";
    default:
        return "HKEY_UNKNOWN";
    }
}

RegistryHive RegistryHive::fromText(const std::string& text)
{
    std::vector<std::string_view> lines;
    std::size_t sections = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        sections += trimmedView(line).starts_with('[');
        start = end + 1;
    }

    RegistryHive hive;
    hive.m_keys.reserve(sections);
    hive.m_keyIndex.reserve(sections);
    Key* current = nullptr;
    // Keys of many values get an index of them by lower-case name, so that a later line of
    // the same name replaces its value without a search of the key; for a few values a
    // look at each is quicker than building one.
    constexpr std::size_t indexedFrom = 16;
    std::unordered_map<std::size_t, std::unordered_map<std::string, std::size_t>> indexes;
    const auto place = [&](const Value& value) {
        auto& items = current->items;
        if (items.size() < indexedFrom) {
            const auto found = std::find_if(items.begin(), items.end(), [&](const Item& item) {
                return item.value && equalsIgnoringCase(item.value->name, value.name);
            });
            return static_cast<std::size_t>(found - items.begin());
        }
        const auto key = static_cast<std::size_t>(current - hive.m_keys.data());
        auto [index, made] = indexes.try_emplace(key);
        if (made) {
            for (std::size_t k = 0; k < items.size(); ++k) {
                if (items[k].value)
                    index->second.try_emplace(lowerAscii(items[k].value->name), k);
            }
        }
        return index->second.try_emplace(lowerAscii(value.name), items.size()).first->second;
    };
    auto keep = [&](std::string kept) {
        if (current)
            current->items.push_back({std::nullopt, std::move(kept)});
        else
            hive.m_leading.emplace_back(std::move(kept));
    };
    std::string line;
    std::string original;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view first = trimmedView(lines[i]);
        if (first.empty() || first == header)
            continue;
        if (first[0] == ';') {
            keep(std::string(lines[i]));
            continue;
        }
        if (first[0] == '[') {
            const auto close = first.rfind(']');
            const std::string path(close == std::string_view::npos ? std::string_view()
                                                                   : first.substr(1, close - 1));
            // "[-key]" removes a key in an import file; it names nothing to look up.
            if (path.empty() || path[0] == '-') {
                hive.m_keys.push_back({"", std::string(lines[i]), {}});
                current = &hive.m_keys.back();
            } else {
                current = &hive.addKey(path);
            }
            continue;
        }
        // Long hex data goes on over lines that end with a backslash; a section header
        // never continues a value. Both texts grow at their end only, so a value of any
        // length is read in one pass.
        line.assign(first);
        original.assign(lines[i]);
        while (!line.empty() && line.back() == '\\' && i + 1 < lines.size() &&
               !trimmedView(lines[i + 1]).starts_with('[')) {
            line.pop_back();
            line.append(trimmedView(lines[++i]));
            original += '\n';
            original.append(lines[i]);
        }
        auto value = current && !current->path.empty() ? parseLine(line) : std::nullopt;
        if (!value) {
            keep(original);
            continue;
        }
        const std::size_t at = place(*value);
        if (at == current->items.size())
            current->items.push_back({std::move(value), {}});
        else
            current->items[at].value = std::move(value);
    }
    return hive;
}

std::string RegistryHive::toText() const
{
    std::string out = std::string(header) + "\n\n";
    for (const std::string& line : m_leading)
        out += line + '\n';
    if (!m_leading.empty())
        out += '\n';
    for (const Key& key : m_keys) {
        out += (key.path.empty() ? key.header : '[' + key.path + ']') + '\n';
        for (const Item& item : key.items) {
            if (!item.value) {
                out += item.text + '\n';
                continue;
            }
            out += item.value->name.empty() ? "@" : quoted(item.value->name);
            out += '=' + formatData(item.value->type, item.value->data) + '\n';
        }
        out += '\n';
    }
    return out;
}

RegistryHive::Key* RegistryHive::findKey(const std::string& path)
{
    const auto found = m_keyIndex.find(lowerAscii(path));
    return found == m_keyIndex.end() ? nullptr : &m_keys[found->second];
}

const RegistryHive::Key* RegistryHive::findKey(const std::string& path) const
{
    return const_cast<RegistryHive*>(this)->findKey(path);
}

RegistryHive::Key& RegistryHive::addKey(const std::string& path)
{
    const auto [known, added] = m_keyIndex.try_emplace(lowerAscii(path), m_keys.size());
    if (added)
        m_keys.push_back({path, {}, {}});
    return m_keys[known->second];
}

RegistryHive::Item* RegistryHive::findValue(const std::string& path, const std::string& name)
{
    Key* key = findKey(path);
    if (!key)
        return nullptr;
    for (Item& item : key->items) {
        if (item.value && equalsIgnoringCase(item.value->name, name))
            return &item;
    }
    return nullptr;
}

bool RegistryHive::keyExists(HKEY root, const std::string& path) const
{
    const std::string wanted = fullPath(root, path);
    for (const Key& key : m_keys) {
        if (key.path.size() >= wanted.size() &&
            equalsIgnoringCase(key.path.substr(0, wanted.size()), wanted) &&
            (key.path.size() == wanted.size() || key.path[wanted.size()] == '\\'))
            return true;
    }
    return false;
}

bool RegistryHive::createKey(HKEY root, const std::string& path)
{
    const std::string wanted = fullPath(root, path);
    if (findKey(wanted))
        return false;
    addKey(wanted);
    return true;
}

const RegistryHive::Value* RegistryHive::value(HKEY root, const std::string& path,
                                               const std::string& name) const
{
    const Item* item = const_cast<RegistryHive*>(this)->findValue(fullPath(root, path), name);
    return item ? &*item->value : nullptr;
}

void RegistryHive::setValue(HKEY root, const std::string& path, const std::string& name,
                            std::uint32_t type, const std::string& data)
{
    const std::string wanted = fullPath(root, path);
    if (Item* item = findValue(wanted, name)) {
        item->value->type = type;
        item->value->data = data;
        return;
    }
    addKey(wanted).items.push_back({Value{name, type, data}, {}});
}

bool RegistryHive::removeValue(HKEY root, const std::string& path, const std::string& name)
{
    Key* key = findKey(fullPath(root, path));
    if (!key)
        return false;
    const auto it = std::find_if(key->items.begin(), key->items.end(), [&](const Item& item) {
        return item.value && equalsIgnoringCase(item.value->name, name);
    });
    if (it == key->items.end())
        return false;
    key->items.erase(it);
    return true;
}

} // namespace platform
