#pragma once

#include "platform/collection/CollectionRecord.h"

#include <optional>
#include <ostream>
#include <string>

// The recorded runs, newest first: start, files, amount, how many are still in the trash
// and how many were put back and are kept aside since.
void printCollections(std::ostream& out);

// The newest run with files still in the trash, or the one that started at time (as
// printCollections shows it); nullopt with the reason in why.
std::optional<platform::CollectionRecord> chooseCollection(const std::string& time,
                                                           std::string& why);

struct UndoReport
{
    int status = 0; // 0 when every file is back, 1 otherwise
    std::string text;
};

// Takes the collection hold, puts the chosen run back and says what came back and what
// stays, with each reason.
UndoReport undoCollectionAt(const std::string& time);
