#include "platform/Trash.h"

#include "platform/Drives.h"
#include "platform/FileCopy.h"
#include "platform/FileStorage.h"
#include "platform/Folders.h"
#include "platform/HexDigit.h"
#include "platform/Termination.h"
#include "platform/TrashObserver.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

namespace platform {

namespace {

constexpr int FolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Links followed in one path, as the kernel allows.
constexpr int LinkLimit = 40;
// Names in the trash leave room for ".trashinfo" and a number.
constexpr std::size_t TrashNameLimit = NAME_MAX - 10 - 12;
constexpr int NumberedNames = 100;
constexpr std::size_t NamesakesKept = 1024;

std::deque<std::string> splitParts(const std::string& path)
{
    std::deque<std::string> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        if (end > at)
            parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

std::string parentOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// A folder where nobody but us or root could have put an entry: nobody but its owner writes
// to it, and that owner is us or root. Only there a link is followed, or another user's
// entry taken.
bool trustedFolder(int folder)
{
    struct stat status = {};
    if (::fstat(folder, &status) != 0)
        return false;
    return (status.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
           (status.st_uid == ::geteuid() || status.st_uid == 0);
}

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
    if (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
        return status.stx_attributes & STATX_ATTR_MOUNT_ROOT;
    struct stat self = {};
    struct stat parent = {};
    if (::lstat(path.c_str(), &self) != 0 || ::stat(joinPath(path, "..").c_str(), &parent) != 0)
        return false;
    return self.st_dev != parent.st_dev || sameFile(self, parent);
}

// The mount that holds a folder whose path has no links in it.
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

// The path with links resolved as far as it exists, the rest appended as written.
std::string resolvedAsFarAsExists(const std::string& path)
{
    std::string existing = path;
    std::string rest;
    while (true) {
        if (char* real = ::realpath(existing.c_str(), nullptr)) {
            std::string resolved = real;
            std::free(real);
            return rest.empty() ? resolved : joinPath(resolved, rest);
        }
        if (existing == "/")
            return path;
        const std::size_t slash = existing.rfind('/');
        const std::string name = existing.substr(slash + 1);
        rest = rest.empty() ? name : name + "/" + rest;
        existing = parentOf(existing);
    }
}

bool isWithin(const std::string& path, const std::string& folder)
{
    if (folder == "/")
        return true;
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

std::string percentDecode(std::string_view text)
{
    std::string decoded;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const int high = text[k] == '%' && k + 2 < text.size() ? hexDigitValue(text[k + 1]) : -1;
        const int low = high >= 0 ? hexDigitValue(text[k + 2]) : -1;
        if (low >= 0) {
            decoded += static_cast<char>(high * 16 + low);
            k += 2;
        } else {
            decoded += text[k];
        }
    }
    return decoded;
}

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
};

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
        OwnedFd fd(::openat(trash.top.get(), part, FolderFlags));
        if (!fd.valid() && errno == ENOENT) {
            if (::mkdirat(trash.top.get(), part, 0700) != 0 && errno != EEXIST)
                return failureOf(errno);
            fd = OwnedFd(::openat(trash.top.get(), part, FolderFlags));
        }
        struct stat status = {};
        if (!fd.valid() || ::fstat(fd.get(), &status) != 0)
            return trashRefused(joinPath(trash.path, part), "it is no folder");
        if (status.st_uid != ::geteuid())
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
        for (const auto& part : splitParts(trash.path)) {
            made += "/" + part;
            if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST)
                return failureOf(errno);
        }
        trash.top = OwnedFd(::open(trash.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    struct stat status = {};
    if (!trash.top.valid() || ::fstat(trash.top.get(), &status) != 0)
        return trashRefused(trash.path, "it is no folder");
    if (status.st_uid != ::geteuid())
        return trashRefused(trash.path, "it belongs to another user");
    trash.topStatus = status;
    return openTrashParts(trash);
}

// $topdir/.Trash/$uid when .Trash is a real folder with the sticky bit and $uid in it is
// a real folder of ours that only we may use; otherwise $topdir/.Trash-$uid, a real folder
// of ours. What fails the checks is left exactly as it is. cannotBeMade tells a top the
// user may not write to, where neither is there and neither may be made: the disk has no
// trash for us, which is not the same as one that fails its checks.
std::optional<FileFailure> openTopdirTrash(TrashFolder& trash, dev_t device, bool& cannotBeMade)
{
    cannotBeMade = false;
    OwnedFd top(::open(trash.topdir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status = {};
    if (!top.valid() || ::fstat(top.get(), &status) != 0)
        return failureOf(errno);
    if (status.st_dev != device)
        return FileFailure{EXDEV, "The Recycle Bin of this drive cannot be found."};
    const std::string uid = std::to_string(::geteuid());

    // Whether .Trash is missing, or shared as it should be with no $uid of ours in it.
    bool sharedMissing = false;
    struct stat shared = {};
    if (::fstatat(top.get(), ".Trash", &shared, AT_SYMLINK_NOFOLLOW) != 0) {
        sharedMissing = errno == ENOENT;
    } else if (S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX)) {
        OwnedFd sharedFd(::openat(top.get(), ".Trash", FolderFlags));
        if (sharedFd.valid()) {
            if (::mkdirat(sharedFd.get(), uid.c_str(), 0700) != 0 && errno != EEXIST) {
                // Not ours to make: the fallback below.
                sharedMissing = errno == EACCES || errno == EPERM;
            }
            OwnedFd own(::openat(sharedFd.get(), uid.c_str(), FolderFlags));
            struct stat ownStatus = {};
            if (own.valid() && ::fstat(own.get(), &ownStatus) == 0 &&
                ownStatus.st_uid == ::geteuid() && (ownStatus.st_mode & 077) == 0) {
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
    if (own.st_uid != ::geteuid())
        return trashRefused(trash.path, "it belongs to another user");
    trash.top = OwnedFd(::openat(top.get(), name.c_str(), FolderFlags));
    struct stat opened = {};
    if (!trash.top.valid() || ::fstat(trash.top.get(), &opened) != 0 || !sameFile(opened, own))
        return trashRefused(trash.path, "it changed while it was opened");
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

// The home trash of the given path, whose status is homeStatus (null when it is missing).
std::optional<FileFailure> findHomeTrash(TrashFolder*& found, const std::string& homePath,
                                         const struct stat* homeStatus)
{
    auto& kept = keptHomeTrash();
    if (kept && homeStatus && kept->path == homePath && stillThere(*homeStatus, kept->topStatus) &&
        stillThere(kept->top.get(), "files", kept->filesStatus) &&
        stillThere(kept->top.get(), "info", kept->infoStatus)) {
        found = &*kept;
        return std::nullopt;
    }
    kept.reset();
    TrashFolder fresh;
    if (auto failure = openHomeTrash(fresh))
        return failure;
    kept = std::move(fresh);
    found = &*kept;
    return std::nullopt;
}

std::string deletionDate()
{
    // One formatting per second is plenty for a collection that moves many files a second.
    static std::time_t formatted = -1;
    static char text[32];
    const std::time_t now = std::time(nullptr);
    if (now != formatted) {
        std::tm local = {};
        ::localtime_r(&now, &local);
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
        formatted = now;
    }
    return text;
}

// A name for the trash: the original one, cut to leave room for the info suffix and a
// number, at a character boundary.
std::string trashBaseName(const std::string& name)
{
    if (name.size() <= TrashNameLimit)
        return name;
    std::size_t length = TrashNameLimit;
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80)
        --length;
    return name.substr(0, length);
}

std::string candidateName(const std::string& base, int attempt)
{
    if (attempt == 1)
        return base;
    if (attempt <= NumberedNames)
        return base + "." + std::to_string(attempt);
    // Past a hundred namesakes, counting up for each would make every further one slower.
    static std::mt19937 random{std::random_device{}()};
    return base + "." + std::to_string(random());
}

// The info file under its name, whole, never replacing one: written unnamed and then
// linked in, so that a kill at any moment leaves it whole or not there at all. Where
// the filesystem has no unnamed files, it is created exclusively and written in place.
// 0 or the errno; EEXIST when the name is taken.
int writeInfo(int infoFolder, const std::string& name, const std::string& text)
{
    OwnedFd unnamed(::openat(infoFolder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (unnamed.valid()) {
        if (!writeAll(unnamed.get(), text))
            return errno ? errno : EIO;
        const std::string self = "/proc/self/fd/" + std::to_string(unnamed.get());
        if (::linkat(AT_FDCWD, self.c_str(), infoFolder, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        if (errno != ENOENT)
            return errno;
        // No /proc to link through.
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return errno;
    }
    OwnedFd info(::openat(infoFolder, name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!info.valid())
        return errno;
    if (!writeAll(info.get(), text)) {
        const int error = errno ? errno : EIO;
        ::unlinkat(infoFolder, name.c_str(), 0);
        return error;
    }
    return 0;
}

// Apparent size of what a folder holds, without following links or leaving its filesystem.
std::uint64_t folderSize(int parent, const char* name, dev_t device)
{
    OwnedFd fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid())
        return 0;
    DIR* dir = ::fdopendir(::dup(fd.get()));
    if (!dir)
        return 0;
    std::uint64_t total = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat status = {};
        if (::fstatat(fd.get(), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(status.st_mode)) {
            if (status.st_dev == device)
                total += folderSize(fd.get(), entry->d_name, device);
        } else {
            total += static_cast<std::uint64_t>(status.st_size);
        }
    }
    ::closedir(dir);
    return total;
}

// The lines of directorysizes whose entries are still in files/, without the one of the
// encoded name given.
std::string folderSizesKept(const std::string& old, int filesFolder, const std::string& dropped)
{
    std::string kept;
    std::size_t at = 0;
    while (at < old.size()) {
        std::size_t end = old.find('\n', at);
        if (end == std::string::npos)
            end = old.size();
        const std::string line = old.substr(at, end - at);
        at = end + 1;
        const std::size_t lastBlank = line.rfind(' ');
        if (lastBlank == std::string::npos)
            continue;
        const std::string lineName = line.substr(lastBlank + 1);
        struct stat entry = {};
        if (lineName == dropped || ::fstatat(filesFolder, percentDecode(lineName).c_str(), &entry,
                                             AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        kept += line + "\n";
    }
    return kept;
}

// One line per trashed folder: size, the info file's time and the encoded name. Lines of
// entries gone from files/ go, as does an older line for the same name.
void noteFolderSize(const TrashFolder& trash, const std::string& name, dev_t device)
{
    struct stat info = {};
    if (::fstatat(trash.info.get(), (name + ".trashinfo").c_str(), &info, 0) != 0)
        return;
    const std::uint64_t size = folderSize(trash.files.get(), name.c_str(), device);
    const std::string encoded = percentEncodePath(name);

    FolderLock lock(trash.path);
    const std::string path = joinPath(trash.path, "directorysizes");
    const auto old = readWholeFile(path);
    std::string kept = old ? folderSizesKept(*old, trash.files.get(), encoded) : std::string();
    kept += std::to_string(size) + " " + std::to_string(info.st_mtim.tv_sec) + " " + encoded + "\n";
    // A cache that readers make again when it is missing or wrong: not worth a flush per
    // folder.
    writeFileAtomically(path, kept, Flush::No);
}

// A folder made again on the way back: ours, and open to others only as the umask allows
// where the folder above is ours too. Never inside another user's folder.
std::optional<FileFailure> makeFolder(int parent, const std::string& name)
{
    if (!mayReceive(parent))
        return FileFailure{EPERM, "The folder it goes into belongs to another user."};
    struct stat above = {};
    const bool ours = ::fstat(parent, &above) == 0 && above.st_uid == ::geteuid();
    if (::mkdirat(parent, name.c_str(), ours ? 0777 : 0700) != 0 && errno != EEXIST)
        return failureOf(errno);
    return std::nullopt;
}

// What lives in memory on purpose: shared memory and the session's runtime folder. Their
// files are never copied out.
bool keptInMemory(const std::string& resolvedPath)
{
    if (isWithin(resolvedPath, resolvedAsFarAsExists("/dev/shm")))
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && runtime[0] == '/' && isWithin(resolvedPath, resolvedAsFarAsExists(runtime));
}

// A tmpfs or ramfs: what lies there is gone at the next start of the machine, and no
// desktop shows a trash on it.
bool inMemory(int fd)
{
    struct statfs status = {};
    return ::fstatfs(fd, &status) == 0 &&
           (status.f_type == TMPFS_MAGIC || status.f_type == RAMFS_MAGIC);
}

std::string copyTemporary(const std::string& candidate)
{
    return std::string(CopyTemporaryPrefix) + candidate;
}

// Removes what copies of ours that were killed left at the top of the trash: their
// temporaries, and the information written for an entry that never arrived. A temporary
// whose copy still runs is locked and stays.
void removeInterruptedCopies(const TrashFolder& trash)
{
    OwnedFd top(::openat(trash.top.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = top.valid() ? ::fdopendir(::dup(top.get())) : nullptr;
    if (!dir)
        return;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        if (std::string_view(entry->d_name).starts_with(CopyTemporaryPrefix))
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    for (const auto& name : names) {
        OwnedFd temporary(::openat(top.get(), name.c_str(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat status = {};
        if (!temporary.valid() || ::fstat(temporary.get(), &status) != 0 ||
            !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
            ::flock(temporary.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        const std::string candidate = name.substr(CopyTemporaryPrefix.size());
        struct stat entry = {};
        if (::fstatat(trash.files.get(), candidate.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0 &&
            errno == ENOENT)
            ::unlinkat(trash.info.get(), (candidate + ".trashinfo").c_str(), 0);
        ::unlinkat(top.get(), name.c_str(), 0);
    }
}

// The next name for an entry in the trash after attempt, free in files/, with the temporary
// renamed to go with it. 0 or the errno.
int nextCandidate(TrashFolder& trash, const std::string& base, int& attempt, std::string& candidate)
{
    for (;;) {
        const std::string next = candidateName(base, ++attempt);
        struct stat taken = {};
        if (::fstatat(trash.files.get(), next.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        if (errno != ENOENT)
            return errno;
        if (::renameat2(trash.top.get(), copyTemporary(candidate).c_str(), trash.top.get(),
                        copyTemporary(next).c_str(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        candidate = next;
        return 0;
    }
}

// A file the home trash cannot take by a rename, taken by a copy that loses nothing: the
// copy is written whole as a temporary at the top of the trash, its information written,
// the copy put in place, and only then the original removed, if it is still the file that
// was copied. A kill at any moment leaves the original, or the original beside a whole
// entry; removeInterruptedCopies() takes what it left. The lease is held throughout, so
// nobody has the file open meanwhile.
std::optional<FileFailure> copyToHomeTrash(int parent, const std::string& name,
                                           const std::string& original, int source,
                                           const struct stat& status, bool flush,
                                           const std::string& homePath,
                                           const struct stat* homeStatus)
{
    TrashFolder* found = nullptr;
    if (auto failure = findHomeTrash(found, homePath, homeStatus))
        return failure;
    TrashFolder& trash = *found;
    static bool tidied = false;
    if (!tidied) {
        removeInterruptedCopies(trash);
        tidied = true;
    }

    FileLease lease(source);
    if (lease.error())
        return failureOf(lease.error());
    struct stat started = {};
    if (::fstat(source, &started) != 0)
        return failureOf(errno);
    if (!sameFile(started, status))
        return FileFailure{EAGAIN, "The file was replaced while it was being moved."};
    // Nothing is copied that could not be removed afterwards.
    struct statvfs sourceFs = {};
    if (::fstatvfs(source, &sourceFs) == 0 && (sourceFs.f_flag & ST_RDONLY))
        return failureOf(EROFS);
    if (::faccessat(parent, ".", W_OK | X_OK, AT_EACCESS) != 0)
        return failureOf(errno);
    if (const int error = roomForCopy(trash.top.get(), copySize(started)))
        return failureOf(error);

    const std::string base = trashBaseName(name);
    int attempt = 0;
    std::string candidate;
    OwnedFd copy;
    for (;;) {
        candidate = candidateName(base, ++attempt);
        struct stat taken = {};
        if (::fstatat(trash.files.get(), candidate.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        if (errno != ENOENT)
            return failureOf(errno);
        copy = OwnedFd(::openat(trash.top.get(), copyTemporary(candidate).c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (copy.valid())
            break;
        if (errno != EEXIST)
            return failureOf(errno);
    }
    ::flock(copy.get(), LOCK_EX);
    const auto dropCopy = [&](int error) {
        ::unlinkat(trash.top.get(), copyTemporary(candidate).c_str(), 0);
        return failureOf(error);
    };

    const auto leaseBroken = [&] { return lease.held() && ::fcntl(source, F_GETLEASE) != F_WRLCK; };
    const int copyError = copyFileData(source, started, copy.get(), flush,
                                       [&] { return terminationSignalled() || leaseBroken(); });
    if (copyError == ECANCELED && !terminationSignalled())
        return dropCopy(EAGAIN);
    if (copyError == ECANCELED) {
        dropCopy(copyError);
        return FileFailure{ECANCELED, "The operation was cancelled."};
    }
    if (copyError)
        return dropCopy(copyError);

    const std::string infoText = "[Trash Info]\nPath=" + percentEncodePath(original) +
                                 "\nDeletionDate=" + deletionDate() + "\n";
    // The entry is the copy: its own device and inode are what an undo finds again.
    struct stat copied = {};
    if (::fstat(copy.get(), &copied) != 0)
        return dropCopy(errno);
    TrashObserver* observer = trashObserver();
    TrashedEntry told{original,
                      trash.path,
                      candidate,
                      original,
                      static_cast<std::uint64_t>(started.st_size),
                      copied.st_dev,
                      copied.st_ino,
                      started.st_mtim,
                      false};
    for (;;) {
        const std::string infoName = candidate + ".trashinfo";
        told.name = candidate;
        if (observer) {
            if (const int error = observer->aboutToMove(told)) {
                dropCopy(error);
                return FileFailure{error, "What the collection moves cannot be recorded: " +
                                              failureReason(error)};
            }
        }
        int error = writeInfo(trash.info.get(), infoName, infoText);
        if (!error) {
            if (::renameat2(trash.top.get(), copyTemporary(candidate).c_str(), trash.files.get(),
                            candidate.c_str(), RENAME_NOREPLACE) == 0)
                break;
            error = errno;
            ::unlinkat(trash.info.get(), infoName.c_str(), 0);
        }
        if (error != EEXIST)
            return dropCopy(error);
        if (const int next = nextCandidate(trash, base, attempt, candidate))
            return dropCopy(next);
    }

    // The entry goes again when the original changed or was opened meanwhile: first back
    // to a temporary, so that a kill halfway leaves what the next run removes.
    const auto takeBack = [&](const FileFailure& failure) {
        if (::renameat2(trash.files.get(), candidate.c_str(), trash.top.get(),
                        copyTemporary(candidate).c_str(), RENAME_NOREPLACE) == 0) {
            ::unlinkat(trash.info.get(), (candidate + ".trashinfo").c_str(), 0);
            ::unlinkat(trash.top.get(), copyTemporary(candidate).c_str(), 0);
        }
        return failure;
    };
    struct stat now = {};
    struct stat still = {};
    if (::fstat(source, &now) != 0 ||
        ::fstatat(parent, name.c_str(), &still, AT_SYMLINK_NOFOLLOW) != 0 ||
        !sameFile(still, started) || now.st_size != started.st_size ||
        now.st_mtim.tv_sec != started.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != started.st_mtim.tv_nsec || leaseBroken())
        return takeBack({EAGAIN, "The file was changed while it was being moved."});
    if (::unlinkat(parent, name.c_str(), 0) != 0)
        return takeBack(failureOf(errno));
    if (observer)
        observer->moved(told);
    return std::nullopt;
}

} // namespace

bool mayReceive(int folder)
{
    struct stat status = {};
    if (::fstat(folder, &status) != 0)
        return false;
    return ::geteuid() == 0 || status.st_uid == ::geteuid() || status.st_uid == 0;
}

void dropFolderSize(const std::string& trashFolder, int filesFolder, const std::string& name)
{
    FolderLock lock(trashFolder);
    const std::string path = joinPath(trashFolder, "directorysizes");
    const auto old = readWholeFile(path);
    if (!old)
        return;
    const std::string kept = folderSizesKept(*old, filesFolder, percentEncodePath(name));
    if (kept != *old)
        writeFileAtomically(path, kept, Flush::No);
}

std::string failureReason(int error)
{
    switch (error) {
    case EAGAIN:
    case EBUSY:
    case ETXTBSY:
        return "The file is in use by another program.";
    case EACCES:
    case EPERM:
        return "Access is denied.";
    case ENOENT:
        return "The system cannot find the file specified.";
    case ENOTDIR:
        return "The system cannot find the path specified.";
    case EROFS:
        return "The disk is write-protected.";
    case ENOSPC:
    case EDQUOT:
        return "There is not enough space on the disk.";
    case EXDEV:
        return "The file cannot be moved to another drive.";
    case ENAMETOOLONG:
        return "The file name is too long.";
    case ELOOP:
        return "The path passes through a symbolic link that another user could have made.";
    case EEXIST:
        return "A file with that name already exists.";
    case ENOTEMPTY:
        return "The folder is not empty.";
    default:
        return std::strerror(error) + std::string(".");
    }
}

FileFailure failureOf(int error)
{
    return {error, failureReason(error)};
}

std::optional<OpenedParent> openParent(const std::string& nativePath, FileFailure& failure,
                                       MissingFolders missing)
{
    std::deque<std::string> todo = splitParts(nativePath);
    if (nativePath.empty() || nativePath[0] != '/' || todo.empty() || todo.back() == "." ||
        todo.back() == "..") {
        failure = failureOf(ENOENT);
        return std::nullopt;
    }
    OpenedParent opened;
    opened.name = todo.back();
    todo.pop_back();

    OwnedFd folder(::open("/", FolderFlags));
    std::vector<std::string> resolved;
    int links = 0;
    while (!todo.empty()) {
        const std::string part = todo.front();
        todo.pop_front();
        if (part == ".")
            continue;
        if (part == "..") {
            folder = OwnedFd(::openat(folder.get(), "..", FolderFlags));
            if (!resolved.empty())
                resolved.pop_back();
            if (!folder.valid()) {
                failure = failureOf(errno);
                return std::nullopt;
            }
            continue;
        }
        OwnedFd next(::openat(folder.get(), part.c_str(), FolderFlags));
        if (!next.valid() && errno == ENOENT && missing == MissingFolders::Make) {
            if (auto refused = makeFolder(folder.get(), part)) {
                failure = *refused;
                return std::nullopt;
            }
            next = OwnedFd(::openat(folder.get(), part.c_str(), FolderFlags));
        }
        if (next.valid()) {
            folder = std::move(next);
            resolved.push_back(part);
            continue;
        }
        const int error = errno;
        struct stat status = {};
        if ((error != ENOTDIR && error != ELOOP) ||
            ::fstatat(folder.get(), part.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(status.st_mode)) {
            failure = failureOf(error == ELOOP ? ENOTDIR : error);
            return std::nullopt;
        }
        if (!trustedFolder(folder.get()) || ++links > LinkLimit) {
            failure = failureOf(ELOOP);
            return std::nullopt;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t length =
            ::readlinkat(folder.get(), part.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
            failure = failureOf(length < 0 ? errno : ENAMETOOLONG);
            return std::nullopt;
        }
        target.resize(static_cast<std::size_t>(length));
        if (target[0] == '/') {
            folder = OwnedFd(::open("/", FolderFlags));
            resolved.clear();
        }
        auto targetParts = splitParts(target);
        todo.insert(todo.begin(), targetParts.begin(), targetParts.end());
    }
    opened.folder = std::move(folder);
    for (const auto& part : resolved) {
        opened.resolvedPath += '/';
        opened.resolvedPath += part;
    }
    if (opened.resolvedPath.empty())
        opened.resolvedPath = "/";
    return opened;
}

FileLease::FileLease(int fd) : m_fd(fd)
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGIO, &ignore, &m_previous);
    if (::fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
        m_held = true;
        return;
    }
    m_error = errno == EINVAL ? 0 : errno;
    if (m_error == EBUSY)
        m_error = EAGAIN;
    ::sigaction(SIGIO, &m_previous, nullptr);
}

FileLease::~FileLease()
{
    if (!m_held)
        return;
    ::fcntl(m_fd, F_SETLEASE, F_UNLCK);
    ::sigaction(SIGIO, &m_previous, nullptr);
}

bool fileInUse(const std::string& nativePath)
{
    FileFailure failure;
    auto opened = openParent(nativePath, failure);
    if (!opened)
        return false;
    // Only a file is opened at all: opening a device can act on it.
    struct stat status = {};
    if (::fstatat(opened->folder.get(), opened->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode))
        return false;
    const OwnedFd entry(::openat(opened->folder.get(), opened->name.c_str(),
                                 O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    struct stat openedStatus = {};
    if (!entry.valid() || ::fstat(entry.get(), &openedStatus) != 0 ||
        !sameFile(openedStatus, status))
        return false;
    const FileLease lease(entry.get());
    return lease.error() == EAGAIN;
}

std::string percentEncodePath(std::string_view path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size());
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || std::strchr("-_.~/", c)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 15];
        }
    }
    return encoded;
}

std::string percentDecodePath(std::string_view text)
{
    return percentDecode(text);
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

std::optional<FileFailure> moveToTrash(const std::string& nativePath)
{
    FileFailure failure;
    auto opened = openParent(nativePath, failure);
    if (!opened)
        return failure;
    const int parent = opened->folder.get();
    const char* name = opened->name.c_str();

    struct stat status = {};
    if (::fstatat(parent, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return failureOf(errno);
    // Where others may write, another user's entry may have been swapped in since it was
    // chosen.
    if (status.st_uid != ::geteuid() && !trustedFolder(parent))
        return FileFailure{EPERM, "It belongs to another user, in a folder others may write to."};
    // Only a file or a folder is opened at all: opening a device can act on it.
    OwnedFd entry;
    bool leaseable = false;
    if (S_ISREG(status.st_mode)) {
        entry = OwnedFd(
            ::openat(parent, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
        leaseable = entry.valid();
        // A file the owner may not read can still be moved, only not checked for use.
        if (!entry.valid() && errno == EACCES)
            entry = OwnedFd(::openat(parent, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    } else if (S_ISDIR(status.st_mode)) {
        entry = OwnedFd(::openat(parent, name, FolderFlags));
    } else if (S_ISLNK(status.st_mode)) {
        return FileFailure{ELOOP, "It is a symbolic link, not a file."};
    } else {
        return FileFailure{EINVAL, "It is a device, pipe or socket, not a file."};
    }
    struct stat opened2 = {};
    if (!entry.valid())
        return failureOf(errno);
    if (::fstat(entry.get(), &opened2) != 0 || !sameFile(opened2, status) ||
        (opened2.st_mode & S_IFMT) != (status.st_mode & S_IFMT))
        return FileFailure{EAGAIN, "The file was replaced while it was being moved."};

    const std::string homePath = homeTrashFolder();
    struct stat homeStatus = {};
    const bool haveHome = ::stat(homePath.c_str(), &homeStatus) == 0;
    TrashFolder topdirTrash;
    TrashFolder* found = &topdirTrash;
    std::optional<FileFailure> trashFailure;
    if (status.st_dev == (haveHome ? homeStatus.st_dev : deviceOfHomeTrash(parentOf(homePath)))) {
        trashFailure = findHomeTrash(found, homePath, haveHome ? &homeStatus : nullptr);
    } else {
        // A trash in memory would be gone at the next start and shown by no desktop.
        const bool memory = inMemory(entry.get());
        bool cannotBeMade = false;
        if (!memory) {
            topdirTrash.topdir = topdirOf(opened->resolvedPath);
            trashFailure = openTopdirTrash(topdirTrash, status.st_dev, cannotBeMade);
        }
        if (memory || (trashFailure && cannotBeMade)) {
            const std::string original = joinPath(opened->resolvedPath, opened->name);
            if (S_ISDIR(status.st_mode))
                return trashFailure ? *trashFailure
                                    : FileFailure{EXDEV, "A folder in memory is not copied to "
                                                         "the Recycle Bin."};
            if (keptInMemory(original))
                return FileFailure{EPERM, "It is kept in memory on purpose and is not copied "
                                          "to the Recycle Bin."};
            if (!leaseable)
                return failureOf(EACCES);
            return copyToHomeTrash(parent, opened->name, original, entry.get(), status, !memory,
                                   homePath, haveHome ? &homeStatus : nullptr);
        }
    }
    if (trashFailure)
        return trashFailure;
    TrashFolder& trash = *found;

    const std::string original = joinPath(opened->resolvedPath, opened->name);
    std::string keyPath = original;
    if (!trash.topdir.empty())
        keyPath =
            trash.topdir == "/" ? original.substr(1) : original.substr(trash.topdir.size() + 1);
    const std::string infoText = "[Trash Info]\nPath=" + percentEncodePath(keyPath) +
                                 "\nDeletionDate=" + deletionDate() + "\n";

    const std::string base = trashBaseName(opened->name);
    const auto last = trash.lastNumber.find(base);
    for (int attempt = last == trash.lastNumber.end() ? 1 : last->second + 1;; ++attempt) {
        const std::string candidate = candidateName(base, attempt);
        struct stat taken = {};
        if (::fstatat(trash.files.get(), candidate.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        if (errno != ENOENT)
            return failureOf(errno);
        const std::string infoName = candidate + ".trashinfo";
        TrashObserver* observer = trashObserver();
        const TrashedEntry told{original,
                                trash.path,
                                candidate,
                                keyPath,
                                static_cast<std::uint64_t>(status.st_size),
                                status.st_dev,
                                status.st_ino,
                                status.st_mtim,
                                S_ISDIR(status.st_mode)};
        if (observer) {
            if (const int error = observer->aboutToMove(told))
                return FileFailure{error, "What the collection moves cannot be recorded: " +
                                              failureReason(error)};
        }
        // Whole before the move, but not flushed: the page cache outlives a killed process.
        // After a power cut the worst is an empty info file beside its entry in files/: the
        // file is kept, not lost, and a flush per file would cost more than the whole move.
        const int infoError = writeInfo(trash.info.get(), infoName, infoText);
        if (infoError == EEXIST)
            continue;
        if (infoError)
            return failureOf(infoError);
        auto dropInfo = [&](int error) {
            ::unlinkat(trash.info.get(), infoName.c_str(), 0);
            return failureOf(error);
        };

        std::optional<FileLease> lease;
        if (leaseable) {
            lease.emplace(entry.get());
            if (lease->error())
                return dropInfo(lease->error());
        }
        struct stat still = {};
        if (::fstatat(parent, name, &still, AT_SYMLINK_NOFOLLOW) != 0 || !sameFile(still, status)) {
            dropInfo(ENOENT);
            return FileFailure{EAGAIN, "The file was replaced while it was being moved."};
        }
        if (::renameat2(parent, name, trash.files.get(), candidate.c_str(), RENAME_NOREPLACE) !=
            0) {
            const int error = errno;
            dropInfo(error);
            if (error == EEXIST)
                continue;
            return failureOf(error);
        }
        // A rename goes by name: another entry swapped in after the last look went instead,
        // and goes back.
        struct stat moved = {};
        if (::fstatat(trash.files.get(), candidate.c_str(), &moved, AT_SYMLINK_NOFOLLOW) != 0 ||
            !sameFile(moved, status)) {
            if (::renameat2(trash.files.get(), candidate.c_str(), parent, name, RENAME_NOREPLACE) ==
                0)
                dropInfo(EAGAIN);
            return FileFailure{EAGAIN, "The file was replaced while it was being moved."};
        }
        lease.reset();
        if (observer)
            observer->moved(told);
        if (attempt > 1) {
            if (trash.lastNumber.size() >= NamesakesKept)
                trash.lastNumber.clear();
            trash.lastNumber[base] = attempt;
        }
        if (S_ISDIR(status.st_mode))
            noteFolderSize(trash, candidate, status.st_dev);
        return std::nullopt;
    }
}

bool liesInTrash(const std::string& nativePath)
{
    const std::string path = resolvedAsFarAsExists(nativePath);
    struct stat home = {};
    const bool haveHome = ::stat(homeTrashFolder().c_str(), &home) == 0;
    if (isWithin(path, resolvedAsFarAsExists(homeTrashFolder())))
        return true;
    for (std::string at = path; at != "/"; at = parentOf(at)) {
        struct stat status = {};
        if (haveHome && ::lstat(at.c_str(), &status) == 0 && sameFile(status, home))
            return true;
        const std::string parent = parentOf(at);
        if (isTrashName(at.substr(at.rfind('/') + 1)) && isMountRoot(parent))
            return true;
    }
    return false;
}

bool reachesTrash(const std::string& nativeFolder)
{
    // A topdir trash at the top of the folder's filesystem is no reason to leave the folder
    // alone: the search leaves it out, as it leaves out every trash.
    if (liesInTrash(nativeFolder))
        return true;
    return isWithin(resolvedAsFarAsExists(homeTrashFolder()), resolvedAsFarAsExists(nativeFolder));
}

bool keptInMemoryOnPurpose(const std::string& nativePath)
{
    return keptInMemory(resolvedAsFarAsExists(nativePath));
}

void removeInterruptedCopies()
{
    TrashFolder* found = nullptr;
    const std::string homePath = homeTrashFolder();
    struct stat homeStatus = {};
    if (homePath.empty() || ::stat(homePath.c_str(), &homeStatus) != 0)
        return;
    if (!findHomeTrash(found, homePath, &homeStatus))
        removeInterruptedCopies(*found);
}

} // namespace platform
