#include "sysinfo/QXSysInfo.h"

#include "platform/files/Folders.h"
#include "platform/system/System.h"
#include "runtime/Registry.h"

#include <algorithm>
#include <limits>

namespace {

const char* const unavailable = "(unavailable)";

std::string upperCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// A registry accessor on a key of HKEY_LOCAL_MACHINE, opened without creating it.
struct MachineKey
{
    explicit MachineKey(const std::string& path)
    {
        registry.setRootKey(platform::HKEY_LOCAL_MACHINE);
        open = registry.openKey(path, false);
    }

    runtime::Registry registry;
    bool open = false;
};

platform::OSVERSIONINFOA versionInfo()
{
    platform::OSVERSIONINFOA version;
    platform::GetVersionExA(version);
    return version;
}

} // namespace

TQXSysInfo::TQXSysInfo() : m_about("QX System Information Components")
{
    Refresh();
    RefreshMemory();
}

std::uint32_t TQXSysInfo::kilobytes(std::uint64_t bytes)
{
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(bytes / 1024, std::numeric_limits<std::uint32_t>::max()));
}

std::string TQXSysInfo::shortText(std::string text)
{
    if (text.size() > 255)
        text.resize(255);
    return text;
}

void TQXSysInfo::Refresh()
{
    refreshColours();
    refreshEnvironment();
    const platform::OSVERSIONINFOA version = versionInfo();
    const std::string baseVersion = refreshPlatform(version);
    refreshNtProduct();
    refreshWindowsDir();
    refreshRegistration(version, baseVersion);
    refreshBootDir();
    refreshUser();
}

void TQXSysInfo::refreshColours()
{
    m_colors = 0;
    if (const platform::HDC dc = platform::GetDC(0)) {
        const int bits = platform::GetDeviceCaps(dc, platform::PLANES) *
                         platform::GetDeviceCaps(dc, platform::BITSPIXEL);
        // 2^32 colours and more do not fit; they read as the largest count that does.
        m_colors = bits >= 32 ? std::numeric_limits<std::uint32_t>::max()
                   : bits > 0 ? std::uint32_t{1} << bits
                              : 1;
        platform::ReleaseDC(0, dc);
    }
}

void TQXSysInfo::refreshEnvironment()
{
    m_environment.clear();
    const std::string block = platform::GetEnvironmentStringsA();
    std::size_t at = 0;
    do {
        const std::size_t end = std::min(block.find('\0', at), block.size());
        m_environment.push_back(block.substr(at, end - at));
        at = end + 1;
    } while (at < block.size() && block[at] != '\0');
    platform::FreeEnvironmentStringsA(block);

    const std::string tempPath = platform::GetTempPathA();
    m_tempPath = tempPath.size() < 260 ? tempPath : std::string();
}

std::string TQXSysInfo::refreshPlatform(const platform::OSVERSIONINFOA& version)
{
    std::string buildText = std::to_string(version.dwBuildNumber & 0xFFFF);
    switch (version.dwPlatformId) {
    case platform::VER_PLATFORM_WIN32s:
        m_platform = "Win32s on Windows 3.1x";
        break;
    case platform::VER_PLATFORM_WIN32_WINDOWS:
        m_platform = version.dwMinorVersion == 0 ? "Windows 95" : "Windows 98";
        break;
    case platform::VER_PLATFORM_WIN32_NT:
        m_platform = "Windows NT";
        buildText = std::to_string(version.dwBuildNumber);
        break;
    default:
        m_platform = "Linux";
        buildText = std::to_string(version.dwBuildNumber);
        break;
    }
    std::string minor = std::to_string(version.dwMinorVersion);
    if (minor.size() < 2)
        minor.insert(0, "0");
    m_additionalVersion = version.szCSDVersion.substr(0, 128);
    return std::to_string(version.dwMajorVersion) + "." + minor + "." + buildText;
}

