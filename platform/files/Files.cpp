#include "platform/files/Files.h"

#include "platform/core/Service.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <limits>

namespace platform {

namespace {

constexpr std::int64_t SecondsFrom1601To1970 = 11644473600;
constexpr std::uint64_t TicksPerSecond = 10000000;

std::uint64_t ticksOf(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME fileTimeOf(std::uint64_t ticks)
{
    return {static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32)};
}

} // namespace

HANDLE FindFirstFileA(const std::string& pattern, WIN32_FIND_DATAA& data)
{
    return Service<FileService>::instance().findFirst(pattern, data, 0);
}

HANDLE FindFirstFileExA(const std::string& pattern, WIN32_FIND_DATAA& data, unsigned flags)
{
    return Service<FileService>::instance().findFirst(pattern, data, flags);
}

bool FindNextFileA(HANDLE search, WIN32_FIND_DATAA& data)
{
    return Service<FileService>::instance().findNext(search, data);
}

bool findFileDetails(HANDLE search, WIN32_FIND_DATAA& data)
{
    return Service<FileService>::instance().findDetails(search, data);
}

bool FindClose(HANDLE search)
{
    return Service<FileService>::instance().findClose(search);
}

FILETIME fileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds)
{
    seconds += nanoseconds / 1000000000;
    nanoseconds %= 1000000000;
    if (nanoseconds < 0) {
        nanoseconds += 1000000000;
        --seconds;
    }
    if (seconds < -SecondsFrom1601To1970)
        return {};
    const auto since1601 = static_cast<std::uint64_t>(seconds + SecondsFrom1601To1970);
    constexpr std::uint64_t lastSecond =
        std::numeric_limits<std::uint64_t>::max() / TicksPerSecond - 1;
    if (since1601 > lastSecond)
        return fileTimeOf(std::numeric_limits<std::uint64_t>::max());
    return fileTimeOf(since1601 * TicksPerSecond + static_cast<std::uint64_t>(nanoseconds) / 100);
}

bool FileTimeToLocalFileTime(const FILETIME& fileTime, FILETIME& localFileTime)
{
    const std::uint64_t ticks = ticksOf(fileTime);
    // Windows refuses times with the top bit set.
    if (ticks > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return false;
    const std::time_t seconds =
        static_cast<std::time_t>(ticks / TicksPerSecond) - SecondsFrom1601To1970;
    std::tm local{};
    if (!::localtime_r(&seconds, &local))
        return false;
    const std::int64_t shifted = static_cast<std::int64_t>(ticks) +
                                 local.tm_gmtoff * static_cast<std::int64_t>(TicksPerSecond);
    localFileTime = fileTimeOf(shifted < 0 ? 0 : static_cast<std::uint64_t>(shifted));
    return true;
}

bool FileTimeToDosDateTime(const FILETIME& fileTime, std::uint16_t& fatDate, std::uint16_t& fatTime)
{
    using namespace std::chrono;
    const std::uint64_t seconds = ticksOf(fileTime) / TicksPerSecond;
    const auto day = static_cast<std::int64_t>(seconds / 86400);
    const auto second = static_cast<unsigned>(seconds % 86400);
    constexpr sys_days first = year{1601} / January / 1;
    // Far-off days would overflow the calendar year; all of them are past 2107 anyway.
    constexpr auto after2107 = (sys_days{year{2108} / January / 1} - first).count();
    const year_month_day date{first + days{std::min<std::int64_t>(day, after2107)}};
    const int y = static_cast<int>(date.year());
    if (y < 1980) {
        fatDate = (1 << 5) | 1;
        fatTime = 0;
    } else if (y > 2107) {
        fatDate = static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
        fatTime = static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
    } else {
        fatDate = static_cast<std::uint16_t>(((y - 1980) << 9) |
                                             (static_cast<unsigned>(date.month()) << 5) |
                                             static_cast<unsigned>(date.day()));
        fatTime = static_cast<std::uint16_t>(((second / 3600) << 11) | ((second / 60 % 60) << 5) |
                                             (second % 60 / 2));
    }
    return true;
}

} // namespace platform
