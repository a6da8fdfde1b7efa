#include "platform/core/Service.h"
#include "platform/drives/MountTable.h"
#include "support/FakeDrives.h"
#include "support/FakeSystem.h"
#include "support/FormFixture.h"

#include <climits>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <pwd.h>
#include <sstream>
#include <unistd.h>

using namespace platform;

namespace {

const char* const NtKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

std::vector<std::string> summaryLines(const TForm1& form)
{
    std::vector<std::string> lines;
    for (int i = 0; i < form.ListBox1->count(); ++i)
        lines.push_back(form.ListBox1->item(i)->text().toStdString());
    return lines;
}

VolumeFigures volume(const char* fileSystem, std::uint64_t freeBlocks)
{
    VolumeFigures figures;
    figures.fileSystem = fileSystem;
    figures.maxComponentLength = 255;
    figures.blockSize = 4096;
    figures.totalBlocks = freeBlocks * 2;
    figures.freeBlocks = freeBlocks;
    figures.availableBlocks = freeBlocks / 2;
    return figures;
}

// Another machine: NT 4 with 64 MB and the drives a test gives it.
class SystemSummaryTest : public test::FormFixture, protected test::FakeMachine
{
protected:
    void SetUp() override
    {
        test::FormFixture::SetUp();
        system.setVersion(VER_PLATFORM_WIN32_NT, 4, 0, 1381, "Service Pack 6");
        system.memory.ullTotalPhys = 65012 * 1024 + 512;
        registry.set(NtKey, "RegisteredOwner", "A. Person");
        registry.set(NtKey, "RegisteredOrganization", "Tarnwick Ltd");
        registry.set("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup", "BootDir", "C:\\");
        registry.set("System\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                     "ComputerName", "DESK1");
        registry.createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
        // W: holds the Windows directory, so the window finds its settings as usual.
        drives.map = {{'C', "/drive/C", DRIVE_FIXED}, {'W', sandbox->root(), DRIVE_FIXED}};
        drives.volumes['C'] = volume("NTFS", 1310720);
    }

    void addDrivesDToG()
    {
        drives.map.push_back({'D', "/drive/D", DRIVE_FIXED});
        drives.map.push_back({'E', "/drive/E", DRIVE_CDROM});
        drives.map.push_back({'F', "/drive/F", DRIVE_REMOVABLE});
        drives.map.push_back({'G', "/drive/G", DRIVE_REMOTE});
        drives.volumes['D'] = volume("FAT32", 256);
        drives.volumes['F'] = volume("FAT", 3);
        drives.volumes['G'] = volume("nfs4", 1);
    }
};

} // namespace

TEST_F(SystemSummaryTest, SeventeenLinesWithAndWithoutDrivesDToG)
{
    const std::vector<std::string> head = {
        "Current User: fakeuser", "Platform: Windows NT", "Reg Organization: Tarnwick Ltd",
        "Reg Owner: A. Person",   "Computer Name: DESK1", "Physical Memory: 65012",
        "Boot Dir: C:\\",         "File System: C: NTFS", "Free Space: 5368709120",
    };
    std::vector<std::string> without = head;
    for (const char* letter : {"D", "E", "F", "G"}) {
        without.push_back(std::string("File System: ") + letter + ": ");
        without.push_back("Free Space: 0");
    }
    EXPECT_EQ(summaryLines(start()), without);

    addDrivesDToG();
    std::vector<std::string> with = head;
    with.insert(with.end(), {"File System: D: FAT32", "Free Space: 1048576",
                             "File System: E: ", "Free Space: 0", "File System: F: FAT",
                             "Free Space: 12288", "File System: G: nfs4", "Free Space: 4096"});
    EXPECT_EQ(summaryLines(start()), with);
    EXPECT_EQ(form->QXSysInfo1->DriveInfo().Drive(), "G:");
}

TEST_F(SystemSummaryTest, LaterFillsReadEveryDriveAfresh)
{
    TForm1& f = start();
    drives.volumes['C'] = volume("NTFS", 2);
    // The snapshot of the machine stays; the drives are read again.
    system.memory.ullTotalPhys = 1 << 30;
    f.FillSystemSummary();
    const auto lines = summaryLines(f);
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines[5], "Physical Memory: 65012");
    EXPECT_EQ(lines[8], "Free Space: 8192");
}

