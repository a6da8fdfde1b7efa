#pragma once

#include <optional>
#include <string>

namespace runtime {

// Dates count whole days from the zero date, 30 December 1899.
using TDate = int;

// The process-wide conventions for turning dates into text and back.
struct DateConventions
{
    char separator = '-';
    std::string shortDatePattern = "dd-mm-yyyy";
};

DateConventions& dateConventions();
void setDateConventions(char separator, const std::string& shortDatePattern);

TDate encodeDate(int year, int month, int day);
void decodeDate(TDate date, int& year, int& month, int& day);
// Today's local calendar date.
TDate today();
// Tests pin "today" to a fixed date; std::nullopt returns to the clock.
void overrideToday(std::optional<TDate> date);

// Formats with the short date pattern (d, dd, m, mm, yy, yyyy; "/" stands for the separator).
std::string dateToStr(TDate date);
// Reads year, month and day in the order of the short date pattern, separated by the
// separator. Two parts mean month and day of the current year; a year below 100 is taken
// in the current century. Throws ConvertError "'%s' is not a valid date".
TDate strToDate(const std::string& text);

} // namespace runtime
