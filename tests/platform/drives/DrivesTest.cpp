#include "platform/drives/Drives.h"
#include "platform/core/Service.h"
#include "support/FakeDrives.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/vfs.h>
#include <vector>

using namespace platform;

namespace {

std::string drivesOf(const std::vector<DriveMapping>& map)
{
    std::string text;
    for (const auto& m : map)
        text += std::string(1, m.letter) + "=" + m.nativeRoot + "@" + std::to_string(m.type) + ";";
    return text;
}

std::string logicalDrives()
{
    return GetLogicalDriveStringsA();
}

} // namespace

TEST(DriveMapParse, ReadsEntriesTypesAndSortsByLetter)
{
    std::vector<std::string> errors;
    const auto map =
        parseDriveMap(" e:=/media/stick@removable; C:=/srv/c//@fixed;D:=/srv/./d/;F:=/net@remote;"
                      "G:=/cd@cdrom;H:=/ram@ramdisk;;",
                      &errors);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(drivesOf(map), "C=/srv/c@3;D=/srv/d@0;E=/media/stick@2;F=/net@4;G=/cd@5;H=/ram@6;");
}

TEST(DriveMapParse, LastAtSignStartsTheType)
{
    std::vector<std::string> errors;
    EXPECT_EQ(drivesOf(parseDriveMap("C:=/home/me@host@fixed", &errors)), "C=/home/me@host@3;");
    EXPECT_TRUE(errors.empty());
    // Without a type the part after "@" is taken for one, and it is no known type.
    EXPECT_EQ(drivesOf(parseDriveMap("C:=/home/me@host", &errors)), "");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("@host"), std::string::npos);
}

TEST(DriveMapParse, MalformedEntriesAreReportedAndLeftOut)
{
    std::vector<std::string> errors;
    const auto map = parseDriveMap("=/x;1:=/x;C=/x;C:/x;D:=relative;E:=/e@floppy;C:=/c;"
                                   "c:=/again;:=/y;F:=",
                                   &errors);
    EXPECT_EQ(drivesOf(map), "C=/c@0;");
    ASSERT_EQ(errors.size(), 9u);
    EXPECT_NE(errors[0].find("no drive letter"), std::string::npos);
    EXPECT_NE(errors[2].find("no drive letter"), std::string::npos);
    EXPECT_NE(errors[3].find("\"=\""), std::string::npos);
    EXPECT_NE(errors[4].find("not an absolute path"), std::string::npos);
    EXPECT_NE(errors[5].find("@floppy"), std::string::npos);
    EXPECT_NE(errors[6].find("twice"), std::string::npos);
    EXPECT_NE(errors[8].find("\"F:=\""), std::string::npos);
    // Errors are optional.
    EXPECT_EQ(drivesOf(parseDriveMap("C:=/c;bad")), "C=/c@0;");
}

TEST(DriveMapParse, RootFallbackTakesZOrTheHighestFreeLetter)
{
    auto map = parseDriveMap("C:=/srv/c");
    addRootFallback(map);
    EXPECT_EQ(drivesOf(map), "C=/srv/c@0;Z=/@3;");

    map = parseDriveMap("Z:=/srv/z;Y:=/srv/y");
    addRootFallback(map);
    EXPECT_EQ(drivesOf(map), "X=/@3;Y=/srv/y@0;Z=/srv/z@0;");

    map = parseDriveMap("D:=/@removable");
    addRootFallback(map);
    EXPECT_EQ(drivesOf(map), "D=/@2;");

    // The letters offered for a search never stand for the whole system.
    std::string text;
    for (char letter = 'G'; letter <= 'Z'; ++letter)
        text += std::string(1, letter) + ":=/srv/" + letter + ";";
    map = parseDriveMap(text);
    addRootFallback(map);
    EXPECT_EQ(map.size(), 20u);
    EXPECT_EQ(map.front().letter, 'G');
}

