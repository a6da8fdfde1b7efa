#pragma once

#include <bitset>
#include <cstdint>
#include <string>

// Kind of a drive; each ordinal is the system's drive-type code (0 unknown, 1 no root
// directory, 2 removable ... 6 RAM disk), so a code converts by value.
enum TDrvType : std::uint8_t {
    dtNotDetermined,
    dtNonExistent,
    dtRemoveable,
    dtFixed,
    dtRemote,
    dtCDROM,
    dtRamDrive
};

enum TFileFlag {
    fsCaseIsPreserved,
    fsCaseSensitive,
    fsUnicodeStoredOnDisk,
    fsPersistentAcls,
    fsFileCompression,
    fsVolumeIsCompressed,
    fsLongFileName
};
using TFileFlags = std::bitset<7>;

// A drive designator: a letter and a colon.
using TQXDrive = std::string;

// What one drive reports of itself, as read at the last change of Drive.
class TQXDriveDefs
{
public:
    // Selects drive "C:" and reads it.
    TQXDriveDefs();

    const TQXDrive& Drive() const { return m_drive; }
    // "d" and "d:\windows" select D:. The same text again reads nothing; "c:" while C:
    // is selected reads C: afresh.
    void setDrive(const TQXDrive& value);
    void Refresh();

    TDrvType DriveType() const { return m_driveType; }
    TFileFlags FileFlags() const { return m_fileFlags; }
    // "1A2B-3C4D"
    const std::string& SerialNumber() const { return m_serialNumber; }
    const std::string& VolumeLabel() const { return m_volumeLabel; }
    std::int64_t TotalSpace() const { return m_totalSpace; }
    std::int64_t FreeSpace() const { return m_freeSpace; }
    std::int32_t FreeClusters() const { return static_cast<std::int32_t>(m_freeClusters); }
    std::int32_t SectorsPerCluster() const
    {
        return static_cast<std::int32_t>(m_sectorsPerCluster);
    }
    std::int32_t BytesPerSector() const { return static_cast<std::int32_t>(m_bytesPerSector); }
    std::int32_t TotalClusters() const { return static_cast<std::int32_t>(m_totalClusters); }
    const std::string& FileSystem() const { return m_fileSystem; }

    // Total and free bytes of the volume at rootPath, by the query the system's version
    // allows; both 0 when the drive has no medium or the query is missing.
    static void spaceQuery(const std::string& rootPath, std::int64_t& total, std::int64_t& free);

private:
    TQXDrive m_drive = "C:";
    TDrvType m_driveType = dtNotDetermined;
    TFileFlags m_fileFlags;
    std::string m_serialNumber;
    std::string m_volumeLabel;
    std::int64_t m_totalSpace = 0;
    std::int64_t m_freeSpace = 0;
    std::uint32_t m_freeClusters = 0;
    std::uint32_t m_sectorsPerCluster = 0;
    std::uint32_t m_bytesPerSector = 0;
    std::uint32_t m_totalClusters = 0;
    std::string m_fileSystem;
};
