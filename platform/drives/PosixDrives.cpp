#include "platform/core/Descriptor.h"
#include "platform/core/Service.h"
#include "platform/drives/Drives.h"
#include "platform/drives/MountTable.h"
#include "platform/drives/Volumes.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <set>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

// Folders of by-uuid and by-label links to the block devices.
const char* const uuidLinks = "/dev/disk/by-uuid";
const char* const labelLinks = "/dev/disk/by-label";

// The name of the link in folder that leads to the device, with udev's "\x20" escapes
// undone; empty when none does.
std::string linkNameOf(const char* folder, dev_t device)
{
    const OwnedFd links(::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    FolderEntries entries(links.get());
    if (!entries.valid())
        return {};
    std::string found;
    while (const dirent* entry = entries.next()) {
        struct stat info
        {
        };
        if (entry->d_name[0] == '.' || ::fstatat(links.get(), entry->d_name, &info, 0) != 0 ||
            !S_ISBLK(info.st_mode) || info.st_rdev != device)
            continue;
        const std::string name = entry->d_name;
        for (std::size_t i = 0; i < name.size(); ++i) {
            unsigned code = 0;
            if (name.compare(i, 2, "\\x") == 0 && i + 3 < name.size() &&
                std::sscanf(name.c_str() + i + 2, "%2x", &code) == 1) {
                found += static_cast<char>(code);
                i += 3;
            } else {
                found += name[i];
            }
        }
        break;
    }
    return found;
}

void describeVolume(const struct statfs& answer, const MountEntry* mount, VolumeFigures& figures)
{
    figures = {};
    figures.fileSystem = mount ? mount->fsType : std::string();
    figures.maxComponentLength = static_cast<std::uint32_t>(answer.f_namelen);
    figures.fileSystemFlags = fileSystemFlagsOf(figures.fileSystem);
    figures.blockSize =
        static_cast<std::uint64_t>(answer.f_frsize ? answer.f_frsize : answer.f_bsize);
    figures.totalBlocks = answer.f_blocks;
    figures.freeBlocks = answer.f_bfree;
    figures.availableBlocks = answer.f_bavail;
    const dev_t device = mount ? blockDeviceOf(*mount) : 0;
    std::optional<std::uint32_t> serial;
    if (device != 0) {
        serial = serialFromUuid(linkNameOf(uuidLinks, device));
        figures.label = linkNameOf(labelLinks, device);
    }
    int halves[2];
    static_assert(sizeof halves == sizeof answer.f_fsid);
    std::memcpy(halves, &answer.f_fsid, sizeof halves);
    figures.serialNumber = serial ? *serial
                                  : serialFromFsid(static_cast<std::uint32_t>(halves[0]),
                                                   static_cast<std::uint32_t>(halves[1]));
}

// statfs of folders that may not answer, each asked in a child process that the program
// gives up on after a second and never waits for.
class RemoteQueries
{
public:
    RemoteQueries() = default;
    RemoteQueries(const RemoteQueries&) = delete;
    RemoteQueries& operator=(const RemoteQueries&) = delete;
    ~RemoteQueries()
    {
        for (const auto& [folder, query] : m_late)
            ::kill(query.child, SIGKILL);
    }

    // False when statfs failed or the answer is late.
    bool ask(const std::string& folder, struct statfs& answer)
    {
        reapFinished();
        // A folder still silent since it was last asked is not asked again.
        if (auto late = m_late.find(folder); late != m_late.end()) {
            if (!waitReadable(late->second.answer.get(), 0))
                return false;
            const bool answered = readAnswer(late->second.answer.get(), 0, answer);
            m_finished.push_back(late->second.child);
            m_late.erase(late);
            return answered;
        }
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return false;
        OwnedFd reading(ends[0]);
        OwnedFd writing(ends[1]);
        const char* path = folder.c_str();
        const pid_t child = ::fork();
        if (child == 0) {
            // Only calls that are safe in the child of a threaded process.
            Reply reply{};
            reply.ok = ::statfs(path, &reply.figures) == 0;
            const ssize_t written = ::write(writing.get(), &reply, sizeof reply);
            ::_exit(written == static_cast<ssize_t>(sizeof reply) ? 0 : 1);
        }
        writing.reset();
        if (child < 0)
            return false;
        if (!waitReadable(reading.get(), 1000)) {
            m_late[folder] = {child, std::move(reading)};
            return false;
        }
        const bool answered = readAnswer(reading.get(), 0, answer);
        m_finished.push_back(child);
        reapFinished();
        return answered;
    }

private:
    struct Reply
    {
        int ok;
        struct statfs figures;
    };
    struct Late
    {
        pid_t child;
        OwnedFd answer;
    };

    static bool waitReadable(int fd, int milliseconds)
    {
        pollfd watch{fd, POLLIN, 0};
        return retryInterrupted([&] { return ::poll(&watch, 1, milliseconds); }) > 0;
    }

    static bool readAnswer(int fd, int milliseconds, struct statfs& answer)
    {
        if (!waitReadable(fd, milliseconds))
            return false;
        Reply reply{};
        const ssize_t count = retryInterrupted([&] { return ::read(fd, &reply, sizeof reply); });
        if (count != static_cast<ssize_t>(sizeof reply) || !reply.ok)
            return false;
        answer = reply.figures;
        return true;
    }

    // Children that wrote their answer end at once; one still stuck is tried again later.
    void reapFinished()
    {
        std::erase_if(m_finished,
                      [](pid_t child) { return ::waitpid(child, nullptr, WNOHANG) != 0; });
    }

    std::map<std::string, Late> m_late;
    std::vector<pid_t> m_finished;
};

// Drives from VORLAX_DRIVES when it is set, else from the mounted filesystems.
class PosixDrives : public DriveService
{
public:
    PosixDrives() : m_probe(MountProbe::system()) {}

    std::vector<DriveMapping> driveMap() override
    {
        std::lock_guard lock(m_mutex);
        return currentMap();
    }

    unsigned driveType(const std::string& rootPath) override
    {
        std::lock_guard lock(m_mutex);
        const DriveMapping* mapping = mappingOf(rootPath);
        if (!mapping)
            return DRIVE_NO_ROOT_DIR;
        // The table tells what holds the folder; asking a share that stopped answering
        // whether the folder exists would wait with it.
        refreshMounts();
        const ResolvedPath place = resolveShortOfSilentMounts(mapping->nativeRoot, *m_mounts);
        if (mapping->type == DRIVE_REMOTE || !place.silentMount.empty()) {
            if (mapping->type != DRIVE_UNKNOWN)
                return mapping->type;
            return MountTable::driveType(*m_mounts->mountHolding(place.path), m_probe);
        }
        if (!m_probe.isDirectory(mapping->nativeRoot))
            return DRIVE_NO_ROOT_DIR;
        if (mapping->type != DRIVE_UNKNOWN)
            return mapping->type;
        return typeOfFolder(mapping->nativeRoot);
    }

    bool volume(const std::string& rootPath, VolumeFigures& figures) override
    {
        std::lock_guard lock(m_mutex);
        const DriveMapping* mapping = mappingOf(rootPath);
        if (!mapping)
            return false;
        const std::string folder = mapping->nativeRoot;
        refreshMounts();
        const ResolvedPath place = resolveShortOfSilentMounts(folder, *m_mounts);
        const MountEntry* mount = m_mounts->mountHolding(place.found ? place.path : folder);
        struct statfs answer
        {
        };
        if (mapping->type == DRIVE_REMOTE || !place.silentMount.empty()) {
            if (!m_remoteQueries.ask(folder, answer))
                return false;
        } else if (::statfs(folder.c_str(), &answer) != 0) {
            return false;
        }
        describeVolume(answer, mount, figures);
        return true;
    }

    std::shared_ptr<const MountTable> mountTable() override
    {
        std::lock_guard lock(m_mutex);
        refreshMounts();
        return m_mounts;
    }

private:
    const DriveMapping* mappingOf(const std::string& rootPath)
    {
        const char letter = driveLetterOfRoot(rootPath);
        return letter ? findLetter(currentMap(), letter) : nullptr;
    }

    const std::vector<DriveMapping>& currentMap()
    {
        const char* text = std::getenv("VORLAX_DRIVES");
        if (!text || !*text)
            return mountedMap();
        if (!m_parsed || m_parsedText != text) {
            std::vector<std::string> errors;
            m_parsedMap = parseDriveMap(text, &errors);
            addRootFallback(m_parsedMap);
            m_parsedText = text;
            m_parsed = true;
            // A test or a script may switch back and forth; say each complaint once.
            if (!errors.empty() && m_reported.insert(m_parsedText).second) {
                for (const auto& error : errors)
                    std::fprintf(stderr, "vorlax: VORLAX_DRIVES: ignored entry %s\n",
                                 error.c_str());
            }
        }
        return m_parsedMap;
    }

    const std::vector<DriveMapping>& mountedMap()
    {
        refreshMounts();
        // C: follows HOME, and the mounts left out TMPDIR, which a script or a test may change.
        auto home = m_probe.homeVariable();
        const char* temp = std::getenv("TMPDIR");
        std::optional<std::string> tempVariable =
            temp ? std::optional<std::string>(temp) : std::nullopt;
        if (m_mappedGeneration != m_mountsGeneration || home != m_mappedHome ||
            tempVariable != m_mappedTemp) {
            m_mountedMap = m_mounts->driveMap(m_probe);
            m_mappedGeneration = m_mountsGeneration;
            m_mappedHome = std::move(home);
            m_mappedTemp = std::move(tempVariable);
        }
        return m_mountedMap;
    }

    unsigned typeOfFolder(const std::string& folder)
    {
        char resolved[PATH_MAX];
        if (!::realpath(folder.c_str(), resolved))
            return DRIVE_UNKNOWN;
        refreshMounts();
        const MountEntry* mount = m_mounts->mountHolding(resolved);
        return mount ? MountTable::driveType(*mount, m_probe) : DRIVE_UNKNOWN;
    }

    void refreshMounts()
    {
        if (auto table = m_watch.readIfChanged()) {
            m_mounts = std::move(table);
            ++m_mountsGeneration;
        }
    }

    std::mutex m_mutex;
    MountProbe m_probe;
    MountTableWatch m_watch;
    std::shared_ptr<const MountTable> m_mounts = std::make_shared<const MountTable>();
    unsigned m_mountsGeneration = 0;
    std::vector<DriveMapping> m_mountedMap;
    unsigned m_mappedGeneration = ~0u;
    std::optional<std::string> m_mappedHome;
    std::optional<std::string> m_mappedTemp;
    std::string m_parsedText;
    std::vector<DriveMapping> m_parsedMap;
    bool m_parsed = false;
    std::set<std::string> m_reported;
    RemoteQueries m_remoteQueries;
};

} // namespace

std::uint32_t GetLogicalDrives()
{
    std::uint32_t drives = 0;
    for (const auto& mapping : Service<DriveService>::instance().driveMap()) {
        if (mapping.letter >= 'A' && mapping.letter <= 'Z')
            drives |= 1u << (mapping.letter - 'A');
    }
    return drives;
}

std::unique_ptr<DriveService> DriveService::createDefault()
{
    return std::make_unique<PosixDrives>();
}

} // namespace platform