TEST(DriveMapParse, NormalizesNativePaths)
{
    EXPECT_EQ(normalizeNativePath("/a//b/./c/"), "/a/b/c");
    EXPECT_EQ(normalizeNativePath("/a/../../b"), "/b");
    EXPECT_EQ(normalizeNativePath("//"), "/");
    EXPECT_EQ(normalizeNativePath("a/b"), "");
    EXPECT_EQ(normalizeNativePath(""), "");
    EXPECT_EQ(normalizeNativePath(std::string("/a\0b", 4)), "");
}

struct PathRow
{
    // Windows to native, or native to Windows.
    bool toNative;
    std::string from;
    std::string to;
};

class DriveMap : public ::testing::Test
{
protected:
    // A fixed map, so conversions are checked without the environment or the disks.
    test::ScopedFake<test::FakeDrives> drives{{{'C', "/srv/c", DRIVE_FIXED},
                                               {'D', "/srv/c/d", DRIVE_FIXED},
                                               {'E', "/", DRIVE_FIXED},
                                               {'F', "/srv/f", DRIVE_FIXED}}};
};

class DrivePaths : public DriveMap, public ::testing::WithParamInterface<PathRow>
{
};

TEST_P(DrivePaths, ConvertAsTheRowSays)
{
    const PathRow& row = GetParam();
    EXPECT_EQ(row.toNative ? toNativePath(row.from) : toWindowsPath(row.from), row.to) << row.from;
}

INSTANTIATE_TEST_SUITE_P(Drives, DrivePaths,
                         ::testing::ValuesIn(std::vector<PathRow>{
                             // Windows to native accepts both separators and any letter case.
                             {true, "C:\\Windows\\Temp", "/srv/c/Windows/Temp"},
                             {true, "c:/Windows/Temp/", "/srv/c/Windows/Temp"},
                             {true, "C:\\\\Windows//\\Temp\\.\\x", "/srv/c/Windows/Temp/x"},
                             {true, "E:\\etc\\hosts", "/etc/hosts"},
                             {true, "F:\\a b\\c.txt", "/srv/f/a b/c.txt"},
                             // Drive designator alone is the root.
                             {true, "C:", "/srv/c"},
                             {true, "C:\\", "/srv/c"},
                             {true, "E:", "/"},
                             {true, "E:/", "/"},
                             // Windows to native refuses what has no place on the drive.
                             {true, "C:\\a\\..\\b", "/srv/c/b"},
                             {true, "C:\\a\\..\\..", ""},
                             {true, "C:\\..\\d\\x", ""},
                             {true, "C:/../c2", ""},
                             {true, "C:Windows", ""},
                             {true, "G:\\x", ""},
                             {true, "\\\\server\\share\\x", ""},
                             {true, "\\Windows", ""},
                             {true, "Windows\\Temp", ""},
                             {true, "1:\\x", ""},
                             {true, "", ""},
                             {true, "C", ""},
                             {true, std::string("C:\\a\0\\b", 7), ""},
                             // Native to windows takes the longest mapped prefix.
                             {false, "/srv/c/Windows", "C:\\Windows"},
                             {false, "/srv/c/d/x/y.txt", "D:\\x\\y.txt"},
                             {false, "/srv/c/dd", "C:\\dd"},
                             {false, "/srv/c2/x", "E:\\srv\\c2\\x"},
                             {false, "/etc", "E:\\etc"},
                             // Drive roots keep their backslash others have none.
                             {false, "/srv/c", "C:\\"},
                             {false, "/srv/c/", "C:\\"},
                             {false, "/srv/c/d/", "D:\\"},
                             {false, "/", "E:\\"},
                             {false, "/srv/c//Windows/./Temp/", "C:\\Windows\\Temp"},
                             {false, "/srv/c/x/../d/y", "D:\\y"},
                             // Native to windows refuses relative and unrepresentable paths.
                             {false, "srv/c", ""},
                             {false, "", ""},
                             // Its Windows form would read back as another file.
                             {false, "/srv/c/a\\b", ""},
                         }));

