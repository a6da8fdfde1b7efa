#pragma once

#include "platform/files/PathWalk.h"

#include <string>

namespace platform {

// What a collection leaves alone: what lies in a trash, and what lives in memory on purpose.

// Whether the path is a trash folder or lies in one: the home trash, or a .Trash or
// .Trash-<digits> folder at the top of a filesystem. Links in the path are resolved.
bool liesInTrash(const std::string& nativePath);
// Whether the folder is or lies in a trash, or holds the home trash.
bool reachesTrash(const std::string& nativeFolder);
// Whether the path lies in /dev/shm or the session's runtime folder: in memory on purpose.
bool keptInMemoryOnPurpose(const std::string& nativePath);
// As keptInMemoryOnPurpose, for a path whose links are resolved already. Such files are
// never copied out.
bool keptInMemory(const std::string& resolvedPath);
// Whether the entry looked at is the running user's and neither lies in a trash nor is
// kept in memory on purpose, as liesInTrash and keptInMemoryOnPurpose tell; inside a
// KeptWalk what its folder says is decided once.
bool collectableLook(const EntryLook& look);

} // namespace platform
