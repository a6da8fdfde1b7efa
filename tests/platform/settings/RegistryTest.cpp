#include "platform/settings/Registry.h"
#include "platform/drives/Drives.h"
#include "platform/settings/SettingsLock.h"

#include "support/Sandbox.h"

#include <array>
#include <filesystem>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

// Opens (creating) a key and closes it at the end of the scope.
class Key
{
public:
    Key(HKEY root, const std::string& path) { status = RegCreateKeyExA(root, path, handle); }
    ~Key()
    {
        if (handle)
            RegCloseKey(handle);
    }
    long set(const std::string& name, std::uint32_t type, const std::string& data) const
    {
        return RegSetValueExA(handle, name, type, data);
    }
    std::pair<std::uint32_t, std::string> get(const std::string& name, long* result = nullptr) const
    {
        std::uint32_t type = 0;
        std::string data;
        const long status = RegQueryValueExA(handle, name, type, data);
        if (result)
            *result = status;
        return {type, data};
    }

    HKEY handle = 0;
    long status = -1;
};

std::vector<std::string> filesIn(const std::string& folder)
{
    std::vector<std::string> names;
    // The lock file stays; only what a write leaves by mistake counts.
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename() != platform::SettingsLockName)
            names.push_back(entry.path().filename().string());
    }
    return names;
}

} // namespace

