#include "runtime/Dates.h"
#include "runtime/Errors.h"

#include <gtest/gtest.h>

using namespace runtime;

namespace {

class DatesTest : public ::testing::Test
{
protected:
    void SetUp() override { setDateConventions('/', "yyyy/mm/dd"); }
    void TearDown() override
    {
        overrideToday(std::nullopt);
        setDateConventions('-', "dd-mm-yyyy");
    }
};

} // namespace

TEST_F(DatesTest, ZeroDateAndPatternFormatting)
{
    EXPECT_EQ(encodeDate(1899, 12, 30), 0);
    EXPECT_EQ(dateToStr(0), "1899/12/30");
    EXPECT_EQ(dateToStr(encodeDate(2001, 3, 5)), "2001/03/05");
    EXPECT_EQ(encodeDate(2000, 1, 1) - encodeDate(1999, 12, 31), 1);
    EXPECT_EQ(encodeDate(2000, 3, 1) - encodeDate(2000, 2, 28), 2); // leap year

    setDateConventions('-', "dd-mm-yyyy");
    EXPECT_EQ(dateToStr(encodeDate(2001, 3, 5)), "05-03-2001");
    setDateConventions('.', "d/m/yy");
    EXPECT_EQ(dateToStr(encodeDate(2001, 3, 5)), "5.3.01");
}

TEST_F(DatesTest, WrittenDatesReadBackTheSame)
{
    for (TDate date : {0, 1, 36000, encodeDate(2026, 12, 31), encodeDate(2024, 2, 29)})
        EXPECT_EQ(strToDate(dateToStr(date)), date) << dateToStr(date);
    setDateConventions('-', "dd-mm-yyyy");
    EXPECT_EQ(strToDate("05-03-2001"), encodeDate(2001, 3, 5));
}

TEST_F(DatesTest, TolerantForms)
{
    overrideToday(encodeDate(2026, 6, 15));
    EXPECT_EQ(strToDate("2001/3/5"), encodeDate(2001, 3, 5));
    EXPECT_EQ(strToDate(" 2001/03/05 "), encodeDate(2001, 3, 5));
    EXPECT_EQ(strToDate("3/5"), encodeDate(2026, 3, 5));
    EXPECT_EQ(strToDate("27/3/5"), encodeDate(2027, 3, 5));
}

TEST_F(DatesTest, InvalidTextsNameThemselves)
{
    for (const char* text : {"", "tomorrow", "2001/13/01", "2001/02/30", "2001-03-05",
                             "2001/03/05/07", "2001//05", "2001/03/", "99999999/1/1"}) {
        try {
            strToDate(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const ConvertError& error) {
            EXPECT_EQ(std::string(error.what()), "'" + std::string(text) + "' is not a valid date");
        }
    }
}

TEST_F(DatesTest, TodayCanBePinned)
{
    overrideToday(encodeDate(2030, 1, 2));
    EXPECT_EQ(today(), encodeDate(2030, 1, 2));
    overrideToday(std::nullopt);
    EXPECT_GT(today(), encodeDate(2020, 1, 1));
}
