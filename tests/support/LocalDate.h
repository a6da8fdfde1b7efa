#pragma once

#include <string>

namespace test {

// Today's local date moved by whole calendar days, as vorlax.ini writes it ("2026/12/08").
std::string localDateText(int offsetDays);

} // namespace test
