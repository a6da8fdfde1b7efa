#pragma once

#include "platform/core/Failure.h"
#include "platform/core/FileStorage.h"

#include <optional>
#include <string>
#include <sys/stat.h>

namespace platform {

struct TrashFolder;
struct HomeTrashPlace;

// A file the home trash cannot take by a rename, taken by a copy that loses nothing: the
// copy is written whole as a temporary at the top of the trash, its information written,
// the copy put in place, and only then the original removed, if it is still the file that
// was copied. A kill at any moment leaves the original, or the original beside a whole
// entry; removeInterruptedCopies() takes what it left. The lease is held throughout, so
// nobody has the file open meanwhile. source is the file open for reading, status what it
// was when chosen.
std::optional<FileFailure> copyToHomeTrash(int parent, const std::string& name,
                                           const std::string& original, int source,
                                           const struct stat& status, Flush flush,
                                           HomeTrashPlace& place);

// Removes what copies of ours that were killed left at the top of the trash: their
// temporaries, and the information written for an entry that never arrived. A temporary
// whose copy still runs is locked and stays.
void removeInterruptedCopies(const TrashFolder& trash);

} // namespace platform
