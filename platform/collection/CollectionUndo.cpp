#include "platform/collection/CollectionUndo.h"

#include "platform/core/Descriptor.h"
#include "platform/core/Termination.h"
#include "platform/files/FileCopy.h"
#include "platform/shell/Trash.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t InfoLimit = 64 * 1024;

// What one undo keeps open: the files/ and info/ folders of each trash, walked to once,
// and the record, to note each file put back.
struct Undoing
{
    explicit Undoing(const CollectionRecord& undone)
        : recordFile(::open(undone.path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC))
    {
    }

    // The open folder, or -1 with failure set.
    int trashFolder(const std::string& trash, const char* part, const std::string& name,
                    FileFailure& failure)
    {
        const std::string key = trash + "/" + part;
        auto found = folders.find(key);
        if (found == folders.end()) {
            auto opened = openParent(key + "/" + name, failure);
            if (!opened)
                return -1;
            found = folders.emplace(key, std::move(*opened)).first;
        }
        return found->second.folder.get();
    }

    // mayReceive, asked once for each folder the files go back to one after another.
    bool receives(const WalkedFolder& folder)
    {
        if (folder.fd != receiving) {
            receiving = folder.fd;
            received = mayReceive(folder.get());
        }
        return received;
    }

    bool note(std::uint64_t index, const FileIdentity& back) const
    {
        return recordFile.valid() && notePutBack(recordFile.get(), index, back);
    }

    OwnedFd recordFile;
    std::map<std::string, OpenedParent> folders;
    std::shared_ptr<const OwnedFd> receiving;
    bool received = false;
};

bool isEntry(int folder, const std::string& name, const TrashedEntry& entry)
{
    struct stat status = {};
    return ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           status.st_dev == entry.device && status.st_ino == entry.inode;
}

