#include "platform/shell/Trash.h"

#include "platform/core/FileStorage.h"
#include "platform/core/HexDigit.h"
#include "platform/core/PathText.h"
#include "platform/core/Termination.h"
#include "platform/drives/Drives.h"
#include "platform/drives/MountTable.h"
#include "platform/files/FileCopy.h"
#include "platform/files/Folders.h"
#include "platform/shell/TrashObserver.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
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
// Names in the trash leave room for ".trashinfo" and a number.
constexpr std::size_t TrashNameLimit = NAME_MAX - 10 - 12;
constexpr int NumberedNames = 100;
constexpr std::size_t NamesakesKept = 1024;

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
    unsigned checked = 0; // the generation of the run it was last checked in
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
    const std::string uid = std::to_string(runningUser());

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

// The home trash at the place, checked as keptHomeTrash() says, once for each generation of
// a run.
std::optional<FileFailure> findHomeTrash(TrashFolder*& found, HomeTrashPlace& place)
{
    auto& kept = keptHomeTrash();
    const unsigned generation = KeptWalk::generation();
    if (kept && kept->path == place.path &&
        ((generation != 0 && kept->checked == generation) ||
         (place.exists && stillThere(place.status, kept->topStatus) &&
          stillThere(kept->top.get(), "files", kept->filesStatus) &&
          stillThere(kept->top.get(), "info", kept->infoStatus)))) {
        kept->checked = generation;
        found = &*kept;
        return std::nullopt;
    }
    kept.reset();
    TrashFolder fresh;
    if (auto failure = openHomeTrash(fresh))
        return failure;
    kept = std::move(fresh);
    kept->checked = generation;
    place.exists = true;
    place.status = kept->topStatus;
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

// The info file of one move, whole under its name, never replacing one: written once
// unnamed and then linked in under the name tried, so that a kill at any moment leaves it
// whole or not there at all. Where the filesystem has no unnamed files, it is created
// exclusively and written in place.
class InfoFile
{
public:
    explicit InfoFile(std::string text) : m_text(std::move(text)) {}

    // 0 or the errno; EEXIST when the name is taken.
    int linkAs(int infoFolder, const std::string& name)
    {
        // Once linked and taken back, the unnamed file cannot be linked again.
        if (!m_unnamed.valid() || m_linked) {
            m_linked = false;
            m_unnamed = OwnedFd(::openat(infoFolder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
            if (m_unnamed.valid() && !writeAll(m_unnamed.get(), m_text)) {
                m_unnamed.reset();
                return errno ? errno : EIO;
            }
        }
        if (m_unnamed.valid()) {
            const std::string self = "/proc/self/fd/" + std::to_string(m_unnamed.get());
            if (::linkat(AT_FDCWD, self.c_str(), infoFolder, name.c_str(), AT_SYMLINK_FOLLOW) ==
                0) {
                m_linked = true;
                return 0;
            }
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
        if (!writeAll(info.get(), m_text)) {
            const int error = errno ? errno : EIO;
            ::unlinkat(infoFolder, name.c_str(), 0);
            return error;
        }
        m_linked = true;
        return 0;
    }

    // Open until the move is done, which closes it with others (closeSoon).
    OwnedFd& descriptor() { return m_unnamed; }

private:
    std::string m_text;
    OwnedFd m_unnamed;
    bool m_linked = false;
};

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
            !S_ISREG(status.st_mode) || status.st_uid != runningUser() ||
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
                                           HomeTrashPlace& place)
{
    TrashFolder* found = nullptr;
    if (auto failure = findHomeTrash(found, place))
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
    const int copyError = copyFileData(source, started, copy.get(), flush ? Flush::Yes : Flush::No,
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
    InfoFile info(infoText);
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
        int error = info.linkAs(trash.info.get(), infoName);
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

// The move itself, into the trash chosen: its record line, the info file, the lease, the
// rename and the look after it. The entry is the open file (leased when leaseable) or
// folder, status what it was when chosen.
std::optional<FileFailure> renameIntoTrash(TrashFolder& trash, int parent,
                                           const std::string& entryName,
                                           const std::string& original, OwnedFd& entry,
                                           bool leaseable, const struct stat& status)
{
    const char* name = entryName.c_str();
    std::string keyPath = original;
    if (!trash.topdir.empty())
        keyPath =
            trash.topdir == "/" ? original.substr(1) : original.substr(trash.topdir.size() + 1);
    // Whole before the move, but not flushed: the page cache outlives a killed process.
    // After a power cut the worst is an empty info file beside its entry in files/: the
    // file is kept, not lost, and a flush per file would cost more than the whole move.
    InfoFile info("[Trash Info]\nPath=" + percentEncodePath(keyPath) +
                  "\nDeletionDate=" + deletionDate() + "\n");
    TrashObserver* observer = trashObserver();

    // A name taken in info/ or files/ shows in the link or the rename, which never replace.
    const std::string base = trashBaseName(entryName);
    const auto last = trash.lastNumber.find(base);
    for (int attempt = last == trash.lastNumber.end() ? 1 : last->second + 1;; ++attempt) {
        const std::string candidate = candidateName(base, attempt);
        const std::string infoName = candidate + ".trashinfo";
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
        const int infoError = info.linkAs(trash.info.get(), infoName);
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
        if (::renameat2(parent, name, trash.files.get(), candidate.c_str(), RENAME_NOREPLACE) !=
            0) {
            const int error = errno;
            dropInfo(error);
            if (error == EEXIST)
                continue;
            if (error == ENOENT)
                return FileFailure{EAGAIN, "The file was replaced while it was being moved."};
            return failureOf(error);
        }
        // A rename goes by name: another entry swapped in after the look went instead, and
        // goes back. In a run, which checks its home trash once a second, the entry is looked
        // at by the trash's path: one that went into a trash folder moved away meanwhile goes
        // back too, and the caller finds the trash again.
        struct stat moved = {};
        const bool byPath = trash.checked != 0;
        const int looked =
            byPath ? ::fstatat(AT_FDCWD, (trash.path + "/files/" + candidate).c_str(), &moved,
                               AT_SYMLINK_NOFOLLOW)
                   : ::fstatat(trash.files.get(), candidate.c_str(), &moved, AT_SYMLINK_NOFOLLOW);
        if (looked != 0 || !sameFile(moved, status)) {
            // Ours, in a trash folder no longer at its place, or another entry: back either way.
            const bool movedAway =
                byPath &&
                ::fstatat(trash.files.get(), candidate.c_str(), &moved, AT_SYMLINK_NOFOLLOW) == 0 &&
                sameFile(moved, status);
            const bool back = ::renameat2(trash.files.get(), candidate.c_str(), parent, name,
                                          RENAME_NOREPLACE) == 0;
            if (back)
                dropInfo(0);
            if (!movedAway)
                return FileFailure{EAGAIN, "The file was replaced while it was being moved."};
            return FileFailure{ESTALE, back ? "The Recycle Bin folder was moved meanwhile."
                                            : "The Recycle Bin folder was moved while the file "
                                              "went into it; the file is there."};
        }
        if (lease)
            lease->closeWith(entry);
        closeSoon(std::move(info.descriptor()));
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

} // namespace

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

FileLease::FileLease(int fd) : m_fd(fd)
{
    static const bool ignoring = [] {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        return ::sigaction(SIGIO, &ignore, nullptr) == 0;
    }();
    (void)ignoring;
    if (::fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
        m_held = true;
        return;
    }
    m_error = errno == EINVAL ? 0 : errno;
    if (m_error == EBUSY)
        m_error = EAGAIN;
}

FileLease::~FileLease()
{
    if (m_held)
        ::fcntl(m_fd, F_SETLEASE, F_UNLCK);
}

void FileLease::closeWith(OwnedFd& file)
{
    file.reset();
    m_held = false;
}

bool fileInUse(const std::string& nativePath)
{
    // Only a file is opened at all (the look opens nothing else), and the look is taken:
    // a descriptor of ours still open would itself refuse the lease.
    const auto look = takeLook(nativePath);
    if (!look || !look->opened.valid())
        return false;
    const FileLease lease(look->opened.get());
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
    auto look = takeLook(nativePath);
    if (!look)
        return failureOf(errno);
    const WalkedFolder& folder = look->parent.folder;
    const int parent = folder.get();
    const std::string& entryName = look->parent.name;
    const char* name = entryName.c_str();
    const struct stat status = look->status;

    // Where others may write, another user's entry may have been swapped in since it was
    // chosen.
    if (status.st_uid != runningUser() && !trustedFolder(parent))
        return FileFailure{EPERM, "It belongs to another user, in a folder others may write to."};
    // The look opened a regular file already; a folder is opened here, nothing else.
    OwnedFd entry;
    bool leaseable = false;
    if (S_ISREG(status.st_mode) && look->opened.valid()) {
        entry = std::move(look->opened);
        leaseable = true;
    } else if (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)) {
        // A file the owner may not read can still be moved, only not checked for use.
        if (S_ISREG(status.st_mode) && look->openError != EACCES)
            return failureOf(look->openError);
        entry = OwnedFd(::openat(
            parent, name, S_ISDIR(status.st_mode) ? FolderFlags : O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat opened = {};
        if (!entry.valid())
            return failureOf(errno);
        if (::fstat(entry.get(), &opened) != 0 || !sameFile(opened, status) ||
            (opened.st_mode & S_IFMT) != (status.st_mode & S_IFMT))
            return FileFailure{EAGAIN, "The file was replaced while it was being moved."};
    } else if (S_ISLNK(status.st_mode)) {
        return FileFailure{ELOOP, "It is a symbolic link, not a file."};
    } else {
        return FileFailure{EINVAL, "It is a device, pipe or socket, not a file."};
    }

    HomeTrashPlace& home = homeTrashPlace();
    TrashFolder topdirTrash;
    TrashFolder* found = &topdirTrash;
    std::optional<FileFailure> trashFailure;
    if (status.st_dev == home.device) {
        trashFailure = findHomeTrash(found, home);
    } else {
        // A trash in memory would be gone at the next start and shown by no desktop.
        const bool memory = inMemory(entry.get());
        bool cannotBeMade = false;
        if (!memory) {
            topdirTrash.topdir = topdirOf(folder.resolvedPath);
            trashFailure = openTopdirTrash(topdirTrash, status.st_dev, cannotBeMade);
        }
        if (memory || (trashFailure && cannotBeMade)) {
            const std::string original = joinPath(folder.resolvedPath, entryName);
            if (S_ISDIR(status.st_mode))
                return trashFailure ? *trashFailure
                                    : FileFailure{EXDEV, "A folder in memory is not copied to "
                                                         "the Recycle Bin."};
            if (keptInMemory(original))
                return FileFailure{EPERM, "It is kept in memory on purpose and is not copied "
                                          "to the Recycle Bin."};
            if (!leaseable)
                return failureOf(EACCES);
            return copyToHomeTrash(parent, entryName, original, entry.get(), status, !memory, home);
        }
    }
    if (trashFailure)
        return trashFailure;
    const std::string original = joinPath(folder.resolvedPath, entryName);
    auto failure = renameIntoTrash(*found, parent, entryName, original, entry, leaseable, status);
    // A run checks its home trash once a second: one removed or replaced since is checked,
    // or made, again, and the move tried once more there.
    if (failure && found != &topdirTrash && found->checked != 0) {
        const struct stat files = found->filesStatus;
        const struct stat info = found->infoStatus;
        found->checked = 0;
        home.generation = 0;
        if (auto missing = findHomeTrash(found, homeTrashPlace()))
            return missing;
        if (!sameFile(files, found->filesStatus) || !sameFile(info, found->infoStatus))
            failure =
                renameIntoTrash(*found, parent, entryName, original, entry, leaseable, status);
    }
    return failure;
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

namespace {

// The folders a run's looks are held against, resolved as liesInTrash and keptInMemory
// resolve them, once for each generation of the run.
// Every path without links that reaches the folder at the resolved path: through each mount
// of its filesystem that shows it. nullopt when the mount table does not tell.
std::optional<std::vector<std::string>> pathsReaching(const std::string& resolved)
{
    const auto text = readWholeFile("/proc/self/mountinfo");
    if (!text)
        return std::nullopt;
    const MountTable table = MountTable::fromMountInfo(*text);
    const MountEntry* holder = table.mountHolding(resolved);
    if (!holder)
        return std::nullopt;
    const std::string rest =
        holder->mountPoint == "/" ? resolved : resolved.substr(holder->mountPoint.size());
    const std::string inside =
        holder->root == "/" ? (rest.empty() ? "/" : rest) : holder->root + rest;
    std::vector<std::string> paths;
    for (const MountEntry& mount : table.mounts()) {
        if (mount.major != holder->major || mount.minor != holder->minor ||
            !isWithin(inside, mount.root))
            continue;
        const std::string below = mount.root == "/" ? inside : inside.substr(mount.root.size());
        if (mount.mountPoint == "/")
            paths.push_back(below.empty() ? "/" : below);
        else
            paths.push_back(below == "/" ? mount.mountPoint : mount.mountPoint + below);
    }
    return paths;
}

// The folders a run's looks are held against, resolved as liesInTrash and keptInMemory
// resolve them, once for each generation of the run.
struct HeldPlaces
{
    unsigned generation = 0;
    std::string trashFolder;
    std::string homeTrash;
    bool haveHome = false;
    struct stat home = {};
    std::optional<std::vector<std::string>> homeTrashPaths;
    std::string sharedMemory;
    std::string runtime; // empty without one
};

const HeldPlaces& heldPlaces()
{
    static HeldPlaces places;
    const unsigned generation = KeptWalk::generation();
    if (places.generation == generation && places.trashFolder == homeTrashFolder())
        return places;
    places.generation = generation;
    places.trashFolder = homeTrashFolder();
    places.homeTrash = resolvedAsFarAsExists(places.trashFolder);
    places.haveHome = ::stat(places.trashFolder.c_str(), &places.home) == 0;
    places.homeTrashPaths = pathsReaching(places.homeTrash);
    places.sharedMemory = resolvedAsFarAsExists("/dev/shm");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    places.runtime = runtime && runtime[0] == '/' ? resolvedAsFarAsExists(runtime) : "";
    return places;
}

bool heldBack(const std::string& path, const HeldPlaces& places)
{
    return isWithin(path, places.homeTrash) || isWithin(path, places.sharedMemory) ||
           (!places.runtime.empty() && isWithin(path, places.runtime));
}

// What liesInTrash and keptInMemoryOnPurpose say of every entry of a folder walked without
// links: by its path, where the mount table tells every path of the home trash.
bool folderHeldBack(const WalkedFolder& folder, const HeldPlaces& places)
{
    static unsigned generation = 0;
    static std::string decided;
    static bool held = false;
    if (generation == places.generation && decided == folder.resolvedPath)
        return held;
    held = heldBack(folder.resolvedPath, places);
    if (!places.homeTrashPaths) {
        held = held || liesInTrash(folder.resolvedPath);
    } else {
        for (const std::string& path : *places.homeTrashPaths)
            held = held || isWithin(folder.resolvedPath, path);
        for (std::string at = folder.resolvedPath; !held && at != "/"; at = parentOf(at))
            held = isTrashName(at.substr(at.rfind('/') + 1)) && isMountRoot(parentOf(at));
    }
    generation = places.generation;
    decided = folder.resolvedPath;
    return held;
}

} // namespace

bool collectableLook(const EntryLook& look)
{
    if (look.status.st_uid != runningUser())
        return false;
    const WalkedFolder& folder = look.parent.folder;
    const std::string& name = look.parent.name;
    const std::string path = joinPath(folder.resolvedPath, name);
    if (!KeptWalk::active() || folder.throughLink || S_ISLNK(look.status.st_mode))
        return !liesInTrash(path) && !keptInMemoryOnPurpose(path);
    const HeldPlaces& places = heldPlaces();
    if (folderHeldBack(folder, places) || heldBack(path, places))
        return false;
    if (places.haveHome && sameFile(look.status, places.home))
        return false;
    return !(isTrashName(name) && isMountRoot(folder.resolvedPath));
}

void removeInterruptedCopies()
{
    TrashFolder* found = nullptr;
    HomeTrashPlace& place = homeTrashPlace();
    if (place.path.empty() || !place.exists)
        return;
    if (!findHomeTrash(found, place))
        removeInterruptedCopies(*found);
}

} // namespace platform
