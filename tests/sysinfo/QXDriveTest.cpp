#include "sysinfo/QXDrive.h"
#include "platform/core/Service.h"
#include "platform/drives/Volumes.h"
#include "support/FakeDrives.h"
#include "support/FakeSystem.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

class QXDriveTest : public ::testing::Test
{
protected:
    QXDriveTest()
    {
        system.setVersion(VER_PLATFORM_WIN32_NT, 4, 0, 1381);
        drives.setTypes({{'C', DRIVE_FIXED}, {'D', DRIVE_CDROM}, {'E', DRIVE_REMOTE}});
        VolumeFigures& c = drives.volumes['C'];
        c.fileSystem = "NTFS";
        c.label = "SYSTEM";
        c.serialNumber = 0x1A2B3C4D;
        c.maxComponentLength = 255;
        c.fileSystemFlags = FS_CASE_IS_PRESERVED | FS_UNICODE_STORED_ON_DISK | FS_PERSISTENT_ACLS;
        c.blockSize = 4096;
        c.totalBlocks = 2621440;  // 10 GiB
        c.freeBlocks = 1310720;   // 5 GiB
        c.availableBlocks = 1000; // what the user may take
    }

    test::Sandbox sandbox;
    test::ScopedFake<test::FakeSystem> system;
    test::ScopedFake<test::FakeDrives> drives;
};

} // namespace

TEST_F(QXDriveTest, DescribesTheSelectedDrive)
{
    TQXDriveDefs drive;
    EXPECT_EQ(drive.Drive(), "C:");
    EXPECT_EQ(drive.DriveType(), dtFixed);
    EXPECT_EQ(drive.FileSystem(), "NTFS");
    EXPECT_EQ(drive.VolumeLabel(), "SYSTEM");
    EXPECT_EQ(drive.SerialNumber(), "1A2B-3C4D");
    EXPECT_EQ(drive.FileFlags(), TFileFlags()
                                     .set(fsCaseIsPreserved)
                                     .set(fsUnicodeStoredOnDisk)
                                     .set(fsPersistentAcls)
                                     .set(fsLongFileName));
    // All of the free space, in plain bytes past 4 GB.
    EXPECT_EQ(drive.TotalSpace(), 10737418240);
    EXPECT_EQ(drive.FreeSpace(), 5368709120);
    EXPECT_EQ(std::to_string(drive.FreeSpace()), "5368709120");
    EXPECT_EQ(drive.SectorsPerCluster(), 8);
    EXPECT_EQ(drive.BytesPerSector(), 512);
    EXPECT_EQ(drive.FreeClusters(), 1000);
    EXPECT_EQ(drive.TotalClusters(), 2621440);
}

TEST_F(QXDriveTest, SerialAndFlagsFromTheVolume)
{
    struct Case
    {
        std::uint32_t serial;
        std::uint32_t maxLength;
        std::uint32_t flags;
        const char* serialText;
        TFileFlags expected;
    };
    const Case cases[] = {
        {0x000000FF, 8, 0, "0000-00FF", TFileFlags()},
        {0xFFFF0000, 12, FS_CASE_SENSITIVE, "FFFF-0000",
         TFileFlags().set(fsCaseSensitive).set(fsLongFileName)},
        {0x00010002, 255, FS_FILE_COMPRESSION | FS_VOL_IS_COMPRESSED, "0001-0002",
         TFileFlags().set(fsFileCompression).set(fsVolumeIsCompressed).set(fsLongFileName)},
    };
    for (const Case& c : cases) {
        drives.volumes['C'].serialNumber = c.serial;
        drives.volumes['C'].maxComponentLength = c.maxLength;
        drives.volumes['C'].fileSystemFlags = c.flags;
        TQXDriveDefs drive;
        EXPECT_EQ(drive.SerialNumber(), c.serialText);
        EXPECT_EQ(drive.FileFlags(), c.expected) << "maximum name length " << c.maxLength;
    }
}

TEST_F(QXDriveTest, DesignatorIsNormalisedAfterTheComparison)
{
    TQXDriveDefs drive;
    drives.asked.clear();
    drive.setDrive("C:");
    EXPECT_TRUE(drives.asked.empty()) << "the same designator reads nothing";
    drive.setDrive("c:");
    EXPECT_EQ(drive.Drive(), "C:");
    EXPECT_EQ(drives.asked, std::vector<std::string>{"C:\\"});

    for (const char* value : {"d", "d:\\windows", "D"}) {
        drive.setDrive("C:");
        drive.setDrive(value);
        EXPECT_EQ(drive.Drive(), "D:") << value;
    }
    drive.setDrive("");
    EXPECT_EQ(drive.Drive(), "D:");
}

TEST_F(QXDriveTest, DriveWithoutMediumOrMappingHasNoSpace)
{
    TQXDriveDefs drive;
    // No medium in the CD-ROM drive: the cluster figures stay from the last drive.
    drive.setDrive("D:");
    EXPECT_EQ(drive.DriveType(), dtCDROM);
    EXPECT_EQ(drive.FileSystem(), "");
    EXPECT_EQ(drive.SerialNumber(), "0000-0000");
    EXPECT_EQ(drive.FileFlags(), TFileFlags());
    EXPECT_EQ(drive.TotalSpace(), 0);
    EXPECT_EQ(drive.FreeSpace(), 0);
    EXPECT_EQ(drive.FreeClusters(), 1000);
    drive.setDrive("Q:");
    EXPECT_EQ(drive.DriveType(), dtNonExistent);
    EXPECT_EQ(drive.FreeSpace(), 0);
}
