#pragma once

#include "platform/core/AsciiCase.h"

#include <string>
#include <string_view>

namespace platform {

// Windows paths take both "\" and "/".
inline bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

// What parts the words of a Windows command line.
inline bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Blanks and line ends, as around the entries of a list in a variable or a file.
inline bool isWhitespace(char c)
{
    return isBlank(c) || c == '\n' || c == '\r';
}

// A drive letter and ":" in front ("C:", "C:\x", "C:x").
inline bool hasDriveLetter(std::string_view path)
{
    return path.size() >= 2 && isAsciiLetter(path[0]) && path[1] == ':';
}

// "C:\..." or "C:/...": a path that names its drive and starts at its root; "C:name",
// relative to the drive's current folder, is not one.
inline bool isFullyQualified(std::string_view path)
{
    return path.size() >= 3 && hasDriveLetter(path) && isSeparator(path[2]);
}

// The folder a native absolute path lies in; "/" for the top and for a bare name.
inline std::string parentOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

inline std::string joinPath(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// Whether the native absolute path is the folder or lies below it.
inline bool isWithin(const std::string& path, const std::string& folder)
{
    if (folder == "/")
        return true;
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

} // namespace platform
