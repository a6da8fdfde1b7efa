#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// File-system flags of GetVolumeInformationA.
inline constexpr std::uint32_t FS_CASE_SENSITIVE = 0x1, FS_CASE_IS_PRESERVED = 0x2,
                               FS_UNICODE_STORED_ON_DISK = 0x4, FS_PERSISTENT_ACLS = 0x8,
                               FS_FILE_COMPRESSION = 0x10, FS_VOL_IS_COMPRESSED = 0x8000;

// All of them fail for a letter with no drive or no medium.
bool GetVolumeInformationA(const std::string& rootPath, std::string& volumeName,
                           std::uint32_t& serialNumber, std::uint32_t& maximumComponentLength,
                           std::uint32_t& fileSystemFlags, std::string& fileSystemName);
// Cluster counts beyond 32 bits saturate; only the extended query tells such a volume's size.
bool GetDiskFreeSpaceA(const std::string& rootPath, std::uint32_t& sectorsPerCluster,
                       std::uint32_t& bytesPerSector, std::uint32_t& numberOfFreeClusters,
                       std::uint32_t& totalNumberOfClusters);
bool GetDiskFreeSpaceExA(const std::string& rootPath, std::uint64_t& freeBytesAvailable,
                         std::uint64_t& totalNumberOfBytes, std::uint64_t& totalNumberOfFreeBytes);

// The entry points of the system's modules that are looked up at run time.
using HMODULE = std::uintptr_t;
using FARPROC = void (*)();
using GetDiskFreeSpaceExFunction = bool (*)(const std::string&, std::uint64_t&, std::uint64_t&,
                                            std::uint64_t&);
// "Kernel32.dll" (any letter case) is the only module; 0 for any other name.
HMODULE LoadLibraryA(const std::string& fileName);
// Null when the module does not export the name.
FARPROC GetProcAddress(HMODULE module, const std::string& procName);
bool FreeLibrary(HMODULE module);

// A volume's serial number from its file system's UUID: a FAT or exFAT "1A2B-3C4D" is the
// serial itself, any other UUID gives its first eight hex digits. Nothing when the UUID
// has fewer than eight.
std::optional<std::uint32_t> serialFromUuid(std::string_view uuid);
// Without a UUID: the two halves of the file system's identity combined.
std::uint32_t serialFromFsid(std::uint32_t low, std::uint32_t high);
// The FS_ flags a file system of that type honours.
std::uint32_t fileSystemFlagsOf(const std::string& fsType);

} // namespace platform
