#include "app/Wmiscio.h"
#include "platform/core/Service.h"
#include "platform/desktop/TopLevelWindows.h"
#include "support/FakeDesktop.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <gtest/gtest.h>
#include <vector>

using namespace platform;

using WindowProbe = test::FakeFixture<test::FakeWindows>;

TEST_F(WindowProbe, FindsTheTextInAnyTitleIgnoringCase)
{
    fake.titles = {"Vorlax", "Untitled - Notepad", "ERROR DELETING FILE - more words"};
    EXPECT_TRUE(WindowTitleExists("Error Deleting File"));
    EXPECT_TRUE(WindowTitleExists("notepad"));
    EXPECT_TRUE(WindowTitleExists("vORLAX"));
    EXPECT_FALSE(WindowTitleExists("Error Copying File"));
    fake.titles = {"Error Deleting Fil", "rror Deleting File"};
    EXPECT_FALSE(WindowTitleExists("Error Deleting File"));
}

TEST_F(WindowProbe, OwnProbeLooksAtThisProcesssWindowsOnly)
{
    fake.titles = {"Error Deleting File - a web page", "Vorlax"};
    fake.foreign = {1};
    EXPECT_TRUE(WindowTitleExists("Error Deleting File"));
    EXPECT_FALSE(OwnWindowTitleExists("Error Deleting File"));
    fake.titles.push_back("error deleting file");
    EXPECT_TRUE(OwnWindowTitleExists("Error Deleting File"));
}

TEST_F(WindowProbe, OnlyLettersAToZFoldCase)
{
    fake.titles = {"Fehler beim L\xC3\x96SCHEN", "[BRACKETS]"};
    EXPECT_TRUE(WindowTitleExists("fehler"));
    EXPECT_FALSE(WindowTitleExists("l\xC3\xB6schen"));
    EXPECT_TRUE(WindowTitleExists("l\xC3\x96schen"));
    // "[" and "{" are 32 apart too, yet no letters.
    EXPECT_FALSE(WindowTitleExists("{brackets}"));
    EXPECT_TRUE(WindowTitleExists("[brackets]"));
}

TEST_F(WindowProbe, EmptyTextAndNoWindowsFindNothing)
{
    EXPECT_FALSE(WindowTitleExists("Error Deleting File"));
    EXPECT_FALSE(WindowTitleExists(""));
    fake.titles = {"", "Something"};
    EXPECT_FALSE(WindowTitleExists(""));
}

TEST_F(WindowProbe, TitlesAreCutTo255Characters)
{
    fake.titles = {std::string(250, 'x') + "Error Deleting File"};
    EXPECT_TRUE(WindowTitleExists("xxxxxError"));
    EXPECT_FALSE(WindowTitleExists("Error Deleting File"));
    fake.titles = {std::string(236, 'x') + "Error Deleting File"};
    EXPECT_TRUE(WindowTitleExists("Error Deleting File"));
    fake.titles = {std::string(237, 'x') + "Error Deleting File"};
    EXPECT_FALSE(WindowTitleExists("Error Deleting File"));
}

TEST_F(WindowProbe, LooksAtTheFirstWindowAndAtMost1000More)
{
    fake.titles.assign(3000, "Some window");
    fake.titles[1000] = "Error Deleting File";
    EXPECT_TRUE(WindowTitleExists("Error Deleting File"));

    fake.titles[1000] = "Some window";
    fake.titles[1001] = "Error Deleting File";
    fake.titlesRead = 0;
    EXPECT_FALSE(WindowTitleExists("Error Deleting File"));
    EXPECT_EQ(fake.titlesRead, 1001);
}

TEST_F(WindowProbe, StopsAtTheEndOfTheZOrder)
{
    fake.titles = {"one", "two", "three"};
    EXPECT_TRUE(WindowTitleExists("three"));
    fake.titlesRead = 0;
    EXPECT_FALSE(WindowTitleExists("four"));
    EXPECT_LE(fake.titlesRead, 4);
}

class SystemFolders : public ::testing::Test
{
protected:
    test::Sandbox sandbox;
    void SetUp() override { sandbox.setDrives("C:=" + sandbox.root() + "@fixed"); }
};

TEST_F(SystemFolders, ReportTheWindowsFormsWithoutATrailingBackslash)
{
    EXPECT_EQ(GetWindowsFolder(), "C:\\windir");
    EXPECT_EQ(GetSystemFolder(), "Z:\\usr\\lib");
    EXPECT_EQ(GetTempFolder(), "C:\\tmp");
}

TEST_F(SystemFolders, TempFolderAtADriveRootIsTheDesignator)
{
    sandbox.setDrives("C:=" + sandbox.root() + "@fixed;D:=" + sandbox.tmp() + "@fixed");
    EXPECT_EQ(GetTempFolder(), "D:");
}

TEST_F(SystemFolders, FoldersThatDoNotFitTheBufferAreEmpty)
{
    // "C:\" and the name: 254 characters still fit with their final zero, 255 do not.
    sandbox.setEnv("VORLAX_WINDIR", sandbox.root() + "/" + std::string(251, 'w'));
    EXPECT_EQ(GetWindowsFolder().size(), 254u);
    sandbox.setEnv("VORLAX_WINDIR", sandbox.root() + "/" + std::string(252, 'w'));
    EXPECT_EQ(GetWindowsFolder(), "");

    // The temporary path counts with its trailing "\".
    sandbox.setEnv("TMPDIR", sandbox.root() + "/" + std::string(250, 't'));
    EXPECT_EQ(GetTempFolder(), "C:\\" + std::string(250, 't'));
    sandbox.setEnv("TMPDIR", sandbox.root() + "/" + std::string(251, 't'));
    EXPECT_EQ(GetTempFolder(), "");
}

TEST(RightStrTest, TakesTheLastCharacters)
{
    EXPECT_EQ(RightStr("abc", 1), "c");
    EXPECT_EQ(RightStr("abc", 2), "bc");
    EXPECT_EQ(RightStr("abc", 3), "abc");
    EXPECT_EQ(RightStr("abc", 5), "abc");
    EXPECT_EQ(RightStr("abc", 0), "");
    EXPECT_EQ(RightStr("abc", -2), "");
    EXPECT_EQ(RightStr("", 1), "");
    EXPECT_EQ(RightStr("abc", 2147483647), "abc");
    EXPECT_EQ(RightStr("abc", -2147483647 - 1), "");
}
