#include "platform/drives/MountTable.h"

#include "platform/core/PathText.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <tuple>
#include <unistd.h>

namespace platform {

namespace {

// Kernel and desktop filesystems that hold no user data of their own.
const std::set<std::string, std::less<>> pseudoTypes{
    "autofs",      "binfmt_misc",   "bpf",      "cgroup",    "cgroup2",         "configfs",
    "debugfs",     "devpts",        "devtmpfs", "efivarfs",  "fuse.gvfsd-fuse", "fuse.lxcfs",
    "fuse.portal", "fuse.snapfuse", "fusectl",  "hugetlbfs", "mqueue",          "nfsd",
    "nsfs",        "overlay",       "proc",     "pstore",    "rootfs",          "rpc_pipefs",
    "securityfs",  "selinuxfs",     "squashfs", "sysfs",     "tracefs",         "aufs",
};

const std::set<std::string, std::less<>> remoteTypes{
    "9p",         "afs",       "ceph",           "cifs",        "coda",
    "davfs",      "fuse.ceph", "fuse.glusterfs", "fuse.rclone", "fuse.s3fs",
    "fuse.sshfs", "glusterfs", "lustre",         "ncpfs",       "nfs",
    "nfs4",       "smb3",      "smbfs",          "sshfs",       "virtiofs",
};

// The system's own trees, where only the system mounts things.
const std::vector<std::string> systemTrees{
    "/proc",
    "/sys",
    "/dev",
    "/run",
    "/snap",
    "/boot",
    "/efi",
    "/var/lib/snapd",
    "/var/lib/docker",
    "/var/lib/containers",
    "/var/lib/kubelet",
    "/var/lib/lxcfs",
};

// Links followed in one path, as the kernel allows.
constexpr int LinkLimit = 40;

// The non-empty runs between separators.
std::vector<std::string_view> splitAt(std::string_view text, char separator)
{
    std::vector<std::string_view> runs;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(separator, at), text.size());
        if (end > at)
            runs.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return runs;
}

std::deque<std::string> pathParts(std::string_view path)
{
    const auto runs = splitAt(path, '/');
    return {runs.begin(), runs.end()};
}

// Undoes the \ooo escapes the kernel writes for blanks, tabs, newlines and "\".
std::string unescape(std::string_view field)
{
    const auto octal = [&field](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
    std::string text;
    text.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) &&
            octal(i + 3)) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

template <class Number> bool parseNumber(std::string_view text, Number& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool parseLine(std::string_view line, MountEntry& entry)
{
    const std::vector<std::string_view> fields = splitAt(line, ' ');
    // id parent major:minor root mount-point options [optional...] - type source options
    const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (fields.size() < 6 || dash == fields.end() || dash - fields.begin() < 6 ||
        fields.end() - dash < 3)
        return false;
    const std::string_view device = fields[2];
    const std::size_t colon = device.find(':');
    if (colon == std::string_view::npos || !parseNumber(fields[0], entry.id) ||
        !parseNumber(fields[1], entry.parentId) ||
        !parseNumber(device.substr(0, colon), entry.major) ||
        !parseNumber(device.substr(colon + 1), entry.minor))
        return false;
    entry.root = unescape(fields[3]);
    entry.mountPoint = unescape(fields[4]);
    entry.fsType = unescape(dash[1]);
    entry.source = unescape(dash[2]);
    return !entry.mountPoint.empty() && entry.mountPoint.front() == '/';
}

bool readsOne(const std::string& path)
{
    std::ifstream in(path);
    char flag = 0;
    return in.get(flag) && flag == '1';
}

} // namespace

std::string accountHomeFolder()
{
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 4096);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    return found && found->pw_dir ? std::string(found->pw_dir) : std::string();
}

dev_t blockDeviceOf(const MountEntry& mount)
{
    if (mount.major != 0)
        return makedev(mount.major, mount.minor);
    struct stat info
    {
    };
    if (mount.source.rfind("/dev/", 0) == 0 && ::stat(mount.source.c_str(), &info) == 0 &&
        S_ISBLK(info.st_mode))
        return info.st_rdev;
    return 0;
}

