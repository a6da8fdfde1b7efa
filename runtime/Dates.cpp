#include "runtime/Dates.h"

#include "runtime/Errors.h"

#include <chrono>
#include <ctime>
#include <vector>

namespace runtime {

namespace {

using namespace std::chrono;

constexpr sys_days zeroDate = sys_days{year{1899} / December / 30};

std::optional<TDate>& pinnedToday()
{
    static std::optional<TDate> date;
    return date;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The order in which year, month and day stand in the pattern: 'y', 'm', 'd'.
std::string fieldOrder(const std::string& pattern)
{
    std::string order;
    for (char c : pattern) {
        const char lower = static_cast<char>(c | 0x20);
        if ((lower == 'y' || lower == 'm' || lower == 'd') &&
            order.find(lower) == std::string::npos)
            order += lower;
    }
    return order.size() == 3 ? order : std::string("dmy");
}

std::string pad(int value, std::size_t width)
{
    std::string text = std::to_string(value);
    return text.size() < width ? std::string(width - text.size(), '0') + text : text;
}

[[noreturn]] void invalid(const std::string& text)
{
    throw ConvertError(formatMessage("'%s' is not a valid date", text));
}

} // namespace

DateConventions& dateConventions()
{
    static DateConventions conventions;
    return conventions;
}

void setDateConventions(char separator, const std::string& shortDatePattern)
{
    dateConventions() = DateConventions{separator, shortDatePattern};
}

TDate encodeDate(int y, int m, int d)
{
    const year_month_day date{year{y}, month{static_cast<unsigned>(m)},
                              day{static_cast<unsigned>(d)}};
    return static_cast<TDate>((sys_days{date} - zeroDate).count());
}

void decodeDate(TDate date, int& y, int& m, int& d)
{
    const year_month_day ymd{zeroDate + days{date}};
    y = static_cast<int>(ymd.year());
    m = static_cast<int>(static_cast<unsigned>(ymd.month()));
    d = static_cast<int>(static_cast<unsigned>(ymd.day()));
}

TDate today()
{
    if (pinnedToday())
        return *pinnedToday();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return encodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

void overrideToday(std::optional<TDate> date)
{
    pinnedToday() = date;
}

std::string dateToStr(TDate date)
{
    int y = 0, m = 0, d = 0;
    decodeDate(date, y, m, d);
    const DateConventions& conventions = dateConventions();
    const std::string& pattern = conventions.shortDatePattern;
    std::string text;
    for (std::size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        const char lower = static_cast<char>(c | 0x20);
        std::size_t run = 1;
        while (i + run < pattern.size() && (pattern[i + run] | 0x20) == lower)
            ++run;
        if (lower == 'y')
            text += run <= 2 ? pad(y % 100, 2) : pad(y, 4);
        else if (lower == 'm')
            text += run == 1 ? std::to_string(m) : pad(m, 2);
        else if (lower == 'd')
            text += run == 1 ? std::to_string(d) : pad(d, 2);
        else if (c == '/')
            text.append(run, conventions.separator);
        else
            text.append(run, c);
        i += run;
    }
    return text;
}

TDate strToDate(const std::string& text)
{
    const DateConventions& conventions = dateConventions();
    std::vector<int> parts;
    std::vector<std::size_t> widths;
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && text[i] == ' ')
            ++i;
    };
    skipBlanks();
    while (i < text.size()) {
        if (!isDigit(text[i]))
            invalid(text);
        std::size_t start = i;
        long value = 0;
        while (i < text.size() && isDigit(text[i])) {
            value = value * 10 + (text[i] - '0');
            if (value > 99999)
                invalid(text);
            ++i;
        }
        parts.push_back(static_cast<int>(value));
        widths.push_back(i - start);
        skipBlanks();
        if (i < text.size()) {
            if (text[i] != conventions.separator || parts.size() == 3)
                invalid(text);
            ++i;
            skipBlanks();
            if (i == text.size())
                invalid(text);
        }
    }
    if (parts.size() < 2)
        invalid(text);

    int y = 0, m = 0, d = 0;
    decodeDate(today(), y, m, d);
    const int currentYear = y;
    std::string order = fieldOrder(conventions.shortDatePattern);
    if (parts.size() == 2)
        order.erase(order.find('y'), 1);
    bool shortYear = false;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        if (order[k] == 'y') {
            y = parts[k];
            shortYear = widths[k] <= 2;
        } else if (order[k] == 'm') {
            m = parts[k];
        } else {
            d = parts[k];
        }
    }
    if (parts.size() == 2)
        y = currentYear;
    else if (shortYear && y < 100)
        y += currentYear / 100 * 100;

    const year_month_day date{year{y}, month{static_cast<unsigned>(m)},
                              day{static_cast<unsigned>(d)}};
    if (y < 1 || y > 9999 || !date.ok())
        invalid(text);
    return encodeDate(y, m, d);
}

} // namespace runtime
