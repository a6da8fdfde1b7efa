#include "platform/ProfileDocument.h"

namespace platform {

namespace {

constexpr std::string_view blanks = " \t";
constexpr std::string_view utf8Bom = "\xEF\xBB\xBF";

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

bool hasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != text.npos;
}

std::string valueOf(std::string_view keyLine)
{
    std::string_view value = trimmed(keyLine.substr(keyLine.find('=') + 1));
    if (value.size() >= 2 && value.front() == value.back() &&
        (value.front() == '"' || value.front() == '\''))
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

} // namespace

ProfileDocument::ProfileDocument(std::string_view text)
{
    std::size_t start = 0;
    while (start < text.size()) {
        const auto stop = text.find_first_of("\r\n", start);
        if (stop == text.npos) {
            m_lines.push_back(classify(std::string(text.substr(start)), {}, m_lines.empty()));
            break;
        }
        const std::size_t endLength =
            text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n' ? 2 : 1;
        m_lines.push_back(classify(std::string(text.substr(start, stop - start)),
                                   std::string(text.substr(stop, endLength)), m_lines.empty()));
        start = stop + endLength;
    }
}

ProfileDocument::Line ProfileDocument::classify(std::string content, std::string end, bool first)
{
    Line line{std::move(content), std::move(end), Kind::Other, {}};
    std::string_view body = line.content;
    // An editor may have put a byte-order mark in front; the bytes stay, the meaning is kept.
    if (first && body.starts_with(utf8Bom))
        body.remove_prefix(utf8Bom.size());
    body = trimmed(body);
    // A header missing its "]" still starts a section, so the keys under it never count as
    // keys of the section before.
    if (body.starts_with('[')) {
        line.kind = Kind::Section;
        line.name = trimmed(body.substr(1, body.find(']') - 1));
    } else if (!body.starts_with(';') && body.find('=') != body.npos) {
        line.kind = Kind::Key;
        line.name = trimmed(body.substr(0, body.find('=')));
    }
    return line;
}

std::optional<std::string> ProfileDocument::value(std::string_view section,
                                                  std::string_view key) const
{
    section = trimmed(section);
    key = trimmed(key);
    bool inSection = false;
    for (const Line& line : m_lines) {
        if (line.kind == Kind::Section)
            inSection = equalsIgnoringCase(line.name, section);
        else if (inSection && line.kind == Kind::Key && equalsIgnoringCase(line.name, key))
            return valueOf(line.content);
    }
    return std::nullopt;
}

void ProfileDocument::setValue(std::string_view section, std::string_view key,
                               std::string_view value)
{
    section = trimmed(section);
    key = trimmed(key);
    std::string entry = std::string(key) + "=" + std::string(value);

    std::optional<std::size_t> firstSection;
    std::optional<std::size_t> lastKeyOfFirst;
    bool inSection = false;
    bool inFirst = false;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        Line& line = m_lines[i];
        if (line.kind == Kind::Section) {
            inSection = equalsIgnoringCase(line.name, section);
            inFirst = inSection && !firstSection;
            if (inFirst)
                firstSection = i;
        } else if (inSection && line.kind == Kind::Key) {
            if (equalsIgnoringCase(line.name, key)) {
                line = classify(std::move(entry), "\r\n", i == 0);
                return;
            }
            if (inFirst)
                lastKeyOfFirst = i;
        }
    }

    if (firstSection) {
        insertLine(lastKeyOfFirst.value_or(*firstSection) + 1, std::move(entry));
    } else {
        insertLine(m_lines.size(), "[" + std::string(section) + "]");
        insertLine(m_lines.size(), std::move(entry));
    }
}

void ProfileDocument::insertLine(std::size_t at, std::string content)
{
    if (at > 0 && m_lines[at - 1].end.empty())
        m_lines[at - 1].end = "\r\n";
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at),
                   classify(std::move(content), "\r\n", at == 0));
}

std::string ProfileDocument::text() const
{
    std::string text;
    for (const Line& line : m_lines)
        text += line.content + line.end;
    return text;
}

bool ProfileDocument::isValidEntry(std::string_view section, std::string_view key,
                                   std::string_view value)
{
    section = trimmed(section);
    key = trimmed(key);
    if (section.empty() || key.empty())
        return false;
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value))
        return false;
    // Either would be read back as something else: the end of the section name, the end of
    // the key, a section header or a comment.
    if (section.find(']') != section.npos || key.find('=') != key.npos)
        return false;
    return !key.starts_with('[') && !key.starts_with(';');
}

} // namespace platform
