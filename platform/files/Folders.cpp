#include "platform/files/Folders.h"

#include "platform/core/PathText.h"
#include "platform/core/Service.h"
#include "platform/drives/Drives.h"
#include "platform/drives/MountTable.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

std::string envOr(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : fallback;
}

// Absolute and without a trailing "/", as the Windows forms need it.
std::string absoluteFolder(const std::string& dir)
{
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(dir, ec);
    return normalizeNativePath(ec ? dir : absolute.string());
}

// The variable when it holds an absolute path, else the folder in the home folder.
std::string xdgFolder(const char* variable, const char* inHome)
{
    const std::string value = envOr(variable, "");
    if (value.starts_with('/'))
        return normalizeNativePath(value);
    return absoluteFolder(homeFolderNative(WithoutHome::Root) + inHome);
}

struct Identity
{
    dev_t device;
    ino_t inode;
    bool operator==(const Identity&) const = default;
};

// Where a folder lies: its path with links resolved, and the identities of it and of every
// folder above it. A filesystem that may not answer is never looked at: beyond its mount
// point the path stays as written, and the identities begin at the folder that holds it.
struct Place
{
    std::vector<Identity> chain; // empty when the folder cannot be looked at
    std::string path;
    bool beyondSilentMount = false;
};

Place placeOf(const std::string& nativeFolder, const MountTable* table)
{
    Place place;
    if (nativeFolder.empty())
        return place;
    std::filesystem::path folder;
    if (table) {
        const ResolvedPath resolved = resolveShortOfSilentMounts(nativeFolder, *table);
        if (!resolved.found)
            return place;
        place.path = resolved.path;
        place.beyondSilentMount = !resolved.silentMount.empty();
        folder = place.beyondSilentMount ? std::filesystem::path(resolved.silentMount).parent_path()
                                         : std::filesystem::path(resolved.path);
    } else {
        std::error_code ec;
        folder = std::filesystem::canonical(nativeFolder, ec);
        if (ec)
            return place;
        place.path = folder.string();
    }
    for (;;) {
        struct stat info;
        if (::stat(folder.c_str(), &info) != 0) {
            place.chain.clear();
            return place;
        }
        place.chain.push_back({info.st_dev, info.st_ino});
        if (folder == folder.root_path())
            return place;
        folder = folder.parent_path();
    }
}

// Whether the outer folder is the inner one or lies above it; by path alone where a
// filesystem that may not answer keeps the identities from being known.
bool holds(const Place& outer, const Place& inner)
{
    if (outer.chain.empty() || inner.chain.empty())
        return false;
    if (!outer.beyondSilentMount &&
        std::find(inner.chain.begin(), inner.chain.end(), outer.chain.front()) != inner.chain.end())
        return true;
    return (outer.beyondSilentMount || inner.beyondSilentMount) && isWithin(inner.path, outer.path);
}

// The folders every check of one question looks at against the same table.
class Places
{
public:
    Places() : m_table(Service<DriveService>::instance().mountTable()) {}
    Place of(const std::string& nativeFolder) const { return placeOf(nativeFolder, m_table.get()); }

private:
    std::shared_ptr<const MountTable> m_table;
};

// "C:" is the root of C:, as the temporary folder of a drive root comes without its "\".
std::string nativeFolderOf(const std::string& windowsFolder)
{
    if (windowsFolder.size() == 2 && windowsFolder[1] == ':')
        return toNativePath(windowsFolder + "\\");
    return toNativePath(windowsFolder);
}

} // namespace

std::string homeFolderNative(WithoutHome without)
{
    const std::string home = userHomeFolder(MountProbe::system());
    return home.empty() && without == WithoutHome::Root ? "/" : home;
}

std::string configHomeNative()
{
    return xdgFolder("XDG_CONFIG_HOME", "/.config");
}

std::string dataHomeNative()
{
    return xdgFolder("XDG_DATA_HOME", "/.local/share");
}

std::string stateHomeNative()
{
    return xdgFolder("XDG_STATE_HOME", "/.local/state");
}

std::vector<std::string> dataFoldersNative()
{
    std::vector<std::string> folders{dataHomeNative()};
    const std::string system = envOr("XDG_DATA_DIRS", "/usr/local/share/:/usr/share/");
    for (std::size_t start = 0; start <= system.size();) {
        const std::size_t end = std::min(system.find(':', start), system.size());
        const std::string folder = system.substr(start, end - start);
        if (folder.starts_with('/'))
            folders.push_back(normalizeNativePath(folder));
        start = end + 1;
    }
    return folders;
}