TEST_F(DriveMap, ConversionsRoundTrip)
{
    for (const std::string native : {"/srv/c", "/srv/c/x y/z", "/srv/c/d/q", "/usr/lib", "/"})
        EXPECT_EQ(toNativePath(toWindowsPath(native)), native) << native;
}

TEST(DrivePathsWithoutRoot, NoMappingForAPathGivesNoWindowsForm)
{
    test::ScopedFake<test::FakeDrives> drives{{{'C', "/srv/c", DRIVE_FIXED}}};
    EXPECT_EQ(toWindowsPath("/etc"), "");
    EXPECT_EQ(toWindowsPath("/srv/c/x"), "C:\\x");
}

class DriveMapService : public ::testing::Test
{
protected:
    test::Sandbox sandbox;
    std::string folder(const std::string& name)
    {
        const std::string path = sandbox.root() + "/" + name;
        std::filesystem::create_directories(path);
        return path;
    }
    // The type of each root, in order.
    static std::vector<unsigned> typesOf(std::initializer_list<const char*> roots)
    {
        std::vector<unsigned> types;
        for (const char* root : roots)
            types.push_back(GetDriveTypeA(root));
        return types;
    }
};

TEST_F(DriveMapService, ListsEveryMappedLetterWithTheRootFallback)
{
    sandbox.setDrives("D:=" + folder("d") + ";C:=" + folder("c") + "@fixed;M:=" + sandbox.root() +
                      "/missing@fixed");
    using namespace std::string_literals;
    EXPECT_EQ(logicalDrives(), "C:\\\0D:\\\0M:\\\0Z:\\\0"s);
    EXPECT_EQ(toNativePath("Z:\\"), "/");
    EXPECT_EQ(toWindowsPath(sandbox.root() + "/d/x"), "D:\\x");
}

TEST_F(DriveMapService, TypeSuffixesGiveTheDriveTypes)
{
    sandbox.setDrives("A:=" + folder("a") + "@removable;C:=" + folder("c") +
                      "@fixed;N:=" + folder("n") + "@remote;R:=" + folder("r") +
                      "@cdrom;T:=" + folder("t") + "@ramdisk");
    EXPECT_EQ(typesOf({"A:\\", "C:\\", "N:\\", "R:\\", "T:\\", "Z:\\"}),
              (std::vector<unsigned>{DRIVE_REMOVABLE, DRIVE_FIXED, DRIVE_REMOTE, DRIVE_CDROM,
                                     DRIVE_RAMDISK, DRIVE_FIXED}));
}

TEST_F(DriveMapService, DriveTypeAcceptsOnlyADriveRoot)
{
    sandbox.setDrives("C:=" + folder("c") + "@fixed");
    EXPECT_EQ(typesOf({"C:", "c:\\", "C:/"}), std::vector<unsigned>(3, DRIVE_FIXED));
    EXPECT_EQ(typesOf({"C:\\Windows", "D:\\", "error", ""}),
              std::vector<unsigned>(4, DRIVE_NO_ROOT_DIR));
}

TEST_F(DriveMapService, AMissingOrNonFolderRootHasNoRootDirectory)
{
    test::Sandbox::writeFile(sandbox.root() + "/file", "x");
    sandbox.setDrives("C:=" + folder("c") + "@fixed;M:=" + sandbox.root() + "/missing@fixed;F:=" +
                      sandbox.root() + "/file@fixed;G:=" + sandbox.root() + "/file/sub");
    EXPECT_EQ(typesOf({"M:\\", "F:\\", "G:\\"}), std::vector<unsigned>(3, DRIVE_NO_ROOT_DIR));
    // The letter stays mapped and comes to life with its folder.
    folder("missing");
    EXPECT_EQ(GetDriveTypeA("M:\\"), DRIVE_FIXED);
}

