#pragma once

#include <string>
#include <sys/types.h>

namespace platform {

struct TrashFolder;

// The directorysizes cache of a trash folder: one line per trashed folder, its size, the
// info file's time and the encoded name. Lines of entries gone from files/ go with every
// change, as does an older line for the same name.
void noteFolderSize(const TrashFolder& trash, const std::string& name, dev_t device);

// Takes the line of an entry that left files/ out of the trash folder's directorysizes,
// with the lines of any other entry gone.
void dropFolderSize(const std::string& trashFolder, int filesFolder, const std::string& name);

} // namespace platform
