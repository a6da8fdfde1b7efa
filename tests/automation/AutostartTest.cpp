#include "automation/tarnwickAutostart.h"

#include "platform/core/Service.h"
#include "platform/drives/Drives.h"
#include "platform/settings/Registry.h"
#include "platform/system/System.h"
#include "runtime/ApplicationInfo.h"
#include "runtime/Errors.h"
#include "support/FakeDrives.h"
#include "support/Sandbox.h"

#include <QCoreApplication>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

using namespace platform;
namespace fs = std::filesystem;

namespace {

const std::string runKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), ::tolower);
    return text;
}

// An in-memory registry that counts every call and can refuse deletes.
class FakeRegistry : public RegistryService
{
public:
    long openKey(HKEY, const std::string&) override
    {
        ++calls;
        return ERROR_SUCCESS;
    }
    long createKey(HKEY, const std::string&) override
    {
        ++calls;
        return ERROR_SUCCESS;
    }
    long queryValue(HKEY root, const std::string& path, const std::string& name,
                    std::uint32_t& type, std::string& data) override
    {
        ++calls;
        const auto it = values.find(id(root, path, name));
        if (it == values.end())
            return ERROR_FILE_NOT_FOUND;
        type = it->second.first;
        data = it->second.second;
        return ERROR_SUCCESS;
    }
    long setValue(HKEY root, const std::string& path, const std::string& name, std::uint32_t type,
                  const std::string& data) override
    {
        ++calls;
        values[id(root, path, name)] = {type, data};
        return ERROR_SUCCESS;
    }
    long deleteValue(HKEY root, const std::string& path, const std::string& name) override
    {
        ++calls;
        if (refuseDeletes)
            return ERROR_ACCESS_DENIED;
        return values.erase(id(root, path, name)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }

    static std::string id(HKEY root, const std::string& path, const std::string& name)
    {
        return std::to_string(root) + '|' + lowered(path) + '|' + lowered(name);
    }
    std::pair<std::uint32_t, std::string>* run(const std::string& name)
    {
        const auto it = values.find(id(HKEY_LOCAL_MACHINE, runKey, name));
        return it == values.end() ? nullptr : &it->second;
    }
    void registerRun(const std::string& name, const std::string& data, std::uint32_t type = REG_SZ)
    {
        values[id(HKEY_LOCAL_MACHINE, runKey, name)] = {type, data};
    }

    std::map<std::string, std::pair<std::uint32_t, std::string>> values;
    int calls = 0;
    bool refuseDeletes = false;
};

class Autostart : public ::testing::Test
{
protected:
    void SetUp() override { TTarnwickAutostart::resetFirstAssignment(); }
    void TearDown() override { TTarnwickAutostart::resetFirstAssignment(); }

    // A component as the main window sets it up; the first assignment is made here.
    std::unique_ptr<TTarnwickAutostart> created(const std::string& parameters = "/a")
    {
        auto component = std::make_unique<TTarnwickAutostart>();
        component->setAppName("Vorlax");
        component->setParameters(parameters);
        component->setAutostart(true);
        return component;
    }

    template <class F> static std::string errorText(F call)
    {
        try {
            call();
        } catch (const runtime::RegistryError& error) {
            return error.what();
        }
        return "(nothing raised)";
    }

    const std::string exe = GetModuleFileNameA();
};

class AutostartOverFake : public Autostart
{
protected:
    FakeRegistry registry;
    ScopedService<RegistryService> installed{registry};
};

} // namespace

TEST_F(AutostartOverFake, StartsWithTheApplicationTitleUnlessDesigning)
{
    const QString previous = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName("Tidy Disks");
    const TTarnwickAutostart running;
    QCoreApplication::setApplicationName(previous);
    EXPECT_EQ(running.appName(), "Tidy Disks");
    EXPECT_EQ(running.Parameters(), "");
    const TTarnwickAutostart designing(true);
    EXPECT_EQ(designing.appName(), "");
    EXPECT_EQ(registry.calls, 0);
}

TEST_F(AutostartOverFake, FirstAssignmentKeepsAnUnregisteredProgramUnregistered)
{
    auto component = created();
    EXPECT_EQ(registry.run("Vorlax"), nullptr);
    EXPECT_FALSE(component->autostart());

    // Only the first assignment of the run is replaced, for every instance.
    TTarnwickAutostart other;
    other.setAppName("Vorlax");
    other.setParameters("/a");
    other.setAutostart(true);
    ASSERT_NE(registry.run("Vorlax"), nullptr);
    EXPECT_EQ(*registry.run("Vorlax"), std::make_pair(REG_SZ, exe + " /a"));
    EXPECT_TRUE(component->autostart());

    component->setAutostart(false);
    EXPECT_EQ(registry.run("Vorlax"), nullptr);
    EXPECT_FALSE(other.autostart());
    // Nothing to remove is no error.
    component->setAutostart(false);
    EXPECT_FALSE(component->autostart());
}

