#include "app/CollectionCommands.h"

#include "app/RunReport.h"

#include "platform/collection/CollectionUndo.h"
#include "platform/settings/SettingsLock.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

struct Counts
{
    int files = 0;
    std::uint64_t bytes = 0;
    int inTrash = 0;
    int keptAside = 0;
};

Counts countsOf(const platform::CollectionRecord& record)
{
    Counts counts;
    for (const auto& file : record.files) {
        const auto where = platform::whereabouts(file);
        if (!platform::movedByRun(file, where))
            continue;
        ++counts.files;
        counts.bytes += file.entry.size;
        counts.inTrash += where == platform::Whereabouts::InTrash;
        counts.keptAside += file.putBack && where == platform::Whereabouts::Back;
    }
    return counts;
}

} // namespace

void printCollections(std::ostream& out)
{
    const auto paths = platform::recordPaths();
    if (paths.empty()) {
        out << "No collection is recorded in " << platform::collectionsFolder() << ".\n";
        return;
    }
    char line[160];
    std::snprintf(line, sizeof line, "%-19s  %7s  %12s  %8s  %10s\n", "Started", "Files", "Amount",
                  "In trash", "Kept aside");
    out << line;
    for (const std::string& path : paths) {
        const auto record = platform::readRecord(path);
        if (!record)
            continue;
        const Counts counts = countsOf(*record);
        std::snprintf(line, sizeof line, "%-19s  %7d  %12s  %8d  %10d\n",
                      platform::recordTime(record->started).c_str(), counts.files,
                      kilobytesText(counts.bytes).c_str(), counts.inTrash, counts.keptAside);
        out << line;
    }
}

std::optional<platform::CollectionRecord> chooseCollection(const std::string& time,
                                                           std::string& why)
{
    for (const std::string& path : platform::recordPaths()) {
        auto record = platform::readRecord(path);
        if (!record)
            continue;
        if (!time.empty()) {
            if (platform::recordTime(record->started) == time)
                return record;
            continue;
        }
        // The newest with a file in the trash: the first one found will do.
        if (std::any_of(record->files.begin(), record->files.end(), [](const auto& file) {
                return platform::whereabouts(file) == platform::Whereabouts::InTrash;
            }))
            return record;
    }
    why = time.empty() ? "No recorded collection has files in the trash any more."
                       : "No collection started at " + time + " is recorded (vorlax " +
                             "--collections lists them).";
    return std::nullopt;
}

UndoReport undoCollectionAt(const std::string& time)
{
    UndoReport report;
    // Never while a collection moves files, nor two undos at once.
    platform::SettingsLock hold(platform::SettingsHold::Collection);
    if (!hold.held()) {
        report.status = 1;
        report.text = hold.error() == EWOULDBLOCK
                          ? "Another Vorlax is collecting with these settings. Try again when "
                            "it has finished.\n"
                          : "The lock of the settings cannot be taken: " +
                                std::string(std::strerror(hold.error())) + ".\n";
        return report;
    }
    std::string why;
    const auto record = chooseCollection(time, why);
    if (!record) {
        // A run or an undo killed just after writing an info file may have left one.
        if (time.empty()) {
            for (const std::string& path : platform::recordPaths()) {
                if (const auto leftover = platform::readRecord(path))
                    platform::dropLeftoverInfos(*leftover);
            }
        }
        // Nothing of it is left to put back: a second undo changes nothing.
        report.status = time.empty() ? 0 : 1;
        report.text = why + "\n";
        return report;
    }
    const platform::UndoOutcome outcome = platform::undoCollection(*record);
    std::ostringstream text;
    const std::string started = platform::recordTime(record->started);
    for (const std::string& path : outcome.putBack)
        text << "put back: " << path << "\n";
    for (const auto& [path, reason] : outcome.left)
        text << "left in the trash: " << path << ": " << reason << "\n";
    if (outcome.putBack.empty() && outcome.left.empty())
        text << "Every file of the collection of " << started
             << " is back already; nothing was put back.\n";
    else
        text << outcome.putBack.size() << (outcome.putBack.size() == 1 ? " file" : " files")
             << " of the collection of " << started << " put back, " << outcome.left.size()
             << " left in the trash.\n";
    report.status = outcome.left.empty() ? 0 : 1;
    report.text = text.str();
    return report;
}
