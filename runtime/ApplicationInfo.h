#pragma once

#include <string>

namespace runtime {

// The application's title: its name when an application object has one, else the
// executable's file name without its extension.
std::string applicationTitle();

} // namespace runtime
