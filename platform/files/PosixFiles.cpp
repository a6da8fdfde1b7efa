#include "platform/files/PosixFiles.h"

#include "platform/drives/Drives.h"
#include "platform/drives/MountPoints.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <list>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

namespace platform {

namespace {

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
constexpr std::size_t SpareSearches = 32;
// Folders are read into one buffer that every search shares, kept unless a huge folder
// made it big; each search keeps a copy of just what its folder gave.
constexpr std::size_t ReadBufferLimit = 1 << 20;
constexpr std::size_t FirstReadSize = 32 << 10;
// getdents64 wants room for at least one whole record.
constexpr std::size_t MinimumRead = 4096;

char foldLetter(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isDotName(std::string_view name)
{
    return name == "." || name == "..";
}

// "*" any run, "?" one character; letters match in either case.
bool wildcardMatch(std::string_view pattern, std::string_view name)
{
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starAt = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            starName = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || foldLetter(pattern[p]) == foldLetter(name[n]))) {
            ++p;
            ++n;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

// The folder as searches compare it: "\" only, no doubled or trailing separators, the
// drive letter in upper case. "C:\" and "C:" are both "C:". Made in two steps so that a
// key can be carried on over more text: appendToKey keeps one trailing separator, which
// finishKey drops.
void appendToKey(std::string& key, std::string_view text)
{
    for (char c : text) {
        if (c == '/')
            c = '\\';
        if (c == '\\' && !key.empty() && key.back() == '\\')
            continue;
        key += c;
    }
}

void finishKey(std::string& key)
{
    while (!key.empty() && key.back() == '\\')
        key.pop_back();
    if (key.size() >= 2 && key[1] == ':')
        key[0] = foldLetter(key[0]);
}

bool isDriveRoot(std::string_view key)
{
    return key.size() == 2 && key[1] == ':';
}

std::uint32_t kindOfMode(mode_t mode)
{
    if (S_ISDIR(mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    if (S_ISREG(mode))
        return FILE_ATTRIBUTE_ARCHIVE;
    return FILE_ATTRIBUTE_SYSTEM;
}

std::uint32_t kindOfType(unsigned char type)
{
    if (type == DT_DIR)
        return FILE_ATTRIBUTE_DIRECTORY;
    if (type == DT_REG)
        return FILE_ATTRIBUTE_ARCHIVE;
    return FILE_ATTRIBUTE_SYSTEM;
}

std::uint32_t hiddenBit(std::string_view name)
{
    return !name.empty() && name.front() == '.' && !isDotName(name) ? FILE_ATTRIBUTE_HIDDEN : 0;
}

struct Identity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    FolderKey key;
    bool mountRoot = false;
    bool mountRootKnown = false;

    bool sameFolder(const Identity& other) const
    {
        return device == other.device && inode == other.inode;
    }
};

bool identityOf(int fd, Identity& identity)
{
    struct statx status = {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_INO | STATX_MNT_ID, &status) !=
        0)
        return false;
    identity.device = makedev(status.stx_dev_major, status.stx_dev_minor);
    identity.inode = status.stx_ino;
    identity.key = folderKeyOf(status);
    identity.mountRootKnown = status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT;
    identity.mountRoot = status.stx_attributes & STATX_ATTR_MOUNT_ROOT;
    return true;
}

bool outOfDescriptors()
{
    return errno == EMFILE || errno == ENFILE;
}

// A folder a search has read. It keeps its descriptor, while the budget allows, so that
// searches of its subfolders and the details of its entries open relative to it.
struct Folder
{
    std::shared_ptr<Folder> parent; // null when opened by its path
    std::string name;               // within the parent
    std::string nativePath;         // when opened by its path
    Identity identity;
    int fd = -1;
    std::list<Folder*>* recentlyUsed = nullptr;
    std::list<Folder*>::iterator useSlot;

    ~Folder()
    {
        if (fd >= 0) {
            ::close(fd);
            recentlyUsed->erase(useSlot);
        }
    }
};

struct Search
{
    std::shared_ptr<Folder> folder;
    std::string pattern;
    bool matchesEverything = false;
    bool literal = false;
    unsigned flags = 0;

    // Its folder's text and key are the first textLength and keyLength bytes of the
    // latest search's while on the trail, or its own key off it: a deep tree then holds
    // each name once rather than a whole path per level.
    bool onTrail = false;
    std::size_t textLength = 0;
    std::size_t keyLength = 0;
    std::string ownKey;
    std::uint64_t started = 0;

    // The entries, exactly as many bytes as the folder gave.
    std::unique_ptr<char[]> buffer;
    std::size_t end = 0;
    std::size_t next = 0;
    int dotsLeft = 0; // "." and ".." still to deliver
    // The names of the folder's entries that are mount points.
    MountPointIndex::Inside mountPoints;

    // The entry last delivered.
    const char* name = nullptr;
    std::size_t nameLength = 0;
};

} // namespace

class PosixFiles::Impl
{
public:
    explicit Impl(MountSource source) : mountSource(std::move(source))
    {
        if (!mountSource) {
            mountSource = [watch = std::make_shared<MountTableWatch>()] {
                return watch->readIfChanged();
            };
        }
        rlimit limit{};
        std::size_t budget = 64;
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            budget = std::min<std::size_t>(budget, limit.rlim_cur / 8);
        openBudget = std::max<std::size_t>(budget, 2);
    }

