#include "sysinfo/QXDrive.h"

#include "platform/drives/Drives.h"
#include "platform/drives/Volumes.h"
#include "platform/system/System.h"

#include <array>
#include <cstdio>
#include <stdexcept>

namespace {

// The extended space query is found once and kept; the module goes when the program ends.
struct ExtendedSpaceQuery
{
    platform::HMODULE module = 0;
    platform::GetDiskFreeSpaceExFunction entry = nullptr;

    ~ExtendedSpaceQuery()
    {
        if (module)
            platform::FreeLibrary(module);
    }

    platform::GetDiskFreeSpaceExFunction find()
    {
        if (!module)
            module = platform::LoadLibraryA("Kernel32.dll");
        if (module && !entry)
            entry = reinterpret_cast<platform::GetDiskFreeSpaceExFunction>(
                platform::GetProcAddress(module, "GetDiskFreeSpaceExA"));
        if (!module || !entry)
            throw std::runtime_error("Error loading GetDiskFreeSpaceEx from Kernel32.dll");
        return entry;
    }
};

ExtendedSpaceQuery extendedSpaceQuery;

bool usesExtendedQuery(const platform::OSVERSIONINFOA& version)
{
    const std::uint32_t build = version.dwBuildNumber & 0xFFFF;
    switch (version.dwPlatformId) {
    case platform::VER_PLATFORM_WIN32_WINDOWS:
        return build > 1000 || version.dwMinorVersion >= 10;
    case platform::VER_PLATFORM_WIN32_NT:
        return version.dwMajorVersion >= 4;
    case platform::VER_PLATFORM_LINUX:
        // Cluster counts of 32 bits cannot describe today's disks.
        return true;
    default:
        return false;
    }
}

} // namespace

TQXDriveDefs::TQXDriveDefs()
{
    Refresh();
}

void TQXDriveDefs::setDrive(const TQXDrive& value)
{
    if (value == m_drive || value.empty())
        return;
    TQXDrive drive =
        value.size() > 2 || value.size() < 2 || value[1] != ':' ? TQXDrive{value[0], ':'} : value;
    if (drive[0] >= 'a' && drive[0] <= 'z')
        drive[0] = static_cast<char>(drive[0] - 'a' + 'A');
    m_drive = drive;
    Refresh();
}

void TQXDriveDefs::Refresh()
{
    const std::string root = m_drive + "\\";
    m_fileFlags.reset();
    std::string volumeName;
    std::string fileSystemName;
    std::uint32_t serial = 0;
    std::uint32_t maxComponentLength = 0;
    std::uint32_t flags = 0;
    platform::GetVolumeInformationA(root, volumeName, serial, maxComponentLength, flags,
                                    fileSystemName);
    m_fileSystem = fileSystemName;
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%04X-%04X", serial >> 16, serial & 0xFFFF);
    m_serialNumber = text.data();
    m_driveType = static_cast<TDrvType>(platform::GetDriveTypeA(root));
    static constexpr std::pair<std::uint32_t, TFileFlag> flagTable[] = {
        {platform::FS_CASE_IS_PRESERVED, fsCaseIsPreserved},
        {platform::FS_CASE_SENSITIVE, fsCaseSensitive},
        {platform::FS_UNICODE_STORED_ON_DISK, fsUnicodeStoredOnDisk},
        {platform::FS_PERSISTENT_ACLS, fsPersistentAcls},
        {platform::FS_FILE_COMPRESSION, fsFileCompression},
        {platform::FS_VOL_IS_COMPRESSED, fsVolumeIsCompressed},
    };
    for (const auto& [systemFlag, flag] : flagTable) {
        if (flags & systemFlag)
            m_fileFlags.set(flag);
    }
    // More than 8.3: an eight-letter name with its dot and extension is 12.
    if (maxComponentLength > 8)
        m_fileFlags.set(fsLongFileName);
    m_volumeLabel = volumeName;
    // Left as they were when the drive does not answer.
    platform::GetDiskFreeSpaceA(root, m_sectorsPerCluster, m_bytesPerSector, m_freeClusters,
                                m_totalClusters);
    spaceQuery(root, m_totalSpace, m_freeSpace);
}

void TQXDriveDefs::spaceQuery(const std::string& rootPath, std::int64_t& total, std::int64_t& free)
{
    total = 0;
    free = 0;
    try {
        platform::OSVERSIONINFOA version;
        platform::GetVersionExA(version);
        if (usesExtendedQuery(version)) {
            std::uint64_t available = 0;
            std::uint64_t totalBytes = 0;
            std::uint64_t freeBytes = 0;
            if (extendedSpaceQuery.find()(rootPath, available, totalBytes, freeBytes)) {
                total = static_cast<std::int64_t>(totalBytes);
                free = static_cast<std::int64_t>(freeBytes);
            }
        } else {
            std::uint32_t sectorsPerCluster = 0;
            std::uint32_t bytesPerSector = 0;
            std::uint32_t freeClusters = 0;
            std::uint32_t totalClusters = 0;
            if (platform::GetDiskFreeSpaceA(rootPath, sectorsPerCluster, bytesPerSector,
                                            freeClusters, totalClusters)) {
                const std::int64_t cluster =
                    static_cast<std::int64_t>(sectorsPerCluster) * bytesPerSector;
                total = cluster * totalClusters;
                free = cluster * freeClusters;
            }
        }
    } catch (const std::exception&) {
        // The query's own failure: what was set before it stands.
    }
}
