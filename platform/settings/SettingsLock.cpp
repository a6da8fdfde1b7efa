#include "platform/settings/SettingsLock.h"

#include "platform/core/Termination.h"
#include "platform/files/Folders.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The folder and its missing parents, each made for its owner alone.
int makeFolder(const std::string& folder)
{
    if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST)
        return 0;
    if (errno != ENOENT)
        return errno;
    const std::size_t slash = folder.rfind('/');
    if (slash == 0 || slash == std::string::npos)
        return ENOENT;
    if (const int error = makeFolder(folder.substr(0, slash)))
        return error;
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}

// 0, EWOULDBLOCK, or why the filesystem cannot lock.
int tryLock(int fd, SettingsHold hold)
{
    struct flock range = {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = hold == SettingsHold::Write ? 0 : 1;
    range.l_len = 1;
    if (retryInterrupted([&] { return ::fcntl(fd, F_OFD_SETLK, &range); }) == 0)
        return 0;
    if (errno == EAGAIN || errno == EACCES)
        return EWOULDBLOCK;
    return errno == EINVAL || errno == EOPNOTSUPP ? ENOLCK : errno;
}

} // namespace

SettingsLock::SettingsLock(SettingsHold hold)
{
    const std::string folder = windowsDirectoryNative();
    if ((m_error = makeFolder(folder)) != 0)
        return;
    // Non-blocking, so a FIFO put in its place cannot hang the open.
    m_file =
        OwnedFd(::open((folder + "/" + SettingsLockName).c_str(),
                       O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600));
    struct stat status = {};
    if (!m_file.valid() || ::fstat(m_file.get(), &status) != 0) {
        m_error = errno;
        return;
    }
    if (!S_ISREG(status.st_mode)) {
        m_error = EINVAL;
        m_file.reset();
        return;
    }

    using Clock = std::chrono::steady_clock;
    const bool waits = hold == SettingsHold::Write;
    const auto deadline = Clock::now() + std::chrono::milliseconds(SettingsWriteWaitMs);
    // Tried once in any case, as an orderly exit saves; after a termination signal never
    // again, so that the program ends at once.
    m_error = tryLock(m_file.get(), hold);
    while (waits && m_error == EWOULDBLOCK && !terminationSignalled()) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            std::fprintf(stderr, "vorlax: %s/%s stayed locked by another program for %d seconds\n",
                         folder.c_str(), SettingsLockName, SettingsWriteWaitMs / 1000);
            break;
        }
        // A signal cuts the pause short.
        const auto pause = std::min<Clock::duration>(left, std::chrono::milliseconds(20));
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(pause).count();
        const timespec step = {0, static_cast<long>(ns)};
        ::nanosleep(&step, nullptr);
        if (!terminationSignalled())
            m_error = tryLock(m_file.get(), hold);
    }
    if (m_error != 0)
        m_file.reset();
}

} // namespace platform
