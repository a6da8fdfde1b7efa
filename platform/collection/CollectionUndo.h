#pragma once

#include "platform/collection/CollectionRecord.h"

#include <string>
#include <utility>
#include <vector>

namespace platform {

// What one undo of a recorded run did.
struct UndoOutcome
{
    std::vector<std::string> putBack;                      // native paths, now back
    std::vector<std::pair<std::string, std::string>> left; // native path, why it stays
    int alreadyBack = 0;                                   // back before this undo
};

// Puts every file the run moved back at its place, each only while its trash entry is
// still the one the run made (device and inode) and its info file still names that place,
// through the same walk as the move, by a rename that never replaces anything, into no
// folder of another user; folders gone on the way are made again. The info file goes once
// the file is back, and a put-back file is noted in the record. Call with the collection
// hold of the settings lock.
UndoOutcome undoCollection(const CollectionRecord& record);

// Removes the info files a killed run or undo left beside no entry, where they still name
// the place of a file of the record.
void dropLeftoverInfos(const CollectionRecord& record);

} // namespace platform
