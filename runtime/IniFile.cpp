#include "runtime/IniFile.h"
#include "platform/core/HexDigit.h"

#include "runtime/Errors.h"

#include <cerrno>

#include <cstdint>
#include <limits>

namespace runtime {

namespace {

constexpr std::size_t readBufferSize = 1024;

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

CustomIniFile::CustomIniFile(std::string fileName) : m_fileName(std::move(fileName)) {}

const std::string& CustomIniFile::fileName() const
{
    return m_fileName;
}

std::string CustomIniFile::readString(const std::string& section, const std::string& ident,
                                      const std::string& defaultValue) const
{
    std::string text = readValue(section, ident, defaultValue);
    if (text.size() >= readBufferSize) {
        std::size_t cut = readBufferSize - 1;
        // Half a character would come back as garbage; drop it whole.
        if (isContinuationByte(text[cut])) {
            std::size_t lead = cut;
            while (lead > 0 && lead > cut - 3 && isContinuationByte(text[lead]))
                --lead;
            if (static_cast<unsigned char>(text[lead]) >= 0xC0)
                cut = lead;
        }
        text.resize(cut);
    }
    return text;
}

int CustomIniFile::readInteger(const std::string& section, const std::string& ident,
                               int defaultValue) const
{
    std::string text = readString(section, ident, {});
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text = "$" + text.substr(2);
    return strToIntDef(text, defaultValue);
}

void CustomIniFile::writeInteger(const std::string& section, const std::string& ident, int value)
{
    writeString(section, ident, std::to_string(value));
}

void CustomIniFile::failWrite() const
{
    throw IniFileError(formatMessage("Unable to write to %s", m_fileName));
}

bool IniFile::exists() const
{
    return platform::profileFileExists(fileName());
}

std::string IniFile::readValue(const std::string& section, const std::string& ident,
                               const std::string& defaultValue) const
{
    return platform::GetPrivateProfileStringA(section, ident, defaultValue, fileName());
}

void IniFile::writeString(const std::string& section, const std::string& ident,
                          const std::string& value)
{
    if (!platform::WritePrivateProfileStringA(section, ident, value, fileName()))
        failWrite();
}

const platform::ProfileDocument& MemIniFile::document() const
{
    if (!m_document) {
        auto text = platform::readProfileFile(fileName());
        if (!text && errno != ENOENT)
            throw IniFileError(formatMessage("Unable to read %s", fileName()));
        m_existed = text.has_value();
        m_document.emplace(std::move(text).value_or(std::string()));
        for (const platform::ProfileEntry& change : m_changes)
            m_document->setValue(change.section, change.key, change.value);
    }
    return *m_document;
}

bool MemIniFile::exists() const
{
    document();
    return m_existed;
}

std::string MemIniFile::readValue(const std::string& section, const std::string& ident,
                                  const std::string& defaultValue) const
{
    return platform::profileString(document(), section, ident, defaultValue);
}

void MemIniFile::writeString(const std::string& section, const std::string& ident,
                             const std::string& value)
{
    if (!platform::ProfileDocument::isValidEntry(section, ident, value))
        failWrite();
    m_changes.push_back({section, ident, value});
    if (m_document)
        m_document->setValue(section, ident, value);
}

void MemIniFile::writeMerged(const std::string& section, const std::string& ident,
                             const std::string& value, Merge merge)
{
    writeString(section, ident, value);
    m_changes.back().merge = std::move(merge);
}

void MemIniFile::updateFile()
{
    if (!platform::writeProfileEntries(fileName(), m_changes))
        failWrite();
    m_changes.clear();
}

int strToIntDef(const std::string& text, int defaultValue)
{
    std::size_t at = text.find_first_not_of(" \t");
    if (at == std::string::npos)
        return defaultValue;
    bool negative = false;
    if (text[at] == '+' || text[at] == '-')
        negative = text[at++] == '-';

    std::uint32_t magnitude = 0;
    if (at < text.size() && text[at] == '$') {
        if (++at == text.size())
            return defaultValue;
        for (; at < text.size(); ++at) {
            const int digit = platform::hexDigitValue(text[at]);
            if (digit < 0 || magnitude > 0x0FFFFFFFu)
                return defaultValue;
            magnitude = magnitude << 4 | static_cast<std::uint32_t>(digit);
        }
        // Two's complement: the bit pattern is the value.
        const std::uint32_t bits = negative ? 0u - magnitude : magnitude;
        return static_cast<std::int32_t>(bits);
    }

    if (at == text.size())
        return defaultValue;
    const std::uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9')
            return defaultValue;
        const auto digit = static_cast<std::uint32_t>(text[at] - '0');
        if (magnitude > (limit - digit) / 10)
            return defaultValue;
        magnitude = magnitude * 10 + digit;
    }
    if (negative)
        return magnitude == 0x80000000u ? std::numeric_limits<int>::min()
                                        : -static_cast<int>(magnitude);
    return static_cast<int>(magnitude);
}

} // namespace runtime
