#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class MountTable;

// Drive type codes, as GetDriveTypeA reports them.
enum : unsigned {
    DRIVE_UNKNOWN = 0,
    DRIVE_NO_ROOT_DIR = 1,
    DRIVE_REMOVABLE = 2,
    DRIVE_FIXED = 3,
    DRIVE_REMOTE = 4,
    DRIVE_CDROM = 5,
    DRIVE_RAMDISK = 6,
};

// One drive letter and the native folder it stands for.
struct DriveMapping
{
    char letter = 0;        // 'A'..'Z'
    std::string nativeRoot; // absolute native folder, no trailing "/" except for "/"
    unsigned type = 0;      // a DRIVE_ code; DRIVE_UNKNOWN means "from the filesystem"
};

// What a mounted volume reports of itself (GetVolumeInformationA, GetDiskFreeSpace[Ex]A).
struct VolumeFigures
{
    std::string label;
    std::string fileSystem; // the mount table's type name: "ext4", "vfat", "nfs4" ...
    std::uint32_t serialNumber = 0;
    std::uint32_t maxComponentLength = 0;
    std::uint32_t fileSystemFlags = 0; // FS_ flags of the volume
    std::uint64_t blockSize = 0;
    std::uint64_t totalBlocks = 0;
    std::uint64_t freeBlocks = 0;      // free on the volume
    std::uint64_t availableBlocks = 0; // free for the running user
};

// Parses a VORLAX_DRIVES text ("C:=/srv/c@fixed;D:=/srv/d"). Malformed entries are left
// out and described in errors (when given); later entries for a letter already mapped
// are malformed too. The last "@" of an entry starts its type (fixed, removable, remote,
// cdrom, ramdisk), so a folder with "@" in its name needs a type. The result is sorted
// by letter.
std::vector<DriveMapping> parseDriveMap(const std::string& text,
                                        std::vector<std::string>* errors = nullptr);

// "/a//b/./c/" gives "/a/b/c"; ".." resolves by the text alone and stops at "/". Empty
// for a path that is not absolute.
std::string normalizeNativePath(const std::string& path);
// When no letter maps "/", Z: (or the highest free letter down to G:) does, as a fixed
// disk, so every native path has a Windows form. It never takes C: to F:.
void addRootFallback(std::vector<DriveMapping>& map);
// The mapping of the letter (upper case); null when the map has none.
const DriveMapping* findLetter(const std::vector<DriveMapping>& map, char letter);
// The upper-case letter of "C:\", "C:/" or "C:"; 0 for any other text.
char driveLetterOfRoot(const std::string& rootPath);

// The POSIX implementation reads VORLAX_DRIVES at every call; without it, C: is the
// user's home folder, D: onward are the other mounted disks in mount order, and Z: is "/".
class DriveService
{
public:
    virtual ~DriveService() = default;
    // The current drive map, sorted by letter.
    virtual std::vector<DriveMapping> driveMap() = 0;
    // From the drive map and the mount table; a remote filesystem is never asked.
    virtual unsigned driveType(const std::string& rootPath) = 0;
    // False for a letter with no drive or no medium. A remote drive that does not answer
    // within a second counts as one with no medium.
    virtual bool volume(const std::string& rootPath, VolumeFigures& figures) = 0;
    // The mount table as it is now; null where the map is not made from one.
    virtual std::shared_ptr<const MountTable> mountTable() { return nullptr; }

    static std::unique_ptr<DriveService> createDefault();
};

// Each root ("C:\") followed by a zero character; the size a caller needs for it is
// size() + 1, for the final zero.
std::string GetLogicalDriveStringsA();
// One bit for each mapped letter, bit 0 for A:.
std::uint32_t GetLogicalDrives();
// DRIVE_NO_ROOT_DIR for a letter that is not mapped, or whose folder does not exist.
unsigned GetDriveTypeA(const std::string& rootPath);

// "C:\Windows\Temp" (or "C:/Windows/Temp") to the native path through the drive map;
// empty when the letter is not mapped or the text is no absolute Windows path.
std::string toNativePath(const std::string& windowsPath);
// A native absolute path to its Windows form through the longest mapped prefix; the
// root of a drive gives "C:\", any other folder has no trailing "\".
std::string toWindowsPath(const std::string& nativePath);

} // namespace platform
