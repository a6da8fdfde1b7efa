#include "platform/Folders.h"

#include <cstdlib>
#include <filesystem>

namespace platform {

namespace {

std::string envOr(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : fallback;
}

} // namespace

std::string windowsDirectoryNative()
{
    std::string dir = envOr("VORLAX_WINDIR", "");
    if (dir.empty()) {
        const std::string config = envOr("XDG_CONFIG_HOME", envOr("HOME", "/") + "/.config");
        dir = config + "/vorlax";
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return std::filesystem::path(dir).lexically_normal().string();
}

} // namespace platform
