#pragma once

#include "platform/core/Failure.h"
#include "platform/core/FileStorage.h"
#include "platform/files/FileLease.h"
#include "platform/files/PathWalk.h"
#include "platform/shell/DirectorySizes.h"
#include "platform/shell/HeldBack.h"
#include "platform/shell/TrashFolders.h"
#include "platform/shell/TrashInfo.h"

#include <optional>
#include <string>

namespace platform {

// Moves the file or folder at the absolute native path into the trash of its filesystem:
// the home trash, or the topdir trash of its mount. A file on a tmpfs, or on a disk whose
// top the user may not write to and that has no trash of theirs, goes to the home trash by
// a copy, the original removed once the entry is whole; folders are never copied, nor
// what keptInMemoryOnPurpose(). Never deletes instead; another user's entry is refused in
// a folder that others may write to. nullopt when it is in the trash.
std::optional<FileFailure> moveToTrash(const std::string& nativePath);

// Removes what copies into the home trash left when they were killed. A copy removes them
// too before its first file; a collection calls it first, whatever it finds.
void removeInterruptedCopies();

} // namespace platform
