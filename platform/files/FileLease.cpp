#include "platform/files/FileLease.h"

#include "platform/files/PathWalk.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>

namespace platform {

FileLease::FileLease(int fd) : m_fd(fd)
{
    static const bool ignoring = [] {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        return ::sigaction(SIGIO, &ignore, nullptr) == 0;
    }();
    (void)ignoring;
    if (::fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
        m_held = true;
        return;
    }
    m_error = errno == EINVAL ? 0 : errno;
    if (m_error == EBUSY)
        m_error = EAGAIN;
}

FileLease::~FileLease()
{
    if (m_held)
        ::fcntl(m_fd, F_SETLEASE, F_UNLCK);
}

void FileLease::closeWith(OwnedFd& file)
{
    file.reset();
    m_held = false;
}

bool fileInUse(const std::string& nativePath)
{
    // Only a file is opened at all (the look opens nothing else), and the look is taken:
    // a descriptor of ours still open would itself refuse the lease.
    const auto look = takeLook(nativePath);
    if (!look || !look->opened.valid())
        return false;
    const FileLease lease(look->opened.get());
    return lease.error() == EAGAIN;
}

} // namespace platform
