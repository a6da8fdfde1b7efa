#pragma once

#include "platform/files/Files.h"

#include <string_view>
#include <sys/stat.h>

namespace platform {

// What a search tells of an entry (see Files.h), from what the system says of it.

// All of it, from a stat of the entry.
void fillFromStatus(const struct stat& status, std::string_view name, WIN32_FIND_DATAA& data);
// The kind and hidden bits only, from the type the folder listing gave; the details stay
// empty until asked for.
void fillFromType(unsigned char type, std::string_view name, WIN32_FIND_DATAA& data);

} // namespace platform
