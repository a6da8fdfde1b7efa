#pragma once

#include <string>

namespace platform {

// The native Windows directory: $VORLAX_WINDIR, else $XDG_CONFIG_HOME/vorlax (or
// ~/.config/vorlax); created when missing.
std::string windowsDirectoryNative();

// $XDG_CONFIG_HOME, or ~/.config when it is unset, empty or relative (a relative value is
// invalid and ignored, so every reader of it agrees on the folder).
std::string configHomeNative();

// Windows forms, as the system reports them: no trailing "\" except for a drive root.
std::string GetWindowsDirectoryA();
std::string GetSystemDirectoryA();
// $TMPDIR or /tmp, with a trailing "\".
std::string GetTempPathA();

} // namespace platform
