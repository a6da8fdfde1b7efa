#pragma once

#include "platform/core/Descriptor.h"

#include <optional>
#include <string>
#include <utility>

namespace platform {

// Writes all of text, going on after short writes and interruptions; false on an error.
bool writeAll(int fd, const std::string& text);

// Replaces the file at path by content so that a reader or a crash sees either the old or
// the new file whole, never a torn one: a temporary file beside it, flushed to the disk,
// then renamed over it. The new file keeps the old one's owner (where allowed) and
// permissions; a new file gets the ordinary ones. Returns 0 or the errno of the step that
// failed; on failure the old file is untouched and no temporary file is left behind.
// A symbolic link at path is followed and its final target replaced, so the link stays.
// Without the flush, a crash of the system (not of the process) may leave an empty file:
// only for a cache that can be made again.
enum class Flush { Yes, No };
int writeFileAtomically(const std::string& path, const std::string& content,
                        Flush flush = Flush::Yes);

// Removes what writeFileAtomically(path, ...) calls that were killed left behind: regular
// files named as its temporaries for that file, and nothing else. Call only while every
// writer of the file is held off (a FolderLock, or a SettingsLock's Write hold), or a
// running write loses its temporary.
// Does nothing for a path that is a link.
void removeStaleTemporaries(const std::string& path);

// The file that a write to path replaces: path itself, or the end of the chain of
// symbolic links that starts there (which need not exist yet). A dotfile manager's link
// then keeps pointing at the rewritten file instead of being replaced by a copy.
std::string resolveLink(const std::string& path);

// The whole of a regular file; nothing otherwise, with the reason in *error when given
// (ENOENT when missing, EISDIR for a folder, EINVAL for a FIFO or device, which are never
// waited on).
std::optional<std::string> readWholeFile(const std::string& path, int* error = nullptr);

// Holds an exclusive lock on a folder while a read-modify-write of a file in it runs, so
// two programs writing at once do not lose each other's changes.
class FolderLock
{
public:
    explicit FolderLock(const std::string& folder);

private:
    OwnedFd m_folder;
};

} // namespace platform