    MountSource mountSource;
    MountPointIndex mountPoints;
    std::size_t openBudget = 2;
    // Folders that hold a descriptor, least recently used first. Declared before the
    // searches, which own folders that unlink themselves from it.
    std::list<Folder*> recentlyUsed;
    std::vector<std::unique_ptr<Search>> open;
    std::vector<std::unique_ptr<Search>> spare;
    std::uint64_t searchesStarted = 0;

    // The folder text of the latest search started, as the caller gave it, and its key;
    // the open searches whose text begins it, shortest first. A search of a subfolder
    // then costs the work of its own name, however deep it lies.
    std::string trailText;
    std::string trailKey;
    std::vector<Search*> trail;
    std::size_t offTrail = 0;

    std::unique_ptr<char[]> readBuffer;
    std::size_t readCapacity = 0;

    // Before each folder: a mount made meanwhile is left out from here on, in the folders
    // still being searched too.
    void refreshMountPoints()
    {
        const auto table = mountSource();
        if (!table)
            return;
        mountPoints = MountPointIndex(*table);
        for (const auto& search : open)
            search->mountPoints = mountPoints.inside(search->folder->identity.key);
    }

    Search* lookup(HANDLE handle)
    {
        if (!handle || handle == INVALID_HANDLE_VALUE)
            return nullptr;
        // The newest search is nearly always the one asked about.
        for (auto it = open.rbegin(); it != open.rend(); ++it) {
            if (it->get() == handle)
                return it->get();
        }
        return nullptr;
    }

    void keepDescriptor(Folder& folder, int fd)
    {
        folder.fd = fd;
        folder.recentlyUsed = &recentlyUsed;
        folder.useSlot = recentlyUsed.insert(recentlyUsed.end(), &folder);
        while (recentlyUsed.size() > openBudget)
            dropDescriptor(*recentlyUsed.front());
    }

    void dropDescriptor(Folder& folder)
    {
        ::close(folder.fd);
        folder.fd = -1;
        recentlyUsed.erase(folder.useSlot);
    }

    // The process ran out of descriptors: give back what the searches hold, and hold
    // fewer from now on so that the next folders do not run out again.
    void dropAllBut(const Folder* keep)
    {
        openBudget = std::max<std::size_t>(recentlyUsed.size() / 2, 2);
        for (auto it = recentlyUsed.begin(); it != recentlyUsed.end();) {
            Folder* folder = *it++;
            if (folder != keep)
                dropDescriptor(*folder);
        }
    }

    int openRelative(Folder& parent, const std::string& name)
    {
        const int flags = DirectoryFlags | O_NOFOLLOW;
        int fd = ::openat(parent.fd, name.c_str(), flags);
        if (fd < 0 && outOfDescriptors()) {
            dropAllBut(&parent);
            fd = ::openat(parent.fd, name.c_str(), flags);
        }
        return fd;
    }

    int openPathOnce(const std::string& path)
    {
        if (path.size() < PATH_MAX)
            return ::open(path.c_str(), DirectoryFlags);
        // Too long for one call: one part at a time.
        int fd = ::open("/", DirectoryFlags);
        std::size_t at = 1;
        while (fd >= 0 && at < path.size()) {
            std::size_t end = path.find('/', at);
            if (end == std::string::npos)
                end = path.size();
            const std::string part = path.substr(at, end - at);
            at = end + 1;
            if (part.empty())
                continue;
            const int inner = ::openat(fd, part.c_str(), DirectoryFlags);
            const int error = errno;
            ::close(fd);
            fd = inner;
            errno = error;
        }
        return fd;
    }

