#include "platform/Drives.h"
#include "platform/MountTable.h"
#include "platform/Service.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <set>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

// Drives from VORLAX_DRIVES when it is set, else from the mounted filesystems.
class PosixDrives : public DriveService
{
public:
    PosixDrives() : m_probe(MountProbe::system()) {}
    ~PosixDrives() override
    {
        if (m_mountInfo >= 0)
            ::close(m_mountInfo);
    }

    std::vector<DriveMapping> driveMap() override
    {
        std::lock_guard lock(m_mutex);
        return currentMap();
    }

    unsigned driveType(const std::string& rootPath) override
    {
        std::lock_guard lock(m_mutex);
        const char letter = driveLetterOfRoot(rootPath);
        if (!letter)
            return DRIVE_NO_ROOT_DIR;
        for (const auto& mapping : currentMap()) {
            if (mapping.letter != letter)
                continue;
            if (!m_probe.isDirectory(mapping.nativeRoot))
                return DRIVE_NO_ROOT_DIR;
            if (mapping.type != DRIVE_UNKNOWN)
                return mapping.type;
            return typeOfFolder(mapping.nativeRoot);
        }
        return DRIVE_NO_ROOT_DIR;
    }

private:
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
        // C: follows HOME, which a script or a test may change.
        auto home = m_probe.homeVariable();
        if (m_mappedGeneration != m_mountsGeneration || home != m_mappedHome) {
            m_mountedMap = m_mounts.driveMap(m_probe);
            m_mappedGeneration = m_mountsGeneration;
            m_mappedHome = std::move(home);
        }
        return m_mountedMap;
    }

    unsigned typeOfFolder(const std::string& folder)
    {
        char resolved[PATH_MAX];
        if (!::realpath(folder.c_str(), resolved))
            return DRIVE_UNKNOWN;
        refreshMounts();
        const MountEntry* mount = m_mounts.mountHolding(resolved);
        return mount ? MountTable::driveType(*mount, m_probe) : DRIVE_UNKNOWN;
    }

    // Re-reads the mount table when the kernel says it changed.
    void refreshMounts()
    {
        if (m_mountInfo < 0) {
            m_mountInfo = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
            if (m_mountInfo < 0)
                return;
        } else {
            pollfd watch{m_mountInfo, POLLPRI, 0};
            if (::poll(&watch, 1, 0) <= 0 || !(watch.revents & (POLLPRI | POLLERR)))
                return;
        }
        std::string text;
        char chunk[16384];
        if (::lseek(m_mountInfo, 0, SEEK_SET) != 0)
            return;
        for (;;) {
            const ssize_t count = ::read(m_mountInfo, chunk, sizeof chunk);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            text.append(chunk, static_cast<std::size_t>(count));
        }
        m_mounts = MountTable::fromMountInfo(text);
        ++m_mountsGeneration;
    }

    std::mutex m_mutex;
    MountProbe m_probe;
    int m_mountInfo = -1;
    MountTable m_mounts;
    unsigned m_mountsGeneration = 0;
    std::vector<DriveMapping> m_mountedMap;
    unsigned m_mappedGeneration = ~0u;
    std::optional<std::string> m_mappedHome;
    std::string m_parsedText;
    std::vector<DriveMapping> m_parsedMap;
    bool m_parsed = false;
    std::set<std::string> m_reported;
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
