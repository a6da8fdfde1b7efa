#pragma once

#include "platform/core/KeyFile.h"

#include <concepts>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

// The text of one private-profile file: sections and keys compared without regard to ASCII
// case, values with the blanks around them and one pair of outer quotes removed. A replaced
// key keeps its line end; added lines take the file's, or CR LF in a file that has none.
class ProfileDocument : public KeyFileDocument
{
public:
    ProfileDocument() : ProfileDocument(std::string()) {}
    // From any text; a string moved in is kept without a copy.
    template <typename Text>
    requires std::constructible_from<std::string, Text>
    explicit ProfileDocument(Text&& text)
        : KeyFileDocument(windowsProfileSyntax, std::string(std::forward<Text>(text)))
    {
    }

    // Whether the entry can be written without changing the meaning of other lines.
    static bool isValidEntry(std::string_view section, std::string_view key,
                             std::string_view value);
};

} // namespace platform
