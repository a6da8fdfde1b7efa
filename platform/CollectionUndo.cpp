#include "platform/CollectionUndo.h"

#include "platform/FileCopy.h"
#include "platform/Termination.h"
#include "platform/Trash.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <map>
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

    std::optional<OpenedParent> trashFolder(const std::string& trash, const char* part,
                                            const std::string& name, FileFailure& failure)
    {
        const std::string key = trash + "/" + part;
        auto found = folders.find(key);
        if (found == folders.end()) {
            auto opened = openParent(key + "/" + name, failure);
            if (!opened)
                return std::nullopt;
            found = folders.emplace(key, std::move(*opened)).first;
        }
        OpenedParent copy;
        copy.folder = OwnedFd(::fcntl(found->second.folder.get(), F_DUPFD_CLOEXEC, 0));
        if (!copy.folder.valid()) {
            failure = FileFailure{errno, failureReason(errno)};
            return std::nullopt;
        }
        copy.name = name;
        copy.resolvedPath = found->second.resolvedPath;
        return copy;
    }

    bool note(std::uint64_t index, const FileIdentity& back) const
    {
        return recordFile.valid() && notePutBack(recordFile.get(), index, back);
    }

    OwnedFd recordFile;
    std::map<std::string, OpenedParent> folders;
};

bool isEntry(int folder, const std::string& name, const TrashedEntry& entry)
{
    struct stat status = {};
    return ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           status.st_dev == entry.device && status.st_ino == entry.inode;
}

// Whether the info file in the open info folder still names the place the run took the
// entry from. Read without following a link or waiting on anything but a regular file.
bool infoNames(int infoFolder, const std::string& infoName, const std::string& pathKey)
{
    OwnedFd fd(::openat(infoFolder, infoName.c_str(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status = {};
    if (!fd.valid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::size_t>(status.st_size) > InfoLimit)
        return false;
    std::string text(static_cast<std::size_t>(status.st_size), '\0');
    std::size_t read = 0;
    while (read < text.size()) {
        const ssize_t got = ::read(fd.get(), text.data() + read, text.size() - read);
        if (got <= 0)
            return false;
        read += static_cast<std::size_t>(got);
    }
    const std::string line = "\nPath=" + percentEncodePath(pathKey) + "\n";
    return text.starts_with("[Trash Info]\n") && text.find(line) != std::string::npos;
}

struct Trash
{
    std::optional<OpenedParent> files;
    std::optional<OpenedParent> info;
};

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
        status.st_uid == ::geteuid() && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
        ::unlinkat(folder, temporary.c_str(), 0);
}

// An entry on another filesystem than its place goes back by a copy: whole under a
// temporary name beside the place, noted in the record, put at the place by a rename that
// never replaces, and only then removed from the trash. A kill at any moment leaves the
// entry, or the file back beside the entry, which the next undo removes.
std::optional<std::string> copyBack(Undoing& undoing, const RecordedFile& file,
                                    const OpenedParent& files, const OpenedParent& info,
                                    const OpenedParent& place)
{
    OwnedFd source(::openat(files.folder.get(), files.name.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status = {};
    if (!source.valid() || ::fstat(source.get(), &status) != 0)
        return "Its entry in the trash cannot be read: " + failureReason(errno);
    if (status.st_dev != file.entry.device || status.st_ino != file.entry.inode)
        return "Its entry in the trash is no longer the one this collection made.";
    if (!S_ISREG(status.st_mode))
        return "It lies on another drive than its place, and only a file is copied back.";
    struct stat taken = {};
    if (::fstatat(place.folder.get(), place.name.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0)
        return "Another file is at its place now; that one stays.";
    if (const int error = roomForCopy(place.folder.get(), copySize(status), false))
        return error == ENOSPC ? "There is no room for it at its place." : failureReason(error);

    const std::string temporary = backTemporary(place.name);
    dropBackTemporary(place.folder.get(), place.name);
    OwnedFd copy(::openat(place.folder.get(), temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!copy.valid())
        return "It cannot be copied back: " + failureReason(errno);
    ::flock(copy.get(), LOCK_EX);
    const auto drop = [&](const std::string& why) {
        ::unlinkat(place.folder.get(), temporary.c_str(), 0);
        return why;
    };
    if (const int error = copyFileData(source.get(), status, copy.get(), true,
                                       [] { return terminationSignalled(); }))
        return drop("It cannot be copied back: " + failureReason(error));
    struct stat copied = {};
    if (::fstat(copy.get(), &copied) != 0)
        return drop(failureReason(errno));
    if (!undoing.note(file.index, identityOf(copied)))
        return drop("What is put back cannot be recorded.");
    if (::renameat2(place.folder.get(), temporary.c_str(), place.folder.get(), place.name.c_str(),
                    RENAME_NOREPLACE) != 0) {
        const int error = errno;
        return drop(error == EEXIST ? "Another file is at its place now; that one stays."
                                    : failureReason(error));
    }
    ::unlinkat(files.folder.get(), files.name.c_str(), 0);
    ::unlinkat(info.folder.get(), info.name.c_str(), 0);
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

// nullopt when the file is back, else why it stays in the trash.
std::optional<std::string> putBack(Undoing& undoing, const RecordedFile& file)
{
    const TrashedEntry& entry = file.entry;
    FileFailure failure;
    auto files = undoing.trashFolder(entry.trash, "files", entry.name, failure);
    if (!files)
        return "Its place in the trash cannot be reached: " + failure.reason;
    if (!isEntry(files->folder.get(), files->name, entry))
        return "Its entry in the trash is no longer the one this collection made.";
    auto info = undoing.trashFolder(entry.trash, "info", entry.name + ".trashinfo", failure);
    if (!info || !infoNames(info->folder.get(), info->name, entry.pathKey))
        return "Its information in the trash no longer names this place.";

    auto place = openParent(entry.original, failure, MissingFolders::Make);
    if (!place)
        return "Its folder cannot be made again or reached: " + failure.reason;
    if (!mayReceive(place->folder.get()))
        return "The folder it goes back to belongs to another user.";
    if (::renameat2(files->folder.get(), files->name.c_str(), place->folder.get(),
                    place->name.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST)
            return "Another file is at its place now; that one stays.";
        if (errno == EXDEV)
            return copyBack(undoing, file, *files, *info, *place);
        return failureReason(errno);
    }
    struct stat back = {};
    if (::fstatat(place->folder.get(), place->name.c_str(), &back, AT_SYMLINK_NOFOLLOW) != 0)
        back = {};
    ::unlinkat(info->folder.get(), info->name.c_str(), 0);
    if (entry.folder)
        dropFolderSize(entry.trash, files->folder.get(), entry.name);
    undoing.note(file.index, identityOf(back));
    return std::nullopt;
}

} // namespace

UndoOutcome undoCollection(const CollectionRecord& record)
{
    UndoOutcome outcome;
    Undoing undoing(record);
    for (const RecordedFile& file : record.files) {
        const Whereabouts where = whereabouts(file);
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
        if (auto why = putBack(undoing, file))
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
