#include "platform/core/KeyFile.h"

#include "platform/core/AsciiCase.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

constexpr std::string_view blanks = " \t";
constexpr std::string_view utf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t npos = std::string_view::npos;

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(blanks);
    // Empty, but still at its place in the line.
    if (first == npos)
        return text.substr(0, 0);
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// memchr rather than find_first_of: a large file is searched byte by byte only once.
std::size_t findByte(std::string_view text, char byte, std::size_t from)
{
    if (from >= text.size())
        return npos;
    const void* found = std::memchr(text.data() + from, byte, text.size() - from);
    return found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data()) : npos;
}

constexpr std::string_view endTexts[] = {"", "\n", "\r", "\r\n"};

} // namespace

KeyFileDocument::KeyFileDocument(const KeyFileSyntax& syntax, std::string text)
    : m_syntax(syntax), m_text(std::move(text))
{
    const std::string_view all = m_text;
    // One allocation for the lines of a large file, not a dozen copies of them.
    m_lines.reserve(static_cast<std::size_t>(std::count(all.begin(), all.end(), '\n')) + 1);
    // Where the next CR and LF are, found once each, so that a file of CR-only lines
    // is not searched to its end for every line.
    std::size_t nextLf = findByte(all, '\n', 0);
    std::size_t nextCr = m_syntax.lenient ? findByte(all, '\r', 0) : npos;
    std::size_t start = 0;
    while (start < all.size()) {
        if (nextLf < start)
            nextLf = findByte(all, '\n', start);
        if (nextCr < start)
            nextCr = findByte(all, '\r', start);
        Line line;
        line.start = start;
        std::size_t stop = std::min(nextLf, nextCr);
        if (stop == npos) {
            line.length = all.size() - start;
            start = all.size();
            // Desktop files read a CR at the very end as a line end of its own.
            if (!m_syntax.lenient && line.length > 0 && all.back() == '\r') {
                line.end = End::Cr;
                --line.length;
            }
        } else if (all[stop] == '\r') {
            const bool crLf = stop + 1 < all.size() && all[stop + 1] == '\n';
            line.end = crLf ? End::CrLf : End::Cr;
            line.length = stop - start;
            start = stop + (crLf ? 2 : 1);
        } else {
            line.end = End::Lf;
            // Without leniency a CR ends a line only in front of the LF.
            if (stop > start && all[stop - 1] == '\r') {
                line.end = End::CrLf;
                --stop;
            }
            line.length = stop - start;
            start = nextLf + 1;
        }
        if (m_lineEnd == End::None)
            m_lineEnd = line.end;
        append(line);
    }
    if (m_lineEnd == End::None) {
        const std::string_view wanted = m_syntax.lineEnd;
        m_lineEnd = wanted == "\r\n" ? End::CrLf : wanted == "\r" ? End::Cr : End::Lf;
    }
}

void KeyFileDocument::append(Line line)
{
    const Parsed parsed = parse(content(line), m_lines.empty());
    line.kind = parsed.kind;
    line.hash = hashOf(parsed.name);
    if (line.kind == Kind::Group || line.kind == Kind::UnnamedGroup)
        m_groups.push_back({m_lines.size(), std::uint32_t(line.hash), line.kind == Kind::Group});
    m_lines.push_back(line);
}

std::string_view KeyFileDocument::content(const Line& line) const
{
    return std::string_view(line.added ? m_added : m_text).substr(line.start, line.length);
}