// Whether the info file in the open info folder still names the place the run took the
// entry from. Read without following a link or waiting on anything, and no further than an
// info file can be long.
bool infoNames(int infoFolder, const std::string& infoName, const std::string& pathKey)
{
    OwnedFd fd(::openat(infoFolder, infoName.c_str(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid())
        return false;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got =
            retryInterrupted([&] { return ::read(fd.get(), buffer, sizeof buffer); });
        if (got < 0 || text.size() + static_cast<std::size_t>(got) > InfoLimit)
            return false;
        text.append(buffer, static_cast<std::size_t>(got));
        // A regular file read short is read to its end.
        if (static_cast<std::size_t>(got) < sizeof buffer)
            break;
    }
    const std::string line = "\nPath=" + percentEncodePath(pathKey) + "\n";
    return text.starts_with("[Trash Info]\n") && text.find(line) != std::string::npos;
}

// The info file of an entry no longer in files/ is left over from a killed run or undo:
// it goes when it still names the entry's place.
void dropLeftoverInfo(const RecordedFile& file)
{
    FileFailure failure;
    auto files = openParent(file.entry.trash + "/files/" + file.entry.name, failure);
    auto info = openParent(file.entry.trash + "/info/" + file.entry.name + ".trashinfo", failure);
    if (!files || !info)
        return;
    struct stat status = {};
    if (::fstatat(files->folder.get(), files->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 ||
        errno != ENOENT)
        return;
    if (infoNames(info->folder.get(), info->name, file.entry.pathKey))
        ::unlinkat(info->folder.get(), info->name.c_str(), 0);
}

std::string backTemporary(const std::string& name)
{
    return (std::string(BackTemporaryPrefix) + name).substr(0, NAME_MAX);
}

// What an undo killed during its copy left beside the place: ours, a regular file, and
// held by no copy still running.
void dropBackTemporary(int folder, const std::string& place)
{
    const std::string temporary = backTemporary(place);
    OwnedFd fd(::openat(folder, temporary.c_str(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status = {};
    if (fd.valid() && ::fstat(fd.get(), &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_uid == runningUser() && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
        ::unlinkat(folder, temporary.c_str(), 0);
}

// The open folders of one file's way back, and its names in each.
struct Places
{
    int files = -1;
    std::string filesName;
    int info = -1;
    std::string infoName;
    int place = -1;
    std::string placeName;
};
struct Named
{
    int folder;
    const std::string& name;
};

// An entry on another filesystem than its place goes back by a copy: whole under a
// temporary name beside the place, noted in the record, put at the place by a rename that
// never replaces, and only then removed from the trash. A kill at any moment leaves the
// entry, or the file back beside the entry, which the next undo removes.
std::optional<std::string> copyBack(Undoing& undoing, const RecordedFile& file, const Places& at)
{
    const Named files{at.files, at.filesName};
    const Named info{at.info, at.infoName};
    const Named place{at.place, at.placeName};
    OwnedFd source(::openat(files.folder, files.name.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status = {};
    if (!source.valid() || ::fstat(source.get(), &status) != 0)
        return "Its entry in the trash cannot be read: " + failureReason(errno);
    if (status.st_dev != file.entry.device || status.st_ino != file.entry.inode)
        return "Its entry in the trash is no longer the one this collection made.";
    if (!S_ISREG(status.st_mode))
        return "It lies on another drive than its place, and only a file is copied back.";
    struct stat taken = {};
    if (::fstatat(place.folder, place.name.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0)
        return "Another file is at its place now; that one stays.";
    if (const int error = roomForCopy(place.folder, copySize(status), SpareRoom::None))
        return error == ENOSPC ? "There is no room for it at its place." : failureReason(error);

    const std::string temporary = backTemporary(place.name);
    dropBackTemporary(place.folder, place.name);
    OwnedFd copy(::openat(place.folder, temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!copy.valid())
        return "It cannot be copied back: " + failureReason(errno);
    ::flock(copy.get(), LOCK_EX);
    const auto drop = [&](const std::string& why) {
        ::unlinkat(place.folder, temporary.c_str(), 0);
        return why;
    };
    if (const int error = copyFileData(source.get(), status, copy.get(), Flush::Yes,
                                       [] { return terminationSignalled(); }))
        return drop("It cannot be copied back: " + failureReason(error));
    struct stat copied = {};
    if (::fstat(copy.get(), &copied) != 0)
        return drop(failureReason(errno));
    if (!undoing.note(file.index, identityOf(copied)))
        return drop("What is put back cannot be recorded.");
    if (::renameat2(place.folder, temporary.c_str(), place.folder, place.name.c_str(),
                    RENAME_NOREPLACE) != 0) {
        const int error = errno;
        return drop(error == EEXIST ? "Another file is at its place now; that one stays."
                                    : failureReason(error));
    }
    ::unlinkat(files.folder, files.name.c_str(), 0);
    ::unlinkat(info.folder, info.name.c_str(), 0);
    return std::nullopt;
}

// A file copied back by an undo killed before its entry went: the entry and its info go
// while the file at the place is still the copy noted and the entry the run's.
void finishCopyBack(const RecordedFile& file)
{
    const TrashedEntry& entry = file.entry;
    FileFailure failure;
    auto place = openParent(entry.original, failure);
    auto files = openParent(entry.trash + "/files/" + entry.name, failure);
    auto info = openParent(entry.trash + "/info/" + entry.name + ".trashinfo", failure);
    if (!place || !files || !info || !file.putBack)
        return;
    dropBackTemporary(place->folder.get(), place->name);
    struct stat back = {};
    if (!isEntry(files->folder.get(), files->name, entry) ||
        ::fstatat(place->folder.get(), place->name.c_str(), &back, AT_SYMLINK_NOFOLLOW) != 0 ||
        identityOf(back) != *file.putBack || static_cast<std::uint64_t>(back.st_size) != entry.size)
        return;
    if (!infoNames(info->folder.get(), info->name, entry.pathKey))
        return;
    ::unlinkat(files->folder.get(), files->name.c_str(), 0);
    ::unlinkat(info->folder.get(), info->name.c_str(), 0);
}

// nullopt when the file is back, else why it stays in the trash. inTrash is the entry as
// it was found in files/.
std::optional<std::string> putBack(Undoing& undoing, const RecordedFile& file,
                                   const struct stat& inTrash)
{
    const TrashedEntry& entry = file.entry;
    FileFailure failure;
    Places at;
    at.filesName = entry.name;
    at.infoName = entry.name + ".trashinfo";
    at.files = undoing.trashFolder(entry.trash, "files", at.filesName, failure);
    if (at.files < 0)
        return "Its place in the trash cannot be reached: " + failure.reason;
    if (inTrash.st_dev != entry.device || inTrash.st_ino != entry.inode)
        return "Its entry in the trash is no longer the one this collection made.";
    at.info = undoing.trashFolder(entry.trash, "info", at.infoName, failure);
    if (at.info < 0 || !infoNames(at.info, at.infoName, entry.pathKey))
        return "Its information in the trash no longer names this place.";

    auto place = walkToParent(entry.original, failure, MissingFolders::Make);
    if (!place)
        return "Its folder cannot be made again or reached: " + failure.reason;
    if (!undoing.receives(place->folder))
        return "The folder it goes back to belongs to another user.";
    at.place = place->folder.get();
    at.placeName = place->name;
    if (::renameat2(at.files, at.filesName.c_str(), at.place, at.placeName.c_str(),
                    RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST)
            return "Another file is at its place now; that one stays.";
        if (errno == EXDEV)
            return copyBack(undoing, file, at);
        return failureReason(errno);
    }
    ::unlinkat(at.info, at.infoName.c_str(), 0);
    if (entry.folder)
        dropFolderSize(entry.trash, at.files, entry.name);
    // A rename changes neither the device, the inode nor the modification time.
    undoing.note(file.index, identityOf(inTrash));
    return std::nullopt;
}

// Where the file is, as whereabouts() tells, through the folders the undo keeps open; the
// entry in files/ as it was found when it is in the trash.
Whereabouts locate(Undoing& undoing, const RecordedFile& file, struct stat& inTrash)
{
    const TrashedEntry& entry = file.entry;
    FileFailure failure;
    auto place = walkToParent(entry.original, failure);
    // What the walk refuses, the system may still reach.
    const auto byPath = [&] {
        const Whereabouts where = whereabouts(file);
        if (where == Whereabouts::InTrash)
            ::lstat((entry.trash + "/files/" + entry.name).c_str(), &inTrash);
        return where;
    };
    if (!place && failure.error != ENOENT && failure.error != ENOTDIR)
        return byPath();
    struct stat status = {};
    if (place &&
        ::fstatat(place->folder.get(), place->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        ((status.st_dev == entry.device && status.st_ino == entry.inode) ||
         (file.putBack && file.putBack->device == status.st_dev &&
          file.putBack->inode == status.st_ino)))
        return Whereabouts::Back;
    const int files = undoing.trashFolder(entry.trash, "files", entry.name, failure);
    if (files < 0)
        return byPath();
    if (::fstatat(files, entry.name.c_str(), &inTrash, AT_SYMLINK_NOFOLLOW) == 0 &&
        inTrash.st_dev == entry.device && inTrash.st_ino == entry.inode)
        return Whereabouts::InTrash;
    return Whereabouts::Gone;
}

} // namespace

UndoOutcome undoCollection(const CollectionRecord& record)
{
    UndoOutcome outcome;
    Undoing undoing(record);
    // The places of the files stay open while their files go back.
    const KeptWalk walk;
    for (const RecordedFile& file : record.files) {
        struct stat inTrash = {};
        const Whereabouts where = locate(undoing, file, inTrash);
        if (!movedByRun(file, where)) {
            // Never moved; only an info file written before a kill may be left.
            dropLeftoverInfo(file);
            continue;
        }
        if (where == Whereabouts::Back) {
            ++outcome.alreadyBack;
            finishCopyBack(file);
            dropLeftoverInfo(file);
            // Put back by an undo killed before its line, or restored by hand: kept aside
            // all the same.
            struct stat status = {};
            if (!file.putBack && ::lstat(file.entry.original.c_str(), &status) == 0)
                undoing.note(file.index, identityOf(status));
            continue;
        }
        if (where == Whereabouts::Gone) {
            outcome.left.emplace_back(file.entry.original, "It is no longer in the trash.");
            continue;
        }
        if (auto why = putBack(undoing, file, inTrash))
            outcome.left.emplace_back(file.entry.original, *why);
        else
            outcome.putBack.push_back(file.entry.original);
    }
    return outcome;
}

void dropLeftoverInfos(const CollectionRecord& record)
{
    for (const RecordedFile& file : record.files) {
        if (whereabouts(file) != Whereabouts::InTrash)
            dropLeftoverInfo(file);
    }
}

} // namespace platform
