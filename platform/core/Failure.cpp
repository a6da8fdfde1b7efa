#include "platform/core/Failure.h"

#include "platform/core/ErrorCodes.h"

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

// Each errno the user sees in words of its own, with the system's code for it.
struct ErrnoMeaning
{
    int error;
    long windowsCode;
    const char* sentence;
};

constexpr ErrnoMeaning Meanings[] = {
    {EAGAIN, ERROR_SHARING_VIOLATION, "The file is in use by another program."},
    {EBUSY, ERROR_SHARING_VIOLATION, "The file is in use by another program."},
    {ETXTBSY, ERROR_SHARING_VIOLATION, "The file is in use by another program."},
    {EACCES, ERROR_ACCESS_DENIED, "Access is denied."},
    {EPERM, ERROR_ACCESS_DENIED, "Access is denied."},
    {ENOENT, ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ENOTDIR, ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {EROFS, ERROR_ACCESS_DENIED, "The disk is write-protected."},
    {ENOSPC, ERROR_DISK_FULL, "There is not enough space on the disk."},
    {EDQUOT, ERROR_DISK_FULL, "There is not enough space on the disk."},
    {EXDEV, ERROR_GEN_FAILURE, "The file cannot be moved to another drive."},
    {ENAMETOOLONG, ERROR_GEN_FAILURE, "The file name is too long."},
    {ELOOP, ERROR_ACCESS_DENIED,
     "The path passes through a symbolic link that another user could have made."},
    {EEXIST, ERROR_ALREADY_EXISTS, "A file with that name already exists."},
    {ENOTEMPTY, ERROR_ALREADY_EXISTS, "The folder is not empty."},
};

const ErrnoMeaning* meaningOf(int error)
{
    for (const ErrnoMeaning& meaning : Meanings) {
        if (meaning.error == error)
            return &meaning;
    }
    return nullptr;
}

} // namespace

std::string failureReason(int error)
{
    const ErrnoMeaning* meaning = meaningOf(error);
    return meaning ? meaning->sentence : std::strerror(error) + std::string(".");
}

FileFailure failureOf(int error)
{
    return {error, failureReason(error)};
}

int windowsErrorOf(int error)
{
    const ErrnoMeaning* meaning = meaningOf(error);
    return static_cast<int>(meaning ? meaning->windowsCode : ERROR_GEN_FAILURE);
}

} // namespace platform
