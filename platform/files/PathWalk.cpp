#include "platform/files/PathWalk.h"

#include "platform/core/Failure.h"
#include "platform/core/PathText.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <linux/openat2.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int FolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Links followed in one path, as the kernel allows.
constexpr int LinkLimit = 40;
constexpr long KeptNanoseconds = 1'000'000'000;
constexpr std::size_t ClosedTogether = 64;

// A folder made again on the way back: ours, and open to others only as the umask allows
// where the folder above is ours too. Never inside another user's folder.
std::optional<FileFailure> makeFolder(int parent, const std::string& name)
{
    if (!mayReceive(parent))
        return FileFailure{EPERM, "The folder it goes into belongs to another user."};
    struct stat above = {};
    const bool ours = ::fstat(parent, &above) == 0 && above.st_uid == runningUser();
    if (::mkdirat(parent, name.c_str(), ours ? 0777 : 0700) != 0 && errno != EEXIST)
        return failureOf(errno);
    return std::nullopt;
}

// Where a walk stands: the folder reached (owned once it left where it started), the
// parts of its path with the links followed.
struct Walk
{
    int folder = -1;
    OwnedFd owned;
    std::vector<std::string> resolved;
    int links = 0;
    bool throughLink = false;

    void enter(OwnedFd next)
    {
        owned = std::move(next);
        folder = owned.get();
    }
};

