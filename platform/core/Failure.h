#pragma once

#include <string>

namespace platform {

// Why an entry could not be handled: the errno and a sentence for the user.
struct FileFailure
{
    int error = 0;
    std::string reason;
};

// The sentence for an errno, in the words of the system's own dialogs.
std::string failureReason(int error);
FileFailure failureOf(int error);

} // namespace platform
