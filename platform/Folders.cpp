#include "platform/Folders.h"

#include "platform/Drives.h"
#include "platform/Service.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <pwd.h>
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

std::string homeFolder()
{
    std::string home = envOr("HOME", "");
    if (home.empty()) {
        if (const passwd* user = ::getpwuid(::getuid()))
            home = user->pw_dir ? user->pw_dir : "";
    }
    return home.empty() ? "/" : home;
}

struct Identity
{
    dev_t device;
    ino_t inode;
    bool operator==(const Identity&) const = default;
};

// The folder and every folder above it, links resolved; empty when it cannot be looked at.
std::vector<Identity> chainOf(const std::string& nativeFolder)
{
    std::vector<Identity> chain;
    if (nativeFolder.empty())
        return chain;
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::canonical(nativeFolder, ec);
    if (ec)
        return chain;
    for (;;) {
        struct stat info;
        if (::stat(folder.c_str(), &info) != 0)
            return {};
        chain.push_back({info.st_dev, info.st_ino});
        if (folder == folder.root_path())
            return chain;
        folder = folder.parent_path();
    }
}

bool contains(const std::vector<Identity>& chain, const Identity& folder)
{
    return std::find(chain.begin(), chain.end(), folder) != chain.end();
}

// "C:" is the root of C:, as the temporary folder of a drive root comes without its "\".
std::string nativeFolderOf(const std::string& windowsFolder)
{
    if (windowsFolder.size() == 2 && windowsFolder[1] == ':')
        return toNativePath(windowsFolder + "\\");
    return toNativePath(windowsFolder);
}

std::string accountHome()
{
    const passwd* user = ::getpwuid(::getuid());
    return user && user->pw_dir ? user->pw_dir : "";
}

} // namespace

std::string configHomeNative()
{
    const std::string config = envOr("XDG_CONFIG_HOME", "");
    if (config.starts_with('/'))
        return normalizeNativePath(config);
    return absoluteFolder(homeFolder() + "/.config");
}

std::vector<std::string> dataFoldersNative()
{
    const std::string home = envOr("XDG_DATA_HOME", "");
    std::vector<std::string> folders{home.starts_with('/')
                                         ? normalizeNativePath(home)
                                         : absoluteFolder(homeFolder() + "/.local/share")};
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
    const std::string home = homeFolder();
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
    dir = absoluteFolder(dir);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
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
    const auto outer = chainOf(nativeFolderOf(outerWindowsFolder));
    return !outer.empty() && contains(chainOf(nativeFolderOf(innerWindowsFolder)), outer.front());
}

bool isFolderUnfitToEmpty(const std::string& windowsFolder)
{
    const auto chain = chainOf(nativeFolderOf(windowsFolder));
    if (chain.empty())
        return false;
    const Identity folder = chain.front();

    // Folders that must never be emptied, nor anything that holds them.
    std::vector<std::string> kept = {"/",
                                     "/home",
                                     "/root",
                                     "/media",
                                     "/mnt",
                                     "/opt",
                                     "/srv",
                                     homeFolder(),
                                     accountHome(),
                                     windowsDirectoryNative(),
                                     nativeFolderOf(GetSystemDirectoryA())};
    for (const auto& mapping : Service<DriveService>::instance().driveMap())
        kept.push_back(mapping.nativeRoot);
    for (const auto& native : kept) {
        if (contains(chainOf(native), folder))
            return true;
    }

    // The system's own trees, where nothing is the user's rubbish; the shared temporary
    // folders are the exception.
    for (const char* scratch : {"/tmp", "/var/tmp"}) {
        const auto inner = chainOf(scratch);
        if (!inner.empty() && contains(chain, inner.front()))
            return false;
    }
    for (const char* tree : {"/etc", "/usr", "/var", "/boot", "/bin", "/sbin", "/lib", "/lib32",
                             "/lib64", "/libx32", "/run", "/proc", "/sys", "/dev", "/snap"}) {
        const auto system = chainOf(tree);
        if (!system.empty() && contains(chain, system.front()))
            return true;
    }
    return false;
}

bool liesOnlyOnRootDrive(const std::string& windowsFolder)
{
    const auto chain = chainOf(nativeFolderOf(windowsFolder));
    if (chain.empty())
        return false;
    for (const auto& mapping : Service<DriveService>::instance().driveMap()) {
        if (mapping.nativeRoot == "/")
            continue;
        const auto root = chainOf(mapping.nativeRoot);
        if (!root.empty() && contains(chain, root.front()))
            return false;
    }
    return true;
}

} // namespace platform
