#pragma once

#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

// Linux 5.8 reports it; older headers lack the name.
#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

namespace platform {

// Whether the entry statx looked at is the top of a mount, where the filesystem says so;
// nullopt where it does not, and the caller compares devices with the folder above.
inline std::optional<bool> reportedMountRoot(const struct statx& status)
{
    if (!(status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
        return std::nullopt;
    return (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

} // namespace platform
