#include "runtime/Files.h"

#include "platform/Drives.h"

#include <sys/stat.h>

namespace runtime {

bool fileExists(const std::string& windowsPath)
{
    const std::string native = platform::toNativePath(windowsPath);
    struct stat info = {};
    return !native.empty() && ::stat(native.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

} // namespace runtime
