#include "platform/drives/Drives.h"
#include "platform/settings/AutostartFolder.h"
#include "platform/settings/Registry.h"

#include "support/Sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

const std::string runKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// Changes whenever a file is replaced rather than left alone.
ino_t fileId(const std::string& path)
{
    struct stat info
    {
    };
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

class RunKey : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Menu entries installed on this machine stay out of the entries written here.
        sandbox.setEnv("XDG_DATA_DIRS", sandbox.root() + "/share");
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, runKey, key), ERROR_SUCCESS);
    }
    void TearDown() override { RegCloseKey(key); }

    // A program file in the sandbox, by its native and its Windows path.
    std::pair<std::string, std::string> program(const std::string& relative)
    {
        const std::string native = sandbox.root() + "/" + relative;
        test::Sandbox::writeFile(native, "#!/bin/sh\n");
        return {native, toWindowsPath(native)};
    }

    std::string entry(const std::string& name) const
    {
        return test::Sandbox::readFile(sandbox.autostartDir() + "/" + name + ".desktop");
    }

    long query(const std::string& name, std::string& data, std::uint32_t* typeOut = nullptr)
    {
        std::uint32_t type = 0;
        const long status = RegQueryValueExA(key, name, type, data);
        if (typeOut)
            *typeOut = type;
        return status;
    }

    test::Sandbox sandbox;
    HKEY key = 0;
};

} // namespace

TEST_F(RunKey, AStringValueIsADesktopEntryStartingTheNativeProgram)
{
    const auto [native, windows] = program("My Programs/vorlax");
    ASSERT_FALSE(windows.empty());
    ASSERT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, windows + " /a"), ERROR_SUCCESS);

    // Without a menu entry for the program, its icon is named after it.
    EXPECT_EQ(entry("Vorlax"), "[Desktop Entry]\n"
                               "Type=Application\n"
                               "Name=Vorlax\n"
                               "Icon=vorlax\n"
                               "TryExec=" +
                                   native +
                                   "\n"
                                   "Exec=\"" +
                                   native + "\" /a\n");
    // Nothing of it goes to the hive.
    EXPECT_FALSE(test::Sandbox::exists(sandbox.windir() + "/registry.reg"));

    std::string data;
    std::uint32_t type = 0;
    ASSERT_EQ(query("Vorlax", data, &type), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data, windows + " /a");
    // The key and the value name match whatever their case.
    HKEY other = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\microsoft\\WINDOWS\\currentversion\\RUN",
                            other),
              ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(other, "VORLAX", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, windows + " /a");
    RegCloseKey(other);

    EXPECT_EQ(RegDeleteValueA(key, "Vorlax"), ERROR_SUCCESS);
    EXPECT_FALSE(test::Sandbox::exists(sandbox.autostartDir() + "/Vorlax.desktop"));
    EXPECT_EQ(query("Vorlax", data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(key, "Vorlax"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RunKey, ANewEntryShowsTheProgramAsItsMenuEntryDoes)
{
    const std::string menuEntry =
        test::Sandbox::readFile(VORLAX_TEST_DATA "/../data/vorlax.desktop");
    test::Sandbox::writeFile(sandbox.dataHome() + "/applications/vorlax.desktop", menuEntry);
    const auto [native, windows] = program("bin/vorlax");
    ASSERT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, windows + " /a"), ERROR_SUCCESS);

    const std::string text = entry("Vorlax");
    // The menu entry's description, line and all.
    const auto comment = menuEntry.find("\nComment=");
    ASSERT_NE(comment, std::string::npos);
    const std::string commentLine =
        menuEntry.substr(comment + 1, menuEntry.find('\n', comment + 1) - comment);
    EXPECT_EQ(text, "[Desktop Entry]\nType=Application\nName=Vorlax\n" + commentLine +
                        "Icon=vorlax\nTryExec=" + native + "\nExec=" + native + " /a\n");
    // The desktop's own checker, where the machine has it, says nothing.
    if (std::system("command -v desktop-file-validate > /dev/null") == 0) {
        const std::string check = "desktop-file-validate '" + sandbox.autostartDir() +
                                  "/Vorlax.desktop' > '" + sandbox.root() + "/check' 2>&1";
        EXPECT_EQ(std::system(check.c_str()), 0);
        EXPECT_EQ(test::Sandbox::readFile(sandbox.root() + "/check"), "");
    }

    // What a desktop could not show is left out, never copied into an entry of ours.
    test::Sandbox::writeFile(sandbox.dataHome() + "/applications/vorlax.desktop",
                             "[Desktop Entry]\nComment=\xff\x01\nIcon=\x7f\n");
    ASSERT_EQ(RegDeleteValueA(key, "Vorlax"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, windows + " /a"), ERROR_SUCCESS);
    EXPECT_EQ(entry("Vorlax"),
              "[Desktop Entry]\nType=Application\nName=Vorlax\nIcon=vorlax\nTryExec=" + native +
                  "\nExec=" + native + " /a\n");
}