TEST_F(SystemSummaryTest, ShortLinesAreCutAndTheUserLineIsNot)
{
    system.setVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998);
    const std::string user(300, 'u');
    registry.set("System\\CurrentControlSet\\Control", "Current User", user);
    registry.set("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "RegisteredOwner",
                 std::string(300, 'o'));
    const auto lines = summaryLines(start());
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines[0], "Current User: " + user);
    EXPECT_EQ(lines[1], "Platform: Windows 98");
    EXPECT_EQ(lines[3], "Reg Owner: " + std::string(255 - 11, 'o'));
    // The key is there, the organisation is not.
    EXPECT_EQ(lines[2], "Reg Organization: ");
}

TEST_F(SystemSummaryTest, RegistryValueOfTheWrongTypeIsShownAndTheWindowOpens)
{
    registry.set(NtKey, "RegisteredOwner", "", REG_DWORD);
    TForm1& f = start();
    ASSERT_EQ(messages.size(), 3u);
    for (int i : {0, 1}) {
        EXPECT_EQ(messages[i].type, runtime::MessageType::Error);
        EXPECT_EQ(messages[i].text, "Invalid data type for 'RegisteredOwner'");
    }
    EXPECT_EQ(messages[2].type, runtime::MessageType::Information);
    EXPECT_FALSE(f.QXSysInfo1);
    EXPECT_EQ(f.ListBox1->count(), 0);
}

TEST_F(SystemSummaryTest, BorderlessListOfThirteenPixelLines)
{
    TForm1& f = start();
    EXPECT_EQ(f.ListBox1->frameShape(), QFrame::NoFrame);
    ASSERT_EQ(f.ListBox1->count(), 17);
    EXPECT_EQ(f.ListBox1->sizeHintForRow(0), 13);
    EXPECT_EQ(f.ListBox1->visualItemRect(f.ListBox1->item(1)).top() -
                  f.ListBox1->visualItemRect(f.ListBox1->item(0)).top(),
              13);
}

// No fakes: this machine, with drive C: in the sandbox.
class ThisMachineSummary : public test::FormFixture
{
};

TEST_F(ThisMachineSummary, ShowsTheRealUserMachineMemoryAndDriveC)
{
    const auto lines = summaryLines(start());
    ASSERT_EQ(lines.size(), 17u);
    for (const auto& line : lines)
        std::cout << "    " << line << "\n";

    const passwd* user = ::getpwuid(::geteuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(lines[0], std::string("Current User: ") + user->pw_name);
    EXPECT_EQ(lines[1], "Platform: Linux");
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_EQ(lines[4], std::string("Computer Name: ") + host);

    std::ifstream meminfo("/proc/meminfo");
    std::string label;
    std::uint64_t kilobytes = 0;
    meminfo >> label >> kilobytes;
    ASSERT_EQ(label, "MemTotal:");
    EXPECT_EQ(lines[5], "Physical Memory: " + std::to_string(kilobytes));

    char resolved[PATH_MAX];
    ASSERT_TRUE(::realpath(sandbox->driveC().c_str(), resolved));
    std::ifstream mountinfo("/proc/self/mountinfo");
    std::stringstream table;
    table << mountinfo.rdbuf();
    const MountTable mounts = MountTable::fromMountInfo(table.str());
    const MountEntry* mount = mounts.mountHolding(resolved);
    ASSERT_NE(mount, nullptr);
    EXPECT_EQ(lines[7], "File System: C: " + mount->fsType);
    ASSERT_TRUE(lines[8].starts_with("Free Space: "));
    const std::string digits = lines[8].substr(12);
    EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_GT(std::stoull(digits), 0u);
}
