// The trash as freedesktop.org defines it (the Trash standard, version 1.0): an entry
// goes into files/ of the trash of its filesystem with its info file in info/, and a folder
// gets its line in directorysizes. The units beside this one hold the steps: TrashFolders
// (which trash, and whether it may be used), TrashInfo (the info file and the names),
// DirectorySizes, TrashCopy (the home trash by a copy) and HeldBack (what a collection
// leaves alone); the lease that tells a file in use is files/FileLease.
#include "platform/shell/Trash.h"

#include "platform/core/PathText.h"
#include "platform/shell/TrashCopy.h"
#include "platform/shell/TrashObserver.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t NamesakesKept = 1024;

// The entry a move takes: looked at, checked and open.
struct Departing
{
    EntryLook look; // its folder, name and status when chosen
    OwnedFd entry;  // the regular file, leased when leaseable, or the folder
    bool leaseable = false;
    std::string original; // its path with the links followed

    int parent() const { return look.parent.folder.get(); }
    const std::string& name() const { return look.parent.name; }
};

// The entry at the path, when a move may take it: the user's own, or in a folder nobody
// else could have put it in, and a regular file or a folder.
std::optional<Departing> departingEntry(const std::string& nativePath, FileFailure& failure)
{
    auto look = takeLook(nativePath);
    if (!look) {
        failure = failureOf(errno);
        return std::nullopt;
    }
    Departing departing;
    departing.look = std::move(*look);
    const int parent = departing.parent();
    const char* name = departing.name().c_str();
    const struct stat& status = departing.look.status;
    departing.original = joinPath(departing.look.parent.folder.resolvedPath, departing.name());

    // Where others may write, another user's entry may have been swapped in since it was
    // chosen.
    if (status.st_uid != runningUser() && !trustedFolder(parent)) {
        failure = {EPERM, "It belongs to another user, in a folder others may write to."};
        return std::nullopt;
    }
    // The look opened a regular file already; a folder is opened here, nothing else.
    if (S_ISREG(status.st_mode) && departing.look.opened.valid()) {
        departing.entry = std::move(departing.look.opened);
        departing.leaseable = true;
        return departing;
    }
    if (S_ISLNK(status.st_mode)) {
        failure = {ELOOP, "It is a symbolic link, not a file."};
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
        failure = {EINVAL, "It is a device, pipe or socket, not a file."};
        return std::nullopt;
    }
    // A file the owner may not read can still be moved, only not checked for use.
    if (S_ISREG(status.st_mode) && departing.look.openError != EACCES) {
        failure = failureOf(departing.look.openError);
        return std::nullopt;
    }
    departing.entry = OwnedFd(
        ::openat(parent, name,
                 S_ISDIR(status.st_mode) ? TrashFolderFlags : O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!departing.entry.valid()) {
        failure = failureOf(errno);
        return std::nullopt;
    }
    struct stat opened = {};
    if (::fstat(departing.entry.get(), &opened) != 0 || !sameFile(opened, status) ||
        (opened.st_mode & S_IFMT) != (status.st_mode & S_IFMT)) {
        failure = {EAGAIN, "The file was replaced while it was being moved."};
        return std::nullopt;
    }
    return departing;
}

// A tmpfs or ramfs: what lies there is gone at the next start of the machine, and no
// desktop shows a trash on it.
bool inMemory(int fd)
{
    struct statfs status = {};
    return ::fstatfs(fd, &status) == 0 &&
           (status.f_type == TMPFS_MAGIC || status.f_type == RAMFS_MAGIC);
}

// Where an entry goes: renamed into a trash folder, or into the home trash by a copy.
struct TrashWay
{
    TrashFolder* trash = nullptr; // null for the copy
    Flush copyFlush = Flush::Yes;
};

// The home trash on the home trash's filesystem, else the topdir trash of the entry's
// mount. A file on a tmpfs, or on a disk that has no trash of ours and may get none, goes
// to the home trash by a copy; a folder never does, nor what is kept in memory on purpose.
std::optional<TrashWay> chooseTrash(const Departing& departing, HomeTrashPlace& home,
                                    TrashFolder& topdirTrash, FileFailure& failure)
{
    const struct stat& status = departing.look.status;
    if (status.st_dev == home.device) {
        TrashFolder* trash = findHomeTrash(home, failure);
        return trash ? std::optional(TrashWay{trash}) : std::nullopt;
    }
    // A trash in memory would be gone at the next start and shown by no desktop.
    const bool memory = inMemory(departing.entry.get());
    bool cannotBeMade = false;
    std::optional<FileFailure> trashFailure;
    if (!memory) {
        topdirTrash.topdir = topdirOf(departing.look.parent.folder.resolvedPath);
        trashFailure = openTopdirTrash(topdirTrash, status.st_dev, cannotBeMade);
    }
    if (memory || (trashFailure && cannotBeMade)) {
        if (S_ISDIR(status.st_mode))
            failure = trashFailure ? *trashFailure
                                   : FileFailure{EXDEV, "A folder in memory is not copied to "
                                                        "the Recycle Bin."};
        else if (keptInMemory(departing.original))
            failure = {EPERM, "It is kept in memory on purpose and is not copied to the "
                              "Recycle Bin."};
        else if (!departing.leaseable)
            failure = failureOf(EACCES);
        else
            return TrashWay{nullptr, memory ? Flush::No : Flush::Yes};
        return std::nullopt;
    }
    if (trashFailure) {
        failure = *trashFailure;
        return std::nullopt;
    }
    return TrashWay{&topdirTrash};
}

// The move itself, into the trash chosen: its record line, the info file, the lease, the
// rename and the look after it.
std::optional<FileFailure> renameIntoTrash(TrashFolder& trash, Departing& departing)
{
    const int parent = departing.parent();
    const std::string& entryName = departing.name();
    const std::string& original = departing.original;
    OwnedFd& entry = departing.entry;
    const bool leaseable = departing.leaseable;
    const struct stat& status = departing.look.status;
    const char* name = entryName.c_str();
    std::string keyPath = original;
    if (!trash.topdir.empty())
        keyPath =
            trash.topdir == "/" ? original.substr(1) : original.substr(trash.topdir.size() + 1);
    // Whole before the move, but not flushed: the page cache outlives a killed process.
    // After a power cut the worst is an empty info file beside its entry in files/: the
    // file is kept, not lost, and a flush per file would cost more than the whole move.
    InfoFile info(trashInfoText(keyPath));
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
        if (auto failure = info.linkAs(trash.info.get(), infoName)) {
            if (failure->error == EEXIST)
                continue;
            return failure;
        }
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

// A run checks its home trash once a second: after a failed move into it, one removed or
// replaced since is checked, or made, again, and the move tried once more there.
std::optional<FileFailure> renameIntoHomeTrashAgain(TrashFolder* trash, HomeTrashPlace& home,
                                                    Departing& departing,
                                                    const FileFailure& failure)
{
    const struct stat files = trash->filesStatus;
    const struct stat info = trash->infoStatus;
    trash->checked = 0;
    home.generation = 0;
    FileFailure missing;
    trash = findHomeTrash(homeTrashPlace(), missing);
    if (!trash)
        return missing;
    if (!sameFile(files, trash->filesStatus) || !sameFile(info, trash->infoStatus))
        return renameIntoTrash(*trash, departing);
    return failure;
}

} // namespace

std::optional<FileFailure> moveToTrash(const std::string& nativePath)
{
    FileFailure failure;
    auto departing = departingEntry(nativePath, failure);
    if (!departing)
        return failure;
    HomeTrashPlace& home = homeTrashPlace();
    TrashFolder topdirTrash;
    const auto way = chooseTrash(*departing, home, topdirTrash, failure);
    if (!way)
        return failure;
    if (!way->trash)
        return copyToHomeTrash(departing->parent(), departing->name(), departing->original,
                               departing->entry.get(), departing->look.status, way->copyFlush,
                               home);
    const auto renamed = renameIntoTrash(*way->trash, *departing);
    const bool homeInRun = way->trash != &topdirTrash && way->trash->checked != 0;
    if (renamed && homeInRun)
        return renameIntoHomeTrashAgain(way->trash, home, *departing, *renamed);
    return renamed;
}

void removeInterruptedCopies()
{
    HomeTrashPlace& place = homeTrashPlace();
    if (place.path.empty() || !place.exists)
        return;
    FileFailure ignored;
    if (const TrashFolder* found = findHomeTrash(place, ignored))
        removeInterruptedCopies(*found);
}

} // namespace platform
