#pragma once

#include <string>

namespace runtime {

// Whether a Windows path names an existing file (not a folder).
bool fileExists(const std::string& windowsPath);

} // namespace runtime
