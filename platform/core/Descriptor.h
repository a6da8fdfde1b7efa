#pragma once

#include <cerrno>
#include <dirent.h>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// Keeps errno across cleanup, so a failure path can still report the first error.
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

// A descriptor that closes itself (keeping errno, so a failure path can still report it).
class OwnedFd
{
public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : m_fd(fd) {}
    ~OwnedFd() { reset(); }
    OwnedFd(OwnedFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd = -1);
    // Closes now and tells whether that worked: some network filesystems report write
    // errors only then.
    bool close();
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd = -1;
};

// Repeats a system call for as long as a signal interrupts it; returns its last result.
template <class Call> auto retryInterrupted(Call&& call)
{
    for (;;) {
        auto result = call();
        if (!(result == -1 && errno == EINTR))
            return result;
    }
}

// The entries of an open folder, read through a descriptor of its own so that the
// folder's descriptor stays the caller's. Not valid when the folder could not be read
// (errno tells why); nothing is left open either way.
class FolderEntries
{
public:
    explicit FolderEntries(int folder);
    ~FolderEntries();
    FolderEntries(const FolderEntries&) = delete;
    FolderEntries& operator=(const FolderEntries&) = delete;

    bool valid() const { return m_stream != nullptr; }
    // The next entry other than "." and "..", or null at the end.
    const dirent* next();

private:
    DIR* m_stream = nullptr;
};

// The names in an open folder that keep() takes, read whole before the caller acts on any,
// so that removing them does not disturb the reading; none when it cannot be read.
template <class Keep> std::vector<std::string> namesIn(int folder, Keep&& keep)
{
    std::vector<std::string> names;
    FolderEntries entries(folder);
    if (!entries.valid())
        return names;
    while (const dirent* entry = entries.next()) {
        if (keep(std::string_view(entry->d_name)))
            names.emplace_back(entry->d_name);
    }
    return names;
}

} // namespace platform
