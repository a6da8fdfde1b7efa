#include "platform/core/FileStorage.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

std::string temporaryPrefix(const std::filesystem::path& target)
{
    return "." + target.filename().string() + ".";
}

// The part after the prefix: process id, counter and a stamp in hex, each non-empty.
bool isTemporarySuffix(std::string_view suffix)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const auto isHex = [&](char c) { return isDigit(c) || (c >= 'a' && c <= 'f'); };
    int field = 0;
    std::size_t length = 0;
    for (const char c : suffix) {
        if (c == '.') {
            if (length == 0 || ++field > 2)
                return false;
            length = 0;
        } else if (field < 2 ? isDigit(c) : isHex(c)) {
            ++length;
        } else {
            return false;
        }
    }
    return field == 2 && length > 0;
}

// A fresh file beside target, named after it and created exclusively; the mode passes
// through the umask as an ordinary creation does.
OwnedFd createTemporary(const std::string& target, std::string& name)
{
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path path(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto stamp = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, "%d.%u.%llx", static_cast<int>(::getpid()),
                      counter.fetch_add(1), stamp & 0xffffffULL);
        name = (path.parent_path() / (temporaryPrefix(path) + suffix)).string();
        OwnedFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
        if (fd.valid() || errno != EEXIST)
            return fd;
    }
    return OwnedFd();
}

void syncFolder(const std::string& folder)
{
    OwnedFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        ::fsync(dir.get());
}

} // namespace

void removeStaleTemporaries(const std::string& path)
{
    // Through a link the temporaries lie in another folder, which the caller's lock may
    // not cover: a writer there could lose the one it is writing.
    if (resolveLink(path) != path)
        return;
    const std::filesystem::path target(path);
    const std::string folder = target.parent_path().empty() ? "." : target.parent_path().string();
    const std::string prefix = temporaryPrefix(target);
    OwnedFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid())
        return;
    const std::vector<std::string> stale = namesIn(dir.get(), [&](std::string_view name) {
        return name.starts_with(prefix) && isTemporarySuffix(name.substr(prefix.size()));
    });
    for (const std::string& name : stale) {
        struct stat info = {};
        // Never a link or anything but a plain file, whatever its name says.
        if (::fstatat(dir.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode))
            ::unlinkat(dir.get(), name.c_str(), 0);
    }
}

std::string resolveLink(const std::string& path)
{
    namespace fs = std::filesystem;
    fs::path current(path);
    // As many links as the kernel itself follows; a loop is left for the write to report.
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(current, ec))
            return current.string();
        const fs::path target = fs::read_symlink(current, ec);
        if (ec)
            break;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return path;
}

int writeFileAtomically(const std::string& linkOrFile, const std::string& content, Flush flush)
{
    const std::string target = resolveLink(linkOrFile);
    struct stat old = {};
    const bool existed = ::lstat(target.c_str(), &old) == 0;
    if (existed && S_ISLNK(old.st_mode))
        return ELOOP;

    std::string temporaryName;
    OwnedFd file = createTemporary(target, temporaryName);
    if (!file.valid())
        return errno;
    bool ok = true;
    if (existed) {
        // Keep the owner (best effort: only root may give a file away) and the permissions.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            ErrnoGuard keep;
            // A void cast does not quiet warn_unused_result under _FORTIFY_SOURCE.
            [[maybe_unused]] const int given = ::fchown(file.get(), old.st_uid, old.st_gid);
        }
        ok = ::fchmod(file.get(), old.st_mode & 07777) == 0;
    }
    ok = ok && writeAll(file.get(), content) && (flush == Flush::No || ::fsync(file.get()) == 0);
    ok = file.close() && ok;
    ok = ok && ::rename(temporaryName.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int error = errno;
        ::unlink(temporaryName.c_str());
        return error;
    }
    // The rename itself must reach the disk too.
    if (flush == Flush::Yes)
        syncFolder(std::filesystem::path(target).parent_path().string());
    return 0;
}

std::optional<std::string> readWholeFile(const std::string& path, int* error)
{
    auto fail = [error] {
        if (error)
            *error = errno;
        return std::nullopt;
    };
    // Non-blocking, so that a FIFO in the file's place cannot hang the open.
    OwnedFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info = {};
    if (!file.valid() || ::fstat(file.get(), &info) != 0)
        return fail();
    if (!S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return fail();
    }
    // Sized by the file once: a large file is neither copied as it grows nor cleared
    // first, only copied once from a buffer that stays in the cache. The size is only a
    // hint; a file that grows meanwhile is read to its end.
    std::string text;
    text.reserve(static_cast<std::size_t>(info.st_size));
    const std::size_t bufferSize =
        std::clamp<std::size_t>(static_cast<std::size_t>(info.st_size) + 1, 4096, 1 << 20);
    const std::unique_ptr<char[]> buffer(new char[bufferSize]);
    for (;;) {
        const ssize_t got =
            retryInterrupted([&] { return ::read(file.get(), buffer.get(), bufferSize); });
        if (got < 0)
            return fail();
        if (got == 0)
            return text;
        text.append(buffer.get(), static_cast<std::size_t>(got));
    }
}

FolderLock::FolderLock(const std::string& folder)
    : m_folder(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    // Without a lock (a filesystem that has none) the write still goes ahead.
    if (m_folder.valid())
        retryInterrupted([&] { return ::flock(m_folder.get(), LOCK_EX); });
}

bool writeAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written =
            retryInterrupted([&] { return ::write(fd, text.data() + done, text.size() - done); });
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace platform
