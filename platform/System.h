#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 as on Windows.
std::uint32_t GetTickCount();
// The running executable's full path, in Windows form.
std::string GetModuleFileNameA();

} // namespace platform
