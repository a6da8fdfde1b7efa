#include "sysinfo/SystemInfo.h"

#include "platform/system/System.h"
#include "runtime/Registry.h"
#include "sysinfo/QXSysInfo.h"

#include <vector>

namespace {

std::string kilobyteText(std::uint64_t bytes)
{
    return std::to_string(TQXSysInfo::kilobytes(bytes)) + " Kb";
}

} // namespace

TSystemInfo::TSystemInfo()
{
    platform::GetComputerNameA(m_computerName, 16);
    platform::GetUserNameA(m_userName, 50);

    platform::MEMORYSTATUSEX memory;
    platform::GlobalMemoryStatusEx(memory);
    m_totalPhys = kilobyteText(memory.ullTotalPhys);
    m_availPhys = kilobyteText(memory.ullAvailPhys);

    platform::OSVERSIONINFOA version;
    if (platform::GetVersionExA(version)) {
        const std::string format = "%d.%d (%d.%s)";
        std::vector<char> text(format.size() + 3 * 11 + version.szCSDVersion.size() + 1);
        std::snprintf(
            text.data(), text.size(), format.c_str(), static_cast<int>(version.dwMajorVersion),
            static_cast<int>(version.dwMinorVersion),
            static_cast<int>(version.dwBuildNumber & 0xFFFF), version.szCSDVersion.c_str());
        m_osVersion = text.data();
        m_platformId = version.dwPlatformId;
        switch (m_platformId) {
        case platform::VER_PLATFORM_WIN32s:
            m_osPlatform = "Windows 3.1";
            break;
        case platform::VER_PLATFORM_WIN32_WINDOWS:
            m_osPlatform = "Windows 95";
            break;
        case platform::VER_PLATFORM_WIN32_NT:
            m_osPlatform = "Windows NT";
            break;
        default:
            break;
        }
    }

    std::string key;
    if (m_platformId == platform::VER_PLATFORM_WIN32_WINDOWS)
        key = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    else if (m_platformId == platform::VER_PLATFORM_WIN32_NT)
        key = "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    if (!key.empty()) {
        runtime::Registry registry;
        registry.setRootKey(platform::HKEY_LOCAL_MACHINE);
        if (registry.openKey(key, false)) {
            m_regOwner = registry.readString("RegisteredOwner");
            m_regCompany = registry.readString("RegisteredOrganization");
        }
    }
}
