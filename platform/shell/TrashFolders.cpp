// Which trash folder an entry goes to and whether it may be used: the home trash, kept
// open for a run, and the topdir trashes .Trash/$uid and .Trash-$uid.
#include "platform/shell/TrashFolders.h"

#include "platform/core/PathText.h"
#include "platform/drives/Drives.h"
#include "platform/files/Folders.h"
#include "platform/files/MountRoot.h"
#include "platform/files/PathWalk.h"

#include <cerrno>
#include <cstdlib>

namespace platform {

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The attribute where the filesystem reports it, else a change of device or the top.
bool isMountRoot(const std::string& path)
{
    struct statx status = {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_INO,
                &status) != 0)
        return false;
    if (const std::optional<bool> reported = reportedMountRoot(status))
        return *reported;
    struct stat self = {};
    struct stat parent = {};
    if (::lstat(path.c_str(), &self) != 0 || ::stat(joinPath(path, "..").c_str(), &parent) != 0)
        return false;
    return self.st_dev != parent.st_dev || sameFile(self, parent);
}

std::string topdirOf(std::string folder)
{
    while (folder != "/" && !isMountRoot(folder))
        folder = parentOf(folder);
    return folder;
}

bool isTrashName(std::string_view name)
{
    if (name == ".Trash")
        return true;
    if (name.size() <= 7 || name.substr(0, 7) != ".Trash-")
        return false;
    for (char c : name.substr(7)) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

std::string homeTrashFolder()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/')
        return joinPath(dataHome, "Trash");
    // The home the drive map and the settings use: never the top of "/" for want of HOME.
    const std::string home = homeFolderNative();
    return home.empty() ? std::string() : home + "/.local/share/Trash";
}

