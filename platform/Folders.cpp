#include "platform/Folders.h"

#include "platform/Drives.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

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

} // namespace

std::string configHomeNative()
{
    const std::string config = envOr("XDG_CONFIG_HOME", "");
    if (config.starts_with('/'))
        return normalizeNativePath(config);
    return absoluteFolder(homeFolder() + "/.config");
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

} // namespace platform
