#include "support/SilentShare.h"

#include "platform/core/Service.h"
#include "platform/drives/Drives.h"
#include "platform/files/Files.h"

#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace test {

namespace {

// Once per process: mounts made here stay out of the machine's own table.
bool ownMountNamespace()
{
    static const bool entered = [] {
        if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return false;
        // The drives and the search read the mount table of the namespace they were made in.
        platform::Service<platform::DriveService>::install(platform::DriveService::createDefault());
        platform::Service<platform::FileService>::install(platform::FileService::createDefault());
        return true;
    }();
    return entered;
}

} // namespace

SilentShare::SilentShare(const std::string& folder) : m_folder(folder)
{
    if (!ownMountNamespace())
        return;
    std::filesystem::create_directories(folder);
    m_fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (m_fuse < 0)
        return;
    const std::string options =
        "fd=" + std::to_string(m_fuse) + ",rootmode=40000,user_id=0,group_id=0";
    m_mounted =
        ::mount("silent", folder.c_str(), "fuse.sshfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

SilentShare::~SilentShare()
{
    if (m_mounted)
        ::umount2(m_folder.c_str(), MNT_DETACH);
    // Closing the device ends every call still waiting on the share.
    if (m_fuse >= 0)
        ::close(m_fuse);
}

} // namespace test
