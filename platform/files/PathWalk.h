#pragma once

#include "platform/core/Failure.h"
#include "platform/core/FileStorage.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace platform {

struct FileFailure;

// The folder that holds an absolute native path, opened one folder at a time from "/"
// without following a symbolic link, except one in a folder that nobody but its owner can
// write to and that the running user or root owns (then its target is walked instead).
// So a folder swapped for a link by another user is never passed through.
struct OpenedParent
{
    OwnedFd folder;           // an O_PATH descriptor
    std::string name;         // the last part, neither "." nor ".."
    std::string resolvedPath; // the folder's path with the links followed
};
// With MissingFolders::Make a folder missing on the way is made (see mayReceive; 0700
// unless the folder above is the running user's, then as the umask says).
enum class MissingFolders { Fail, Make };
std::optional<OpenedParent> openParent(const std::string& nativePath, FileFailure& failure,
                                       MissingFolders missing = MissingFolders::Fail);

// The parts of a native path between its slashes, empty ones left out.
std::deque<std::string> pathParts(const std::string& path);

// Whether an entry may be put into the folder: it is the running user's or root's (a folder
// another user made in a shared one may have been made to receive it), or we are root.
bool mayReceive(int folder);
// A folder where nobody but us or root could have put an entry: nobody but its owner writes
// to it, and that owner is us or root.
bool trustedFolder(int folder);
// The running user, asked once: the program never changes it.
uid_t runningUser();

// A run over many entries: while one lives, the folders of the last walk stay open, so that
// the next entries of the same folder need no walk and those of a folder beside it one step,
// and the last entry looked at is looked at once for all who ask. What it keeps is dropped
// every second and walked afresh, so a folder renamed or a link swapped in during a run is
// noticed. One inside another is part of it; outside one every walk starts at "/".
class KeptWalk
{
public:
    KeptWalk();
    ~KeptWalk();
    KeptWalk(const KeptWalk&) = delete;
    KeptWalk& operator=(const KeptWalk&) = delete;

    // Whether one lives now.
    static bool active();
    // Counts the drops of what is kept: what is decided once per folder or trash may be
    // kept while it stays the same. 0 outside a run, where nothing is kept.
    static unsigned generation();
};

// A descriptor done with: inside a KeptWalk closed later with others, those with
// neighbouring numbers in one call (at the latest when the walk ends); outside one, now.
// Only for what nobody waits on being closed: not a file held under a lease.
void closeSoon(OwnedFd fd);

// A folder reached by a walk, shared with the walk that keeps it.
struct WalkedFolder
{
    std::shared_ptr<const OwnedFd> fd; // an O_PATH descriptor
    std::string resolvedPath;          // links followed
    bool throughLink = false;          // a link was followed on the way
    int get() const { return fd->get(); }
};
struct WalkedParent
{
    WalkedFolder folder;
    std::string name;
};
// As openParent, but inside a KeptWalk from the deepest folder the path shares with the
// last walk.
std::optional<WalkedParent> walkToParent(const std::string& nativePath, FileFailure& failure,
                                         MissingFolders missing = MissingFolders::Fail);

// An entry looked at without following a link: in a KeptWalk through its folder's path as it
// is now, with no link allowed on the way. A regular file is opened for reading, without waiting on
// anything and without becoming the controlling terminal: a device or a pipe found in its place is
// not kept open.
struct EntryLook
{
    WalkedParent parent;
    struct stat status = {};
    OwnedFd opened;    // the regular file, when it could be opened; else not valid
    int openError = 0; // why a regular file could not be opened
};
// The look at the entry at the absolute native path; nullopt with errno set when it cannot
// be looked at. Inside a KeptWalk the last look is kept until the path changes, a move takes
// it or the walk drops what it keeps: ask again for the same path and it is not looked at
// again.
const EntryLook* lookAt(const std::string& nativePath);
// Takes the kept look of the path, when there is one, so that it is not used again; else
// looks at it now. nullopt with errno set when it cannot be looked at.
std::optional<EntryLook> takeLook(const std::string& nativePath);

} // namespace platform
