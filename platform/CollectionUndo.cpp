#include "platform/CollectionUndo.h"

#include "platform/Trash.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t InfoLimit = 64 * 1024;

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

// nullopt when the file is back, else why it stays in the trash.
std::optional<std::string> putBack(const CollectionRecord& record, const RecordedFile& file)
{
    const TrashedEntry& entry = file.entry;
    FileFailure failure;
    auto files = openParent(entry.trash + "/files/" + entry.name, failure);
    if (!files)
        return "Its place in the trash cannot be reached: " + failure.reason;
    if (!isEntry(files->folder.get(), files->name, entry))
        return "Its entry in the trash is no longer the one this collection made.";
    auto info = openParent(entry.trash + "/info/" + entry.name + ".trashinfo", failure);
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
            return "It lies on another drive than its place and cannot be renamed back.";
        return failureReason(errno);
    }
    struct stat back = {};
    if (::fstatat(place->folder.get(), place->name.c_str(), &back, AT_SYMLINK_NOFOLLOW) != 0)
        back = {};
    ::unlinkat(info->folder.get(), info->name.c_str(), 0);
    if (entry.folder)
        dropFolderSize(entry.trash, files->folder.get(), entry.name);
    notePutBack(record.path, file.index, identityOf(back));
    return std::nullopt;
}

} // namespace

UndoOutcome undoCollection(const CollectionRecord& record)
{
    UndoOutcome outcome;
    for (const RecordedFile& file : record.files) {
        const Whereabouts where = whereabouts(file);
        if (!movedByRun(file, where)) {
            // Never moved; only an info file written before a kill may be left.
            dropLeftoverInfo(file);
            continue;
        }
        if (where == Whereabouts::Back) {
            ++outcome.alreadyBack;
            dropLeftoverInfo(file);
            // Put back by an undo killed before its line, or restored by hand: kept aside
            // all the same.
            struct stat status = {};
            if (!file.putBack && ::lstat(file.entry.original.c_str(), &status) == 0)
                notePutBack(record.path, file.index, identityOf(status));
            continue;
        }
        if (where == Whereabouts::Gone) {
            outcome.left.emplace_back(file.entry.original, "It is no longer in the trash.");
            continue;
        }
        if (auto why = putBack(record, file))
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
