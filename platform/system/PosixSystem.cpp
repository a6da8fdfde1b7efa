#include "platform/core/FileStorage.h"
#include "platform/system/System.h"
#include "platform/x11/X11Connection.h"

#include <array>
#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <string_view>
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
            if (display && *display)
                m_depth = rootDepthOf(display);
        }
        return *m_depth;
    }

private:
    std::optional<int> m_depth;
};

// The first line, without its trailing blanks.
std::string trimmedLine(std::string text)
{
    const auto end = text.find_first_of("\r\n");
    if (end != std::string::npos)
        text.resize(end);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

} // namespace

std::string osReleaseValue(std::string_view key)
{
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        const auto text = readWholeFile(path);
        if (!text)
            continue;
        std::size_t start = 0;
        while (start < text->size()) {
            std::size_t end = text->find('\n', start);
            if (end == std::string::npos)
                end = text->size();
            const std::string_view line(text->data() + start, end - start);
            start = end + 1;
            if (!line.starts_with(key) || line.size() == key.size() || line[key.size()] != '=')
                continue;
            // Shell-style: maybe quoted, with backslash escapes.
            const std::string value = trimmedLine(std::string(line.substr(key.size() + 1)));
            std::string out;
            const char quote =
                !value.empty() && (value[0] == '"' || value[0] == '\'') ? value[0] : 0;
            for (std::size_t i = quote ? 1 : 0; i < value.size(); ++i) {
                if (quote && value[i] == quote)
                    break;
                if (value[i] == '\\' && quote != '\'' && i + 1 < value.size())
                    ++i;
                out += value[i];
            }
            return out;
        }
        return {};
    }
    return {};
}

std::string machineId()
{
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        if (const auto text = readWholeFile(path)) {
            const std::string id = trimmedLine(*text);
            if (!id.empty())
                return id;
        }
    }
    return {};
}

std::unique_ptr<SystemService> SystemService::createDefault()
{
    return std::make_unique<PosixSystem>();
}

} // namespace platform
