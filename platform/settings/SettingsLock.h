#pragma once

#include "platform/core/FileStorage.h"

namespace platform {

// What a hold of the settings lock keeps other holders of the same kind from doing
// meanwhile; holds of different kinds never wait for each other.
enum class SettingsHold {
    // Reading, changing and replacing a file of the Windows directory.
    Write,
    // Working through found files and the trash for these settings: one at a time.
    Collection,
};

// A hold of vorlax.lock in the Windows directory, the lock of everything kept there. Each
// kind of hold is one byte of the file, locked with an open file description lock: holds
// in one process exclude each other as those of two processes do, and a hold ends with
// its descriptor however the process ends. Folders are never locked themselves: anyone who
// may open a folder may lock it, and the folders of earlier versions are open to all.
class SettingsLock
{
public:
    // A Write hold waits for another holder at most SettingsWriteWaitMs (and then says so
    // on standard error), a Collection hold not at all, and neither once a termination
    // signal has come. Creates the Windows directory (0700, with its missing parents) and
    // the lock file (0600) when missing, and never opens the lock file through a link.
    explicit SettingsLock(SettingsHold hold);

    bool held() const { return m_error == 0; }
    // 0 when held; EWOULDBLOCK when another holds it; ENOLCK when the filesystem keeps no
    // such locks; otherwise why the lock file could not be opened.
    int error() const { return m_error; }

private:
    OwnedFd m_file;
    int m_error = 0;
};

inline constexpr int SettingsWriteWaitMs = 5000;

// The lock file's name in the Windows directory.
inline constexpr const char* SettingsLockName = "vorlax.lock";

} // namespace platform
