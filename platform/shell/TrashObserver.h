#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>

namespace platform {

// One entry on its way into a trash, as the move knows it just before the rename.
struct TrashedEntry
{
    std::string original; // the native path it leaves, links resolved
    std::string trash;    // the trash folder (the one holding files/ and info/)
    std::string name;     // its name in files/; the info file is name + ".trashinfo"
    std::string pathKey;  // the Path key of the info file, as written there
    std::uint64_t size = 0;
    dev_t device = 0; // of the entry in the trash
    ino_t inode = 0;
    timespec modified = {};
    bool folder = false;
};

// Told of every move to the trash while installed, so a collection can keep what it moved.
class TrashObserver
{
public:
    virtual ~TrashObserver() = default;
    // Before the info file is written and the entry renamed. A failure (the errno) refuses
    // the move: nothing that cannot be found again is moved.
    virtual int aboutToMove(const TrashedEntry& entry) = 0;
    // After the entry is in the trash, whole.
    virtual void moved(const TrashedEntry& entry) = 0;
};

// Installs an observer for its lifetime (one at a time; the previous comes back after).
class ObservedTrash
{
public:
    explicit ObservedTrash(TrashObserver& observer);
    ~ObservedTrash();
    ObservedTrash(const ObservedTrash&) = delete;
    ObservedTrash& operator=(const ObservedTrash&) = delete;

private:
    TrashObserver* m_previous;
};

// The observer installed now, or null.
TrashObserver* trashObserver();

} // namespace platform
