#include "platform/core/Failure.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::string failureReason(int error)
{
    switch (error) {
    case EAGAIN:
    case EBUSY:
    case ETXTBSY:
        return "The file is in use by another program.";
    case EACCES:
    case EPERM:
        return "Access is denied.";
    case ENOENT:
        return "The system cannot find the file specified.";
    case ENOTDIR:
        return "The system cannot find the path specified.";
    case EROFS:
        return "The disk is write-protected.";
    case ENOSPC:
    case EDQUOT:
        return "There is not enough space on the disk.";
    case EXDEV:
        return "The file cannot be moved to another drive.";
    case ENAMETOOLONG:
        return "The file name is too long.";
    case ELOOP:
        return "The path passes through a symbolic link that another user could have made.";
    case EEXIST:
        return "A file with that name already exists.";
    case ENOTEMPTY:
        return "The folder is not empty.";
    default:
        return std::strerror(error) + std::string(".");
    }
}

FileFailure failureOf(int error)
{
    return {error, failureReason(error)};
}

} // namespace platform
