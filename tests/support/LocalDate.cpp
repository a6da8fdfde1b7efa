#include "support/LocalDate.h"

#include <ctime>

namespace test {

std::string localDateText(int offsetDays)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    local.tm_mday += offsetDays;
    local.tm_hour = 12; // clear of any daylight-saving change
    std::mktime(&local);
    char text[16];
    std::strftime(text, sizeof text, "%Y/%m/%d", &local);
    return text;
}

} // namespace test