TEST_F(AutostartOverFake, FirstAssignmentRewritesAnExistingRegistrationWithTheCurrentPath)
{
    registry.registerRun("Vorlax", "C:\\Old Folder\\vorlax.exe /a");
    auto component = std::make_unique<TTarnwickAutostart>();
    component->setAppName("Vorlax");
    component->setParameters("/a");
    component->setAutostart(false);
    ASSERT_NE(registry.run("Vorlax"), nullptr);
    EXPECT_EQ(registry.run("Vorlax")->second, exe + " /a");
    EXPECT_TRUE(component->autostart());

    // Empty parameters leave no trailing blank.
    component->setParameters("");
    component->setAutostart(true);
    EXPECT_EQ(registry.run("Vorlax")->second, exe);
}

TEST_F(AutostartOverFake, WithoutANameTheRegistryIsLeftAloneAndTheCachedStateAnswers)
{
    auto component = created();
    component->setAutostart(true);
    EXPECT_TRUE(component->autostart());

    component->setAppName("");
    registry.values.clear();
    const int callsBefore = registry.calls;
    EXPECT_TRUE(component->autostart());
    component->setAutostart(false);
    EXPECT_TRUE(component->autostart());
    EXPECT_EQ(registry.calls, callsBefore);
    EXPECT_TRUE(registry.values.empty());

    // The first assignment of a nameless component reads the cache, not the registry.
    TTarnwickAutostart::resetFirstAssignment();
    TTarnwickAutostart nameless(true);
    nameless.setAutostart(true);
    EXPECT_FALSE(nameless.autostart());
    EXPECT_EQ(registry.calls, callsBefore);
}

TEST_F(AutostartOverFake, ValuesOfAnotherTypeAndRefusedDeletesRaise)
{
    auto component = created();
    component->setAutostart(true);
    registry.refuseDeletes = true;
    EXPECT_EQ(errorText([&] { component->setAutostart(false); }),
              "Failed to delete data for 'Vorlax'");
    component->setAppName("");
    EXPECT_TRUE(component->autostart());
    component->setAppName("Vorlax");

    registry.registerRun("Vorlax", std::string("\x01\0\0\0", 4), REG_DWORD);
    EXPECT_EQ(errorText([&] { component->autostart(); }), "Invalid data type for 'Vorlax'");
}

TEST_F(AutostartOverFake, AProgramWithoutAPathRaisesInsteadOfRegisteringItsParameters)
{
    auto component = created();
    registry.registerRun("Other", "C:\\other.exe");
    // No drive maps the executable's folder, so it has no Windows path.
    test::FakeDrives noDrives;
    const ScopedService<DriveService> installedDrives(noDrives);
    ASSERT_EQ(GetModuleFileNameA(), "");

    EXPECT_EQ(errorText([&] { component->setAutostart(true); }), "Failed to set data for 'Vorlax'");
    EXPECT_EQ(registry.run("Vorlax"), nullptr);
    component->setAppName("");
    EXPECT_FALSE(component->autostart());

    // A registration made earlier is left as it was, not replaced by " /a".
    TTarnwickAutostart::resetFirstAssignment();
    registry.registerRun("Vorlax", "C:\\old\\vorlax.exe /a");
    TTarnwickAutostart registered;
    registered.setAppName("Vorlax");
    registered.setParameters("/a");
    EXPECT_EQ(errorText([&] { registered.setAutostart(false); }),
              "Failed to set data for 'Vorlax'");
    ASSERT_NE(registry.run("Vorlax"), nullptr);
    EXPECT_EQ(registry.run("Vorlax")->second, "C:\\old\\vorlax.exe /a");
    // Unregistering needs no path.
    EXPECT_NO_THROW(registered.setAutostart(false));
    EXPECT_EQ(registry.run("Vorlax"), nullptr);
}

TEST_F(Autostart, RegistersTheRunningProgramInTheAutostartFolder)
{
    test::Sandbox sandbox;
    const std::string entry = sandbox.autostartDir() + "/Vorlax.desktop";
    auto component = created();
    EXPECT_FALSE(test::Sandbox::exists(entry));

    component->setAutostart(true);
    EXPECT_TRUE(component->autostart());
    const std::string native = toNativePath(exe);
    ASSERT_FALSE(native.empty());
    const std::string text = test::Sandbox::readFile(entry);
    EXPECT_NE(text.find("\nExec=" + native + " /a\n"), std::string::npos) << text;

    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, runKey, key), ERROR_SUCCESS);
    std::uint32_t type = 0;
    std::string data;
    EXPECT_EQ(RegQueryValueExA(key, "Vorlax", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, exe + " /a");
    RegCloseKey(key);

    component->setAutostart(false);
    EXPECT_FALSE(test::Sandbox::exists(entry));
    EXPECT_FALSE(component->autostart());
}

TEST_F(Autostart, ABlockedAutostartFolderRaisesAndKeepsTheLastKnownState)
{
    test::Sandbox sandbox;
    auto component = created();
    component->setAutostart(true);
    ASSERT_TRUE(component->autostart());

    fs::remove_all(sandbox.autostartDir());
    test::Sandbox::writeFile(sandbox.autostartDir(), "in the way");
    EXPECT_EQ(errorText([&] { component->setAutostart(true); }), "Failed to set data for 'Vorlax'");
    component->setAppName("");
    EXPECT_TRUE(component->autostart());
    component->setAppName("Vorlax");

    EXPECT_NO_THROW(component->setAutostart(false));
    EXPECT_EQ(test::Sandbox::readFile(sandbox.autostartDir()), "in the way");
    EXPECT_FALSE(component->autostart());
}
