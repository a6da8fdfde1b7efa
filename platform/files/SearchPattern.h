#pragma once

#include <string>
#include <string_view>

namespace platform {

// How a search reads the text it is given: the wildcard of the last part, and the folder
// before it as searches compare folders.

bool isDotName(std::string_view name);

// "*" any run, "?" one character; letters match in either case.
bool wildcardMatch(std::string_view pattern, std::string_view name);

// The folder as searches compare it: "\" only, no doubled or trailing separators, the
// drive letter in upper case. "C:\" and "C:" are both "C:". Made in two steps so that a
// key can be carried on over more text: appendToKey keeps one trailing separator, which
// finishKey drops.
void appendToKey(std::string& key, std::string_view text);
void finishKey(std::string& key);

bool isDriveRoot(std::string_view key);

} // namespace platform