KeyFileDocument::Parsed KeyFileDocument::parse(std::string_view content, bool first) const
{
    std::string_view body = content;
    if (m_syntax.lenient) {
        // An editor may have put a byte-order mark in front; the bytes stay, the meaning
        // is kept.
        if (first && body.starts_with(utf8Bom))
            body.remove_prefix(utf8Bom.size());
        body = trimmed(body);
    }
    if (body.starts_with('[')) {
        // A header missing its "]" still starts a section, so the keys under it never
        // count as keys of the section before.
        if (m_syntax.lenient)
            return {Kind::Group, trimmed(body.substr(1, body.find(']') - 1))};
        if (body.size() >= 2 && body.back() == ']')
            return {Kind::Group, body.substr(1, body.size() - 2)};
        return {Kind::UnnamedGroup, {}};
    }
    const auto equals = body.find('=');
    if (body.starts_with(m_syntax.comment) || equals == npos)
        return {Kind::Other, {}};
    const std::string_view key = body.substr(0, equals);
    if (m_syntax.lenient)
        return {Kind::Key, trimmed(key)};
    return {Kind::Key, key.substr(0, key.find_last_not_of(blanks) + 1)};
}

std::uint32_t KeyFileDocument::hashOf(std::string_view name) const
{
    std::uint32_t hash = 2166136261u;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(m_syntax.ignoreCase ? lowerAscii(c) : c);
        hash *= 16777619u;
    }
    return hash & 0xFFFFFF; // as much as a line keeps
}

std::string_view KeyFileDocument::nameAt(std::size_t line) const
{
    return parse(content(m_lines[line]), line == 0).name;
}

bool KeyFileDocument::isNamed(std::size_t line, const Wanted& wanted) const
{
    if (m_lines[line].hash != wanted.hash)
        return false;
    const std::string_view name = nameAt(line);
    return m_syntax.ignoreCase ? equalsIgnoringCase(name, wanted.name) : name == wanted.name;
}

KeyFileDocument::Wanted KeyFileDocument::wanted(std::string_view name) const
{
    if (m_syntax.lenient)
        name = trimmed(name);
    return {name, hashOf(name)};
}