MountProbe MountProbe::system()
{
    MountProbe probe;
    probe.isDirectory = [](const std::string& path) {
        struct stat info
        {
        };
        return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    };
    probe.isRemovable = [](const MountEntry& mount) {
        const dev_t device = blockDeviceOf(mount);
        if (device == 0)
            return false;
        const std::string block =
            "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
        // A partition has no flag of its own; its disk has.
        return readsOne(block + "/removable") ||
               (!std::ifstream(block + "/removable") && readsOne(block + "/../removable"));
    };
    probe.homeVariable = []() -> std::optional<std::string> {
        const char* home = std::getenv("HOME");
        return home ? std::optional<std::string>(home) : std::nullopt;
    };
    probe.accountHome = accountHomeFolder;
    probe.realPath = [](const std::string& path) {
        char resolved[PATH_MAX];
        return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
    };
    probe.temporaryFolder = [realPath = probe.realPath] {
        const char* variable = std::getenv("TMPDIR");
        const std::string folder =
            variable && variable[0] == '/' ? normalizeNativePath(variable) : std::string("/tmp");
        const std::string real = realPath(folder);
        return real.empty() ? folder : real;
    };
    return probe;
}

std::string userHomeFolder(const MountProbe& probe)
{
    const auto usable = [](const std::optional<std::string>& home) {
        const std::string folder = home ? normalizeNativePath(*home) : std::string();
        // "/" holds the system's files, which are not the user's to clear.
        return folder == "/" ? std::string() : folder;
    };
    std::string folder = usable(probe.homeVariable ? probe.homeVariable() : std::nullopt);
    // A job the system starts for root may have no HOME, or "/", but its account has a home.
    if (folder.empty() && probe.accountHome)
        folder = usable(probe.accountHome());
    return folder;
}

MountTable MountTable::fromMountInfo(std::string_view text)
{
    std::vector<MountEntry> mounts;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        MountEntry entry;
        if (parseLine(text.substr(at, end - at), entry))
            mounts.push_back(std::move(entry));
        at = end + 1;
    }
    return MountTable(std::move(mounts));
}

bool MountTable::isDiskCandidate(const MountEntry& mount)
{
    if (pseudoTypes.count(mount.fsType))
        return false;
    for (const auto& tree : systemTrees) {
        // Desktops mount external media under /run/media/$USER.
        if (isWithin(mount.mountPoint, tree) && !isWithin(mount.mountPoint, "/run/media"))
            return false;
    }
    return true;
}

bool MountTable::isRemote(const MountEntry& mount)
{
    return remoteTypes.count(mount.fsType) > 0;
}

bool MountTable::mayNotAnswer(const MountEntry& mount)
{
    return isRemote(mount) || mount.fsType == "fuse" || mount.fsType.starts_with("fuse.");
}

unsigned MountTable::driveType(const MountEntry& mount, const MountProbe& probe)
{
    if (isRemote(mount))
        return DRIVE_REMOTE;
    if (mount.fsType == "iso9660" || mount.fsType == "udf")
        return DRIVE_CDROM;
    if (mount.fsType == "tmpfs" || mount.fsType == "ramfs")
        return DRIVE_RAMDISK;
    if (probe.isRemovable && probe.isRemovable(mount))
        return DRIVE_REMOVABLE;
    return DRIVE_FIXED;
}

