#pragma once

#include "platform/drives/MountTable.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>

#ifndef STATX_MNT_ID
#define STATX_MNT_ID 0x00001000U
#endif

namespace platform {

// A folder as the mount points inside it are filed: the mount it was reached through (the
// kernel's mount id, or the device of its filesystem where the kernel tells no mount id)
// and its inode. Inode 0 stands for every folder of that mount.
struct FolderKey
{
    std::uint64_t mount = 0;
    std::uint64_t inode = 0;
    bool operator==(const FolderKey&) const = default;
};

struct FolderKeyHash
{
    std::size_t operator()(const FolderKey& key) const
    {
        return std::hash<std::uint64_t>()(key.mount * 0x9e3779b97f4a7c15ull ^ key.inode);
    }
};

// Whether the kernel tells the mount id of an open file (Linux 5.8 on).
bool kernelTellsMountIds();
// The key of a folder from what statx gave for it (STATX_INO and STATX_MNT_ID asked).
FolderKey folderKeyOf(const struct statx& status);

// The mount points of a mount table by the folder each lies in, so that a search can leave
// them out by name, never looking at the mounted filesystem. Folders are told apart by
// identity rather than path: a folder renamed meanwhile or reached through another bind
// mount is still itself, and a mount hidden under a later one is met nowhere.
class MountPointIndex
{
public:
    struct NameHash
    {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const
        {
            return std::hash<std::string_view>()(name);
        }
    };
    using Names = std::unordered_set<std::string, NameHash, std::equal_to<>>;

    // The mount points right inside one folder: those of its own and those filed for every
    // folder of its mount. Both are null for nearly every folder.
    struct Inside
    {
        const Names* own = nullptr;
        const Names* anyFolder = nullptr;

        bool empty() const { return !own && !anyFolder; }
        bool contains(std::string_view name) const
        {
            return (own && own->find(name) != own->end()) ||
                   (anyFolder && anyFolder->find(name) != anyFolder->end());
        }
    };

    // What looking at a folder by its path, without following links, told. Only folders
    // that no filesystem that may not answer lies on the way to are looked at.
    struct FolderLook
    {
        enum Outcome { Found, Unreachable, Unknown } outcome = Unknown;
        FolderKey key; // when found
    };
    using FolderProbe = std::function<FolderLook(const std::string& folder)>;

    // What the keys of folders carry: the kernel's mount ids, or the devices where it
    // tells none.
    enum class Keys { MountIds, Devices };

    MountPointIndex() = default;
    MountPointIndex(const MountTable& table, Keys keys, const FolderProbe& probe);
    // With the running system's probe.
    explicit MountPointIndex(const MountTable& table);

    Inside inside(const FolderKey& folder) const;

private:
    std::unordered_set<std::uint64_t> m_mounts; // mounts with any folder filed
    std::unordered_map<FolderKey, Names, FolderKeyHash> m_folders;
};

} // namespace platform
