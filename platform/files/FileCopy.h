#pragma once

#include "platform/core/FileStorage.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace platform {

// Copies of files that cannot be renamed into a trash start as temporaries of this name
// at the top of the trash folder; what follows the prefix is the entry's name to be.
inline constexpr std::string_view CopyTemporaryPrefix = ".vorlax-copy-";
// Copies back out of a trash start as temporaries of this name beside their place.
inline constexpr std::string_view BackTemporaryPrefix = ".vorlax-back-";

// Whether a copy of that many bytes still leaves the folder's filesystem at least 5% and
// at least 1 GiB free (with SpareRoom::None: whether the bytes fit at all, for a file going
// back where it came from). 0 when it does, ENOSPC when not, or the errno of the look.
enum class SpareRoom { Keep, None };
int roomForCopy(int folder, std::uint64_t bytes, SpareRoom spare = SpareRoom::Keep);

// Copies the regular file open for reading as source into the new file created as
// target, a descriptor open for writing, keeping its holes: only the data between them
// is read and written. Gives the copy the source's permission bits and times, and
// flushes it to the disk when asked. Between chunks stop is asked; true ends the copy
// with ECANCELED. 0 or the errno; on failure the target holds a part of the data, and
// the caller removes it.
int copyFileData(int source, const struct stat& sourceStatus, int target, Flush flush,
                 const std::function<bool()>& stop);

// How much room a copy of the file takes: its allocated blocks, so a sparse file counts
// only its data.
std::uint64_t copySize(const struct stat& status);

} // namespace platform