TEST_F(RunKey, TheProgramPartIsFoundBeforeItIsConverted)
{
    const auto [plain, plainWindows] = program("bin/tool");
    const auto [spaced, spacedWindows] = program("dir with blanks/tool");

    // Quoted, with awkward characters that the Exec line must escape.
    ASSERT_EQ(
        RegSetValueExA(key, "Quoted", REG_SZ, "\"" + spacedWindows + "\" 100% \"two words\" $HOME"),
        ERROR_SUCCESS);
    EXPECT_NE(entry("Quoted").find("Exec=\"" + spaced + "\" 100%% \"two words\" \"\\\\$HOME\"\n"),
              std::string::npos);
    std::string data;
    ASSERT_EQ(query("Quoted", data), ERROR_SUCCESS);
    EXPECT_EQ(data, spacedWindows + " 100% \"two words\" $HOME");

    // Unquoted: the longest run of words that names an existing file.
    ASSERT_EQ(RegSetValueExA(key, "Longest", REG_SZ, spacedWindows + " /a"), ERROR_SUCCESS);
    EXPECT_NE(entry("Longest").find("Exec=\"" + spaced + "\" /a\n"), std::string::npos);

    // Nothing exists: the first word is the program.
    const std::string missing = plainWindows.substr(0, plainWindows.size() - 4) + "nothing";
    ASSERT_EQ(RegSetValueExA(key, "Missing", REG_SZ, missing + " more words"), ERROR_SUCCESS);
    EXPECT_NE(entry("Missing").find("Exec=" + toNativePath(missing) + " more words\n"),
              std::string::npos);

    // A bare program name is left for the desktop to look up.
    ASSERT_EQ(RegSetValueExA(key, "Bare", REG_SZ, "xterm -e top"), ERROR_SUCCESS);
    EXPECT_NE(entry("Bare").find("Exec=xterm -e top\n"), std::string::npos);
    ASSERT_EQ(query("Bare", data), ERROR_SUCCESS);
    EXPECT_EQ(data, "xterm -e top");
}

TEST_F(RunKey, EntriesTheDesktopDisabledOrWroteItselfAreReadAsTheDesktopMeansThem)
{
    const std::string folder = sandbox.autostartDir();
    test::Sandbox::writeFile(folder + "/Off.desktop",
                             "[Desktop Entry]\nType=Application\nExec=/bin/true\nHidden=true\n");
    test::Sandbox::writeFile(folder + "/Gnome.desktop", "[Desktop Entry]\nExec=/bin/true\n"
                                                        "X-GNOME-Autostart-enabled=false\n");
    test::Sandbox::writeFile(folder + "/Foreign.desktop",
                             "# written by hand\n"
                             "[Desktop Entry]\n"
                             "Name=Foreign\n"
                             "Exec = \"/opt/some dir/app\" --open %U \"a\\\\\\\\b\"\n"
                             "[Desktop Action Other]\n"
                             "Exec=/bin/false\n");
    test::Sandbox::writeFile(folder + "/lower.desktop", "[Desktop Entry]\nExec=/bin/true\n");
    test::Sandbox::writeFile(folder + "/NoEntry.desktop", "just text\n");

    std::string data;
    EXPECT_EQ(query("Off", data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(query("Gnome", data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(query("NoEntry", data), ERROR_FILE_NOT_FOUND);
    // Deleting what does not count as a value leaves the desktop's file alone.
    EXPECT_EQ(RegDeleteValueA(key, "Off"), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(test::Sandbox::exists(folder + "/Off.desktop"));

    ASSERT_EQ(query("Foreign", data), ERROR_SUCCESS);
    const std::string app = toWindowsPath("/opt/some dir/app");
    EXPECT_EQ(data, (app.empty() ? "/opt/some dir/app" : app) + " --open a\\b");

    // Writing a disabled entry's value enables it again; another spelling reuses the file.
    ASSERT_EQ(RegSetValueExA(key, "Off", REG_SZ, "xterm"), ERROR_SUCCESS);
    EXPECT_EQ(query("Off", data), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "LOWER", REG_SZ, "xterm"), ERROR_SUCCESS);
    EXPECT_FALSE(test::Sandbox::exists(folder + "/LOWER.desktop"));
    EXPECT_NE(test::Sandbox::readFile(folder + "/lower.desktop").find("Exec=xterm\n"),
              std::string::npos);
}

TEST_F(RunKey, OtherTypesLiveInTheHiveAndReplaceTheEntry)
{
    ASSERT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, "xterm"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Vorlax", REG_DWORD, std::string("\x01\0\0\0", 4)),
              ERROR_SUCCESS);
    EXPECT_FALSE(test::Sandbox::exists(sandbox.autostartDir() + "/Vorlax.desktop"));
    std::string data;
    std::uint32_t type = 0;
    ASSERT_EQ(query("Vorlax", data, &type), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);

    // Names that cannot be files are still fine for other types.
    EXPECT_EQ(RegSetValueExA(key, "a/b", REG_BINARY, "x"), ERROR_SUCCESS);

    ASSERT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, "xterm"), ERROR_SUCCESS);
    ASSERT_EQ(query("Vorlax", data, &type), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(RegDeleteValueA(key, "Vorlax"), ERROR_SUCCESS);
    EXPECT_EQ(query("Vorlax", data), ERROR_FILE_NOT_FOUND);
}

TEST_F(RunKey, StringValuesDoNotDependOnTheHive)
{
    fs::create_directories(sandbox.windir() + "/registry.reg");
    ASSERT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, "xterm"), ERROR_SUCCESS);
    std::string data;
    EXPECT_EQ(query("Vorlax", data), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "Vorlax"), ERROR_SUCCESS);
    EXPECT_NE(RegSetValueExA(key, "Vorlax", REG_DWORD, std::string(4, '\0')), ERROR_SUCCESS);
}

