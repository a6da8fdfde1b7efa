#include "platform/files/FileCopy.h"

#include "platform/core/Descriptor.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// Small enough that a stop is seen at once, large enough that the calls cost nothing.
constexpr std::size_t Chunk = 1 << 20;
constexpr std::uint64_t MinimumFree = std::uint64_t(1) << 30;

bool rangeCopyUnfit(int error)
{
    // Across filesystems of different kinds, and on those that cannot, the kernel refuses.
    return error == EXDEV || error == EINVAL || error == EOPNOTSUPP || error == ENOSYS ||
           error == EBADF || error == EPERM;
}

} // namespace

int roomForCopy(int folder, std::uint64_t bytes, SpareRoom spare)
{
    struct statvfs status = {};
    if (::fstatvfs(folder, &status) != 0)
        return errno;
    const std::uint64_t unit = status.f_frsize ? status.f_frsize : status.f_bsize;
    const std::uint64_t total = std::uint64_t(status.f_blocks) * unit;
    const std::uint64_t available = std::uint64_t(status.f_bavail) * unit;
    const std::uint64_t kept = spare == SpareRoom::Keep ? std::max(MinimumFree, total / 20) : 0;
    return available >= bytes && available - bytes >= kept ? 0 : ENOSPC;
}

std::uint64_t copySize(const struct stat& status)
{
    return std::uint64_t(status.st_blocks) * 512;
}

int copyFileData(int source, const struct stat& sourceStatus, int target, Flush flush,
                 const std::function<bool()>& stop)
{
    const off_t size = sourceStatus.st_size;
    bool rangeCopy = true;
    std::vector<char> buffer;
    off_t at = 0;
    while (at < size) {
        off_t data = ::lseek(source, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // nothing but a hole up to the end
        off_t hole = data < 0 ? size : ::lseek(source, data, SEEK_HOLE);
        if (data < 0) {
            // A filesystem that cannot tell its holes: all of it is data.
            if (errno != EINVAL && errno != EOPNOTSUPP)
                return errno;
            data = at;
        }
        if (hole < 0 || hole > size)
            hole = size;
        for (off_t position = data; position < hole;) {
            if (stop && stop())
                return ECANCELED;
            const std::size_t wanted = std::min<std::uint64_t>(Chunk, hole - position);
            ssize_t done = -1;
            if (rangeCopy) {
                done = retryInterrupted([&] {
                    off_t in = position;
                    off_t out = position;
                    return ::copy_file_range(source, &in, target, &out, wanted, 0);
                });
                if (done < 0 && rangeCopyUnfit(errno)) {
                    rangeCopy = false;
                    continue;
                }
            } else {
                buffer.resize(Chunk);
                done = retryInterrupted(
                    [&] { return ::pread(source, buffer.data(), wanted, position); });
                for (ssize_t written = 0; done > 0 && written < done;) {
                    const ssize_t step = retryInterrupted([&] {
                        return ::pwrite(target, buffer.data() + written,
                                        std::size_t(done - written), position + written);
                    });
                    if (step <= 0)
                        return step < 0 ? errno : EIO;
                    written += step;
                }
            }
            if (done < 0)
                return errno;
            // Shorter than it was when the copy began: it is being changed.
            if (done == 0)
                return EAGAIN;
            position += done;
        }
        at = hole;
    }
    if (stop && stop())
        return ECANCELED;
    if (::ftruncate(target, size) != 0)
        return errno;
    if (::fchmod(target, sourceStatus.st_mode & 07777) != 0)
        return errno;
    const timespec times[2] = {sourceStatus.st_atim, sourceStatus.st_mtim};
    if (::futimens(target, times) != 0)
        return errno;
    if (flush == Flush::Yes && ::fsync(target) != 0)
        return errno;
    return 0;
}

} // namespace platform
