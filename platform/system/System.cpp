#include "platform/system/System.h"

#include "platform/core/Service.h"
#include "platform/drives/Drives.h"

#include <charconv>
#include <climits>
#include <ctime>
#include <unistd.h>

namespace platform {

namespace {

// The unsigned number at the start of text, which then begins after it; 0 when none.
std::uint32_t leadingNumber(std::string_view& text)
{
    std::uint32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    text.remove_prefix(static_cast<std::size_t>(result.ptr - text.data()));
    return value;
}

// The value of one "Name:   123 kB" line of /proc/meminfo, in bytes.
std::uint64_t meminfoBytes(std::string_view meminfo, std::string_view name)
{
    std::size_t at = 0;
    while (at < meminfo.size()) {
        std::size_t end = meminfo.find('\n', at);
        if (end == std::string_view::npos)
            end = meminfo.size();
        std::string_view line = meminfo.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(name) || line.size() <= name.size() || line[name.size()] != ':')
            continue;
        line.remove_prefix(name.size() + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        std::uint64_t value = 0;
        std::from_chars(line.data(), line.data() + line.size(), value);
        return line.find("kB") != std::string_view::npos ? value * 1024 : value;
    }
    return 0;
}

} // namespace

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

bool GetVersionExA(OSVERSIONINFOA& info)
{
    if (info.dwOSVersionInfoSize != 148)
        return false;
    OSVERSIONINFOA answer;
    if (!Service<SystemService>::instance().version(answer))
        return false;
    answer.szCSDVersion.resize(std::min<std::size_t>(answer.szCSDVersion.size(), 127));
    answer.dwOSVersionInfoSize = info.dwOSVersionInfoSize;
    info = answer;
    return true;
}

bool GlobalMemoryStatusEx(MEMORYSTATUSEX& status)
{
    status = Service<SystemService>::instance().memoryStatus();
    return true;
}

bool GetComputerNameA(std::string& name, std::uint32_t size)
{
    name = Service<SystemService>::instance().computerName();
    if (name.size() + 1 <= size)
        return true;
    name.clear();
    return false;
}

bool GetUserNameA(std::string& name, std::uint32_t size)
{
    name = Service<SystemService>::instance().userName();
    if (name.size() + 1 <= size)
        return true;
    name.clear();
    return false;
}

std::string GetEnvironmentStringsA()
{
    return Service<SystemService>::instance().environmentBlock();
}

bool FreeEnvironmentStringsA(const std::string&)
{
    return true;
}

HDC GetDC(std::uintptr_t window)
{
    // Only the whole screen's context is offered.
    if (window != 0)
        return 0;
    return Service<SystemService>::instance().screenDepth() > 0 ? 1 : 0;
}

int GetDeviceCaps(HDC dc, int index)
{
    if (dc == 0)
        return 0;
    switch (index) {
    case BITSPIXEL:
        return Service<SystemService>::instance().screenDepth();
    case PLANES:
        return 1;
    default:
        return 0;
    }
}

int ReleaseDC(std::uintptr_t, HDC dc)
{
    return dc != 0 ? 1 : 0;
}

void versionFromRelease(std::string_view release, OSVERSIONINFOA& info)
{
    std::uint32_t* const parts[] = {&info.dwMajorVersion, &info.dwMinorVersion,
                                    &info.dwBuildNumber};
    for (std::uint32_t* part : parts) {
        *part = leadingNumber(release);
        if (release.empty() || release.front() != '.')
            break;
        release.remove_prefix(1);
    }
}

MEMORYSTATUSEX memoryFromMeminfo(std::string_view meminfo, std::uint64_t processBytes,
                                 std::uint64_t addressSpace)
{
    MEMORYSTATUSEX status;
    status.ullTotalPhys = meminfoBytes(meminfo, "MemTotal");
    status.ullAvailPhys = std::min(meminfoBytes(meminfo, "MemAvailable"), status.ullTotalPhys);
    status.ullTotalPageFile = meminfoBytes(meminfo, "CommitLimit");
    const std::uint64_t committed = meminfoBytes(meminfo, "Committed_AS");
    // Overcommitted memory leaves nothing to commit, not a negative amount.
    status.ullAvailPageFile =
        committed < status.ullTotalPageFile ? status.ullTotalPageFile - committed : 0;
    status.ullTotalVirtual = addressSpace;
    status.ullAvailVirtual = processBytes < addressSpace ? addressSpace - processBytes : 0;
    if (status.ullTotalPhys > 0)
        status.dwMemoryLoad = static_cast<std::uint32_t>(
            (status.ullTotalPhys - status.ullAvailPhys) * 100 / status.ullTotalPhys);
    return status;
}

} // namespace platform
