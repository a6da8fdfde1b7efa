#include "platform/core/Service.h"
#include "runtime/Errors.h"
#include "support/FakeDrives.h"
#include "support/FakeSystem.h"
#include "support/Sandbox.h"
#include "sysinfo/QXSysInfo.h"
#include "sysinfo/SystemInfo.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

const char* const WindowsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char* const NtKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char* const SetupKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup";
const char* const ControlKey = "System\\CurrentControlSet\\Control";
const char* const ProductOptionsKey = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
const char* const ComputerNameKey =
    "System\\CurrentControlSet\\Control\\ComputerName\\ComputerName";

constexpr std::uint64_t KB = 1024;
constexpr std::uint64_t GB = KB * KB * KB;

class SysInfoTest : public ::testing::Test, protected test::FakeMachine
{
protected:
    SysInfoTest()
    {
        system.setVersion(VER_PLATFORM_WIN32_NT, 4, 0, 1381, "Service Pack 6");
        for (const char* key : {WindowsKey, NtKey}) {
            registry.set(key, "RegisteredOwner", std::string("Owner of ") + key);
            registry.set(key, "RegisteredOrganization", std::string("Company of ") + key);
        }
        // The free space tells the queries apart: only the extended one reports all of it,
        // and its total is more than cluster counts of 32 bits reach.
        drives.setTypes({{'C', DRIVE_FIXED}});
        VolumeFigures& c = drives.volumes['C'];
        c.fileSystem = "NTFS";
        c.maxComponentLength = 255;
        c.blockSize = 4096;
        c.totalBlocks = 0x180000000; // 24 TiB
        c.freeBlocks = 0x100000000;
        c.availableBlocks = 1000;
    }

    static constexpr std::int64_t ExtendedFree = std::int64_t{0x100000000} * 4096;
    static constexpr std::int64_t ClusterFree = 1000 * 4096;

    test::Sandbox sandbox;
};

} // namespace