// Walks the parts from walk.folder on.
std::optional<FileFailure> walkParts(Walk& walk, std::deque<std::string> todo,
                                     MissingFolders missing)
{
    while (!todo.empty()) {
        const std::string part = todo.front();
        todo.pop_front();
        if (part == ".")
            continue;
        if (part == "..") {
            OwnedFd up(::openat(walk.folder, "..", FolderFlags));
            if (!up.valid())
                return failureOf(errno);
            walk.enter(std::move(up));
            if (!walk.resolved.empty())
                walk.resolved.pop_back();
            continue;
        }
        OwnedFd next(::openat(walk.folder, part.c_str(), FolderFlags));
        if (!next.valid() && errno == ENOENT && missing == MissingFolders::Make) {
            if (auto refused = makeFolder(walk.folder, part))
                return refused;
            next = OwnedFd(::openat(walk.folder, part.c_str(), FolderFlags));
        }
        if (next.valid()) {
            walk.enter(std::move(next));
            walk.resolved.push_back(part);
            continue;
        }
        const int error = errno;
        struct stat status = {};
        if ((error != ENOTDIR && error != ELOOP) ||
            ::fstatat(walk.folder, part.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(status.st_mode))
            return failureOf(error == ELOOP ? ENOTDIR : error);
        if (!trustedFolder(walk.folder) || ++walk.links > LinkLimit)
            return failureOf(ELOOP);
        std::string target(PATH_MAX, '\0');
        const ssize_t length =
            ::readlinkat(walk.folder, part.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size())
            return failureOf(length < 0 ? errno : ENAMETOOLONG);
        target.resize(static_cast<std::size_t>(length));
        walk.throughLink = true;
        if (target[0] == '/') {
            OwnedFd root(::open("/", FolderFlags));
            if (!root.valid())
                return failureOf(errno);
            walk.enter(std::move(root));
            walk.resolved.clear();
        }
        auto targetParts = pathParts(target);
        todo.insert(todo.begin(), targetParts.begin(), targetParts.end());
    }
    return std::nullopt;
}

std::string joinedPath(const std::vector<std::string>& parts)
{
    std::string path;
    for (const auto& part : parts) {
        path += '/';
        path += part;
    }
    return path.empty() ? "/" : path;
}

// The parts of the folder of an absolute path and its last part; false for a path that
// names no entry in a folder.
bool splitEntry(const std::string& nativePath, std::deque<std::string>& folder, std::string& name)
{
    folder = pathParts(nativePath);
    if (nativePath.empty() || nativePath[0] != '/' || folder.empty() || folder.back() == "." ||
        folder.back() == "..")
        return false;
    name = folder.back();
    folder.pop_back();
    return true;
}

// One folder of the kept walk: the part of the path as written that reached it.
struct Level
{
    std::string part;
    WalkedFolder folder;
    std::vector<std::string> resolved;
    int links = 0;
};

struct Kept
{
    bool active = false;
    int depth = 0;
    unsigned generation = 0;
    timespec since = {};
    std::vector<Level> levels; // from "/" on
    std::optional<std::string> lookPath;
    std::optional<EntryLook> look;
    std::vector<int> closing;

    void closeAll()
    {
        std::sort(closing.begin(), closing.end());
        for (std::size_t k = 0; k < closing.size();) {
            std::size_t end = k + 1;
            while (end < closing.size() && closing[end] == closing[end - 1] + 1)
                ++end;
            if (end - k == 1 || ::syscall(SYS_close_range, static_cast<unsigned>(closing[k]),
                                          static_cast<unsigned>(closing[end - 1]), 0U) != 0) {
                for (std::size_t one = k; one < end; ++one)
                    ::close(closing[one]);
            }
            k = end;
        }
        closing.clear();
    }

    // Drops what is kept once it is older than a second.
    void refresh()
    {
        if (!active)
            return;
        timespec now = {};
        ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
        const long long age =
            (now.tv_sec - since.tv_sec) * 1'000'000'000LL + (now.tv_nsec - since.tv_nsec);
        if (age < KeptNanoseconds)
            return;
        levels.clear();
        look.reset();
        lookPath.reset();
        since = now;
        ++generation;
    }
};

Kept& kept()
{
    static Kept state;
    return state;
}

// A folder of the kept walk: closed with others once the walk leaves it.
std::shared_ptr<const OwnedFd> keptFolder(OwnedFd fd)
{
    return std::shared_ptr<const OwnedFd>(new OwnedFd(std::move(fd)), [](const OwnedFd* folder) {
        closeSoon(OwnedFd(const_cast<OwnedFd*>(folder)->release()));
        delete folder;
    });
}

std::optional<WalkedParent> walkKept(std::deque<std::string> parts, std::string name,
                                     FileFailure& failure, MissingFolders missing)
{
    auto& levels = kept().levels;
    if (levels.empty()) {
        Level root;
        root.folder.fd = keptFolder(OwnedFd(::open("/", FolderFlags)));
        if (!root.folder.fd->valid()) {
            failure = failureOf(errno);
            return std::nullopt;
        }
        root.folder.resolvedPath = "/";
        levels.push_back(std::move(root));
    }
    std::size_t shared = 1;
    while (shared < levels.size() && shared - 1 < parts.size() &&
           levels[shared].part == parts[shared - 1])
        ++shared;
    levels.resize(shared);
    for (std::size_t k = shared - 1; k < parts.size(); ++k) {
        const Level& above = levels.back();
        Walk walk;
        walk.folder = above.folder.get();
        walk.resolved = above.resolved;
        walk.links = above.links;
        if (auto refused = walkParts(walk, {parts[k]}, missing)) {
            failure = std::move(*refused);
            return std::nullopt;
        }
        Level level;
        level.part = parts[k];
        level.folder.fd = walk.owned.valid() ? keptFolder(std::move(walk.owned)) : above.folder.fd;
        level.folder.throughLink = above.folder.throughLink || walk.throughLink;
        level.folder.resolvedPath = joinedPath(walk.resolved);
        level.resolved = std::move(walk.resolved);
        level.links = walk.links;
        levels.push_back(std::move(level));
    }
    return WalkedParent{levels.back().folder, std::move(name)};
}

// The entry opened for reading without waiting. In a run by the path of its folder as the
// walk resolved it, as it is now and through no link: a folder renamed, removed or put in a
// trash since the walk kept it is not reached through what was kept.
OwnedFd openEntry(const WalkedParent& parent)
{
    constexpr int Flags = O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
    static bool withoutOpenat2 = false;
    if (kept().active && !withoutOpenat2) {
        open_how how = {};
        how.flags = Flags;
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const std::string path = joinPath(parent.folder.resolvedPath, parent.name);
        const long fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
        if (fd >= 0 || errno != ENOSYS)
            return OwnedFd(static_cast<int>(fd));
        withoutOpenat2 = true;
    }
    return OwnedFd(::openat(parent.folder.get(), parent.name.c_str(), Flags));
}

std::optional<EntryLook> lookOnce(const std::string& nativePath, FileFailure& failure)
{
    auto parent = walkToParent(nativePath, failure);
    if (!parent)
        return std::nullopt;
    EntryLook look;
    const char* name = parent->name.c_str();
    look.opened = openEntry(*parent);
    if (look.opened.valid()) {
        if (::fstat(look.opened.get(), &look.status) != 0) {
            failure = failureOf(errno);
            return std::nullopt;
        }
        if (!S_ISREG(look.status.st_mode))
            look.opened.reset();
    } else {
        look.openError = errno;
        if (look.openError == ENOENT || look.openError == ENOTDIR) {
            failure = failureOf(look.openError);
            return std::nullopt;
        }
        if (::fstatat(parent->folder.get(), name, &look.status, AT_SYMLINK_NOFOLLOW) != 0) {
            failure = failureOf(errno);
            return std::nullopt;
        }
        // A link met on the way, not the entry itself: swapped in since the walk.
        if (look.openError == ELOOP && !S_ISLNK(look.status.st_mode)) {
            failure = failureOf(ELOOP);
            return std::nullopt;
        }
        if (!S_ISREG(look.status.st_mode))
            look.openError = 0;
    }
    look.parent = std::move(*parent);
    return look;
}

// With errno set to why there is none: the contract of lookAt and takeLook.
std::optional<EntryLook> lookNow(const std::string& nativePath)
{
    FileFailure failure;
    auto look = lookOnce(nativePath, failure);
    // A folder renamed or a link swapped in since the kept walk reached it: the path is
    // walked afresh once.
    if (!look && kept().active && !kept().levels.empty() &&
        (failure.error == ENOENT || failure.error == ENOTDIR || failure.error == ELOOP)) {
        kept().levels.clear();
        look = lookOnce(nativePath, failure);
    }
    if (!look)
        errno = failure.error;
    return look;
}

} // namespace