TEST_F(RunKey, WritesThatCannotBeDoneFailAndChangeNothing)
{
    EXPECT_EQ(RegSetValueExA(key, "a/b", REG_SZ, "xterm"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key, "", REG_SZ, "xterm"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key, std::string(300, 'n'), REG_SZ, "xterm"),
              ERROR_FILENAME_EXCED_RANGE);
    // Without a program the entry would start its first argument.
    EXPECT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, " /a"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, ""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, "\"\" /a"), ERROR_INVALID_PARAMETER);
    // A program on a drive letter that is not mapped cannot be started.
    EXPECT_EQ(RegSetValueExA(key, "Unmapped", REG_SZ, "Q:\\prog.exe /a"), ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(!fs::exists(sandbox.autostartDir()) || fs::is_empty(sandbox.autostartDir()));

    // A regular file where the autostart folder belongs.
    fs::remove_all(sandbox.autostartDir());
    test::Sandbox::writeFile(sandbox.autostartDir(), "not a folder");
    EXPECT_NE(RegSetValueExA(key, "Vorlax", REG_SZ, "xterm"), ERROR_SUCCESS);
    EXPECT_EQ(test::Sandbox::readFile(sandbox.autostartDir()), "not a folder");
    std::string data;
    EXPECT_EQ(query("Vorlax", data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(key, "Vorlax"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RunKey, ChangingAnEntryReplacesOnlyItsExecLine)
{
    const std::string path = sandbox.autostartDir() + "/Vorlax.desktop";
    const std::string before = "# kept\r\n"
                               "[Desktop Entry]\r\n"
                               "Type=Application\r\n"
                               "Name=Vorlax\r\n"
                               "Comment[de]=R\xc3\xa4umt auf\r\n"
                               "Exec=/old/place/vorlax /a\r\n"
                               "TryExec=/old/place/vorlax\r\n"
                               "Icon=vorlax\r\n"
                               "X-GNOME-Autostart-Delay=30\r\n"
                               "\r\n"
                               "[Desktop Action Clean]\r\n"
                               "Exec=/old/place/vorlax --clean";
    test::Sandbox::writeFile(path, before);
    ASSERT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, "xterm /a"), ERROR_SUCCESS);
    std::string after = before;
    after.replace(after.find("Exec=/old/place/vorlax /a"), 25, "Exec=xterm /a");
    // A TryExec that still named the old program would hide the entry.
    after.replace(after.find("TryExec=/old/place/vorlax"), 25, "TryExec=xterm");
    EXPECT_EQ(test::Sandbox::readFile(path), after);
}

TEST_F(RunKey, ADisabledEntryOrOneWithoutExecIsMendedInPlace)
{
    const std::string path = sandbox.autostartDir() + "/Vorlax.desktop";
    test::Sandbox::writeFile(path, "[Desktop Entry]\n"
                                   "Name=Vorlax\n"
                                   "Hidden=true\n"
                                   "X-GNOME-Autostart-enabled=false\n"
                                   "\n"
                                   "[Other Group]\n"
                                   "Hidden=true\n");
    ASSERT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, "xterm"), ERROR_SUCCESS);
    EXPECT_EQ(test::Sandbox::readFile(path), "[Desktop Entry]\n"
                                             "Name=Vorlax\n"
                                             "Hidden=false\n"
                                             "X-GNOME-Autostart-enabled=true\n"
                                             "Exec=xterm\n"
                                             "\n"
                                             "[Other Group]\n"
                                             "Hidden=true\n");
    std::string data;
    ASSERT_EQ(query("Vorlax", data), ERROR_SUCCESS);
    EXPECT_EQ(data, "xterm");

    // A file of that name that is no desktop entry at all is replaced by one.
    test::Sandbox::writeFile(path, "just text");
    ASSERT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, "xterm"), ERROR_SUCCESS);
    EXPECT_EQ(entry("Vorlax"), "[Desktop Entry]\nType=Application\nName=Vorlax\nIcon=xterm\n"
                               "TryExec=xterm\nExec=xterm\n");
}

