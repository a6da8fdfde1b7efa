#include "platform/core/Descriptor.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

void OwnedFd::reset(int fd)
{
    if (m_fd >= 0) {
        ErrnoGuard keep;
        ::close(m_fd);
    }
    m_fd = fd;
}

bool OwnedFd::close()
{
    const int fd = std::exchange(m_fd, -1);
    return ::close(fd) == 0;
}

FolderEntries::FolderEntries(int folder)
{
    OwnedFd copy(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (!copy.valid())
        return;
    // The stream reads from where the descriptor stands; another reader may have moved it.
    ::lseek(copy.get(), 0, SEEK_SET);
    if ((m_stream = ::fdopendir(copy.get())))
        copy.release();
}

FolderEntries::~FolderEntries()
{
    if (m_stream) {
        ErrnoGuard keep;
        ::closedir(m_stream);
    }
}

const dirent* FolderEntries::next()
{
    while (const dirent* entry = ::readdir(m_stream)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            return entry;
    }
    return nullptr;
}

} // namespace platform
