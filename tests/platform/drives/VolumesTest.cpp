#include "platform/drives/Volumes.h"
#include "platform/drives/Drives.h"
#include "platform/drives/MountTable.h"
#include "platform/system/System.h"
#include "support/Sandbox.h"
#include "support/SilentShare.h"

#include <climits>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/statfs.h>

using namespace platform;

namespace {

std::string readText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(KernelRelease, GivesMajorMinorAndBuild)
{
    struct Case
    {
        const char* release;
        std::uint32_t major, minor, build;
    };
    const Case cases[] = {
        {"6.8.0-45-generic", 6, 8, 0},   {"5.15.167.4-microsoft-standard-WSL2", 5, 15, 167},
        {"6.18.44-fc-v1403", 6, 18, 44}, {"6.1", 6, 1, 0},
        {"4.19-rc1", 4, 19, 0},
    };
    for (const Case& c : cases) {
        OSVERSIONINFOA info;
        versionFromRelease(c.release, info);
        EXPECT_EQ(info.dwMajorVersion, c.major) << c.release;
        EXPECT_EQ(info.dwMinorVersion, c.minor) << c.release;
        EXPECT_EQ(info.dwBuildNumber, c.build) << c.release;
    }
}

TEST(KernelRelease, ThisSystemIsCodeThreeWithItsVersionString)
{
    test::Sandbox sandbox;
    OSVERSIONINFOA info;
    ASSERT_TRUE(GetVersionExA(info));
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_LINUX);
    EXPECT_GE(info.dwMajorVersion, 2u);
    EXPECT_FALSE(info.szCSDVersion.empty());
    info.dwOSVersionInfoSize = 156;
    EXPECT_FALSE(GetVersionExA(info));
}

TEST(Meminfo, FiguresFromTheKernelAndTheProcess)
{
    const char* meminfo = "MemTotal:       16000000 kB\n"
                          "MemFree:         1000000 kB\n"
                          "MemAvailable:    4000000 kB\n"
                          "CommitLimit:    10000000 kB\n"
                          "Committed_AS:    2500000 kB\n";
    const MEMORYSTATUSEX status = memoryFromMeminfo(meminfo, 300 * 1024, 1u << 30);
    EXPECT_EQ(status.ullTotalPhys, 16000000ull * 1024);
    EXPECT_EQ(status.ullAvailPhys, 4000000ull * 1024);
    EXPECT_EQ(status.ullTotalPageFile, 10000000ull * 1024);
    EXPECT_EQ(status.ullAvailPageFile, 7500000ull * 1024);
    EXPECT_EQ(status.ullTotalVirtual, 1u << 30);
    EXPECT_EQ(status.ullAvailVirtual, (1u << 30) - 300 * 1024);
    EXPECT_EQ(status.dwMemoryLoad, 75u);

    // Committed beyond the limit leaves nothing, not a wrapped-around figure.
    const MEMORYSTATUSEX over =
        memoryFromMeminfo("MemTotal: 100 kB\nCommitLimit: 100 kB\nCommitted_AS: 250 kB\n", 0, 0);
    EXPECT_EQ(over.ullAvailPageFile, 0u);
    EXPECT_EQ(over.ullAvailPhys, 0u);
    EXPECT_EQ(over.dwMemoryLoad, 100u);
}

TEST(Meminfo, ThisMachinesTotalIsItsMemTotal)
{
    test::Sandbox sandbox;
    const std::string meminfo = readText("/proc/meminfo");
    const auto at = meminfo.find("MemTotal:");
    ASSERT_NE(at, std::string::npos);
    MEMORYSTATUSEX status;
    ASSERT_TRUE(GlobalMemoryStatusEx(status));
    EXPECT_EQ(status.ullTotalPhys, std::stoull(meminfo.substr(at + 9)) * 1024);
    EXPECT_GT(status.ullAvailVirtual, 0u);
    EXPECT_LT(status.ullAvailVirtual, status.ullTotalVirtual);
}

TEST(VolumeSerial, FromTheUuidOrTheIdentity)
{
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {"1A2B-3C4D", 0x1A2B3C4Du},                            // FAT
        {"0000-00ff", 0x000000FFu},                            // exFAT, lower case
        {"1b2c3d4e-5f60-7182-93a4-b5c6d7e8f901", 0x1b2c3d4eu}, // ext4, btrfs, xfs
        {"0123456789ABCDEF", 0x01234567u},                     // NTFS
        {"2023-01-01-12-00-00-00", 0x20230101u},               // ISO 9660 date
        {"ABC", std::nullopt},
        {"", std::nullopt},
        {"label with blanks", std::nullopt},
    };
    for (const auto& [uuid, serial] : cases)
        EXPECT_EQ(serialFromUuid(uuid), serial) << uuid;
    EXPECT_EQ(serialFromFsid(0x12345678, 0x0000FFFF), 0x1234A987u);
}

