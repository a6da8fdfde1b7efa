#pragma once

#include "platform/collection/CollectionRecord.h"
#include "platform/collection/TmpfilesConfig.h"
#include "platform/files/Files.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

// Ours, for a collection and for whatever lists what one would take: what no stage takes,
// whatever its masks say.
// - Every stage leaves version-control data (.git, .hg, .svn, .bzr and _darcs folders, and
//   a worktree's .git file), Vorlax's own folder, the autostart folder and the user's keys
//   and secrets: ~/.ssh, ~/.gnupg ($GNUPGHOME), ~/.pki, ~/.password-store
//   ($PASSWORD_STORE_DIR) and the keyrings (~/.local/share/keyrings).
// - A stage that empties a folder whole also leaves what the running system still uses:
//   files modified or read within the last 24 hours, what the tmpfiles.d configuration
//   keeps out of its cleaning (x and X lines), and the X and session files (.X*-lock,
//   .X11-unix, .ICE-unix, .XIM-unix, .font-unix, .Test-unix, systemd-private-*,
//   serverauth.*, xauth*, .xauth*, krb5cc*, ssh-*, tmux-*, screen*).
// - Every stage leaves a file an undo put back while it is the same file (device, inode,
//   modification time): the user said it is no rubbish.
// A folder kept is kept with everything inside it, and a search never enters it. The
// root itself is kept when it is or lies inside a folder kept.
class CollectionRules
{
public:
    enum class Reach { Masks, WholeFolder };

    // The rules of a stage that searches the Windows folder root; what they need is read
    // once, here.
    CollectionRules(Reach reach, const std::string& windowsRoot);

    // Folder is a Windows folder text as a search of the root reached it.
    // Whether the search leaves the folder entry Name unentered.
    bool skipsFolder(const std::string& windowsFolder, const std::string& name);
    // Whether an entry found stays, by its name and place alone.
    bool keepsByName(const std::string& windowsFolder, const std::string& name);
    // Whether it stays by its details (times).
    bool keepsByDetails(const WIN32_FIND_DATAA& entry) const;
    // Whether the file has been modified or read within the last 24 hours, looked at anew
    // (its turn comes a while after the search found it). Always false in a stage that is
    // not aged, and for a file that cannot be looked at.
    bool usedLately(const std::string& windowsPath) const;

    bool keepsEverything() const { return m_keepsEverything; }

private:
    struct Guarded
    {
        std::string path; // links resolved
        std::string name; // its last part, what a search meets first
        dev_t device;
        ino_t inode;
    };

    // The native path of a folder text of the search.
    const std::string& nativeOf(const std::string& windowsFolder);
    bool isGuarded(const std::string& windowsFolder, const std::string& name);
    enum class Entry { File, Folder };
    bool isExcluded(const std::string& windowsFolder, const std::string& name, Entry entry);

    bool m_whole;
    bool m_keepsEverything = false;
    std::string m_rootText;   // without a trailing "\"
    std::string m_rootNative; // links resolved
    std::vector<Guarded> m_guarded;
    std::vector<TmpfilesExclusion> m_exclusions; // those that can name something here
    std::uint64_t m_cutoff = 0;                  // FILETIME ticks 24 hours ago
    std::string m_lastFolder;
    std::string m_lastNative;
    std::shared_ptr<const KeptAside> m_keptAside;
};

} // namespace platform
