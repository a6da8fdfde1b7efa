#include "platform/System.h"

#include "platform/Drives.h"

#include <climits>
#include <ctime>
#include <unistd.h>

namespace platform {

std::uint32_t GetTickCount()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                              static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(milliseconds);
}

std::string GetModuleFileNameA()
{
    char target[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target)
        return {};
    return toWindowsPath(std::string(target, static_cast<std::size_t>(length)));
}

} // namespace platform
