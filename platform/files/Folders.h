#pragma once

#include <string>
#include <vector>

namespace platform {

// The native Windows directory: $VORLAX_WINDIR, else $XDG_CONFIG_HOME/vorlax (or
// ~/.config/vorlax). Looking it up creates nothing; a write creates it (SettingsLock).
std::string windowsDirectoryNative();

// The user's home folder, one rule for the drive map, the settings, the trash and the
// collection: HOME, or the home of the user's entry in the password database when HOME is
// unset, empty, relative or "/". When neither names a folder other than "/": empty, or "/"
// for a caller that needs some folder.
enum class WithoutHome { Empty, Root };
std::string homeFolderNative(WithoutHome without = WithoutHome::Empty);

// $XDG_CONFIG_HOME, or ~/.config when it is unset, empty or relative (a relative value is
// invalid and ignored, so every reader of it agrees on the folder).
std::string configHomeNative();
// $XDG_DATA_HOME, or ~/.local/share, by the same rule.
std::string dataHomeNative();
// $XDG_STATE_HOME, or ~/.local/state, by the same rule.
std::string stateHomeNative();

// Where the desktop looks for menu entries and icons, the user's own first: $XDG_DATA_HOME
// (or ~/.local/share), then each folder of $XDG_DATA_DIRS (or /usr/local/share and
// /usr/share). Relative entries are invalid and left out.
std::vector<std::string> dataFoldersNative();

// The desktop folder as `xdg-user-dir DESKTOP` names it: XDG_DESKTOP_DIR of
// user-dirs.dirs in the config folder, else ~/Desktop. It need not exist.
std::string desktopFolderNative();

// Windows forms, as the system reports them: no trailing "\" except for a drive root.
std::string GetWindowsDirectoryA();
std::string GetSystemDirectoryA();
// $TMPDIR or /tmp, with a trailing "\".
std::string GetTempPathA();
// The process's current folder; empty when it is gone.
std::string GetCurrentDirectoryA();

// Whether two Windows paths name the same folder, or inner lies inside outer. Folders are
// compared by identity (device and inode), as every folder has several Windows names.
// False when either cannot be looked at.
bool isSameOrInside(const std::string& innerWindowsFolder, const std::string& outerWindowsFolder);
// Whether emptying the folder could reach what is nobody's rubbish: it is, or holds, "/", a
// drive root, the home folder (or /home, /root, /media, /mnt, /opt, /srv), the Windows or
// the system directory; or it lies in one of the system's own trees (/etc, /usr, /var,
// /boot, /run, /proc ...), /var/tmp aside. False for a folder that cannot be looked at.
bool isFolderUnfitToEmpty(const std::string& windowsFolder);
// Whether the folder lies on no drive of its own, only under the letter that stands for "/".
bool liesOnlyOnRootDrive(const std::string& windowsFolder);

} // namespace platform
