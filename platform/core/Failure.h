#pragma once

#include <string>

namespace platform {

// Why an entry could not be handled: the errno and a sentence for the user.
//
// The one way the file families report failure: an action returns
// std::optional<FileFailure>, nullopt when it was done; a function that produces a value
// returns std::optional<T> and tells why it has none in a FileFailure& it is given. The
// system's calls, and the few public looks that keep their callers' errno contract
// (lookAt, takeLook), are the only places where errno itself carries the reason.
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
