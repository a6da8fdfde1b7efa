#include "platform/Folders.h"
#include "platform/Profile.h"
#include "platform/ProfileDocument.h"
#include "platform/RegistryStorage.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Keeps errno across the clean-up calls of a failure path.
class ErrnoGuard
{
public:
    ErrnoGuard() : m_saved(errno) {}
    ~ErrnoGuard() { errno = m_saved; }
    ErrnoGuard(const ErrnoGuard&) = delete;
    ErrnoGuard& operator=(const ErrnoGuard&) = delete;

private:
    int m_saved;
};

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0) {
            ErrnoGuard keep;
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // close() reports late write errors (some network filesystems only tell then).
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool isBareFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

// The contents of a regular file; nullopt with errno set otherwise (ENOENT when missing).
std::optional<std::string> readRegularFile(const std::string& path, struct stat* info)
{
    // Non-blocking, so that a FIFO in the file's place cannot hang the open.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file.valid() || ::fstat(file.get(), info) != 0)
        return std::nullopt;
    if (!S_ISREG(info->st_mode)) {
        errno = S_ISDIR(info->st_mode) ? EISDIR : EINVAL;
        return std::nullopt;
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

bool writeAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// A fresh file beside target, created exclusively; the mode passes through the umask as
// an ordinary creation does.
int createTemporary(const std::string& target, std::string& name)
{
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path path(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto stamp = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".%d.%u.%llx", static_cast<int>(::getpid()),
                      counter.fetch_add(1), stamp & 0xffffffULL);
        name = (path.parent_path() / ("." + path.filename().string() + suffix)).string();
        const int fd =
            ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

void syncFolder(const std::string& folder)
{
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        ::fsync(dir.get());
}

// Replaces the file in one step: readers and a crash see the old or the new text, never a
// mixture. On failure the file is untouched, the temporary file is gone, errno tells why.
bool replaceFile(const std::string& target, const std::string& text, const struct stat* old)
{
    std::string temporaryName;
    FileDescriptor file(createTemporary(target, temporaryName));
    if (!file.valid())
        return false;
    bool ok = true;
    if (old) {
        // Keep the owner (best effort: only root may give a file away) and the permissions.
        if (old->st_uid != ::geteuid() || old->st_gid != ::getegid()) {
            ErrnoGuard keep;
            (void)::fchown(file.get(), old->st_uid, old->st_gid);
        }
        ok = ::fchmod(file.get(), old->st_mode & 07777) == 0;
    }
    ok = ok && writeAll(file.get(), text) && ::fsync(file.get()) == 0;
    ok = file.close() && ok;
    ok = ok && ::rename(temporaryName.c_str(), target.c_str()) == 0;
    if (!ok) {
        ErrnoGuard keep;
        ::unlink(temporaryName.c_str());
        return false;
    }
    syncFolder(std::filesystem::path(target).parent_path().string());
    return true;
}

class PosixProfileService : public ProfileService
{
public:
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& fileName) override
    {
        std::string fallback = defaultValue;
        fallback.erase(fallback.find_last_not_of(" \t") + 1);
        if (!isBareFileName(fileName) || section.empty() || key.empty())
            return fallback;
        struct stat info
        {
        };
        const auto text = readRegularFile(pathOf(fileName), &info);
        if (!text)
            return fallback;
        return ProfileDocument(*text).value(section, key).value_or(fallback);
    }

    bool writeString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& fileName) override
    {
        if (!isBareFileName(fileName) || !ProfileDocument::isValidEntry(section, key, value)) {
            errno = EINVAL;
            return false;
        }
        // Read, change and replace as one step, for the threads of this process and for
        // other programs writing the same file.
        std::lock_guard<std::mutex> lock(m_writing);
        const FolderLock folderLock(windowsDirectoryNative());
        const std::string target = resolveLink(pathOf(fileName));
        struct stat info
        {
        };
        auto text = readRegularFile(target, &info);
        const bool existed = text.has_value();
        if (!existed && errno != ENOENT)
            return false;
        ProfileDocument document(existed ? *text : std::string());
        document.setValue(section, key, value);
        const std::string changed = document.text();
        if (existed && changed == *text)
            return true;
        return replaceFile(target, changed, existed ? &info : nullptr);
    }

    bool fileExists(const std::string& fileName) override
    {
        struct stat info
        {
        };
        return isBareFileName(fileName) && ::stat(pathOf(fileName).c_str(), &info) == 0 &&
               S_ISREG(info.st_mode);
    }

private:
    static std::string pathOf(const std::string& fileName)
    {
        return windowsDirectoryNative() + "/" + fileName;
    }

    std::mutex m_writing;
};

} // namespace

std::unique_ptr<ProfileService> ProfileService::createDefault()
{
    return std::make_unique<PosixProfileService>();
}

} // namespace platform