TEST_F(RunKey, AnEntryThatAlreadyStartsTheCommandIsNotWritten)
{
    const std::string path = sandbox.autostartDir() + "/Vorlax.desktop";
    // The same command, quoted differently and with a field code an autostart never fills.
    const std::string text = "[Desktop Entry]\nExec=\"xterm\" -e top %U\nIcon=x\n";
    test::Sandbox::writeFile(path, text);
    const ino_t inode = fileId(path);
    ASSERT_NE(inode, 0u);
    ASSERT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, "xterm -e top"), ERROR_SUCCESS);
    EXPECT_EQ(fileId(path), inode);
    EXPECT_EQ(test::Sandbox::readFile(path), text);

    ASSERT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, "xterm -e htop"), ERROR_SUCCESS);
    EXPECT_NE(fileId(path), inode);
    EXPECT_EQ(test::Sandbox::readFile(path), "[Desktop Entry]\nExec=xterm -e htop\nIcon=x\n");
}

TEST_F(RunKey, AnEntryThatIsALinkStaysALink)
{
    const std::string kept = sandbox.root() + "/dotfiles/Vorlax.desktop";
    test::Sandbox::writeFile(kept, "[Desktop Entry]\nType=Application\nExec=xterm\n");
    fs::create_directories(sandbox.autostartDir());
    fs::create_symlink(kept, sandbox.autostartDir() + "/Vorlax.desktop");

    ASSERT_EQ(RegSetValueExA(key, "Vorlax", REG_SZ, "xterm -e top"), ERROR_SUCCESS);
    EXPECT_TRUE(fs::is_symlink(sandbox.autostartDir() + "/Vorlax.desktop"));
    EXPECT_NE(test::Sandbox::readFile(kept).find("Exec=xterm -e top\n"), std::string::npos);
}

TEST(ExecLine, QuotingAndEscapingRoundTrip)
{
    const std::vector<std::vector<std::string>> cases = {
        {"/usr/bin/vorlax", "/a"},
        {"/opt/my app/run", "with blank", ""},
        {"/x", "quote\"s", "back\\slash", "dollar$", "tick`", "50%", "tab\there", "new\nline"},
        {"/x", "'single'", "a;b", "a&b", "<in>", "~", "*?", "#", "(p)", "|"},
    };
    for (const auto& arguments : cases) {
        const std::string value = AutostartFolder::execValue(arguments);
        SCOPED_TRACE(value);
        EXPECT_EQ(value.find('\n'), std::string::npos);
        EXPECT_EQ(AutostartFolder::execArguments(value), arguments);
    }
    EXPECT_EQ(AutostartFolder::execValue({"/a b/c", "x\\y", "5%"}),
              "\"/a b/c\" \"x\\\\\\\\y\" 5%%");
    EXPECT_EQ(AutostartFolder::execArguments("prog %f %U --x=%% %i \"%%\""),
              (std::vector<std::string>{"prog", "--x=%", "%"}));
}

TEST(ExecLine, WindowsCommandLinesFromArgumentLists)
{
    EXPECT_EQ(AutostartFolder::windowsCommand({}), "");
    EXPECT_EQ(AutostartFolder::windowsCommand({"prog", "a b", "", "c"}), "prog \"a b\" \"\" c");
    const std::string windows = toWindowsPath("/usr/bin/prog");
    if (!windows.empty()) {
        EXPECT_EQ(AutostartFolder::windowsCommand({"/usr/bin/prog", "/a"}), windows + " /a");
    }
}