    int openPath(const std::string& path)
    {
        int fd = openPathOnce(path);
        if (fd < 0 && outOfDescriptors()) {
            dropAllBut(nullptr);
            fd = openPathOnce(path);
        }
        return fd;
    }

    // The folder's descriptor, opening it and the ancestors it needs again when the
    // budget took them. -1 when the folder is gone or another folder took its place.
    int descriptorOf(Folder& folder)
    {
        if (folder.fd >= 0) {
            recentlyUsed.splice(recentlyUsed.end(), recentlyUsed, folder.useSlot);
            return folder.fd;
        }
        std::vector<Folder*> closed;
        Folder* at = &folder;
        while (at && at->fd < 0) {
            closed.push_back(at);
            at = at->parent.get();
        }
        if (at)
            recentlyUsed.splice(recentlyUsed.end(), recentlyUsed, at->useSlot);
        for (auto it = closed.rbegin(); it != closed.rend(); ++it) {
            Folder& reopen = **it;
            const int fd = reopen.parent ? openRelative(*reopen.parent, reopen.name)
                                         : openPath(reopen.nativePath);
            if (fd < 0)
                return -1;
            Identity now;
            if (!identityOf(fd, now) || !now.sameFolder(reopen.identity)) {
                ::close(fd);
                return -1;
            }
            keepDescriptor(reopen, fd);
        }
        return folder.fd;
    }

    std::shared_ptr<Folder> openChild(const std::shared_ptr<Folder>& parent,
                                      const std::string& name)
    {
        // Any call on a mount point may wait on its filesystem (a share that stopped
        // answering) or mount it (an automount point): the table alone decides.
        if (mountPoints.inside(parent->identity.key).contains(name) || descriptorOf(*parent) < 0)
            return nullptr;
        const int fd = openRelative(*parent, name);
        if (fd < 0)
            return nullptr;
        auto folder = std::make_shared<Folder>();
        if (!identityOf(fd, folder->identity) || crossesMount(*parent, folder->identity)) {
            ::close(fd);
            return nullptr;
        }
        folder->parent = parent;
        folder->name = name;
        keepDescriptor(*folder, fd);
        return folder;
    }

    // For a mount the table did not show yet.
    static bool crossesMount(const Folder& parent, const Identity& child)
    {
        if (child.mountRootKnown)
            return child.mountRoot;
        return child.device != parent.identity.device;
    }

    void leaveTrail(Search& search)
    {
        search.ownKey.assign(trailKey, 0, search.keyLength);
        search.onTrail = false;
        ++offTrail;
    }

    // Makes the folder text the trail's and gives its key.
    const std::string& keyOf(std::string_view text)
    {
        // The longest open search whose text begins this one carries its key so far.
        while (!trail.empty()) {
            const Search& top = *trail.back();
            if (top.keyLength >= 2 && top.textLength <= text.size() &&
                std::memcmp(text.data(), trailText.data(), top.textLength) == 0)
                break;
            leaveTrail(*trail.back());
            trail.pop_back();
        }
        std::size_t textLength = 0;
        std::size_t keyLength = 0;
        if (!trail.empty()) {
            textLength = trail.back()->textLength;
            keyLength = trail.back()->keyLength;
        }
        trailText.resize(textLength);
        trailText.append(text.substr(textLength));
        trailKey.resize(keyLength);
        if (textLength > 0 && isSeparator(text[textLength - 1]))
            trailKey += '\\';
        appendToKey(trailKey, text.substr(textLength));
        finishKey(trailKey);
        return trailKey;
    }

    // The newest open search whose folder has this key.
    Search* searchOf(std::string_view key)
    {
        Search* found = nullptr;
        for (auto it = trail.rbegin(); it != trail.rend() && (*it)->keyLength >= key.size(); ++it) {
            if ((*it)->keyLength == key.size() && (!found || (*it)->started > found->started))
                found = *it;
        }
        if (offTrail == 0)
            return found;
        for (auto it = open.rbegin(); it != open.rend(); ++it) {
            Search& search = **it;
            if (found && search.started < found->started)
                break;
            if (!search.onTrail && search.ownKey == key)
                return &search;
        }
        return found;
    }