TEST(VolumeInformation, TheDriveCFolderAsTheKernelDescribesIt)
{
    test::Sandbox sandbox;
    std::string volumeName = "unchanged";
    std::string fileSystem;
    std::uint32_t serial = 0, maxLength = 0, flags = 0;
    ASSERT_TRUE(GetVolumeInformationA("C:\\", volumeName, serial, maxLength, flags, fileSystem));
    char resolved[PATH_MAX];
    ASSERT_TRUE(::realpath(sandbox.driveC().c_str(), resolved));
    const auto table = MountTable::fromMountInfo(readText("/proc/self/mountinfo"));
    const MountEntry* mount = table.mountHolding(resolved);
    ASSERT_NE(mount, nullptr);
    EXPECT_EQ(fileSystem, mount->fsType);
    struct statfs figures
    {
    };
    ASSERT_EQ(::statfs(resolved, &figures), 0);
    EXPECT_EQ(maxLength, static_cast<std::uint32_t>(figures.f_namelen));
    EXPECT_EQ(flags, fileSystemFlagsOf(mount->fsType));

    std::uint64_t available = 0, total = 0, free = 0;
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", available, total, free));
    EXPECT_EQ(total, figures.f_blocks * figures.f_frsize);
    EXPECT_GE(free, available);
    std::uint32_t sectors = 0, bytes = 0, freeClusters = 0, totalClusters = 0;
    ASSERT_TRUE(GetDiskFreeSpaceA("C:\\", sectors, bytes, freeClusters, totalClusters));
    EXPECT_EQ(std::uint64_t{sectors} * bytes, figures.f_frsize);

    EXPECT_FALSE(GetVolumeInformationA("Q:\\", volumeName, serial, maxLength, flags, fileSystem));
    EXPECT_FALSE(GetDiskFreeSpaceExA("Q:\\", available, total, free));
}

TEST(VolumeInformation, RemoteDriveAnswersThroughItsTimeLimitedQuery)
{
    test::Sandbox sandbox;
    sandbox.setDrives("C:=" + sandbox.driveC() + "@fixed;R:=" + sandbox.driveC() + "@remote");
    EXPECT_EQ(GetDriveTypeA("R:\\"), DRIVE_REMOTE);
    std::uint64_t localAvailable = 0, localTotal = 0, localFree = 0;
    std::uint64_t available = 0, total = 0, free = 0;
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", localAvailable, localTotal, localFree));
    ASSERT_TRUE(GetDiskFreeSpaceExA("R:\\", available, total, free));
    EXPECT_EQ(total, localTotal);
    std::string name, fileSystem;
    std::uint32_t serial = 0, localSerial = 0, maxLength = 0, flags = 0;
    ASSERT_TRUE(GetVolumeInformationA("C:\\", name, localSerial, maxLength, flags, fileSystem));
    ASSERT_TRUE(GetVolumeInformationA("R:\\", name, serial, maxLength, flags, fileSystem));
    EXPECT_EQ(serial, localSerial);
}

class SilentShareDrive : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!share.mounted())
            GTEST_SKIP() << "no right to mount a FUSE filesystem";
    }

    test::Sandbox sandbox;
    std::string m_folder = sandbox.root() + "/share";
    test::SilentShare share{m_folder};
};

TEST_F(SilentShareDrive, IsARemoteDriveWithNoMedium)
{
    sandbox.setDrives("C:=" + sandbox.driveC() + "@fixed;S:=" + m_folder);
    EXPECT_EQ(GetDriveTypeA("S:\\"), DRIVE_REMOTE);
    std::string name, fileSystem;
    std::uint32_t serial = 0, maxLength = 0, flags = 0;
    EXPECT_FALSE(GetVolumeInformationA("S:\\", name, serial, maxLength, flags, fileSystem));
    std::uint64_t available = 0, total = 0, free = 0;
    EXPECT_FALSE(GetDiskFreeSpaceExA("S:\\", available, total, free));
    EXPECT_TRUE(GetDiskFreeSpaceExA("C:\\", available, total, free));
}

TEST_F(SilentShareDrive, GetsALetterOfTheMountedDisks)
{
    sandbox.setEnv("VORLAX_DRIVES", std::nullopt);
    const std::string roots = GetLogicalDriveStringsA();
    EXPECT_EQ(toWindowsPath(m_folder).size(), 3u) << "the share is a drive root";
    EXPECT_NE(roots.find(toWindowsPath(m_folder)), std::string::npos);
    EXPECT_EQ(GetDriveTypeA(toWindowsPath(m_folder)), DRIVE_REMOTE);
}
