#pragma once

#include "platform/core/FileStorage.h"
#include "platform/shell/TrashObserver.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <vector>

namespace platform {

// Every collection run that moves something leaves one record file in
// $XDG_STATE_HOME/vorlax/collections (folder 0700, files 0600): a header with its start,
// then a line for each file before its move and one after it, and later one for each file
// put back. Lines are appended whole, the line after a move with the next one before a
// move, so a killed run leaves every line but perhaps a last cut one, which readers
// ignore, and the line of its last move, which the entry in the trash stands in for.
std::string collectionsFolder();

inline constexpr int RecordsKept = 100;
inline constexpr std::uint64_t RecordBytesKept = 100ull * 1024 * 1024;

// Writes the record of one run while it lives: the trash observer of every move. The file
// is made at the first move, after the oldest records beyond the limits went.
class CollectionRecorder : public TrashObserver
{
public:
    CollectionRecorder();
    ~CollectionRecorder() override;

    int aboutToMove(const TrashedEntry& entry) override;
    void moved(const TrashedEntry& entry) override;

    // Empty until the first move.
    const std::string& path() const { return m_path; }

private:
    int open();
    int append(const std::string& line);

    ObservedTrash m_installed;
    std::time_t m_started;
    OwnedFd m_file;
    std::string m_path;
    std::uint64_t m_next = 0;
    std::uint64_t m_current = 0;
    std::string m_moved; // the line of the last move, written with the next
};

struct FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t modifiedNs = 0;
    auto operator<=>(const FileIdentity&) const = default;
};

struct RecordedFile
{
    std::uint64_t index = 0;
    TrashedEntry entry;
    bool moved = false;                  // its move finished
    std::optional<FileIdentity> putBack; // the file an undo put back
};

struct CollectionRecord
{
    std::string path;
    std::time_t started = 0;
    // One per file (the last attempt of a move tried under several names).
    std::vector<RecordedFile> files;
};

// Newest first.
std::vector<std::string> recordPaths();
std::optional<CollectionRecord> readRecord(const std::string& path);
// The start as --collections shows it and --undo takes it: local time, 2026-12-08T21:30:05.
std::string recordTime(std::time_t started);

enum class Whereabouts { InTrash, Back, Gone };
// By a look at both places, for showing; an undo checks again on its way.
Whereabouts whereabouts(const RecordedFile& file);
// Whether the file belongs to what the run moved: its move finished, or it is in the trash
// (a run killed between the move and its line).
bool movedByRun(const RecordedFile& file, Whereabouts where);

// Appends that an undo put the file back; false when the line could not be written.
bool notePutBack(const std::string& recordPath, std::uint64_t index, const FileIdentity& back);
// The same into a record already open for appending.
bool notePutBack(int recordFile, std::uint64_t index, const FileIdentity& back);

FileIdentity identityOf(const struct stat& status);

// The files put back by an undo, which a collection leaves while they stay the same file.
struct KeptAside
{
    std::set<std::string> names; // their last parts, so most names need no look
    std::set<FileIdentity> files;
    bool keeps(const std::string& nativePath, const std::string& name) const;
};
// Read from the records, again only when they changed.
std::shared_ptr<const KeptAside> keptAsideFiles();

} // namespace platform
