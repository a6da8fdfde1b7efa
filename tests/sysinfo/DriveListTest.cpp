#include "sysinfo/DriveList.h"
#include "platform/core/Service.h"
#include "platform/drives/Drives.h"
#include "support/FakeDrives.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace platform;

using DriveListTest = test::FakeFixture<test::FakeDrives>;

TEST_F(DriveListTest, PositionsFollowTheSystemList)
{
    fake.setTypes({{'A', DRIVE_REMOVABLE}, {'C', DRIVE_FIXED}, {'D', DRIVE_CDROM}});
    TDriveList list;
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Drive(0), "A:\\");
    EXPECT_EQ(list.Drive(1), "C:\\");
    EXPECT_EQ(list.Drive(2), "D:\\");
    EXPECT_EQ(list.Drive(3), "error");
    EXPECT_EQ(list.Drive(1000), "error");
    EXPECT_EQ(list.Drive(-1), "A:\\");
    EXPECT_EQ(list.Drive(-1000), "A:\\");
}

TEST_F(DriveListTest, DriveTypesFollowTheSystemCodes)
{
    fake.setTypes({{'A', DRIVE_REMOVABLE},
                   {'C', DRIVE_FIXED},
                   {'D', DRIVE_CDROM},
                   {'E', DRIVE_REMOTE},
                   {'F', DRIVE_RAMDISK},
                   {'G', DRIVE_UNKNOWN},
                   {'H', DRIVE_NO_ROOT_DIR},
                   {'I', 7},
                   {'J', 250}});
    TDriveList list;
    const std::vector<TDrvType> expected{dtRemoveable,  dtFixed,       dtCDROM,
                                         dtRemote,      dtRamDrive,    dtNotDetermined,
                                         dtNonExistent, dtNonExistent, dtNonExistent};
    ASSERT_EQ(list.Count(), static_cast<int>(expected.size()));
    for (int i = 0; i < list.Count(); ++i)
        EXPECT_EQ(list.DriveType(i), expected[static_cast<std::size_t>(i)]) << list.Drive(i);
}

TEST_F(DriveListTest, OutOfRangeAsksAboutErrorAndGetsNonExistent)
{
    fake.setTypes({{'C', DRIVE_FIXED}});
    TDriveList list;
    fake.asked.clear();
    EXPECT_EQ(list.DriveType(1), dtNonExistent);
    EXPECT_EQ(list.DriveType(0), dtFixed);
    EXPECT_EQ(list.DriveType(-5), dtFixed);
    // "error" never reaches the drives as a root.
    EXPECT_EQ(fake.asked, (std::vector<std::string>{"C:\\", "C:\\"}));
}

TEST_F(DriveListTest, EveryCallSeesTheDrivesOfThatMoment)
{
    fake.setTypes({{'C', DRIVE_FIXED}});
    TDriveList list;
    EXPECT_EQ(list.Count(), 1);
    fake.setTypes({{'A', DRIVE_REMOVABLE}, {'C', DRIVE_FIXED}});
    EXPECT_EQ(list.Drive(1), "C:\\");
    EXPECT_EQ(list.Count(), 2);
    fake.map.clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Drive(0), "error");
    EXPECT_EQ(list.DriveType(0), dtNonExistent);
}

TEST(DriveListOnTheDriveMap, ListsTheMappedDrivesWithTheirTypes)
{
    test::Sandbox sandbox;
    for (const char* name : {"a", "c", "d"})
        std::filesystem::create_directories(sandbox.root() + "/" + name);
    sandbox.setDrives("D:=" + sandbox.root() + "/d@fixed;A:=" + sandbox.root() +
                      "/a@removable;C:=" + sandbox.root() + "/c@fixed;E:=" + sandbox.root() +
                      "/e@fixed");
    TDriveList list;
    ASSERT_EQ(list.Count(), 5);
    EXPECT_EQ(list.Drive(0), "A:\\");
    EXPECT_EQ(list.DriveType(0), dtRemoveable);
    EXPECT_EQ(list.Drive(1), "C:\\");
    EXPECT_EQ(list.DriveType(1), dtFixed);
    EXPECT_EQ(list.DriveType(2), dtFixed);
    EXPECT_EQ(list.Drive(3), "E:\\");
    EXPECT_EQ(list.DriveType(3), dtNonExistent);
    EXPECT_EQ(list.Drive(4), "Z:\\");
    EXPECT_EQ(list.Drive(5), "error");
}
