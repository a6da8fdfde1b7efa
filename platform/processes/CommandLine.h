#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Splits a command line as Windows programs split theirs: blanks and tabs separate
// arguments, double quotes group; before a quote, 2n backslashes give n and the quote
// toggles the grouping, 2n+1 give n and a literal quote; other backslashes are literal.
// The program name (the first argument) takes quotes but no backslash escapes.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

// Finds the program a command line names. A name with "/" or "\" is a path: a Windows one
// ("C:\x\y.exe") goes through the drive map, a native absolute one is taken as it is, a
// relative one is relative to the current folder. Any other name is looked up along
// searchPath (a PATH text; empty and relative entries are skipped). Each place is tried
// with the name as written, then in lower case without a trailing ".exe". Only a regular
// file the caller may execute is taken. Returns 0 with the native path in found, or
// ERROR_FILE_NOT_FOUND, or ERROR_ACCESS_DENIED when only files that cannot be run match.
std::uint32_t findProgram(const std::string& name, const std::string& searchPath,
                          std::string& found);

} // namespace platform
