#include "platform/files/SearchFolders.h"

#include "platform/files/MountRoot.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>

namespace platform {

namespace {

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool outOfDescriptors()
{
    return errno == EMFILE || errno == ENFILE;
}

OwnedFd openPathOnce(const std::string& path)
{
    if (path.size() < PATH_MAX)
        return OwnedFd(::open(path.c_str(), DirectoryFlags));
    // Too long for one call: one part at a time.
    OwnedFd fd(::open("/", DirectoryFlags));
    std::size_t at = 1;
    while (fd.valid() && at < path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(at, end - at);
        at = end + 1;
        if (part.empty())
            continue;
        fd = OwnedFd(::openat(fd.get(), part.c_str(), DirectoryFlags));
    }
    return fd;
}

// For a mount the table did not show yet.
bool crossesMount(const SearchFolder& parent, const FolderIdentity& child)
{
    return child.mountRoot.value_or(child.device != parent.identity.device);
}

} // namespace

bool identityOf(int fd, FolderIdentity& identity)
{
    struct statx status = {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_INO | STATX_MNT_ID, &status) !=
        0)
        return false;
    identity.device = makedev(status.stx_dev_major, status.stx_dev_minor);
    identity.inode = status.stx_ino;
    identity.key = folderKeyOf(status);
    identity.mountRoot = reportedMountRoot(status);
    return true;
}

SearchFolder::~SearchFolder()
{
    if (fd.valid())
        recentlyUsed->erase(useSlot);
}

SearchFolders::SearchFolders()
{
    rlimit limit{};
    std::size_t budget = 64;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        budget = std::min<std::size_t>(budget, limit.rlim_cur / 8);
    m_budget = std::max<std::size_t>(budget, 2);
}

void SearchFolders::setBudget(std::size_t budget)
{
    m_budget = std::max<std::size_t>(budget, 2);
    while (m_recentlyUsed.size() > m_budget)
        dropDescriptor(*m_recentlyUsed.front());
}

void SearchFolders::keepDescriptor(SearchFolder& folder, OwnedFd fd)
{
    folder.fd = std::move(fd);
    folder.recentlyUsed = &m_recentlyUsed;
    folder.useSlot = m_recentlyUsed.insert(m_recentlyUsed.end(), &folder);
    while (m_recentlyUsed.size() > m_budget)
        dropDescriptor(*m_recentlyUsed.front());
}

void SearchFolders::dropDescriptor(SearchFolder& folder)
{
    folder.fd.reset();
    m_recentlyUsed.erase(folder.useSlot);
}

// The process ran out of descriptors: give back what the searches hold, and hold fewer
// from now on so that the next folders do not run out again.
void SearchFolders::dropAllBut(const SearchFolder* keep)
{
    m_budget = std::max<std::size_t>(m_recentlyUsed.size() / 2, 2);
    for (auto it = m_recentlyUsed.begin(); it != m_recentlyUsed.end();) {
        SearchFolder* folder = *it++;
        if (folder != keep)
            dropDescriptor(*folder);
    }
}

OwnedFd SearchFolders::openRelative(SearchFolder& parent, const std::string& name)
{
    const int flags = DirectoryFlags | O_NOFOLLOW;
    OwnedFd fd(::openat(parent.fd.get(), name.c_str(), flags));
    if (!fd.valid() && outOfDescriptors()) {
        dropAllBut(&parent);
        fd = OwnedFd(::openat(parent.fd.get(), name.c_str(), flags));
    }
    return fd;
}

OwnedFd SearchFolders::openPath(const std::string& path)
{
    OwnedFd fd = openPathOnce(path);
    if (!fd.valid() && outOfDescriptors()) {
        dropAllBut(nullptr);
        fd = openPathOnce(path);
    }
    return fd;
}

int SearchFolders::descriptorOf(SearchFolder& folder)
{
    if (folder.fd.valid()) {
        m_recentlyUsed.splice(m_recentlyUsed.end(), m_recentlyUsed, folder.useSlot);
        return folder.fd.get();
    }
    std::vector<SearchFolder*> closed;
    SearchFolder* at = &folder;
    while (at && !at->fd.valid()) {
        closed.push_back(at);
        at = at->parent.get();
    }
    if (at)
        m_recentlyUsed.splice(m_recentlyUsed.end(), m_recentlyUsed, at->useSlot);
    for (auto it = closed.rbegin(); it != closed.rend(); ++it) {
        SearchFolder& reopen = **it;
        OwnedFd fd =
            reopen.parent ? openRelative(*reopen.parent, reopen.name) : openPath(reopen.nativePath);
        if (!fd.valid())
            return -1;
        FolderIdentity now;
        if (!identityOf(fd.get(), now) || !now.sameFolder(reopen.identity))
            return -1;
        keepDescriptor(reopen, std::move(fd));
    }
    return folder.fd.get();
}

std::shared_ptr<SearchFolder> SearchFolders::openByPath(const std::string& nativePath)
{
    OwnedFd fd = openPath(nativePath);
    if (!fd.valid())
        return nullptr;
    auto folder = std::make_shared<SearchFolder>();
    if (!identityOf(fd.get(), folder->identity))
        return nullptr;
    folder->nativePath = nativePath;
    keepDescriptor(*folder, std::move(fd));
    return folder;
}

std::shared_ptr<SearchFolder> SearchFolders::openChild(const std::shared_ptr<SearchFolder>& parent,
                                                       const std::string& name)
{
    if (descriptorOf(*parent) < 0)
        return nullptr;
    OwnedFd fd = openRelative(*parent, name);
    if (!fd.valid())
        return nullptr;
    auto folder = std::make_shared<SearchFolder>();
    if (!identityOf(fd.get(), folder->identity) || crossesMount(*parent, folder->identity))
        return nullptr;
    folder->parent = parent;
    folder->name = name;
    keepDescriptor(*folder, std::move(fd));
    return folder;
}

void SearchFolders::handToParent(SearchFolder& folder)
{
    SearchFolder* parent = folder.parent.get();
    // Not for a parent that nothing but this folder holds any more.
    if (!folder.fd.valid() || !parent || parent->fd.valid() || folder.parent.use_count() < 2)
        return;
    OwnedFd fd(::openat(folder.fd.get(), "..", DirectoryFlags));
    if (!fd.valid())
        return;
    FolderIdentity now;
    if (!identityOf(fd.get(), now) || !now.sameFolder(parent->identity))
        return;
    keepDescriptor(*parent, std::move(fd));
}

} // namespace platform
