#include "platform/shell/HeldBack.h"

#include "platform/core/FileStorage.h"
#include "platform/core/PathText.h"
#include "platform/drives/MountTable.h"
#include "platform/shell/TrashFolders.h"

#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace platform {

namespace {

// The path with links resolved as far as it exists, the rest appended as written.
std::string resolvedAsFarAsExists(const std::string& path)
{
    std::string existing = path;
    std::string rest;
    while (true) {
        if (char* real = ::realpath(existing.c_str(), nullptr)) {
            std::string resolved = real;
            std::free(real);
            return rest.empty() ? resolved : joinPath(resolved, rest);
        }
        if (existing == "/")
            return path;
        const std::size_t slash = existing.rfind('/');
        const std::string name = existing.substr(slash + 1);
        rest = rest.empty() ? name : name + "/" + rest;
        existing = parentOf(existing);
    }
}

} // namespace

bool keptInMemory(const std::string& resolvedPath)
{
    if (isWithin(resolvedPath, resolvedAsFarAsExists("/dev/shm")))
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && runtime[0] == '/' && isWithin(resolvedPath, resolvedAsFarAsExists(runtime));
}

bool liesInTrash(const std::string& nativePath)
{
    const std::string path = resolvedAsFarAsExists(nativePath);
    struct stat home = {};
    const bool haveHome = ::stat(homeTrashFolder().c_str(), &home) == 0;
    if (isWithin(path, resolvedAsFarAsExists(homeTrashFolder())))
        return true;
    for (std::string at = path; at != "/"; at = parentOf(at)) {
        struct stat status = {};
        if (haveHome && ::lstat(at.c_str(), &status) == 0 && sameFile(status, home))
            return true;
        const std::string parent = parentOf(at);
        if (isTrashName(at.substr(at.rfind('/') + 1)) && isMountRoot(parent))
            return true;
    }
    return false;
}

bool reachesTrash(const std::string& nativeFolder)
{
    // A topdir trash at the top of the folder's filesystem is no reason to leave the folder
    // alone: the search leaves it out, as it leaves out every trash.
    if (liesInTrash(nativeFolder))
        return true;
    return isWithin(resolvedAsFarAsExists(homeTrashFolder()), resolvedAsFarAsExists(nativeFolder));
}

bool keptInMemoryOnPurpose(const std::string& nativePath)
{
    return keptInMemory(resolvedAsFarAsExists(nativePath));
}

namespace {

// Every path without links that reaches the folder at the resolved path: through each mount
// of its filesystem that shows it. nullopt when the mount table does not tell.
std::optional<std::vector<std::string>> pathsReaching(const std::string& resolved)
{
    const auto text = readWholeFile("/proc/self/mountinfo");
    if (!text)
        return std::nullopt;
    const MountTable table = MountTable::fromMountInfo(*text);
    const MountEntry* holder = table.mountHolding(resolved);
    if (!holder)
        return std::nullopt;
    const std::string rest =
        holder->mountPoint == "/" ? resolved : resolved.substr(holder->mountPoint.size());
    const std::string inside =
        holder->root == "/" ? (rest.empty() ? "/" : rest) : holder->root + rest;
    std::vector<std::string> paths;
    for (const MountEntry& mount : table.mounts()) {
        if (mount.major != holder->major || mount.minor != holder->minor ||
            !isWithin(inside, mount.root))
            continue;
        const std::string below = mount.root == "/" ? inside : inside.substr(mount.root.size());
        if (mount.mountPoint == "/")
            paths.push_back(below.empty() ? "/" : below);
        else
            paths.push_back(below == "/" ? mount.mountPoint : mount.mountPoint + below);
    }
    return paths;
}

// The folders a run's looks are held against, resolved as liesInTrash and keptInMemory
// resolve them, once for each generation of the run.
struct HeldPlaces
{
    unsigned generation = 0;
    std::string trashFolder;
    std::string homeTrash;
    bool haveHome = false;
    struct stat home = {};
    std::optional<std::vector<std::string>> homeTrashPaths;
    std::string sharedMemory;
    std::string runtime; // empty without one
};

const HeldPlaces& heldPlaces()
{
    static HeldPlaces places;
    const unsigned generation = KeptWalk::generation();
    if (places.generation == generation && places.trashFolder == homeTrashFolder())
        return places;
    places.generation = generation;
    places.trashFolder = homeTrashFolder();
    places.homeTrash = resolvedAsFarAsExists(places.trashFolder);
    places.haveHome = ::stat(places.trashFolder.c_str(), &places.home) == 0;
    places.homeTrashPaths = pathsReaching(places.homeTrash);
    places.sharedMemory = resolvedAsFarAsExists("/dev/shm");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    places.runtime = runtime && runtime[0] == '/' ? resolvedAsFarAsExists(runtime) : "";
    return places;
}

bool heldBack(const std::string& path, const HeldPlaces& places)
{
    return isWithin(path, places.homeTrash) || isWithin(path, places.sharedMemory) ||
           (!places.runtime.empty() && isWithin(path, places.runtime));
}

// What liesInTrash and keptInMemoryOnPurpose say of every entry of a folder walked without
// links: by its path, where the mount table tells every path of the home trash.
bool folderHeldBack(const WalkedFolder& folder, const HeldPlaces& places)
{
    static unsigned generation = 0;
    static std::string decided;
    static bool held = false;
    if (generation == places.generation && decided == folder.resolvedPath)
        return held;
    held = heldBack(folder.resolvedPath, places);
    if (!places.homeTrashPaths) {
        held = held || liesInTrash(folder.resolvedPath);
    } else {
        for (const std::string& path : *places.homeTrashPaths)
            held = held || isWithin(folder.resolvedPath, path);
        for (std::string at = folder.resolvedPath; !held && at != "/"; at = parentOf(at))
            held = isTrashName(at.substr(at.rfind('/') + 1)) && isMountRoot(parentOf(at));
    }
    generation = places.generation;
    decided = folder.resolvedPath;
    return held;
}

} // namespace

bool collectableLook(const EntryLook& look)
{
    if (look.status.st_uid != runningUser())
        return false;
    const WalkedFolder& folder = look.parent.folder;
    const std::string& name = look.parent.name;
    const std::string path = joinPath(folder.resolvedPath, name);
    if (!KeptWalk::active() || folder.throughLink || S_ISLNK(look.status.st_mode))
        return !liesInTrash(path) && !keptInMemoryOnPurpose(path);
    const HeldPlaces& places = heldPlaces();
    if (folderHeldBack(folder, places) || heldBack(path, places))
        return false;
    if (places.haveHome && sameFile(look.status, places.home))
        return false;
    return !(isTrashName(name) && isMountRoot(folder.resolvedPath));
}

} // namespace platform
