#pragma once

#include <optional>

#include "platform/core/Descriptor.h"
#include "platform/drives/MountPoints.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

namespace platform {

// What tells a folder opened again from another that took its place.
struct FolderIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    FolderKey key;
    std::optional<bool> mountRoot; // as statx reports it

    bool sameFolder(const FolderIdentity& other) const
    {
        return device == other.device && inode == other.inode;
    }
};

bool identityOf(int fd, FolderIdentity& identity);

// A folder a search has read. It keeps its descriptor, while the budget allows, so that
// searches of its subfolders and the details of its entries open relative to it.
struct SearchFolder
{
    std::shared_ptr<SearchFolder> parent; // null when opened by its path
    std::string name;                     // within the parent
    std::string nativePath;               // when opened by its path
    FolderIdentity identity;
    OwnedFd fd;
    std::list<SearchFolder*>* recentlyUsed = nullptr;
    std::list<SearchFolder*>::iterator useSlot;

    ~SearchFolder();
};

// The descriptors the folders of open searches hold: no more than the budget, the least
// recently used given back first and opened again when needed.
class SearchFolders
{
public:
    SearchFolders();
    SearchFolders(const SearchFolders&) = delete;
    SearchFolders& operator=(const SearchFolders&) = delete;

    void setBudget(std::size_t budget);
    std::size_t count() const { return m_recentlyUsed.size(); }

    // Null when the folder cannot be opened.
    std::shared_ptr<SearchFolder> openByPath(const std::string& nativePath);
    // Never through a symbolic link, nor into the root of another mounted filesystem.
    std::shared_ptr<SearchFolder> openChild(const std::shared_ptr<SearchFolder>& parent,
                                            const std::string& name);
    // The folder's descriptor, opening it and the ancestors it needs again when the
    // budget took them. -1 when the folder is gone or another folder took its place.
    int descriptorOf(SearchFolder& folder);
    // A folder about to go whose parent lost its descriptor to the budget gives the
    // parent one back through "..": climbing out of a deep tree then opens each folder
    // once, not again from the nearest open ancestor every time.
    void handToParent(SearchFolder& folder);

private:
    void keepDescriptor(SearchFolder& folder, OwnedFd fd);
    void dropDescriptor(SearchFolder& folder);
    void dropAllBut(const SearchFolder* keep);
    OwnedFd openRelative(SearchFolder& parent, const std::string& name);
    OwnedFd openPath(const std::string& path);

    std::size_t m_budget = 2;
    // Least recently used first.
    std::list<SearchFolder*> m_recentlyUsed;
};

} // namespace platform