std::string desktopFolderNative()
{
    // The file is shell assignments, each value "$HOME/..." or an absolute path in double
    // quotes; the last assignment wins, as when the shell reads it. GLib's reader keeps
    // the first answer for the life of the process, whatever HOME says later.
    const std::string home = homeFolderNative(WithoutHome::Root);
    std::string desktop = home + "/Desktop";
    std::ifstream file(configHomeNative() + "/user-dirs.dirs");
    const std::string key = "XDG_DESKTOP_DIR=";
    for (std::string line; std::getline(file, line);) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
            continue;
        std::string value;
        bool quoted = false;
        for (std::size_t i = start + key.size(); i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"') {
                quoted = !quoted;
            } else if (c == '\\' && i + 1 < line.size()) {
                value += line[++i];
            } else if (!quoted && (c == ' ' || c == '\t' || c == '#')) {
                break;
            } else {
                value += c;
            }
        }
        if (value == "$HOME" || value.starts_with("$HOME/"))
            desktop = home + value.substr(5);
        else if (value.starts_with('/'))
            desktop = value;
    }
    return normalizeNativePath(desktop);
}

std::string GetCurrentDirectoryA()
{
    std::unique_ptr<char, decltype(&std::free)> folder(::getcwd(nullptr, 0), &std::free);
    return folder ? toWindowsPath(folder.get()) : std::string();
}

std::string windowsDirectoryNative()
{
    std::string dir = envOr("VORLAX_WINDIR", "");
    if (dir.empty())
        dir = configHomeNative() + "/vorlax";
    return absoluteFolder(dir);
}

std::string GetWindowsDirectoryA()
{
    return toWindowsPath(windowsDirectoryNative());
}

std::string GetSystemDirectoryA()
{
    return toWindowsPath("/usr/lib");
}

std::string GetTempPathA()
{
    std::string native = envOr("TMPDIR", "/tmp");
    // A relative TMPDIR would depend on the current folder; such a setting is ignored.
    if (native.front() != '/')
        native = "/tmp";
    std::string path = toWindowsPath(normalizeNativePath(native));
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    return path;
}

bool isSameOrInside(const std::string& innerWindowsFolder, const std::string& outerWindowsFolder)
{
    const Places places;
    return holds(places.of(nativeFolderOf(outerWindowsFolder)),
                 places.of(nativeFolderOf(innerWindowsFolder)));
}

bool isFolderUnfitToEmpty(const std::string& windowsFolder)
{
    const Places places;
    const Place folder = places.of(nativeFolderOf(windowsFolder));
    if (folder.chain.empty())
        return false;

    // Folders that must never be emptied, nor anything that holds them.
    std::vector<std::string> kept = {"/",
                                     "/home",
                                     "/root",
                                     "/media",
                                     "/mnt",
                                     "/opt",
                                     "/srv",
                                     homeFolderNative(WithoutHome::Root),
                                     accountHomeFolder(),
                                     windowsDirectoryNative(),
                                     nativeFolderOf(GetSystemDirectoryA())};
    for (const auto& mapping : Service<DriveService>::instance().driveMap())
        kept.push_back(mapping.nativeRoot);
    for (const auto& native : kept) {
        if (holds(folder, places.of(native)))
            return true;
    }

    // The system's own trees, where nothing is the user's rubbish; the shared temporary
    // folders are the exception.
    for (const char* scratch : {"/tmp", "/var/tmp"}) {
        if (holds(places.of(scratch), folder))
            return false;
    }
    for (const char* tree : {"/etc", "/usr", "/var", "/boot", "/bin", "/sbin", "/lib", "/lib32",
                             "/lib64", "/libx32", "/run", "/proc", "/sys", "/dev", "/snap"}) {
        if (holds(places.of(tree), folder))
            return true;
    }
    return false;
}

bool liesOnlyOnRootDrive(const std::string& windowsFolder)
{
    const Places places;
    const Place folder = places.of(nativeFolderOf(windowsFolder));
    if (folder.chain.empty())
        return false;
    for (const auto& mapping : Service<DriveService>::instance().driveMap()) {
        if (mapping.nativeRoot != "/" && holds(places.of(mapping.nativeRoot), folder))
            return false;
    }
    return true;
}

} // namespace platform
