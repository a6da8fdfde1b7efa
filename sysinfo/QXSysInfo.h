#pragma once

#include "platform/system/System.h"
#include "sysinfo/QXDrive.h"

#include <cstdint>
#include <string>
#include <vector>

using TQXAbout = std::string;

// A snapshot of the installation, its user, the environment and the memory, with one drive
// at a time through DriveInfo. Owner and organisation can be written back.
class TQXSysInfo
{
public:
    // Gathers everything, memory included.
    TQXSysInfo();

    // Gathers everything again except the memory figures.
    void Refresh();
    void RefreshMemory();

    std::uint32_t Colors() const { return m_colors; }
    TQXDriveDefs& DriveInfo() { return m_driveInfo; }
    const TQXAbout& About() const { return m_about; }
    const std::string& Platform() const { return m_platform; }
    const std::string& Version() const { return m_version; }
    const std::string& ProductId() const { return m_productId; }
    const std::string& ProductName() const { return m_productName; }
    const std::string& AdditionalVersion() const { return m_additionalVersion; }
    const std::string& CurrentUser() const { return m_currentUser; }
    const std::string& ComputerName() const { return m_computerName; }
    const std::string& BootDir() const { return m_bootDir; }
    const std::string& RegOwner() const { return m_regOwner; }
    // Ignored while ReadOnly; writes the registry and gathers again otherwise.
    void setRegOwner(const std::string& value);
    const std::string& RegOrganization() const { return m_regOrganization; }
    void setRegOrganization(const std::string& value);
    const std::string& WindowsDir() const { return m_windowsDir; }
    const std::string& TempPath() const { return m_tempPath; }
    bool ReadOnly() const { return m_readOnly; }
    void setReadOnly(bool value) { m_readOnly = value; }
    std::uint32_t MemTotalPhys() const { return m_memTotalPhys; }
    std::uint32_t MemAvailPhys() const { return m_memAvailPhys; }
    std::uint32_t MemTotalPageFile() const { return m_memTotalPageFile; }
    std::uint32_t MemAvailPageFile() const { return m_memAvailPageFile; }
    std::uint32_t MemTotalVirtual() const { return m_memTotalVirtual; }
    std::uint32_t MemAvailVirtual() const { return m_memAvailVirtual; }
    std::uint8_t MemoryLoad() const { return m_memoryLoad; }
    const std::vector<std::string>& Environment() const { return m_environment; }
    const std::string& NTProduct() const { return m_ntProduct; }

    // Whole kilobytes of a byte count; 4294967295 for 4 TiB and more.
    static std::uint32_t kilobytes(std::uint64_t bytes);
    // What a string of at most 255 characters keeps of text.
    static std::string shortText(std::string text);

private:
    // The facts Refresh gathers, one group each, in the order it takes them.
    void refreshColours();
    // The environment block and the temporary folder.
    void refreshEnvironment();
    // The platform's name and service pack; returns the version number without the
    // installation's sub-version.
    std::string refreshPlatform(const platform::OSVERSIONINFOA& version);
    void refreshNtProduct();
    void refreshWindowsDir();
    // The version key, the full version, the product and the registered owner.
    void refreshRegistration(const platform::OSVERSIONINFOA& version,
                             const std::string& baseVersion);
    void refreshBootDir();
    // The current user and the computer's name.
    void refreshUser();
    void writeRegistration(const std::string& valueName, const std::string& value);

    std::uint32_t m_colors = 0;
    TQXDriveDefs m_driveInfo;
    TQXAbout m_about;
    std::string m_platform;
    std::string m_version;
    std::string m_productId;
    std::string m_productName;
    std::string m_additionalVersion;
    std::string m_currentUser;
    std::string m_computerName;
    std::string m_bootDir;
    std::string m_regOwner;
    std::string m_regOrganization;
    std::string m_windowsDir;
    std::string m_tempPath;
    bool m_readOnly = true;
    std::uint32_t m_memTotalPhys = 0;
    std::uint32_t m_memAvailPhys = 0;
    std::uint32_t m_memTotalPageFile = 0;
    std::uint32_t m_memAvailPageFile = 0;
    std::uint32_t m_memTotalVirtual = 0;
    std::uint32_t m_memAvailVirtual = 0;
    std::uint8_t m_memoryLoad = 0;
    std::vector<std::string> m_environment;
    std::string m_ntProduct;
    std::string m_versionKey;
};
