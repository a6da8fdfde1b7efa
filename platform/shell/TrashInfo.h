#pragma once

#include "platform/core/Descriptor.h"
#include "platform/core/Failure.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// "%" escapes for the Path key of a trash info file and the names in directorysizes:
// everything but unreserved characters and "/".
std::string percentEncodePath(std::string_view path);
std::string percentDecodePath(std::string_view text);

// The text of an info file: the Path key as given (absolute for the home trash, relative to
// the top for a topdir trash) and the time now.
std::string trashInfoText(const std::string& pathKey);

// The name an entry takes in files/ and its info file in info/: the original one, cut to
// leave room for the info suffix and a number, at a character boundary; then numbered.
std::string trashBaseName(const std::string& name);
std::string candidateName(const std::string& base, int attempt);

// The info file of one move, whole under its name, never replacing one: written once
// unnamed and then linked in under the name tried, so that a kill at any moment leaves it
// whole or not there at all. Where the filesystem has no unnamed files, it is created
// exclusively and written in place.
class InfoFile
{
public:
    explicit InfoFile(std::string text) : m_text(std::move(text)) {}

    // EEXIST when the name is taken.
    std::optional<FileFailure> linkAs(int infoFolder, const std::string& name);

    // Open until the move is done, which closes it with others (closeSoon).
    OwnedFd& descriptor() { return m_unnamed; }

private:
    std::string m_text;
    OwnedFd m_unnamed;
    bool m_linked = false;
};

} // namespace platform