void TQXSysInfo::refreshNtProduct()
{
    m_ntProduct = unavailable;
    MachineKey key("SYSTEM\\CurrentControlSet\\Control\\ProductOptions");
    if (!key.open)
        return;
    const std::string type = upperCase(key.registry.readString("ProductType"));
    if (type == "WINNT")
        m_ntProduct = "Windows NT Workstation";
    if (type == "SERVERNT")
        m_ntProduct = "Windows NT Server";
    if (type == "LANMANNT")
        m_ntProduct = "Windows NT Advanced Server";
}

void TQXSysInfo::refreshWindowsDir()
{
    m_windowsDir = unavailable;
    if (const std::string folder = platform::GetWindowsDirectoryA(); folder.size() < 259)
        m_windowsDir = folder;
}

void TQXSysInfo::refreshRegistration(const platform::OSVERSIONINFOA& version,
                                     const std::string& baseVersion)
{
    m_versionKey = version.dwPlatformId == platform::VER_PLATFORM_WIN32_NT
                       ? "\\Software\\Microsoft\\Windows NT\\CurrentVersion"
                       : "\\Software\\Microsoft\\Windows\\CurrentVersion";

    std::string subVersion;
    {
        MachineKey key(m_versionKey);
        if (key.open) {
            subVersion = shortText(key.registry.readString("SubVersionNumber"));
            m_productId = shortText(key.registry.readString("ProductId"));
            m_regOwner = shortText(key.registry.readString("RegisteredOwner"));
            m_regOrganization = shortText(key.registry.readString("RegisteredOrganization"));
            m_productName = shortText(key.registry.readString("ProductName"));
        } else {
            m_productId = m_regOwner = m_regOrganization = m_productName = unavailable;
        }
    }
    m_version = shortText(baseVersion + subVersion);
}

void TQXSysInfo::refreshBootDir()
{
    MachineKey key("\\Software\\Microsoft\\Windows\\CurrentVersion\\Setup");
    if (key.open) {
        m_bootDir = shortText(key.registry.readString("BootHost"));
        if (m_bootDir.empty())
            m_bootDir = shortText(key.registry.readString("BootDir"));
    } else {
        m_bootDir = unavailable;
    }
}

void TQXSysInfo::refreshUser()
{
    m_currentUser = unavailable;
    if (versionInfo().dwPlatformId == platform::VER_PLATFORM_WIN32_NT) {
        platform::GetUserNameA(m_currentUser, 150);
    } else {
        MachineKey key("\\System\\CurrentControlSet\\Control");
        if (key.open)
            m_currentUser = key.registry.readString("Current User");
    }

    MachineKey key("\\System\\CurrentControlSet\\Control\\ComputerName\\ComputerName");
    m_computerName =
        key.open ? shortText(key.registry.readString("ComputerName")) : std::string(unavailable);
}

void TQXSysInfo::RefreshMemory()
{
    platform::MEMORYSTATUSEX memory;
    platform::GlobalMemoryStatusEx(memory);
    m_memoryLoad = static_cast<std::uint8_t>(std::min<std::uint32_t>(memory.dwMemoryLoad, 100));
    m_memTotalPhys = kilobytes(memory.ullTotalPhys);
    m_memAvailPhys = kilobytes(memory.ullAvailPhys);
    m_memTotalPageFile = kilobytes(memory.ullTotalPageFile);
    m_memAvailPageFile = kilobytes(memory.ullAvailPageFile);
    m_memTotalVirtual = kilobytes(memory.ullTotalVirtual);
    m_memAvailVirtual = kilobytes(memory.ullAvailVirtual);
}

void TQXSysInfo::setRegOwner(const std::string& value)
{
    if (value == m_regOwner || m_readOnly)
        return;
    writeRegistration("RegisteredOwner", value);
    m_regOwner = shortText(value);
    Refresh();
}

void TQXSysInfo::setRegOrganization(const std::string& value)
{
    if (value == m_regOrganization || m_readOnly)
        return;
    writeRegistration("RegisteredOrganization", value);
    m_regOrganization = shortText(value);
    Refresh();
}

void TQXSysInfo::writeRegistration(const std::string& valueName, const std::string& value)
{
    MachineKey key(m_versionKey);
    if (key.open)
        key.registry.writeString(valueName, value);
}
