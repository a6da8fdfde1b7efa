#include "platform/shell/TrashCopy.h"

#include "platform/core/Descriptor.h"
#include "platform/core/Termination.h"
#include "platform/files/FileCopy.h"
#include "platform/files/FileLease.h"
#include "platform/files/PathWalk.h"
#include "platform/shell/TrashFolders.h"
#include "platform/shell/TrashInfo.h"
#include "platform/shell/TrashObserver.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

std::string copyTemporary(const std::string& candidate)
{
    return std::string(CopyTemporaryPrefix) + candidate;
}

// The next name for an entry in the trash after attempt, free in files/, with the temporary
// renamed to go with it.
std::optional<FileFailure> nextCandidate(TrashFolder& trash, const std::string& base, int& attempt,
                                         std::string& candidate)
{
    for (;;) {
        const std::string next = candidateName(base, ++attempt);
        struct stat taken = {};
        if (::fstatat(trash.files.get(), next.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        if (errno != ENOENT)
            return failureOf(errno);
        if (::renameat2(trash.top.get(), copyTemporary(candidate).c_str(), trash.top.get(),
                        copyTemporary(next).c_str(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST)
                continue;
            return failureOf(errno);
        }
        candidate = next;
        return std::nullopt;
    }
}

} // namespace

void removeInterruptedCopies(const TrashFolder& trash)
{
    OwnedFd top(::openat(trash.top.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!top.valid())
        return;
    const std::vector<std::string> names = namesIn(
        top.get(), [](std::string_view name) { return name.starts_with(CopyTemporaryPrefix); });
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

std::optional<FileFailure> copyToHomeTrash(int parent, const std::string& name,
                                           const std::string& original, int source,
                                           const struct stat& status, Flush flush,
                                           HomeTrashPlace& place)
{
    FileFailure unusable;
    TrashFolder* found = findHomeTrash(place, unusable);
    if (!found)
        return unusable;
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

    InfoFile info(trashInfoText(original));
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
        auto failure = info.linkAs(trash.info.get(), infoName);
        if (!failure) {
            if (::renameat2(trash.top.get(), copyTemporary(candidate).c_str(), trash.files.get(),
                            candidate.c_str(), RENAME_NOREPLACE) == 0)
                break;
            failure = failureOf(errno);
            ::unlinkat(trash.info.get(), infoName.c_str(), 0);
        }
        if (failure->error != EEXIST)
            return dropCopy(failure->error);
        if (auto next = nextCandidate(trash, base, attempt, candidate))
            return dropCopy(next->error);
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

} // namespace platform