TEST_F(SysInfoTest, EachVersionGivesItsTextsPlatformAndSpaceQuery)
{
    struct Case
    {
        const char* name;
        std::uint32_t platformId, major, minor, build;
        const char* servicePack;
        const char* platformName;
        const char* version;
        const char* osVersion;
        const char* osPlatform;
        const char* regOwner;
        bool extended;
    };
    // On the 95 family the high half of the build number holds the version again.
    const Case cases[] = {
        {"95 retail", 1, 4, 0, 0x04000000 | 950, "", "Windows 95", "4.00.950", "4.0 (950.)",
         "Windows 95", "Owner of SOFTWARE\\Microsoft\\Windows\\CurrentVersion", false},
        {"95 OSR2", 1, 4, 0, 0x04000000 | 1111, " B", "Windows 95", "4.00.1111", "4.0 (1111. B)",
         "Windows 95", "Owner of SOFTWARE\\Microsoft\\Windows\\CurrentVersion", true},
        {"98", 1, 4, 10, 0x040A0000 | 1998, "", "Windows 98", "4.10.1998", "4.10 (1998.)",
         "Windows 95", "Owner of SOFTWARE\\Microsoft\\Windows\\CurrentVersion", true},
        {"Me", 1, 4, 90, 0x045A0000 | 3000, "", "Windows 98", "4.90.3000", "4.90 (3000.)",
         "Windows 95", "Owner of SOFTWARE\\Microsoft\\Windows\\CurrentVersion", true},
        {"NT 3.51", 2, 3, 51, 1057, "Service Pack 5", "Windows NT", "3.51.1057",
         "3.51 (1057.Service Pack 5)", "Windows NT",
         "Owner of SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", false},
        {"NT 4", 2, 4, 0, 1381, "Service Pack 6", "Windows NT", "4.00.1381",
         "4.0 (1381.Service Pack 6)", "Windows NT",
         "Owner of SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", true},
        {"2000", 2, 5, 0, 2195, "", "Windows NT", "5.00.2195", "5.0 (2195.)", "Windows NT",
         "Owner of SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", true},
        // The NT family's build text is the whole number; the plain one keeps 16 bits.
        {"NT, build above 16 bits", 2, 6, 1, 0x10005, "", "Windows NT", "6.01.65541", "6.1 (5.)",
         "Windows NT", "Owner of SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", true},
        {"Linux", 3, 6, 8, 12, "#1 SMP", "Linux", "6.08.12", "6.8 (12.#1 SMP)", "", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        system.setVersion(c.platformId, c.major, c.minor, c.build, c.servicePack);
        TQXSysInfo extended;
        EXPECT_EQ(extended.Platform(), c.platformName);
        EXPECT_EQ(extended.Version(), c.version);
        EXPECT_EQ(extended.AdditionalVersion(), c.servicePack);
        EXPECT_EQ(extended.DriveInfo().FreeSpace(), c.extended ? ExtendedFree : ClusterFree);

        TSystemInfo plain;
        EXPECT_EQ(plain.OSVersion(), c.osVersion);
        EXPECT_EQ(plain.OSPlatform(), c.osPlatform);
        EXPECT_EQ(plain.RegOwner(), c.regOwner);
    }
}

TEST_F(SysInfoTest, RegistryAnswersAndTheirAbsence)
{
    registry.set(NtKey, "SubVersionNumber", " A");
    registry.set(NtKey, "ProductName", "Windows NT Workstation 4");
    registry.set(SetupKey, "BootDir", "C:\\");
    registry.set(ComputerNameKey, "ComputerName", "DESK1");
    registry.set(ControlKey, "Current User", "registry user");
    TQXSysInfo info;
    EXPECT_EQ(info.Version(), "4.00.1381 A");
    EXPECT_EQ(info.ProductName(), "Windows NT Workstation 4");
    // The key is there, the value is not.
    EXPECT_EQ(info.ProductId(), "");
    EXPECT_EQ(info.RegOrganization(), "Company of SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
    EXPECT_EQ(info.BootDir(), "C:\\");
    EXPECT_EQ(info.ComputerName(), "DESK1");
    // NT names its user itself; the 95 family keeps it in the registry.
    EXPECT_EQ(info.CurrentUser(), "fakeuser");
    EXPECT_EQ(info.NTProduct(), "(unavailable)");

    registry.set(SetupKey, "BootHost", "C:\\BOOT");
    system.setVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998);
    info.Refresh();
    EXPECT_EQ(info.BootDir(), "C:\\BOOT");
    EXPECT_EQ(info.CurrentUser(), "registry user");

    registry.keys.clear();
    info.Refresh();
    for (const std::string& value :
         {info.ProductId(), info.ProductName(), info.RegOwner(), info.RegOrganization(),
          info.BootDir(), info.CurrentUser(), info.ComputerName(), info.NTProduct()})
        EXPECT_EQ(value, "(unavailable)");
    EXPECT_EQ(info.Version(), "4.10.1998");
}

TEST_F(SysInfoTest, ProductTypeNamesTheNtProduct)
{
    const std::pair<const char*, const char*> cases[] = {
        {"WinNT", "Windows NT Workstation"},
        {"SERVERNT", "Windows NT Server"},
        {"lanmannt", "Windows NT Advanced Server"},
        {"Terminal", "(unavailable)"},
    };
    for (const auto& [type, product] : cases) {
        registry.set(ProductOptionsKey, "ProductType", type);
        EXPECT_EQ(TQXSysInfo().NTProduct(), product) << type;
    }
}

TEST_F(SysInfoTest, OwnerIsWrittenOnlyWhenWritableAndChanged)
{
    TQXSysInfo info;
    const std::string owner = "Owner of SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    info.setRegOwner("Somebody");
    EXPECT_EQ(info.RegOwner(), owner);
    EXPECT_EQ(registry.writes, 0);

    info.setReadOnly(false);
    const int readsBefore = registry.reads;
    info.setRegOwner(owner);
    EXPECT_EQ(registry.reads, readsBefore) << "the same value gathers nothing again";

    // A change made elsewhere shows only once a write gathers everything again.
    registry.set(NtKey, "ProductName", "Changed meanwhile");
    info.setRegOwner("Somebody");
    EXPECT_EQ(registry.get(NtKey, "RegisteredOwner"), "Somebody");
    EXPECT_EQ(info.RegOwner(), "Somebody");
    EXPECT_EQ(info.ProductName(), "Changed meanwhile");
    info.setRegOrganization("Firm");
    EXPECT_EQ(registry.get(NtKey, "RegisteredOrganization"), "Firm");
    EXPECT_EQ(info.RegOrganization(), "Firm");
}

TEST_F(SysInfoTest, NonStringRegistryValueIsAnError)
{
    registry.set(NtKey, "RegisteredOwner", "", REG_DWORD);
    EXPECT_THROW(TSystemInfo(), runtime::RegistryError);
    EXPECT_THROW(TQXSysInfo(), runtime::RegistryError);
}

TEST_F(SysInfoTest, MemoryInWholeKilobytes)
{
    system.memory.dwMemoryLoad = 37;
    system.memory.ullTotalPhys = 65012 * KB + 1023;
    system.memory.ullAvailPhys = 1048575;
    system.memory.ullTotalPageFile = 3 * GB;
    system.memory.ullAvailPageFile = 0;
    // 128 TiB of address space is more than 32 bits of kilobytes.
    system.memory.ullTotalVirtual = KB * KB * GB / 8;
    system.memory.ullAvailVirtual = 4 * KB * GB - KB;
    TQXSysInfo extended;
    EXPECT_EQ(extended.MemoryLoad(), 37);
    EXPECT_EQ(extended.MemTotalPhys(), 65012u);
    EXPECT_EQ(extended.MemAvailPhys(), 1023u);
    EXPECT_EQ(extended.MemTotalPageFile(), 3145728u);
    EXPECT_EQ(extended.MemAvailPageFile(), 0u);
    EXPECT_EQ(extended.MemTotalVirtual(), 4294967295u);
    EXPECT_EQ(extended.MemAvailVirtual(), 4294967295u);

    // Taken once: later figures wait for RefreshMemory, not for Refresh.
    system.memory.ullTotalPhys = 8 * GB;
    extended.Refresh();
    EXPECT_EQ(extended.MemTotalPhys(), 65012u);
    extended.RefreshMemory();
    EXPECT_EQ(extended.MemTotalPhys(), 8388608u);

    const TSystemInfo plain;
    EXPECT_EQ(plain.TotalPhys(), "8388608 Kb");
    EXPECT_EQ(plain.AvailPhys(), "1023 Kb");
}

TEST_F(SysInfoTest, EnvironmentBlockLines)
{
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {std::string("A=1\0B=two\0\0", 11), {"A=1", "B=two"}},
        {std::string("\0\0", 2), {""}},
    };
    for (const auto& [block, lines] : cases) {
        system.environment = block;
        EXPECT_EQ(TQXSysInfo().Environment(), lines);
    }
}

