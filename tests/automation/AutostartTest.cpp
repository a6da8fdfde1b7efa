#include "automation/tarnwickAutostart.h"

#include "platform/core/Service.h"
#include "platform/drives/Drives.h"
#include "platform/settings/Registry.h"
#include "platform/system/System.h"
#include "runtime/ApplicationInfo.h"
#include "runtime/Errors.h"
#include "support/FakeDrives.h"
#include "support/FakeSystem.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <QCoreApplication>
#include <filesystem>
#include <gtest/gtest.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

const std::string runKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

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
    test::ScopedFake<test::FakeRegistry> registry;
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
    EXPECT_EQ(registry.find(runKey, "Vorlax"), nullptr);
    EXPECT_FALSE(component->autostart());

    // Only the first assignment of the run is replaced, for every instance.
    TTarnwickAutostart other;
    other.setAppName("Vorlax");
    other.setParameters("/a");
    other.setAutostart(true);
    ASSERT_NE(registry.find(runKey, "Vorlax"), nullptr);
    EXPECT_EQ(*registry.find(runKey, "Vorlax"), std::make_pair(REG_SZ, exe + " /a"));
    EXPECT_TRUE(component->autostart());

    component->setAutostart(false);
    EXPECT_EQ(registry.find(runKey, "Vorlax"), nullptr);
    EXPECT_FALSE(other.autostart());
    // Nothing to remove is no error.
    component->setAutostart(false);
    EXPECT_FALSE(component->autostart());
}

TEST_F(AutostartOverFake, FirstAssignmentRewritesAnExistingRegistrationWithTheCurrentPath)
{
    registry.set(runKey, "Vorlax", "C:\\Old Folder\\vorlax.exe /a");
    auto component = std::make_unique<TTarnwickAutostart>();
    component->setAppName("Vorlax");
    component->setParameters("/a");
    component->setAutostart(false);
    ASSERT_NE(registry.find(runKey, "Vorlax"), nullptr);
    EXPECT_EQ(registry.find(runKey, "Vorlax")->second, exe + " /a");
    EXPECT_TRUE(component->autostart());

    // Empty parameters leave no trailing blank.
    component->setParameters("");
    component->setAutostart(true);
    EXPECT_EQ(registry.find(runKey, "Vorlax")->second, exe);
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

    registry.set(runKey, "Vorlax", std::string("\x01\0\0\0", 4), REG_DWORD);
    EXPECT_EQ(errorText([&] { component->autostart(); }), "Invalid data type for 'Vorlax'");
}

TEST_F(AutostartOverFake, AProgramWithoutAPathRaisesInsteadOfRegisteringItsParameters)
{
    auto component = created();
    registry.set(runKey, "Other", "C:\\other.exe");
    // No drive maps the executable's folder, so it has no Windows path.
    test::ScopedFake<test::FakeDrives> noDrives;
    ASSERT_EQ(GetModuleFileNameA(), "");

    EXPECT_EQ(errorText([&] { component->setAutostart(true); }), "Failed to set data for 'Vorlax'");
    EXPECT_EQ(registry.find(runKey, "Vorlax"), nullptr);
    component->setAppName("");
    EXPECT_FALSE(component->autostart());

    // A registration made earlier is left as it was, not replaced by " /a".
    TTarnwickAutostart::resetFirstAssignment();
    registry.set(runKey, "Vorlax", "C:\\old\\vorlax.exe /a");
    TTarnwickAutostart registered;
    registered.setAppName("Vorlax");
    registered.setParameters("/a");
    EXPECT_EQ(errorText([&] { registered.setAutostart(false); }),
              "Failed to set data for 'Vorlax'");
    ASSERT_NE(registry.find(runKey, "Vorlax"), nullptr);
    EXPECT_EQ(registry.find(runKey, "Vorlax")->second, "C:\\old\\vorlax.exe /a");
    // Unregistering needs no path.
    EXPECT_NO_THROW(registered.setAutostart(false));
    EXPECT_EQ(registry.find(runKey, "Vorlax"), nullptr);
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
