#pragma once

#include "platform/core/Descriptor.h"
#include "platform/core/Failure.h"

#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>

namespace platform {

// $XDG_DATA_HOME/Trash, or .local/share/Trash in homeFolderNative(); empty without either.
std::string homeTrashFolder();

inline constexpr int TrashFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool sameFile(const struct stat& a, const struct stat& b);
// Whether the path is the top of a mounted filesystem.
bool isMountRoot(const std::string& path);
// ".Trash" or ".Trash-<digits>": the names of a topdir trash.
bool isTrashName(std::string_view name);

// A trash folder in use: its top, files/ and info/ open, with what they were when checked.
struct TrashFolder
{
    std::string path;
    std::string topdir; // empty for the home trash, whose Path keys are absolute
    OwnedFd top;
    OwnedFd files;
    OwnedFd info;
    struct stat topStatus = {};
    struct stat filesStatus = {};
    struct stat infoStatus = {};
    // The last number given to a namesake, so that the next one does not test all before it.
    std::unordered_map<std::string, int> lastNumber;
    unsigned checked = 0; // the generation of the run it was last checked in
};

// Where the home trash is: looked at again for each move outside a run, once for each
// generation of one.
struct HomeTrashPlace
{
    std::string path;
    bool exists = false;
    struct stat status = {};
    dev_t device = 0; // of the folder that holds or would hold it
    unsigned generation = 0;
};
HomeTrashPlace& homeTrashPlace();

// The home trash at the place, opened and checked (made when missing), or the one kept open
// since, checked again by name; valid until the next call. Null when it cannot be used.
TrashFolder* findHomeTrash(HomeTrashPlace& place, FileFailure& failure);

// The mount that holds a folder whose path has no links in it.
std::string topdirOf(std::string folder);
// The trash of trash.topdir on the device, opened and checked. cannotBeMade tells a top the
// user may not write to with neither trash there: the disk has no trash for us, which is not
// the same as one that fails its checks.
std::optional<FileFailure> openTopdirTrash(TrashFolder& trash, dev_t device, bool& cannotBeMade);

} // namespace platform
