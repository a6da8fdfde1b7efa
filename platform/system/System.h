#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Platform codes of OSVERSIONINFOA; ours is reported on Linux.
enum : std::uint32_t {
    VER_PLATFORM_WIN32s = 0,
    VER_PLATFORM_WIN32_WINDOWS = 1,
    VER_PLATFORM_WIN32_NT = 2,
    VER_PLATFORM_LINUX = 3,
};

struct OSVERSIONINFOA
{
    std::uint32_t dwOSVersionInfoSize = 148;
    std::uint32_t dwMajorVersion = 0;
    std::uint32_t dwMinorVersion = 0;
    std::uint32_t dwBuildNumber = 0;
    std::uint32_t dwPlatformId = 0;
    std::string szCSDVersion; // at most 127 characters
};

// Byte counts in 64 bits: a 32-bit status would clamp every figure at 4 GiB.
struct MEMORYSTATUSEX
{
    std::uint32_t dwMemoryLoad = 0;
    std::uint64_t ullTotalPhys = 0;
    std::uint64_t ullAvailPhys = 0;
    std::uint64_t ullTotalPageFile = 0;
    std::uint64_t ullAvailPageFile = 0;
    std::uint64_t ullTotalVirtual = 0;
    std::uint64_t ullAvailVirtual = 0;
};

using HDC = std::uintptr_t;
inline constexpr int BITSPIXEL = 12, PLANES = 14;

// The facts about the machine, its user and the running process.
class SystemService
{
public:
    virtual ~SystemService() = default;
    // False when the version cannot be told.
    virtual bool version(OSVERSIONINFOA& info) = 0;
    virtual MEMORYSTATUSEX memoryStatus() = 0;
    virtual std::string computerName() = 0;
    virtual std::string userName() = 0;
    // Each NAME=value string followed by a zero, and one more zero at the end.
    virtual std::string environmentBlock() = 0;
    // Bits per pixel of the screen; 0 when there is no screen.
    virtual int screenDepth() = 0;

    static std::unique_ptr<SystemService> createDefault();
};

// Milliseconds since an arbitrary start, wrapping at 2^32 as on Windows.
std::uint32_t GetTickCount();
// The running executable's full path, in Windows form.
std::string GetModuleFileNameA();

// Fails when dwOSVersionInfoSize is not 148 or the system cannot tell.
bool GetVersionExA(OSVERSIONINFOA& info);
bool GlobalMemoryStatusEx(MEMORYSTATUSEX& status);
// Both fail, leaving name empty, when the name and its terminator do not fit size.
bool GetComputerNameA(std::string& name, std::uint32_t size);
bool GetUserNameA(std::string& name, std::uint32_t size);
std::string GetEnvironmentStringsA();
bool FreeEnvironmentStringsA(const std::string& block);
// The screen's device context (window 0); 0 when there is no screen.
HDC GetDC(std::uintptr_t window);
int GetDeviceCaps(HDC dc, int index);
int ReleaseDC(std::uintptr_t window, HDC dc);

// A field of os-release (/etc/os-release, else /usr/lib/os-release), its quotes and
// backslash escapes undone; empty when it is missing.
std::string osReleaseValue(std::string_view key);
// The machine id (/etc/machine-id, else /var/lib/dbus/machine-id); empty without one.
std::string machineId();

// Figures of the Linux system, parsed from their texts.
// The kernel release "6.8.0-45-generic" as major, minor and build.
void versionFromRelease(std::string_view release, OSVERSIONINFOA& info);
// /proc/meminfo with the process's VmSize (bytes) and the size of its user address space.
MEMORYSTATUSEX memoryFromMeminfo(std::string_view meminfo, std::uint64_t processBytes,
                                 std::uint64_t addressSpace);

} // namespace platform
