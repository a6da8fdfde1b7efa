#pragma once

#include "platform/core/Failure.h"
#include "platform/core/FileStorage.h"
#include "platform/files/PathWalk.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

// Takes the line of an entry that left files/ out of the trash folder's directorysizes,
// with the lines of any other entry gone.
void dropFolderSize(const std::string& trashFolder, int filesFolder, const std::string& name);

// Holds a write lease on a regular file open for reading while it is moved: the kernel
// grants none while another process has the file open or mapped. A break of the lease
// by someone opening the file meanwhile must not end the program, so SIGIO is ignored
// from the first lease on: nothing in the program uses it, and a program it starts gets
// every signal back as the system sets it.
class FileLease
{
public:
    explicit FileLease(int fd);
    ~FileLease();
    FileLease(const FileLease&) = delete;
    FileLease& operator=(const FileLease&) = delete;

    // 0 when held, or when the filesystem grants no leases (EINVAL: nothing to check with);
    // EAGAIN when the file is in use, EACCES when the user may not take one.
    int error() const { return m_error; }
    bool held() const { return m_held; }
    // Closes the file, which gives the lease back with it.
    void closeWith(OwnedFd& file);

private:
    int m_fd;
    int m_error = 0;
    bool m_held = false;
};

// Whether another process has the regular file at the absolute native path open or mapped,
// asked as a move asks it: a write lease taken and given back at once. Reads nothing of the
// file and changes nothing. False for what cannot be opened or takes no lease (then a move
// cannot tell either).
bool fileInUse(const std::string& nativePath);

// "%" escapes for the Path key of a trash info file and the names in directorysizes:
// everything but unreserved characters and "/".
std::string percentEncodePath(std::string_view path);
std::string percentDecodePath(std::string_view text);

// $XDG_DATA_HOME/Trash, or .local/share/Trash in homeFolderNative(); empty without either.
std::string homeTrashFolder();

// Moves the file or folder at the absolute native path into the trash of its filesystem:
// the home trash, or the topdir trash of its mount. A file on a tmpfs, or on a disk whose
// top the user may not write to and that has no trash of theirs, goes to the home trash by
// a copy, the original removed once the entry is whole; folders are never copied, nor
// what keptInMemoryOnPurpose(). Never deletes instead; another user's entry is refused in
// a folder that others may write to. nullopt when it is in the trash.
std::optional<FileFailure> moveToTrash(const std::string& nativePath);

// Whether the path is a trash folder or lies in one: the home trash, or a .Trash or
// .Trash-<digits> folder at the top of a filesystem. Links in the path are resolved.
bool liesInTrash(const std::string& nativePath);
// Whether the folder is or lies in a trash, or holds the home trash.
bool reachesTrash(const std::string& nativeFolder);
// Whether the path lies in /dev/shm or the session's runtime folder: in memory on purpose.
bool keptInMemoryOnPurpose(const std::string& nativePath);
// Whether the entry looked at is the running user's and neither lies in a trash nor is
// kept in memory on purpose, as liesInTrash and keptInMemoryOnPurpose tell; inside a
// KeptWalk what its folder says is decided once.
bool collectableLook(const EntryLook& look);

// Removes what copies into the home trash left when they were killed. A copy removes them
// too before its first file; a collection calls it first, whatever it finds.
void removeInterruptedCopies();

} // namespace platform