std::vector<DriveMapping> MountTable::driveMap(const MountProbe& probe) const
{
    std::vector<DriveMapping> map;
    const MountEntry* homeMount = nullptr;
    if (const std::string home = userHomeFolder(probe); !home.empty()) {
        map.push_back({'C', home, DRIVE_FIXED});
        const std::string real = probe.realPath ? probe.realPath(home) : std::string();
        homeMount = mountHolding(real.empty() ? home : real);
    }
    const std::string temp = probe.temporaryFolder ? probe.temporaryFolder() : std::string();
    std::set<std::tuple<unsigned, unsigned, std::string>> seen;
    char letter = 'D';
    for (const auto& mount : m_mounts) {
        // Z: is kept for "/".
        if (letter > 'Y')
            break;
        if (mount.mountPoint == "/" || !isDiskCandidate(mount))
            continue;
        // A program's own filesystem in the temporary folder (an application image's, there
        // while it runs) is its scratch, not a disk.
        if (!temp.empty() && temp != "/" && mount.mountPoint != temp &&
            isWithin(mount.mountPoint, temp))
            continue;
        // C: already stands for the home folder's filesystem, however often it is mounted.
        if (homeMount && mount.major == homeMount->major && mount.minor == homeMount->minor)
            continue;
        // A later mount on the same folder hides this one.
        const bool covered =
            std::any_of(m_mounts.begin(), m_mounts.end(), [&mount](const MountEntry& other) {
                return other.parentId == mount.id && other.mountPoint == mount.mountPoint;
            });
        if (covered)
            continue;
        // Bind mounts of single files (as containers have for /etc/hosts) are no drives. A
        // share that stopped answering would hold the question forever.
        if (!mayNotAnswer(mount) && probe.isDirectory && !probe.isDirectory(mount.mountPoint))
            continue;
        // The same folder of a filesystem mounted twice gets one letter.
        if (!seen.insert({mount.major, mount.minor, mount.root}).second)
            continue;
        map.push_back({letter++, normalizeNativePath(mount.mountPoint), driveType(mount, probe)});
    }
    addRootFallback(map);
    return map;
}

const MountEntry* MountTable::mountHolding(const std::string& path) const
{
    const MountEntry* best = nullptr;
    for (const auto& mount : m_mounts) {
        // On a tie the later mount is the one on top.
        if (isWithin(path, mount.mountPoint) &&
            (!best || mount.mountPoint.size() >= best->mountPoint.size()))
            best = &mount;
    }
    return best;
}

std::shared_ptr<const MountTable> MountTableWatch::readIfChanged()
{
    if (!m_table.valid()) {
        m_table.reset(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
        if (!m_table.valid())
            return nullptr;
    } else {
        // The kernel flags the open table on every mount and unmount.
        pollfd watch{m_table.get(), POLLPRI, 0};
        if (::poll(&watch, 1, 0) <= 0 || !(watch.revents & (POLLPRI | POLLERR)))
            return nullptr;
    }
    if (::lseek(m_table.get(), 0, SEEK_SET) != 0)
        return nullptr;
    std::string text;
    char chunk[16384];
    for (;;) {
        const ssize_t count =
            retryInterrupted([&] { return ::read(m_table.get(), chunk, sizeof chunk); });
        if (count <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(count));
    }
    return std::make_shared<const MountTable>(MountTable::fromMountInfo(text));
}

ResolvedPath resolveShortOfSilentMounts(const std::string& path, const MountTable& table)
{
    ResolvedPath result;
    if (path.empty() || path.front() != '/')
        return result;
    // A root that does not answer leaves nothing to decide.
    std::set<std::string, std::less<>> silent;
    for (const auto& mount : table.mounts()) {
        if (mount.mountPoint != "/" && MountTable::mayNotAnswer(mount))
            silent.insert(mount.mountPoint);
    }
    std::deque<std::string> parts = pathParts(path);
    std::string resolved = "/";
    int links = 0;
    while (!parts.empty()) {
        std::string part = std::move(parts.front());
        parts.pop_front();
        if (part == ".")
            continue;
        if (part == "..") {
            resolved = parentOf(resolved);
            continue;
        }
        std::string next = joinPath(resolved, part);
        if (silent.count(next)) {
            result.silentMount = next;
            for (const auto& rest : parts)
                next = joinPath(next, rest);
            result.found = true;
            result.path = normalizeNativePath(next);
            return result;
        }
        struct stat info
        {
        };
        if (::lstat(next.c_str(), &info) != 0)
            return result;
        if (!S_ISLNK(info.st_mode)) {
            resolved = std::move(next);
            continue;
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(next.c_str(), target, sizeof target);
        if (++links > LinkLimit || length <= 0 || length == static_cast<ssize_t>(sizeof target))
            return result;
        const std::string_view text(target, static_cast<std::size_t>(length));
        if (text.front() == '/')
            resolved = "/";
        const std::deque<std::string> inner = pathParts(text);
        parts.insert(parts.begin(), inner.begin(), inner.end());
    }
    result.found = true;
    result.path = std::move(resolved);
    return result;
}

} // namespace platform
