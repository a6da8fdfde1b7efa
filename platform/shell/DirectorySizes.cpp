#include "platform/shell/DirectorySizes.h"

#include "platform/core/Descriptor.h"
#include "platform/core/FileStorage.h"
#include "platform/core/PathText.h"
#include "platform/shell/TrashFolders.h"
#include "platform/shell/TrashInfo.h"

#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

namespace {

// Apparent size of what a folder holds, without following links or leaving its filesystem.
std::uint64_t folderSize(int parent, const char* name, dev_t device)
{
    OwnedFd fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid())
        return 0;
    FolderEntries entries(fd.get());
    if (!entries.valid())
        return 0;
    std::uint64_t total = 0;
    while (const dirent* entry = entries.next()) {
        struct stat status = {};
        if (::fstatat(fd.get(), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(status.st_mode)) {
            if (status.st_dev == device)
                total += folderSize(fd.get(), entry->d_name, device);
        } else {
            total += static_cast<std::uint64_t>(status.st_size);
        }
    }
    return total;
}

// The lines of directorysizes whose entries are still in files/, without the one of the
// encoded name given.
std::string folderSizesKept(const std::string& old, int filesFolder, const std::string& dropped)
{
    std::string kept;
    std::size_t at = 0;
    while (at < old.size()) {
        std::size_t end = old.find('\n', at);
        if (end == std::string::npos)
            end = old.size();
        const std::string line = old.substr(at, end - at);
        at = end + 1;
        const std::size_t lastBlank = line.rfind(' ');
        if (lastBlank == std::string::npos)
            continue;
        const std::string lineName = line.substr(lastBlank + 1);
        struct stat entry = {};
        if (lineName == dropped || ::fstatat(filesFolder, percentDecodePath(lineName).c_str(),
                                             &entry, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        kept += line + "\n";
    }
    return kept;
}

} // namespace

void noteFolderSize(const TrashFolder& trash, const std::string& name, dev_t device)
{
    struct stat info = {};
    if (::fstatat(trash.info.get(), (name + ".trashinfo").c_str(), &info, 0) != 0)
        return;
    const std::uint64_t size = folderSize(trash.files.get(), name.c_str(), device);
    const std::string encoded = percentEncodePath(name);

    FolderLock lock(trash.path);
    const std::string path = joinPath(trash.path, "directorysizes");
    const auto old = readWholeFile(path);
    std::string kept = old ? folderSizesKept(*old, trash.files.get(), encoded) : std::string();
    kept += std::to_string(size) + " " + std::to_string(info.st_mtim.tv_sec) + " " + encoded + "\n";
    // A cache that readers make again when it is missing or wrong: not worth a flush per
    // folder.
    writeFileAtomically(path, kept, Flush::No);
}

void dropFolderSize(const std::string& trashFolder, int filesFolder, const std::string& name)
{
    FolderLock lock(trashFolder);
    const std::string path = joinPath(trashFolder, "directorysizes");
    const auto old = readWholeFile(path);
    if (!old)
        return;
    const std::string kept = folderSizesKept(*old, filesFolder, percentEncodePath(name));
    if (kept != *old)
        writeFileAtomically(path, kept, Flush::No);
}

} // namespace platform
