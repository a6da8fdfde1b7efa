#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The rules of one kind of key file: "[group]" headers, "key=value" lines, comment lines.
struct KeyFileSyntax
{
    // Windows private-profile leniency: a lone CR ends a line too, blanks around a line and
    // around names do not count, a header needs no closing "]", and a UTF-8 byte-order mark
    // in front of the first line is skipped. Without it lines end in LF (a CR before it is
    // part of the end), a header is the whole line, and only blanks between key and "="
    // do not count.
    bool lenient = false;
    char comment = '#';
    // Group and key names compared without regard to ASCII case.
    bool ignoreCase = false;
    // A value loses the blanks around it and one pair of outer quotes; otherwise only the
    // blanks after the "=".
    bool unquoteValues = false;
    // Of repeated keys and groups the last one counts: it is the one read, replaced and
    // added to. Otherwise the first.
    bool lastWins = false;
    // A new key goes after the last non-empty line of its group, comments included;
    // otherwise right after the group's last key.
    bool addAfterLastLine = false;
    // The end of added lines while the text has no line end of its own.
    std::string_view lineEnd = "\n";
};

// vorlax.ini and the other files of GetPrivateProfileString.
inline constexpr KeyFileSyntax windowsProfileSyntax{.lenient = true,
                                                    .comment = ';',
                                                    .ignoreCase = true,
                                                    .unquoteValues = true,
                                                    .lastWins = false,
                                                    .addAfterLastLine = false,
                                                    .lineEnd = "\r\n"};

// Desktop entries and trash info files.
inline constexpr KeyFileSyntax freedesktopSyntax{.lenient = false,
                                                 .comment = '#',
                                                 .ignoreCase = false,
                                                 .unquoteValues = false,
                                                 .lastWins = true,
                                                 .addAfterLastLine = true,
                                                 .lineEnd = "\n"};

// The text of one key file, kept line by line with each line's own end, so that a change
// touches only the lines it writes. Lines added take the text's first line end. Parsing is
// one pass and lines are kept as places in the text, so a text moved in is never copied;
// a look-up or a change walks the lines once. Reading and writing files is the caller's.
class KeyFileDocument
{
public:
    explicit KeyFileDocument(const KeyFileSyntax& syntax, std::string text = {});

    bool hasGroup(std::string_view group) const;
    std::optional<std::string> value(std::string_view group, std::string_view key) const;
    // Replaces the key that value() reads, or adds it to the group, or adds the group at
    // the end. Call only with names and a value that isValidEntry() accepts.
    void setValue(std::string_view group, std::string_view key, std::string_view value);

    struct Entry
    {
        std::size_t line = 0;
        std::string key;
        std::string value;
    };
    // The key lines of the group and of its repeats, in order. The line numbers hold until
    // a line is added.
    std::vector<Entry> entries(std::string_view group) const;
    // Rewrites a line that entries() gave as key=value; its line end stays.
    void replaceEntry(std::size_t line, std::string_view key, std::string_view value);

    std::string text() const;
    // The text as it was given, before any change.
    const std::string& originalText() const { return m_text; }

    // Whether the entry can be written without changing the meaning of other lines.
    static bool isValidEntry(const KeyFileSyntax& syntax, std::string_view group,
                             std::string_view key, std::string_view value);

private:
    enum class Kind : std::uint8_t { Other, Group, UnnamedGroup, Key };
    enum class End : std::uint8_t { None, Lf, Cr, CrLf };

    // Sixteen bytes a line, for places up to a terabyte. Names are found again from the
    // content when needed; a hash of them spares a look at every other line.
    struct Line
    {
        std::uint64_t start : 40 = 0; // of the content, in m_text, or in m_added if written
        std::uint64_t hash : 24 = 0;
        std::uint64_t length : 40 = 0;
        Kind kind : 2 = Kind::Other;
        End end : 2 = End::None;
        bool added : 1 = false;
    };
    struct GroupStart
    {
        std::size_t line = 0;
        std::uint32_t hash = 0;
        bool named = false;
    };
    struct Parsed
    {
        Kind kind;
        std::string_view name;
    };
    struct Wanted
    {
        std::string_view name;
        std::uint32_t hash;
    };

    void append(Line line);
    std::string_view content(const Line& line) const;
    Parsed parse(std::string_view content, bool first) const;
    std::uint32_t hashOf(std::string_view name) const;
    std::string_view nameAt(std::size_t line) const;
    bool isNamed(std::size_t line, const Wanted& wanted) const;
    Wanted wanted(std::string_view name) const;
    std::string valueAt(std::size_t line) const;
    // A group's lines run from its header up to the next one.
    std::size_t groupEnd(std::size_t group) const;
    std::vector<std::size_t> groupsNamed(const Wanted& group) const;
    std::optional<std::size_t> findGroup(const Wanted& group) const;
    std::optional<std::size_t> findKey(const Wanted& group, const Wanted& key) const;
    Line written(std::string_view content, End end, bool first);
    void insertLine(std::size_t at, std::string_view content);

    KeyFileSyntax m_syntax;
    std::string m_text;  // as parsed, never changed
    std::string m_added; // the contents of lines written since
    std::vector<Line> m_lines;
    std::vector<GroupStart> m_groups;
    End m_lineEnd = End::None;
};

} // namespace platform
