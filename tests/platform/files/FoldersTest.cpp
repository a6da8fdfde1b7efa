#include "platform/files/Folders.h"
#include "platform/drives/Drives.h"
#include "platform/settings/AutostartFolder.h"
#include "support/Sandbox.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace platform;

class Folders : public ::testing::Test
{
protected:
    test::Sandbox sandbox;
    // C: is the sandbox itself, so the folders have short, known Windows forms.
    void SetUp() override { sandbox.setDrives("C:=" + sandbox.root() + "@fixed"); }
};

TEST_F(Folders, WindowsDirectoryHasNoTrailingSlashAndALookupMakesNothing)
{
    sandbox.setEnv("VORLAX_WINDIR", sandbox.root() + "/new//windows/");
    EXPECT_EQ(windowsDirectoryNative(), sandbox.root() + "/new/windows");
    EXPECT_EQ(GetWindowsDirectoryA(), "C:\\new\\windows");
    EXPECT_FALSE(std::filesystem::exists(sandbox.root() + "/new"));
}

TEST_F(Folders, WindowsDirectoryDefaultsToTheConfigFolder)
{
    sandbox.setEnv("VORLAX_WINDIR", std::nullopt);
    EXPECT_EQ(windowsDirectoryNative(), sandbox.configHome() + "/vorlax");
    sandbox.setEnv("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(windowsDirectoryNative(), sandbox.home() + "/.config/vorlax");
    EXPECT_EQ(GetWindowsDirectoryA(), "C:\\home\\.config\\vorlax");
}

TEST_F(Folders, ARelativeConfigHomeIsIgnoredByEveryReader)
{
    sandbox.setEnv("VORLAX_WINDIR", std::nullopt);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(sandbox.root());
    sandbox.setEnv("XDG_CONFIG_HOME", "relative/config");
    const std::string config = configHomeNative();
    const std::string windows = windowsDirectoryNative();
    const std::string autostart = AutostartFolder::defaultFolder();
    std::filesystem::current_path(previous);

    EXPECT_EQ(config, sandbox.home() + "/.config");
    EXPECT_EQ(windows, sandbox.home() + "/.config/vorlax");
    EXPECT_EQ(autostart, sandbox.home() + "/.config/autostart");
    EXPECT_FALSE(std::filesystem::exists(sandbox.root() + "/relative"));

    sandbox.setEnv("XDG_CONFIG_HOME", sandbox.root() + "/cfg//");
    EXPECT_EQ(configHomeNative(), sandbox.root() + "/cfg");
    EXPECT_EQ(AutostartFolder::defaultFolder(), sandbox.root() + "/cfg/autostart");
    EXPECT_EQ(windowsDirectoryNative(), sandbox.root() + "/cfg/vorlax");
    sandbox.setEnv("XDG_CONFIG_HOME", "");
    EXPECT_EQ(AutostartFolder::defaultFolder(), sandbox.home() + "/.config/autostart");
}

TEST_F(Folders, RelativeWindowsDirectoryBecomesAbsolute)
{
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(sandbox.root());
    sandbox.setEnv("VORLAX_WINDIR", "rel/win/");
    const std::string dir = windowsDirectoryNative();
    std::filesystem::current_path(previous);
    EXPECT_EQ(dir, sandbox.root() + "/rel/win");
}

TEST_F(Folders, WindowsDirectoryAtADriveRootKeepsItsBackslash)
{
    sandbox.setDrives("C:=" + sandbox.root() + "@fixed;W:=" + sandbox.windir() + "@fixed");
    EXPECT_EQ(GetWindowsDirectoryA(), "W:\\");
}

TEST_F(Folders, SystemDirectoryIsTheSharedLibraryFolder)
{
    EXPECT_EQ(GetSystemDirectoryA(), "Z:\\usr\\lib");
    sandbox.setDrives("C:=/");
    EXPECT_EQ(GetSystemDirectoryA(), "C:\\usr\\lib");
    sandbox.setDrives("C:=/;U:=/usr");
    EXPECT_EQ(GetSystemDirectoryA(), "U:\\lib");
}

TEST_F(Folders, TempPathEndsInOneBackslash)
{
    EXPECT_EQ(GetTempPathA(), "C:\\tmp\\");
    sandbox.setEnv("TMPDIR", sandbox.root() + "/tmp//");
    EXPECT_EQ(GetTempPathA(), "C:\\tmp\\");
    sandbox.setDrives("C:=" + sandbox.root() + "@fixed;D:=" + sandbox.tmp() + "@fixed");
    EXPECT_EQ(GetTempPathA(), "D:\\");
}

TEST_F(Folders, TempPathFallsBackToTmp)
{
    sandbox.setDrives("C:=/");
    sandbox.setEnv("TMPDIR", std::nullopt);
    EXPECT_EQ(GetTempPathA(), "C:\\tmp\\");
    sandbox.setEnv("TMPDIR", "");
    EXPECT_EQ(GetTempPathA(), "C:\\tmp\\");
    sandbox.setEnv("TMPDIR", "relative/tmp");
    EXPECT_EQ(GetTempPathA(), "C:\\tmp\\");
}

TEST_F(Folders, FoldersNeverToBeEmptiedAreKnownByIdentity)
{
    // C: is the sandbox, Z: stands for "/".
    const std::string r = sandbox.root();
    std::filesystem::create_directories(sandbox.home() + "/.cache/browser");
    std::filesystem::create_directories(r + "/c/data");
    std::filesystem::create_symlink(sandbox.home(), r + "/home-link");
    const std::pair<std::string, bool> cases[] = {
        {"Z:\\", true},
        {"C:", true},
        {"C:\\home", true},
        {"C:\\home-link", true},
        {"C:\\home\\.config", false},
        {"C:\\windir", true},
        {"C:\\home\\.cache\\browser", false},
        {"C:\\c\\data", false},
        {"Z:\\usr", true},
        {"Z:\\usr\\lib", true},
        {"Z:\\etc", true},
        {"Z:\\var\\cache", true},
        {"Z:\\var\\tmp", false},
        {"Z:\\home", true},
        {"C:\\missing", false},
        {"Q:\\unmapped", false},
    };
    for (const auto& [folder, unfit] : cases)
        EXPECT_EQ(isFolderUnfitToEmpty(folder), unfit) << folder;

    EXPECT_TRUE(isSameOrInside("C:\\home-link\\.cache", "C:\\home"));
    EXPECT_FALSE(isSameOrInside("C:\\home", "C:\\home\\.cache"));
    EXPECT_FALSE(isSameOrInside("C:\\missing", "C:\\"));

    EXPECT_TRUE(liesOnlyOnRootDrive("Z:\\etc"));
    EXPECT_FALSE(liesOnlyOnRootDrive("C:\\home"));
    std::string sandboxThroughRoot = "Z:" + r + "/home";
    std::replace(sandboxThroughRoot.begin(), sandboxThroughRoot.end(), '/', '\\');
    EXPECT_FALSE(liesOnlyOnRootDrive(sandboxThroughRoot));
    EXPECT_TRUE(isSameOrInside(sandboxThroughRoot, "C:\\home"));
}

TEST_F(Folders, TheDesktopFolderIsTheUsersOwnOrDesktopInHome)
{
    const std::string home = sandbox.home();
    const struct
    {
        std::string userDirs; // empty: no file
        std::string desktop;
    } cases[] = {
        {"", home + "/Desktop"},
        {"# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Bureau\"\n", home + "/Bureau"},
        {"XDG_DESKTOP_DIR=\"$HOME/a\"\n  XDG_DESKTOP_DIR=\"/srv/my desk/\"\n", "/srv/my desk"},
        {"XDG_DESKTOP_DIR=\"$HOME\"\nXDG_DOWNLOAD_DIR=\"$HOME/dl\"\n", home},
        {"XDG_DESKTOP_DIR=\"relative\"\n", home + "/Desktop"},
    };
    for (const auto& row : cases) {
        std::filesystem::remove(sandbox.configHome() + "/user-dirs.dirs");
        if (!row.userDirs.empty())
            test::Sandbox::writeFile(sandbox.configHome() + "/user-dirs.dirs", row.userDirs);
        EXPECT_EQ(desktopFolderNative(), row.desktop) << row.userDirs;
    }
}
