#include "platform/FileStorage.h"
#include "platform/System.h"

#include <X11/Xlib.h>
#include <array>
#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

// The size of the user half of the address space, as the kernel lays it out.
std::uint64_t userAddressSpace()
{
    if constexpr (sizeof(void*) == 8)
        return std::uint64_t{1} << 47; // 128 TiB with four-level page tables
    else
        return std::uint64_t{3} << 30;
}

// VmSize of /proc/self/status, in bytes.
std::uint64_t processVirtualBytes()
{
    const auto status = readWholeFile("/proc/self/status");
    if (!status)
        return 0;
    const auto at = status->find("\nVmSize:");
    if (at == std::string::npos)
        return 0;
    return std::strtoull(status->c_str() + at + 8, nullptr, 10) * 1024;
}

class PosixSystem : public SystemService
{
public:
    bool version(OSVERSIONINFOA& info) override
    {
        utsname names{};
        if (::uname(&names) != 0)
            return false;
        info.dwPlatformId = VER_PLATFORM_LINUX;
        versionFromRelease(names.release, info);
        info.szCSDVersion = names.version;
        return true;
    }

    MEMORYSTATUSEX memoryStatus() override
    {
        const auto meminfo = readWholeFile("/proc/meminfo");
        return memoryFromMeminfo(meminfo ? *meminfo : std::string(), processVirtualBytes(),
                                 userAddressSpace());
    }

    std::string computerName() override
    {
        std::array<char, 256> name{};
        if (::gethostname(name.data(), name.size() - 1) != 0)
            return {};
        return name.data();
    }

    std::string userName() override
    {
        if (const passwd* user = ::getpwuid(::geteuid()); user && user->pw_name)
            return user->pw_name;
        const char* name = std::getenv("USER");
        return name ? name : "";
    }

    std::string environmentBlock() override
    {
        std::string block;
        for (char** entry = environ; entry && *entry; ++entry) {
            block += *entry;
            block += '\0';
        }
        if (block.empty())
            block += '\0';
        block += '\0';
        return block;
    }

    int screenDepth() override
    {
        // The screen does not change its depth while the program runs.
        if (!m_depth) {
            m_depth = 0;
            const char* display = std::getenv("DISPLAY");
            if (display && *display) {
                if (Display* connection = XOpenDisplay(display)) {
                    // The visual's depth: 24 on a true-colour screen, whose pixels take 32 bits.
                    m_depth = DefaultDepth(connection, DefaultScreen(connection));
                    XCloseDisplay(connection);
                }
            }
        }
        return *m_depth;
    }

private:
    std::optional<int> m_depth;
};

} // namespace

std::unique_ptr<SystemService> SystemService::createDefault()
{
    return std::make_unique<PosixSystem>();
}

} // namespace platform