TEST_F(SysInfoTest, ColoursFromTheScreenDepth)
{
    const std::pair<int, std::uint32_t> cases[] = {
        {8, 256u}, {16, 65536u}, {24, 16777216u}, {32, 4294967295u}, {0, 0u}};
    for (const auto& [depth, colours] : cases) {
        system.depth = depth;
        EXPECT_EQ(TQXSysInfo().Colors(), colours) << depth << " bits";
    }
}

TEST_F(SysInfoTest, NamesThatDoNotFitTheirBuffersAreEmpty)
{
    system.computer = "A-NAME-OF-16-CHR";
    system.user = std::string(49, 'u');
    TSystemInfo fits;
    EXPECT_EQ(fits.ComputerName(), "");
    EXPECT_EQ(fits.UserName(), system.user);
    system.computer = "NAME-OF-15-CHRS";
    system.user += 'u';
    TSystemInfo tooLong;
    EXPECT_EQ(tooLong.ComputerName(), "NAME-OF-15-CHRS");
    EXPECT_EQ(tooLong.UserName(), "");
}

TEST_F(SysInfoTest, FailedVersionLeavesVersionAndRegistrationEmpty)
{
    system.versionKnown = false;
    TSystemInfo plain;
    EXPECT_EQ(plain.OSVersion(), "");
    EXPECT_EQ(plain.OSPlatform(), "");
    EXPECT_EQ(plain.RegOwner(), "");
    EXPECT_EQ(plain.TotalPhys(), "0 Kb");
}
