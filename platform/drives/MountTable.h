#pragma once

#include "platform/core/Descriptor.h"
#include "platform/drives/Drives.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform {

// One line of /proc/self/mountinfo, with the octal escapes of its paths undone.
struct MountEntry
{
    int id = 0;
    int parentId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::string root; // the folder of the filesystem that is mounted
    std::string mountPoint;
    std::string fsType; // "ext4", "nfs4", "fuse.sshfs" ...
    std::string source; // "/dev/sda2", "server:/export" ...
};

// What deciding about drives needs beyond the text of the table; the defaults ask the
// running system.
struct MountProbe
{
    std::function<bool(const std::string& path)> isDirectory;
    std::function<bool(const MountEntry& mount)> isRemovable;
    // HOME as the environment has it; nullopt when it is unset.
    std::function<std::optional<std::string>()> homeVariable;
    // The home folder of the running user's entry in the password database; empty if none.
    std::function<std::string()> accountHome;
    // The path with symbolic links resolved; empty when it cannot be resolved.
    std::function<std::string(const std::string& path)> realPath;
    // The temporary folder (TMPDIR, or /tmp), symbolic links resolved; empty for none.
    std::function<std::string()> temporaryFolder;

    static MountProbe system();
};

// The block device that holds a mounted filesystem; 0 when it has none. btrfs and the like
// show an anonymous device, and their source names the disk.
dev_t blockDeviceOf(const MountEntry& mount);

// The home folder of the running user's entry in the password database; empty if none.
std::string accountHomeFolder();

// The folder drive C: stands for: HOME, or the account's home when HOME is unset or
// empty. Empty when that is no absolute folder, or is "/".
std::string userHomeFolder(const MountProbe& probe);

// The mounted filesystems in mount order.
class MountTable
{
public:
    MountTable() = default;
    explicit MountTable(std::vector<MountEntry> mounts) : m_mounts(std::move(mounts)) {}

    // Lines that do not parse are skipped.
    static MountTable fromMountInfo(std::string_view text);

    const std::vector<MountEntry>& mounts() const { return m_mounts; }

    // C: for the user's home folder, D: to Y: for the other filesystems a person would
    // call disks, leaving out the one that holds the home folder and those mounted inside
    // the temporary folder, and Z: for "/".
    std::vector<DriveMapping> driveMap(const MountProbe& probe) const;

    // The filesystem that holds a path (absolute, symbolic links resolved); null when
    // the table knows none.
    const MountEntry* mountHolding(const std::string& path) const;

    // Pseudo and system filesystems, and mounts inside the system's own trees, are no disks.
    static bool isDiskCandidate(const MountEntry& mount);
    static bool isRemote(const MountEntry& mount);
    // A filesystem served over a network or by a user process may keep any call on it
    // waiting for as long as its server does not answer.
    static bool mayNotAnswer(const MountEntry& mount);
    // A DRIVE_ code from the kind of filesystem.
    static unsigned driveType(const MountEntry& mount, const MountProbe& probe);

private:
    std::vector<MountEntry> m_mounts;
};

// The mount table of the running process, read again only when the kernel reports a
// change. It keeps the table of the mount namespace the process was in at the first call.
class MountTableWatch
{
public:
    // The table as it is now, on the first call and after every change; null when nothing
    // changed since the last call, or when there is no table to read.
    std::shared_ptr<const MountTable> readIfChanged();

private:
    OwnedFd m_table;
};

// A path with its links resolved one part at a time, as far as that is safe: a part that
// is the mount point of a filesystem that may not answer is never looked at.
struct ResolvedPath
{
    bool found = false;      // false when a part is missing or links loop
    std::string path;        // resolved up to silentMount, the rest as written
    std::string silentMount; // where it stopped; empty when the whole path was resolved
};
ResolvedPath resolveShortOfSilentMounts(const std::string& path, const MountTable& table);

} // namespace platform
