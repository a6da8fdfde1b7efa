#include "platform/drives/Drives.h"
#include "platform/files/Files.h"
#include "support/Sandbox.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

using namespace platform;

namespace {

std::uint64_t ticks(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

struct Dos
{
    std::uint16_t date = 0;
    std::uint16_t time = 0;
    bool operator==(const Dos&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Dos& dos)
{
    return out << std::hex << dos.date << ":" << dos.time;
}

Dos dosOf(std::int64_t unixSeconds)
{
    Dos dos;
    EXPECT_TRUE(FileTimeToDosDateTime(fileTimeFromUnix(unixSeconds, 0), dos.date, dos.time));
    return dos;
}

constexpr Dos pack(int y, int mo, int d, int h, int mi, int s)
{
    return {static_cast<std::uint16_t>(((y - 1980) << 9) | (mo << 5) | d),
            static_cast<std::uint16_t>((h << 11) | (mi << 5) | (s / 2))};
}

std::int64_t utc(int y, int mo, int d, int h, int mi, int s)
{
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return ::timegm(&tm);
}

// A time zone for one test; the previous one comes back afterwards.
class TimeZone
{
public:
    explicit TimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone()
    {
        if (m_old)
            ::setenv("TZ", m_old->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> m_old;
};

std::int64_t localShiftHours(std::int64_t unixSeconds)
{
    const FILETIME universal = fileTimeFromUnix(unixSeconds, 0);
    FILETIME local;
    EXPECT_TRUE(FileTimeToLocalFileTime(universal, local));
    return (static_cast<std::int64_t>(ticks(local)) - static_cast<std::int64_t>(ticks(universal))) /
           36000000000;
}

} // namespace

TEST(FileTimes, UnixTimesCountFrom1601InTenthsOfMicroseconds)
{
    EXPECT_EQ(ticks(fileTimeFromUnix(0, 0)), 116444736000000000u);
    EXPECT_EQ(ticks(fileTimeFromUnix(1, 123456789)), 116444736000000000u + 11234567u);
    // A negative fraction borrows from the seconds.
    EXPECT_EQ(ticks(fileTimeFromUnix(0, -100)), 116444736000000000u - 1u);
    EXPECT_EQ(ticks(fileTimeFromUnix(-11644473600, 0)), 0u);
    EXPECT_EQ(ticks(fileTimeFromUnix(-11644473601, 0)), 0u);
    EXPECT_EQ(ticks(fileTimeFromUnix(INT64_MAX / 2, 0)), UINT64_MAX);
}

TEST(FileTimes, DosDateTimePacksAndClampsToItsRange)
{
    EXPECT_EQ(dosOf(utc(2024, 2, 29, 13, 45, 31)), pack(2024, 2, 29, 13, 45, 30));
    EXPECT_EQ(dosOf(utc(1980, 1, 1, 0, 0, 0)), pack(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(dosOf(utc(2107, 12, 31, 23, 59, 59)), pack(2107, 12, 31, 23, 59, 58));
    // Before 1980: the first moment there is; after 2107: the last.
    EXPECT_EQ(dosOf(utc(1979, 12, 31, 23, 59, 59)), pack(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(dosOf(0), pack(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(dosOf(-11644473600), pack(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(dosOf(utc(2108, 1, 1, 0, 0, 0)), pack(2107, 12, 31, 23, 59, 58));
    Dos last;
    const FILETIME end{UINT32_MAX, UINT32_MAX};
    EXPECT_TRUE(FileTimeToDosDateTime(end, last.date, last.time));
    EXPECT_EQ(last, pack(2107, 12, 31, 23, 59, 58));
}

TEST(FileTimes, LocalTimeUsesTheOffsetOfThatDate)
{
    {
        TimeZone zone("UTC0");
        EXPECT_EQ(localShiftHours(utc(2020, 1, 15, 12, 0, 0)), 0);
    }
    {
        TimeZone zone("XYZ-2");
        EXPECT_EQ(localShiftHours(utc(2020, 1, 15, 12, 0, 0)), 2);
    }
    {
        TimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(localShiftHours(utc(2020, 1, 15, 12, 0, 0)), 1);
        EXPECT_EQ(localShiftHours(utc(2020, 7, 15, 12, 0, 0)), 2);
    }
    {
        // West of Greenwich the first moments there are stay at the first moment.
        TimeZone zone("ABC+5");
        FILETIME local{1, 1};
        EXPECT_TRUE(FileTimeToLocalFileTime(FILETIME{}, local));
        EXPECT_EQ(ticks(local), 0u);
    }
    FILETIME local;
    EXPECT_FALSE(FileTimeToLocalFileTime(FILETIME{0, 0x80000000u}, local));
}

TEST(FileTimes, ASearchReportsTheModificationAndAccessTimes)
{
    test::Sandbox sandbox;
    const std::string path = sandbox.driveC() + "/old.txt";
    test::Sandbox::writeFile(path, "x");
    const timespec times[2] = {{utc(2002, 3, 4, 5, 6, 7), 800}, {utc(2001, 2, 3, 4, 5, 6), 700}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA("C:\\old.txt", data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    FindClose(handle);
    EXPECT_EQ(ticks(data.ftLastWriteTime), ticks(fileTimeFromUnix(utc(2001, 2, 3, 4, 5, 6), 700)));
    EXPECT_EQ(ticks(data.ftLastAccessTime), ticks(fileTimeFromUnix(utc(2002, 3, 4, 5, 6, 7), 800)));
    Dos dos;
    ASSERT_TRUE(FileTimeToDosDateTime(data.ftLastWriteTime, dos.date, dos.time));
    EXPECT_EQ(dos, pack(2001, 2, 3, 4, 5, 6));
}

TEST(LogicalDrives, FollowTheDriveMapOfTheEnvironment)
{
    test::Sandbox sandbox;
    sandbox.setDrives("A:=/a;C:=/@fixed;E:=" + sandbox.tmp() + ";Z:=/z");
    EXPECT_EQ(GetLogicalDrives(), (1u << 0) | (1u << 2) | (1u << 4) | (1u << 25));
    // Without "/" in the map, Z: stands for it.
    sandbox.setDrives("D:=" + sandbox.tmp());
    EXPECT_EQ(GetLogicalDrives(), (1u << 3) | (1u << 25));
}
