#include "platform/files/EntryAttributes.h"

#include "platform/files/SearchPattern.h"

#include <cstdint>
#include <dirent.h>

namespace platform {

namespace {

std::uint32_t kindOfMode(mode_t mode)
{
    if (S_ISDIR(mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    if (S_ISREG(mode))
        return FILE_ATTRIBUTE_ARCHIVE;
    return FILE_ATTRIBUTE_SYSTEM;
}

std::uint32_t kindOfType(unsigned char type)
{
    if (type == DT_DIR)
        return FILE_ATTRIBUTE_DIRECTORY;
    if (type == DT_REG)
        return FILE_ATTRIBUTE_ARCHIVE;
    return FILE_ATTRIBUTE_SYSTEM;
}

std::uint32_t hiddenBit(std::string_view name)
{
    return !name.empty() && name.front() == '.' && !isDotName(name) ? FILE_ATTRIBUTE_HIDDEN : 0;
}

} // namespace

void fillFromStatus(const struct stat& status, std::string_view name, WIN32_FIND_DATAA& data)
{
    std::uint32_t attributes = kindOfMode(status.st_mode) | hiddenBit(name);
    if (!(status.st_mode & S_IWUSR))
        attributes |= FILE_ATTRIBUTE_READONLY;
    data.dwFileAttributes = attributes;
    data.nFileSize = S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0;
    data.ftLastAccessTime = fileTimeFromUnix(status.st_atim.tv_sec, status.st_atim.tv_nsec);
    data.ftLastWriteTime = fileTimeFromUnix(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
}

void fillFromType(unsigned char type, std::string_view name, WIN32_FIND_DATAA& data)
{
    data.dwFileAttributes = kindOfType(type) | hiddenBit(name);
    data.nFileSize = 0;
    data.ftLastAccessTime = {};
    data.ftLastWriteTime = {};
}

} // namespace platform