std::string KeyFileDocument::valueAt(std::size_t line) const
{
    const std::string_view text = content(m_lines[line]);
    const std::string_view name = nameAt(line);
    const auto nameEnd = static_cast<std::size_t>(name.data() - text.data()) + name.size();
    std::string_view value = text.substr(text.find('=', nameEnd) + 1);
    if (!m_syntax.unquoteValues) {
        value.remove_prefix(std::min(value.find_first_not_of(blanks), value.size()));
        return std::string(value);
    }
    value = trimmed(value);
    if (value.size() >= 2 && value.front() == value.back() &&
        (value.front() == '"' || value.front() == '\''))
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

std::size_t KeyFileDocument::groupEnd(std::size_t group) const
{
    return group + 1 < m_groups.size() ? m_groups[group + 1].line : m_lines.size();
}

std::vector<std::size_t> KeyFileDocument::groupsNamed(const Wanted& group) const
{
    std::vector<std::size_t> found;
    for (std::size_t g = 0; g < m_groups.size(); ++g) {
        if (m_groups[g].named && m_groups[g].hash == group.hash && isNamed(m_groups[g].line, group))
            found.push_back(g);
    }
    return found;
}

std::optional<std::size_t> KeyFileDocument::findGroup(const Wanted& group) const
{
    const auto groups = groupsNamed(group);
    if (groups.empty())
        return std::nullopt;
    return m_syntax.lastWins ? groups.back() : groups.front();
}

std::optional<std::size_t> KeyFileDocument::findKey(const Wanted& group, const Wanted& key) const
{
    std::optional<std::size_t> found;
    for (const std::size_t g : groupsNamed(group)) {
        for (std::size_t i = m_groups[g].line + 1; i < groupEnd(g); ++i) {
            if (m_lines[i].kind == Kind::Key && isNamed(i, key)) {
                if (!m_syntax.lastWins)
                    return i;
                found = i;
            }
        }
    }
    return found;
}

bool KeyFileDocument::hasGroup(std::string_view group) const
{
    return findGroup(wanted(group)).has_value();
}

std::optional<std::string> KeyFileDocument::value(std::string_view group,
                                                  std::string_view key) const
{
    const auto line = findKey(wanted(group), wanted(key));
    if (!line)
        return std::nullopt;
    return valueAt(*line);
}

std::vector<KeyFileDocument::Entry> KeyFileDocument::entries(std::string_view group) const
{
    std::vector<Entry> found;
    for (const std::size_t g : groupsNamed(wanted(group))) {
        for (std::size_t i = m_groups[g].line + 1; i < groupEnd(g); ++i) {
            if (m_lines[i].kind == Kind::Key)
                found.push_back({i, std::string(nameAt(i)), valueAt(i)});
        }
    }
    return found;
}

void KeyFileDocument::setValue(std::string_view group, std::string_view key, std::string_view value)
{
    const Wanted groupName = wanted(group);
    const Wanted keyName = wanted(key);
    if (const auto line = findKey(groupName, keyName)) {
        replaceEntry(*line, keyName.name, value);
        return;
    }
    const std::string entry = std::string(keyName.name) + "=" + std::string(value);
    const auto found = findGroup(groupName);
    if (!found) {
        insertLine(m_lines.size(), "[" + std::string(groupName.name) + "]");
        insertLine(m_lines.size(), entry);
        return;
    }
    std::size_t after = m_groups[*found].line;
    for (std::size_t i = after + 1; i < groupEnd(*found); ++i) {
        const Line& line = m_lines[i];
        if (m_syntax.addAfterLastLine ? line.length > 0 : line.kind == Kind::Key)
            after = i;
    }
    insertLine(after + 1, entry);
}

KeyFileDocument::Line KeyFileDocument::written(std::string_view content, End end, bool first)
{
    Line line;
    line.start = m_added.size();
    line.length = content.size();
    line.end = end;
    line.added = true;
    m_added += content;
    const Parsed parsed = parse(content, first);
    line.kind = parsed.kind;
    line.hash = hashOf(parsed.name);
    return line;
}

void KeyFileDocument::replaceEntry(std::size_t line, std::string_view key, std::string_view value)
{
    // Only a key line: anything else would move the group boundaries.
    if (line >= m_lines.size() || m_lines[line].kind != Kind::Key)
        return;
    const std::string entry = std::string(key) + "=" + std::string(value);
    m_lines[line] = written(entry, m_lines[line].end, line == 0);
}

void KeyFileDocument::insertLine(std::size_t at, std::string_view content)
{
    if (at > 0 && m_lines[at - 1].end == End::None)
        m_lines[at - 1].end = m_lineEnd;
    const Line line = written(content, m_lineEnd, at == 0);
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), line);
    auto next =
        std::lower_bound(m_groups.begin(), m_groups.end(), at,
                         [](const GroupStart& group, std::size_t l) { return group.line < l; });
    for (auto it = next; it != m_groups.end(); ++it)
        ++it->line;
    if (line.kind == Kind::Group || line.kind == Kind::UnnamedGroup)
        m_groups.insert(next, {at, std::uint32_t(line.hash), line.kind == Kind::Group});
}

std::string KeyFileDocument::text() const
{
    const auto endText = [](End end) { return endTexts[static_cast<std::size_t>(end)]; };
    std::size_t size = 0;
    for (const Line& line : m_lines)
        size += line.length + endText(line.end).size();
    std::string text;
    text.reserve(size);
    for (const Line& line : m_lines) {
        text += content(line);
        text += endText(line.end);
    }
    return text;
}

bool KeyFileDocument::isValidEntry(const KeyFileSyntax& syntax, std::string_view group,
                                   std::string_view key, std::string_view value)
{
    if (syntax.lenient) {
        group = trimmed(group);
        key = trimmed(key);
    }
    if (group.empty() || key.empty())
        return false;
    const auto hasLineBreak = [](std::string_view text) {
        return text.find_first_of("\r\n") != npos;
    };
    if (hasLineBreak(group) || hasLineBreak(key) || hasLineBreak(value))
        return false;
    // Either would be read back as something else: the end of the group name, the end of
    // the key, a header or a comment.
    if (group.find(']') != npos || key.find('=') != npos)
        return false;
    return !key.starts_with('[') && !key.starts_with(syntax.comment);
}

} // namespace platform
