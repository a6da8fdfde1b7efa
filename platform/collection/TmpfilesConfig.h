#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A path that the system's tmpfiles.d(5) configuration keeps out of its cleaning.
struct TmpfilesExclusion
{
    std::string pattern;       // absolute, maybe with shell globs
    bool withContents = false; // an x line: the path and everything inside it; X: the path
    bool operator==(const TmpfilesExclusion&) const = default;
};

// A folder of tmpfiles.d files. The user's own (a user-tmpfiles.d folder) resolve %h, %u,
// %t and the like to the running user's, as `systemd-tmpfiles --user` does; the others to
// the system instance's (/root, root, /run ...).
struct TmpfilesFolder
{
    std::string path;
    bool user = false;
};

// The folders, highest precedence first: the system's (/etc, /run, /usr/local/lib and
// /usr/lib tmpfiles.d) and the user's (user-tmpfiles.d in the configuration folder,
// $XDG_RUNTIME_DIR, the data folder, /etc/xdg, /usr/local/share and /usr/share).
// VORLAX_TMPFILES_PATH, a ":"-separated list of folders, replaces them all; there a folder
// named user-tmpfiles.d is the user's.
std::vector<TmpfilesFolder> tmpfilesFolders();

// The value of a specifier letter; nothing when it cannot be resolved.
// The system's lines resolve them for root and the system's folders, the user's for the
// running user.
using TmpfilesSpecifiers = std::function<std::optional<std::string>(char letter)>;
enum class TmpfilesScope { System, User };
TmpfilesSpecifiers tmpfilesSpecifiers(TmpfilesScope scope);

// The exclusion one line states: an x or X line (with any modifiers) whose path, its
// quotes, escapes and specifiers resolved, is absolute. Nothing for any other line, and for
// a line tmpfiles would reject (an unknown or unresolvable specifier, a bad escape).
std::optional<TmpfilesExclusion> tmpfilesExclusion(std::string_view line,
                                                   const TmpfilesSpecifiers& specifiers);

// The exclusions of every *.conf file in the folders. A file hides the files of the same
// name in the later folders of its kind (the user's or the system's), as one in /etc
// replaces the vendor's (a link to /dev/null hides it without saying anything).
std::vector<TmpfilesExclusion> readTmpfilesExclusions(const std::vector<TmpfilesFolder>& folders);

// Whether the exclusion names the absolute native path: its pattern matches as
// tmpfiles matches globs (a "/" or a leading "." only by itself).
bool excludes(const TmpfilesExclusion& exclusion, const std::string& nativePath);

} // namespace platform
