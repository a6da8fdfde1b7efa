#pragma once

#include "scan/Masks.h"

#include <memory>
#include <string>
#include <vector>

// A mask list, in the order in which the masks stand in its text.
using TMaskList = std::vector<std::unique_ptr<TMultiMask>>;

// Appends one mask for every non-empty comma-separated element of Text (leading and
// trailing blanks removed). Lets EMaskException through; masks added before the invalid
// one stay in the list.
void ParseMaskList(TMaskList& List, const std::string& Text);
// Whether any mask of the list matches Name; an empty list matches nothing.
bool MatchesAny(const TMaskList& List, const std::string& Name);
