#include "platform/drives/Volumes.h"
#include "platform/core/AsciiCase.h"
#include "platform/core/HexDigit.h"

#include "platform/core/Service.h"
#include "platform/drives/Drives.h"

#include <algorithm>
#include <limits>

namespace platform {

namespace {

constexpr HMODULE kernel32 = 0x7ff00000;

std::uint32_t saturated(std::uint64_t value)
{
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(value, std::numeric_limits<std::uint32_t>::max()));
}

} // namespace

bool GetVolumeInformationA(const std::string& rootPath, std::string& volumeName,
                           std::uint32_t& serialNumber, std::uint32_t& maximumComponentLength,
                           std::uint32_t& fileSystemFlags, std::string& fileSystemName)
{
    VolumeFigures figures;
    if (!Service<DriveService>::instance().volume(rootPath, figures))
        return false;
    volumeName = figures.label;
    serialNumber = figures.serialNumber;
    maximumComponentLength = figures.maxComponentLength;
    fileSystemFlags = figures.fileSystemFlags;
    fileSystemName = figures.fileSystem;
    return true;
}

bool GetDiskFreeSpaceA(const std::string& rootPath, std::uint32_t& sectorsPerCluster,
                       std::uint32_t& bytesPerSector, std::uint32_t& numberOfFreeClusters,
                       std::uint32_t& totalNumberOfClusters)
{
    VolumeFigures figures;
    if (!Service<DriveService>::instance().volume(rootPath, figures) || figures.blockSize == 0)
        return false;
    // A block is a cluster; sectors are 512 bytes unless the block is smaller.
    bytesPerSector = static_cast<std::uint32_t>(std::min<std::uint64_t>(figures.blockSize, 512));
    sectorsPerCluster = saturated(figures.blockSize / bytesPerSector);
    numberOfFreeClusters = saturated(figures.availableBlocks);
    totalNumberOfClusters = saturated(figures.totalBlocks);
    return true;
}

bool GetDiskFreeSpaceExA(const std::string& rootPath, std::uint64_t& freeBytesAvailable,
                         std::uint64_t& totalNumberOfBytes, std::uint64_t& totalNumberOfFreeBytes)
{
    VolumeFigures figures;
    if (!Service<DriveService>::instance().volume(rootPath, figures))
        return false;
    freeBytesAvailable = figures.availableBlocks * figures.blockSize;
    totalNumberOfBytes = figures.totalBlocks * figures.blockSize;
    totalNumberOfFreeBytes = figures.freeBlocks * figures.blockSize;
    return true;
}

HMODULE LoadLibraryA(const std::string& fileName)
{
    return equalsIgnoringCase(fileName, "Kernel32.dll") ? kernel32 : 0;
}

FARPROC GetProcAddress(HMODULE module, const std::string& procName)
{
    if (module != kernel32 || procName != "GetDiskFreeSpaceExA")
        return nullptr;
    return reinterpret_cast<FARPROC>(&GetDiskFreeSpaceExA);
}

bool FreeLibrary(HMODULE module)
{
    return module == kernel32;
}

std::optional<std::uint32_t> serialFromUuid(std::string_view uuid)
{
    std::uint32_t serial = 0;
    int digits = 0;
    for (char c : uuid) {
        if (c == '-')
            continue;
        const int value = hexDigitValue(c);
        if (value < 0)
            return std::nullopt;
        serial = serial << 4 | static_cast<std::uint32_t>(value);
        if (++digits == 8)
            return serial;
    }
    return std::nullopt;
}

std::uint32_t serialFromFsid(std::uint32_t low, std::uint32_t high)
{
    return low ^ high;
}

std::uint32_t fileSystemFlagsOf(const std::string& fsType)
{
    if (fsType == "vfat" || fsType == "msdos" || fsType == "exfat")
        return FS_CASE_IS_PRESERVED | FS_UNICODE_STORED_ON_DISK;
    if (fsType == "ntfs" || fsType == "ntfs3" || fsType == "fuseblk")
        return FS_CASE_IS_PRESERVED | FS_UNICODE_STORED_ON_DISK | FS_PERSISTENT_ACLS;
    if (fsType == "iso9660")
        return FS_UNICODE_STORED_ON_DISK;
    if (fsType == "btrfs" || fsType == "zfs")
        return FS_CASE_SENSITIVE | FS_CASE_IS_PRESERVED | FS_PERSISTENT_ACLS | FS_FILE_COMPRESSION;
    return FS_CASE_SENSITIVE | FS_CASE_IS_PRESERVED | FS_PERSISTENT_ACLS;
}

} // namespace platform