    std::shared_ptr<Folder> openFolder(std::string_view folderText, const std::string& key)
    {
        if (const auto cut = key.rfind('\\'); cut != std::string::npos) {
            const std::string leaf = key.substr(cut + 1);
            if (!leaf.empty() && !isDotName(leaf)) {
                if (Search* parent = searchOf(std::string_view(key.data(), cut)))
                    return openChild(parent->folder, leaf);
            }
        }
        const std::string native = toNativePath(std::string(folderText));
        if (native.empty())
            return nullptr;
        const int fd = openPath(native);
        if (fd < 0)
            return nullptr;
        auto folder = std::make_shared<Folder>();
        if (!identityOf(fd, folder->identity)) {
            ::close(fd);
            return nullptr;
        }
        folder->nativePath = native;
        keepDescriptor(*folder, fd);
        return folder;
    }

    // Reads every entry now; a read error keeps what came before it.
    void readEntries(Search& search, int fd)
    {
        if (!readBuffer) {
            readBuffer = std::make_unique_for_overwrite<char[]>(FirstReadSize);
            readCapacity = FirstReadSize;
        }
        std::size_t end = 0;
        for (;;) {
            if (readCapacity - end < MinimumRead) {
                auto bigger = std::make_unique_for_overwrite<char[]>(readCapacity * 2);
                std::memcpy(bigger.get(), readBuffer.get(), end);
                readBuffer = std::move(bigger);
                readCapacity *= 2;
            }
            const ssize_t count = ::getdents64(fd, readBuffer.get() + end, readCapacity - end);
            if (count > 0)
                end += static_cast<std::size_t>(count);
            else if (count < 0 && errno == EINTR)
                continue;
            else
                break;
        }
        search.buffer = std::make_unique_for_overwrite<char[]>(end);
        std::memcpy(search.buffer.get(), readBuffer.get(), end);
        search.end = end;
        search.next = 0;
        if (readCapacity > ReadBufferLimit) {
            readBuffer.reset();
            readCapacity = 0;
        }
    }