TEST(RegistryKeys, OpenCreateAndCloseFollowTheHandleRules)
{
    test::Sandbox sandbox;
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Missing", key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, 0u);

    HKEY created = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Vorlax", created), ERROR_SUCCESS);
    HKEY child = 0;
    ASSERT_EQ(RegCreateKeyExA(created, "Options\\Deep", child), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\VORLAX\\options\\deep", key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\\\Vorlax\\Options\\", key),
              ERROR_SUCCESS);
    // A key of one root is no key of the other.
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vorlax", key), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(child), ERROR_INVALID_HANDLE);
    std::uint32_t type = 0;
    std::string data;
    EXPECT_EQ(RegQueryValueExA(child, "x", type, data), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExA(child, "x", REG_SZ, "y"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteValueA(0, "x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA(0x1234567, "x", key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Bad\nName", key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    RegCloseKey(created);
    RegCloseKey(key);
}

TEST(RegistryValues, LiveInTheHiveFileAndReadBackExactly)
{
    test::Sandbox sandbox;
    {
        Key key(HKEY_CURRENT_USER, "Software\\Vorlax");
        ASSERT_EQ(key.status, ERROR_SUCCESS);
        EXPECT_EQ(key.set("Folder", REG_SZ, "C:\\Temp\\\"odd\" name\\"), ERROR_SUCCESS);
        EXPECT_EQ(key.set("Count", REG_DWORD, std::string("\x07\x00\x00\x01", 4)), ERROR_SUCCESS);
        EXPECT_EQ(key.set("Cut", REG_SZ, std::string("before\0after", 12)), ERROR_SUCCESS);
        EXPECT_EQ(key.set("Bad\tName", REG_SZ, "x"), ERROR_INVALID_PARAMETER);
    }

    const std::string hive = test::Sandbox::readFile(sandbox.windir() + "/registry.reg");
    EXPECT_TRUE(hive.starts_with("REGEDIT4\n"));
    EXPECT_NE(hive.find("[HKEY_CURRENT_USER\\Software\\Vorlax]\n"), std::string::npos);
    // Only the hive itself: no temporary file is left beside it.
    EXPECT_EQ(filesIn(sandbox.windir()), std::vector<std::string>{"registry.reg"});

    Key key(HKEY_CURRENT_USER, "software\\vorlax");
    EXPECT_EQ(key.get("FOLDER"), std::make_pair(REG_SZ, std::string("C:\\Temp\\\"odd\" name\\")));
    EXPECT_EQ(key.get("count"), std::make_pair(REG_DWORD, std::string("\x07\x00\x00\x01", 4)));
    EXPECT_EQ(key.get("Cut").second, "before");

    EXPECT_EQ(RegDeleteValueA(key.handle, "Folder"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key.handle, "Folder"), ERROR_FILE_NOT_FOUND);
    long status = 0;
    key.get("Folder", &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
}

TEST(RegistryValues, AHiveThatCannotBeReadIsNeverOverwritten)
{
    test::Sandbox sandbox;
    const std::string hive = sandbox.windir() + "/registry.reg";
    fs::create_directories(hive + "/precious");

    // The root needs no open key, so the write itself meets the hive.
    EXPECT_NE(RegSetValueExA(HKEY_CURRENT_USER, "Name", REG_SZ, "value"), ERROR_SUCCESS);
    HKEY created = 0;
    EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\New", created), ERROR_SUCCESS);
    EXPECT_EQ(created, 0u);
    EXPECT_TRUE(fs::is_directory(hive + "/precious"));
    std::uint32_t type = 0;
    std::string data;
    const long status = RegQueryValueExA(HKEY_CURRENT_USER, "Name", type, data);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
}

TEST(RegistryValues, AWriteKeepsWhatTheHiveHeldThatItCouldNotRead)
{
    test::Sandbox sandbox;
    const std::string hive = sandbox.windir() + "/registry.reg";
    test::Sandbox::writeFile(hive, "REGEDIT4\n"
                                   "; notes of the owner\n"
                                   "[HKEY_CURRENT_USER\\Software\\Vorlax]\n"
                                   "\"Future\"=hex(b):01,00,00,00,00,00,00,00\n"
                                   "\"Odd\"=qword:1\n");
    {
        Key key(HKEY_CURRENT_USER, "Software\\Vorlax");
        ASSERT_EQ(key.set("Added", REG_SZ, "yes"), ERROR_SUCCESS);
    }
    const std::string text = test::Sandbox::readFile(hive);
    EXPECT_NE(text.find("; notes of the owner\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Odd\"=qword:1\n\"Added\"=\"yes\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Future\"=hex(b):01,00,00,00,00,00,00,00\n"), std::string::npos);
}

TEST(RegistryValues, AHiveThatIsALinkStaysALink)
{
    test::Sandbox sandbox;
    const std::string kept = sandbox.root() + "/dotfiles/registry.reg";
    test::Sandbox::writeFile(kept, "REGEDIT4\n");
    fs::create_symlink(kept, sandbox.windir() + "/registry.reg");
    {
        Key key(HKEY_CURRENT_USER, "Software\\Vorlax");
        ASSERT_EQ(key.set("Name", REG_SZ, "value"), ERROR_SUCCESS);
    }
    EXPECT_TRUE(fs::is_symlink(sandbox.windir() + "/registry.reg"));
    EXPECT_NE(test::Sandbox::readFile(kept).find("\"Name\"=\"value\""), std::string::npos);
}

TEST(RegistryValues, SystemFactsComeFromTheMachineUntilTheHiveHoldsThem)
{
    test::Sandbox sandbox;
    HKEY key = 0;
    // These keys exist without anyone creating them.
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "System\\CurrentControlSet\\Control\\ComputerName\\ComputerName", key),
              ERROR_SUCCESS);
    std::array<char, 256> host{};
    ASSERT_EQ(gethostname(host.data(), host.size() - 1), 0);
    std::uint32_t type = 0;
    std::string data;
    EXPECT_EQ(RegQueryValueExA(key, "ComputerName", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data, host.data());
    EXPECT_EQ(RegDeleteValueA(key, "ComputerName"), ERROR_ACCESS_DENIED);

    ASSERT_EQ(RegSetValueExA(key, "ComputerName", REG_SZ, "OVERRIDE"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "ComputerName", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, "OVERRIDE");
    EXPECT_EQ(RegDeleteValueA(key, "ComputerName"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "ComputerName", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, host.data());
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\System\\CurrentControlSet\\Control", key),
              ERROR_SUCCESS);
    const passwd* user = getpwuid(geteuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(RegQueryValueExA(key, "Current User", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, user->pw_name);
    // A value with no source on this system is simply absent.
    EXPECT_EQ(RegQueryValueExA(key, "Nonsense", type, data), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup", key),
              ERROR_SUCCESS);
    const long bootStatus = RegQueryValueExA(key, "BootDir", type, data);
    if (fs::is_directory("/boot")) {
        EXPECT_EQ(bootStatus, ERROR_SUCCESS);
        EXPECT_EQ(data, toWindowsPath("/boot"));
    } else {
        EXPECT_EQ(bootStatus, ERROR_FILE_NOT_FOUND);
    }
    RegCloseKey(key);

    // Nothing of this was written anywhere.
    EXPECT_FALSE(test::Sandbox::exists(sandbox.windir() + "/registry.reg") &&
                 test::Sandbox::readFile(sandbox.windir() + "/registry.reg").find("Current User") !=
                     std::string::npos);
}
