#pragma once

#include <string>

namespace platform {

// Why an entry could not be handled: the errno and a sentence for the user.
//
// How a failure is reported: an action returns std::optional<FileFailure>, nullopt when it
// was done; a function that produces a value returns std::optional<T> (or a pointer, null)
// and tells why there is none in a FileFailure& it is given. errno carries the reason only
// straight after a system call and out of the looks that promise it (lookAt, takeLook); an
// int errno from a lower layer (FileCopy, FileStorage) becomes a FileFailure where it is met.
struct FileFailure
{
    int error = 0;
    std::string reason;
};

// The sentence for an errno, in the words of the system's own dialogs.
std::string failureReason(int error);
FileFailure failureOf(int error);
// The system's error code (ErrorCodes.h) for an errno, as the shell's file operations
// return it: ERROR_GEN_FAILURE for one without its own.
int windowsErrorOf(int error);

} // namespace platform