    bool fillDetails(Search& search, WIN32_FIND_DATAA& data)
    {
        const int fd = descriptorOf(*search.folder);
        if (fd < 0)
            return false;
        struct stat status = {};
        if (::fstatat(fd, search.name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        const std::string_view name(search.name, search.nameLength);
        std::uint32_t attributes = kindOfMode(status.st_mode) | hiddenBit(name);
        if (!(status.st_mode & S_IWUSR))
            attributes |= FILE_ATTRIBUTE_READONLY;
        data.dwFileAttributes = attributes;
        data.nFileSize = S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0;
        data.ftLastAccessTime = fileTimeFromUnix(status.st_atim.tv_sec, status.st_atim.tv_nsec);
        data.ftLastWriteTime = fileTimeFromUnix(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
        return true;
    }

    bool advance(Search& search, WIN32_FIND_DATAA& data)
    {
        for (;;) {
            std::string_view name;
            unsigned char type = DT_DIR;
            if (search.dotsLeft > 0) {
                name = search.dotsLeft-- == 2 ? "." : "..";
            } else {
                if (search.next >= search.end)
                    return false;
                const auto* entry =
                    reinterpret_cast<const dirent64*>(search.buffer.get() + search.next);
                search.next += entry->d_reclen;
                name = entry->d_name;
                type = entry->d_type;
                if (isDotName(name))
                    continue;
            }
            if (!search.matchesEverything &&
                (search.literal ? name != search.pattern : !wildcardMatch(search.pattern, name)))
                continue;
            // Such a name would read back as a folder and a name.
            if (name.find('\\') != std::string_view::npos)
                continue;
            if (!search.mountPoints.empty() && search.mountPoints.contains(name))
                continue;
            search.name = name.data();
            search.nameLength = name.size();
            data.cFileName.assign(name.data(), name.size());
            if (!(search.flags & FindFirstExDeferDetails) || type == DT_UNKNOWN) {
                if (!fillDetails(search, data))
                    continue;
            } else {
                data.dwFileAttributes = kindOfType(type) | hiddenBit(name);
                data.nFileSize = 0;
                data.ftLastAccessTime = {};
                data.ftLastWriteTime = {};
            }
            return true;
        }
    }

    std::unique_ptr<Search> takeSpare()
    {
        if (spare.empty())
            return std::make_unique<Search>();
        auto search = std::move(spare.back());
        spare.pop_back();
        return search;
    }

    // A folder about to go whose parent lost its descriptor to the budget gives the
    // parent one back through "..": climbing out of a deep tree then opens each folder
    // once, not again from the nearest open ancestor every time.
    void handToParent(Folder& folder)
    {
        Folder* parent = folder.parent.get();
        // Not for a parent that nothing but this folder holds any more.
        if (folder.fd < 0 || !parent || parent->fd >= 0 || folder.parent.use_count() < 2)
            return;
        const int fd = ::openat(folder.fd, "..", DirectoryFlags);
        if (fd < 0)
            return;
        Identity now;
        if (!identityOf(fd, now) || !now.sameFolder(parent->identity)) {
            ::close(fd);
            return;
        }
        keepDescriptor(*parent, fd);
    }

    void release(std::vector<std::unique_ptr<Search>>::iterator at)
    {
        std::unique_ptr<Search> search = std::move(*at);
        open.erase(at);
        if (search->onTrail) {
            // Searches nearly always end innermost first.
            auto slot = std::find(trail.rbegin(), trail.rend(), search.get());
            trail.erase(std::next(slot).base());
            search->onTrail = false;
        } else {
            --offTrail;
            search->ownKey = std::string();
        }
        if (search->folder.use_count() == 1)
            handToParent(*search->folder);
        search->folder.reset();
        search->mountPoints = {};
        search->buffer.reset();
        search->name = nullptr;
        if (spare.size() < SpareSearches)
            spare.push_back(std::move(search));
    }
};

PosixFiles::PosixFiles(MountSource mounts) : d(std::make_unique<Impl>(std::move(mounts))) {}

PosixFiles::~PosixFiles() = default;

HANDLE PosixFiles::findFirst(const std::string& pattern, WIN32_FIND_DATAA& data, unsigned flags)
{
    const auto cut = pattern.find_last_of("\\/");
    if (cut == std::string::npos || cut + 1 == pattern.size() ||
        pattern.find('\0') != std::string::npos)
        return INVALID_HANDLE_VALUE;
    d->refreshMountPoints();
    const std::string_view folderText(pattern.data(), cut);
    const std::string& key = d->keyOf(folderText);
    auto folder = d->openFolder(folderText, key);
    if (!folder)
        return INVALID_HANDLE_VALUE;

    auto search = d->takeSpare();
    search->pattern.assign(pattern, cut + 1);
    search->matchesEverything = search->pattern == "*" || search->pattern == "*.*";
    search->literal = search->pattern.find_first_of("*?") == std::string::npos;
    search->flags = flags;
    search->dotsLeft = isDriveRoot(key) ? 0 : 2;
    search->mountPoints = d->mountPoints.inside(folder->identity.key);
    d->readEntries(*search, folder->fd);
    search->folder = std::move(folder);
    search->onTrail = true;
    search->textLength = folderText.size();
    search->keyLength = key.size();
    search->started = ++d->searchesStarted;
    d->trail.push_back(search.get());
    d->open.push_back(std::move(search));

    Search* started = d->open.back().get();
    if (!d->advance(*started, data)) {
        d->release(d->open.end() - 1);
        return INVALID_HANDLE_VALUE;
    }
    return started;
}

bool PosixFiles::findNext(HANDLE handle, WIN32_FIND_DATAA& data)
{
    Search* search = d->lookup(handle);
    return search && d->advance(*search, data);
}

bool PosixFiles::findDetails(HANDLE handle, WIN32_FIND_DATAA& data)
{
    Search* search = d->lookup(handle);
    return search && search->name && d->fillDetails(*search, data);
}

bool PosixFiles::findClose(HANDLE handle)
{
    for (auto it = d->open.end(); it != d->open.begin();) {
        --it;
        if (it->get() == handle) {
            d->release(it);
            return true;
        }
    }
    return false;
}

void PosixFiles::setOpenFolderBudget(std::size_t budget)
{
    d->openBudget = std::max<std::size_t>(budget, 2);
    while (d->recentlyUsed.size() > d->openBudget)
        d->dropDescriptor(*d->recentlyUsed.front());
}

std::size_t PosixFiles::openFolderCount() const
{
    return d->recentlyUsed.size();
}

std::unique_ptr<FileService> FileService::createDefault()
{
    return std::make_unique<PosixFiles>();
}

} // namespace platform