std::deque<std::string> pathParts(const std::string& path)
{
    std::deque<std::string> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        if (end > at)
            parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

uid_t runningUser()
{
    // A child forked to take another user's part asks again.
    static uid_t user = static_cast<uid_t>(-1);
    static const bool forgetInChild =
        ::pthread_atfork(nullptr, nullptr, [] { user = static_cast<uid_t>(-1); }) == 0;
    (void)forgetInChild;
    if (user == static_cast<uid_t>(-1))
        user = ::geteuid();
    return user;
}

bool mayReceive(int folder)
{
    struct stat status = {};
    return ::fstat(folder, &status) == 0 &&
           (runningUser() == 0 || status.st_uid == runningUser() || status.st_uid == 0);
}

bool trustedFolder(int folder)
{
    struct stat status = {};
    return ::fstat(folder, &status) == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
           (status.st_uid == runningUser() || status.st_uid == 0);
}

std::optional<OpenedParent> openParent(const std::string& nativePath, FileFailure& failure,
                                       MissingFolders missing)
{
    std::deque<std::string> parts;
    OpenedParent opened;
    if (!splitEntry(nativePath, parts, opened.name)) {
        failure = failureOf(ENOENT);
        return std::nullopt;
    }
    Walk walk;
    walk.enter(OwnedFd(::open("/", FolderFlags)));
    if (auto refused = walkParts(walk, std::move(parts), missing)) {
        failure = std::move(*refused);
        return std::nullopt;
    }
    opened.folder = std::move(walk.owned);
    opened.resolvedPath = joinedPath(walk.resolved);
    return opened;
}

KeptWalk::KeptWalk()
{
    auto& state = kept();
    if (state.depth++ > 0)
        return;
    state.active = true;
    ++state.generation;
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &state.since);
}

KeptWalk::~KeptWalk()
{
    auto& state = kept();
    if (--state.depth > 0)
        return;
    state.closeAll();
    state.active = false;
    state.levels.clear();
    state.look.reset();
    state.lookPath.reset();
}

void closeSoon(OwnedFd fd)
{
    auto& state = kept();
    if (!state.active || !fd.valid())
        return;
    state.closing.push_back(fd.release());
    if (state.closing.size() >= ClosedTogether)
        state.closeAll();
}

bool KeptWalk::active()
{
    return kept().active;
}

unsigned KeptWalk::generation()
{
    return kept().active ? kept().generation : 0;
}

std::optional<WalkedParent> walkToParent(const std::string& nativePath, FileFailure& failure,
                                         MissingFolders missing)
{
    auto& state = kept();
    state.refresh();
    std::deque<std::string> parts;
    std::string name;
    if (!splitEntry(nativePath, parts, name)) {
        failure = failureOf(ENOENT);
        return std::nullopt;
    }
    bool plain = true;
    for (const auto& part : parts)
        plain = plain && part != "." && part != "..";
    if (state.active && plain)
        return walkKept(std::move(parts), std::move(name), failure, missing);
    auto opened = openParent(nativePath, failure, missing);
    if (!opened)
        return std::nullopt;
    WalkedParent parent;
    parent.folder.fd = std::make_shared<const OwnedFd>(std::move(opened->folder));
    parent.folder.resolvedPath = std::move(opened->resolvedPath);
    parent.name = std::move(opened->name);
    // Whether a link was followed is only known to a kept walk; outside one, say so.
    parent.folder.throughLink = true;
    return parent;
}

const EntryLook* lookAt(const std::string& nativePath)
{
    auto& state = kept();
    state.refresh();
    if (!state.active) {
        // Only held for the caller, until the next look, and not open: a file of ours held
        // open would look in use to a lease of our own.
        static std::optional<EntryLook> last;
        last = lookNow(nativePath);
        if (!last)
            return nullptr;
        last->opened.reset();
        return &*last;
    }
    if (state.look && state.lookPath == nativePath)
        return &*state.look;
    state.look.reset();
    state.lookPath.reset();
    auto look = lookNow(nativePath);
    if (!look)
        return nullptr;
    state.look = std::move(look);
    state.lookPath = nativePath;
    return &*state.look;
}

std::optional<EntryLook> takeLook(const std::string& nativePath)
{
    auto& state = kept();
    state.refresh();
    if (state.look && state.lookPath == nativePath) {
        std::optional<EntryLook> taken = std::move(state.look);
        state.look.reset();
        state.lookPath.reset();
        return taken;
    }
    return lookNow(nativePath);
}

} // namespace platform