namespace {

FileFailure trashRefused(const std::string& folder, const std::string& why)
{
    const std::string shown = toWindowsPath(folder);
    return {EPERM, "The Recycle Bin folder " + (shown.empty() ? folder : shown) +
                       " cannot be used: " + why + "."};
}

// files/ and info/ inside a trash folder we own, made when missing.
std::optional<FileFailure> openTrashParts(TrashFolder& trash)
{
    for (const char* part : {"files", "info"}) {
        OwnedFd fd(::openat(trash.top.get(), part, TrashFolderFlags));
        if (!fd.valid() && errno == ENOENT) {
            if (::mkdirat(trash.top.get(), part, 0700) != 0 && errno != EEXIST)
                return failureOf(errno);
            fd = OwnedFd(::openat(trash.top.get(), part, TrashFolderFlags));
        }
        struct stat status = {};
        if (!fd.valid() || ::fstat(fd.get(), &status) != 0)
            return trashRefused(joinPath(trash.path, part), "it is no folder");
        if (status.st_uid != runningUser())
            return trashRefused(joinPath(trash.path, part), "it belongs to another user");
        (part[0] == 'f' ? trash.files : trash.info) = std::move(fd);
        (part[0] == 'f' ? trash.filesStatus : trash.infoStatus) = status;
    }
    return std::nullopt;
}

// Made with its parents when missing; any folder is accepted as long as it is a folder we
// own: the user may have put their data folder elsewhere by a link.
std::optional<FileFailure> openHomeTrash(TrashFolder& trash)
{
    trash.path = homeTrashFolder();
    trash.top = OwnedFd(::open(trash.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!trash.top.valid() && errno == ENOENT) {
        std::string made;
        for (const auto& part : pathParts(trash.path)) {
            made += "/" + part;
            if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST)
                return failureOf(errno);
        }
        trash.top = OwnedFd(::open(trash.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    struct stat status = {};
    if (!trash.top.valid() || ::fstat(trash.top.get(), &status) != 0)
        return trashRefused(trash.path, "it is no folder");
    if (status.st_uid != runningUser())
        return trashRefused(trash.path, "it belongs to another user");
    trash.topStatus = status;
    return openTrashParts(trash);
}

dev_t deviceOfHomeTrash(std::string path)
{
    struct stat status = {};
    while (::stat(path.c_str(), &status) != 0) {
        if (path == "/")
            return 0;
        path = parentOf(path);
    }
    return status.st_dev;
}

// The name still leads to the very folder that was checked, and that still passes the
// checks. The kept descriptor holds the folder's inode, so its number cannot pass to another.
bool stillThere(const struct stat& now, const struct stat& kept)
{
    return sameFile(now, kept) && S_ISDIR(now.st_mode) && now.st_uid == kept.st_uid;
}

bool stillThere(int folder, const char* name, const struct stat& kept)
{
    struct stat now = {};
    return ::fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && stillThere(now, kept);
}

// The home trash stays open for the process, so that a collection of many files opens and
// checks it only once. Before each use its top, files/ and info/ are checked again by name
// against the kept folders, three stat calls instead of a walk: one removed, replaced or given
// to another user is dropped and opened afresh, checks and all. The price is a removed trash
// folder held until the next move notices. Topdir trashes are opened for each move: a kept
// descriptor would keep a removable drive busy, so it could not be unmounted.
std::optional<TrashFolder>& keptHomeTrash()
{
    static std::optional<TrashFolder> kept;
    return kept;
}

} // namespace

// $topdir/.Trash/$uid when .Trash is a real folder with the sticky bit and $uid in it is
// a real folder of ours that only we may use; otherwise $topdir/.Trash-$uid, a real folder
// of ours. What fails the checks is left exactly as it is.
std::optional<FileFailure> openTopdirTrash(TrashFolder& trash, dev_t device, bool& cannotBeMade)
{
    cannotBeMade = false;
    OwnedFd top(::open(trash.topdir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status = {};
    if (!top.valid() || ::fstat(top.get(), &status) != 0)
        return failureOf(errno);
    if (status.st_dev != device)
        return FileFailure{EXDEV, "The Recycle Bin of this drive cannot be found."};
    const std::string uid = std::to_string(runningUser());

    // Whether .Trash is missing, or shared as it should be with no $uid of ours in it.
    bool sharedMissing = false;
    struct stat shared = {};
    if (::fstatat(top.get(), ".Trash", &shared, AT_SYMLINK_NOFOLLOW) != 0) {
        sharedMissing = errno == ENOENT;
    } else if (S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX)) {
        OwnedFd sharedFd(::openat(top.get(), ".Trash", TrashFolderFlags));
        if (sharedFd.valid()) {
            if (::mkdirat(sharedFd.get(), uid.c_str(), 0700) != 0 && errno != EEXIST) {
                // Not ours to make: the fallback below.
                sharedMissing = errno == EACCES || errno == EPERM;
            }
            OwnedFd own(::openat(sharedFd.get(), uid.c_str(), TrashFolderFlags));
            struct stat ownStatus = {};
            if (own.valid() && ::fstat(own.get(), &ownStatus) == 0 &&
                ownStatus.st_uid == runningUser() && (ownStatus.st_mode & 077) == 0) {
                trash.path = joinPath(joinPath(trash.topdir, ".Trash"), uid);
                trash.top = std::move(own);
                return openTrashParts(trash);
            }
        }
    }

    const std::string name = ".Trash-" + uid;
    trash.path = joinPath(trash.topdir, name);
    if (::mkdirat(top.get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
        cannotBeMade = sharedMissing && (errno == EACCES || errno == EPERM);
        return failureOf(errno);
    }
    struct stat own = {};
    if (::fstatat(top.get(), name.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0)
        return failureOf(errno);
    if (S_ISLNK(own.st_mode))
        return trashRefused(trash.path, "it is a symbolic link");
    if (!S_ISDIR(own.st_mode))
        return trashRefused(trash.path, "it is no folder");
    if (own.st_uid != runningUser())
        return trashRefused(trash.path, "it belongs to another user");
    trash.top = OwnedFd(::openat(top.get(), name.c_str(), TrashFolderFlags));
    struct stat opened = {};
    if (!trash.top.valid() || ::fstat(trash.top.get(), &opened) != 0 || !sameFile(opened, own))
        return trashRefused(trash.path, "it changed while it was opened");
    return openTrashParts(trash);
}

HomeTrashPlace& homeTrashPlace()
{
    static HomeTrashPlace place;
    const unsigned generation = KeptWalk::generation();
    std::string path = homeTrashFolder();
    if (generation != 0 && place.generation == generation && place.path == path)
        return place;
    place.path = std::move(path);
    place.exists = ::stat(place.path.c_str(), &place.status) == 0;
    place.device = place.exists ? place.status.st_dev : deviceOfHomeTrash(parentOf(place.path));
    place.generation = generation;
    return place;
}

// Checked as keptHomeTrash() says, once for each generation of a run.
TrashFolder* findHomeTrash(HomeTrashPlace& place, FileFailure& failure)
{
    auto& kept = keptHomeTrash();
    const unsigned generation = KeptWalk::generation();
    if (kept && kept->path == place.path &&
        ((generation != 0 && kept->checked == generation) ||
         (place.exists && stillThere(place.status, kept->topStatus) &&
          stillThere(kept->top.get(), "files", kept->filesStatus) &&
          stillThere(kept->top.get(), "info", kept->infoStatus)))) {
        kept->checked = generation;
        return &*kept;
    }
    kept.reset();
    TrashFolder fresh;
    if (auto refused = openHomeTrash(fresh)) {
        failure = std::move(*refused);
        return nullptr;
    }
    kept = std::move(fresh);
    kept->checked = generation;
    place.exists = true;
    place.status = kept->topStatus;
    return &*kept;
}

} // namespace platform