TEST_F(DriveMapService, WithoutATypeTheFilesystemDecides)
{
    struct statfs info
    {
    };
    if (::statfs("/dev/shm", &info) != 0 || info.f_type != 0x01021994 /* tmpfs */)
        GTEST_SKIP() << "no tmpfs at /dev/shm";
    sandbox.setDrives("C:=" + folder("c") + ";R:=/dev/shm;P:=/dev/shm/..");
    EXPECT_EQ(GetDriveTypeA("R:\\"), DRIVE_RAMDISK);
    // "/dev" itself is another filesystem.
    EXPECT_NE(GetDriveTypeA("P:\\"), DRIVE_RAMDISK);
    EXPECT_NE(GetDriveTypeA("C:\\"), DRIVE_NO_ROOT_DIR);
    EXPECT_NE(GetDriveTypeA("C:\\"), DRIVE_UNKNOWN);
}

TEST_F(DriveMapService, MalformedTextIsReportedOncePerTextAndNeverFatal)
{
    const std::string good = "C:=" + folder("c") + "@fixed";
    ::testing::internal::CaptureStderr();
    sandbox.setDrives(good + ";D:relative");
    EXPECT_EQ(GetDriveTypeA("C:\\"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeA("D:\\"), DRIVE_NO_ROOT_DIR);
    logicalDrives();
    sandbox.setDrives(good + ";Q:=/q@floppy");
    logicalDrives();
    sandbox.setDrives(good + ";D:relative");
    logicalDrives();
    const std::string said = ::testing::internal::GetCapturedStderr();

    auto count = [&said](const std::string& what) {
        std::size_t n = 0;
        for (auto at = said.find(what); at != std::string::npos; at = said.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("VORLAX_DRIVES"), 2u) << said;
    EXPECT_EQ(count("D:relative"), 1u) << said;
    EXPECT_EQ(count("Q:=/q@floppy"), 1u) << said;
}

TEST_F(DriveMapService, FollowsTheEnvironmentAtEveryCall)
{
    sandbox.setDrives("C:=" + folder("one") + "@fixed");
    EXPECT_EQ(toNativePath("C:\\x"), sandbox.root() + "/one/x");
    sandbox.setDrives("C:=" + folder("two") + "@fixed");
    EXPECT_EQ(toNativePath("C:\\x"), sandbox.root() + "/two/x");
}

TEST_F(DriveMapService, WithoutTheVariableCIsTheHomeFolderAndZTheSystemRoot)
{
    sandbox.setEnv("VORLAX_DRIVES", std::nullopt);
    EXPECT_EQ(logicalDrives().substr(0, 4), std::string("C:\\\0", 4));
    EXPECT_EQ(toNativePath("C:\\"), sandbox.home());
    EXPECT_EQ(GetDriveTypeA("C:\\"), DRIVE_FIXED);
    EXPECT_EQ(toWindowsPath(sandbox.home() + "/x"), "C:\\x");
    EXPECT_EQ(toNativePath("Z:\\etc"), "/etc");
    EXPECT_EQ(GetDriveTypeA("Z:\\"), DRIVE_FIXED);
    // An empty text counts as not set.
    sandbox.setEnv("VORLAX_DRIVES", "");
    EXPECT_EQ(toNativePath("C:\\x"), sandbox.home() + "/x");

    // The map follows HOME; "/" is never C:.
    sandbox.setEnv("HOME", folder("other"));
    EXPECT_EQ(toNativePath("C:\\"), sandbox.root() + "/other");
    // HOME "/" counts as no HOME: the account's home, if it has one, stands in.
    sandbox.setEnv("HOME", "/");
    EXPECT_NE(toNativePath("C:\\"), "/");
    EXPECT_EQ(toWindowsPath("/etc"), "Z:\\etc");
}
