#include "platform/drives/MountPoints.h"

#include "platform/core/Descriptor.h"
#include "platform/core/PathText.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#endif

namespace platform {

namespace {

MountPointIndex::FolderLook lookAt(const std::string& folder)
{
    using Look = MountPointIndex::FolderLook;
    OwnedFd fd;
#if defined(SYS_openat2) && defined(RESOLVE_NO_SYMLINKS)
    open_how how = {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    fd.reset(static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how)));
    if (!fd.valid() && errno == ENOSYS)
#endif
        fd.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        // A path that leads elsewhere, or nowhere, is not how a search meets the mount.
        const bool elsewhere = errno == ENOENT || errno == ENOTDIR || errno == ELOOP ||
                               errno == EACCES || errno == EPERM;
        return {elsewhere ? Look::Unreachable : Look::Unknown, {}};
    }
    struct statx status = {};
    if (::statx(fd.get(), "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_MNT_ID,
                &status) != 0)
        return {};
    return {Look::Found, folderKeyOf(status)};
}

} // namespace

bool kernelTellsMountIds()
{
    static const bool tells = [] {
        struct statx status = {};
        return ::statx(AT_FDCWD, "/", 0, STATX_MNT_ID, &status) == 0 &&
               (status.stx_mask & STATX_MNT_ID);
    }();
    return tells;
}

FolderKey folderKeyOf(const struct statx& status)
{
    FolderKey key;
    key.mount = (status.stx_mask & STATX_MNT_ID)
                    ? status.stx_mnt_id
                    : makedev(status.stx_dev_major, status.stx_dev_minor);
    key.inode = status.stx_ino;
    return key;
}

MountPointIndex::MountPointIndex(const MountTable& table)
    : MountPointIndex(table, kernelTellsMountIds() ? Keys::MountIds : Keys::Devices, lookAt)
{
}

MountPointIndex::MountPointIndex(const MountTable& table, Keys keys, const FolderProbe& probe)
{
    const bool byMountId = keys == Keys::MountIds;
    std::unordered_map<int, const MountEntry*> byId;
    std::set<std::pair<int, std::string>> covered; // parent id and mount point of each mount
    for (const auto& mount : table.mounts()) {
        byId[mount.id] = &mount;
        covered.insert({mount.parentId, mount.mountPoint});
    }
    // Folders no look may pass: a share that may not answer, and an automount point
    // nothing is mounted on yet, which a look would mount.
    std::vector<const std::string*> silent;
    std::unordered_map<std::string, std::vector<const MountEntry*>> byFolder;
    for (const auto& mount : table.mounts()) {
        if (mount.mountPoint == "/")
            continue;
        if (MountTable::mayNotAnswer(mount) ||
            (mount.fsType == "autofs" && !covered.count({mount.id, mount.mountPoint})))
            silent.push_back(&mount.mountPoint);
        byFolder[parentOf(mount.mountPoint)].push_back(&mount);
    }
    for (const auto& [folder, inside] : byFolder) {
        const bool risky = std::any_of(silent.begin(), silent.end(),
                                       [&](const std::string* m) { return isWithin(folder, *m); });
        FolderLook look;
        if (!risky)
            look = probe(folder);
        // Devices are shared by every bind mount of a filesystem: only mount ids tell that a
        // path leads elsewhere.
        if (!byMountId && look.outcome == FolderLook::Unreachable)
            look.outcome = FolderLook::Unknown;
        for (const MountEntry* mount : inside) {
            FolderKey filed;
            if (look.outcome == FolderLook::Found) {
                // Mounted on a folder that a later mount hides: no search meets it.
                if (byMountId && look.key.mount != static_cast<std::uint64_t>(mount->parentId))
                    continue;
                filed = look.key;
            } else if (look.outcome == FolderLook::Unreachable) {
                continue;
            } else if (byMountId) {
                // The folder cannot be told: the name is left out of every folder of the
                // mount beneath.
                filed.mount = static_cast<std::uint64_t>(mount->parentId);
            } else {
                const auto parent = byId.find(mount->parentId);
                if (parent == byId.end())
                    continue;
                filed.mount = makedev(parent->second->major, parent->second->minor);
            }
            m_folders[filed].insert(mount->mountPoint.substr(mount->mountPoint.rfind('/') + 1));
            m_mounts.insert(filed.mount);
        }
    }
}

MountPointIndex::Inside MountPointIndex::inside(const FolderKey& folder) const
{
    Inside found;
    if (m_mounts.empty() || !m_mounts.count(folder.mount))
        return found;
    if (const auto own = m_folders.find(folder); own != m_folders.end())
        found.own = &own->second;
    if (const auto any = m_folders.find({folder.mount, 0}); any != m_folders.end())
        found.anyFolder = &any->second;
    return found;
}

} // namespace platform
