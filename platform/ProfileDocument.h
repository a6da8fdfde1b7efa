#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The text of one private-profile file. Lines are kept with their own line ends, so a
// change touches only the line it writes; lines written here end in CR LF.
class ProfileDocument
{
public:
    explicit ProfileDocument(std::string_view text = {});

    // The value of the first matching key (sections and keys compared without regard to
    // ASCII case), blanks around it trimmed and one pair of outer quotes removed.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // Replaces the first matching key, or adds it after the last key of the first matching
    // section, or adds the section at the end. Call only with names and a value that
    // isValidEntry() accepts.
    void setValue(std::string_view section, std::string_view key, std::string_view value);

    std::string text() const;

    // Whether the entry can be written without changing the meaning of other lines.
    static bool isValidEntry(std::string_view section, std::string_view key,
                             std::string_view value);

private:
    enum class Kind { Other, Section, Key };

    struct Line
    {
        std::string content;
        std::string end; // "\r\n", "\n", "\r", or empty for a last line without one
        Kind kind = Kind::Other;
        std::string name; // the section or key name, trimmed
    };

    static Line classify(std::string content, std::string end, bool first);
    void insertLine(std::size_t at, std::string content);

    std::vector<Line> m_lines;
};

} // namespace platform
