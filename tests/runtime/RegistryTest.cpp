#include "runtime/Registry.h"
#include "runtime/ApplicationInfo.h"
#include "runtime/Errors.h"

#include "platform/core/Service.h"
#include "support/FakeSystem.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace platform;

namespace {

template <class F> std::string errorText(F call)
{
    try {
        call();
    } catch (const runtime::RegistryError& error) {
        return error.what();
    }
    return "(nothing raised)";
}

} // namespace

TEST(RuntimeRegistry, OpensKeysFromTheRootOrBelowTheOpenKey)
{
    test::Sandbox sandbox;
    runtime::Registry registry;
    EXPECT_EQ(registry.rootKey(), HKEY_CURRENT_USER);
    EXPECT_FALSE(registry.openKey("Software\\Vorlax", false));
    EXPECT_EQ(registry.currentKey(), 0u);

    ASSERT_TRUE(registry.openKey("\\Software\\Vorlax", true));
    EXPECT_EQ(registry.currentPath(), "Software\\Vorlax");
    ASSERT_TRUE(registry.openKey("Options", true));
    EXPECT_EQ(registry.currentPath(), "Software\\Vorlax\\Options");
    registry.writeString("Mode", "deep");

    // A leading "\" starts at the root again, whatever is open.
    ASSERT_TRUE(registry.openKey("\\Software", false));
    EXPECT_EQ(registry.readString("Mode"), "");
    ASSERT_TRUE(registry.openKey("\\Software\\Vorlax\\Options", false));
    EXPECT_EQ(registry.readString("Mode"), "deep");

    // Another root closes the open key; the same root keeps it.
    registry.setRootKey(HKEY_CURRENT_USER);
    EXPECT_NE(registry.currentKey(), 0u);
    const HKEY before = registry.currentKey();
    registry.setRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(registry.currentKey(), 0u);
    EXPECT_EQ(RegCloseKey(before), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(registry.openKey("\\Software\\Vorlax", false));

    HKEY kept = 0;
    {
        runtime::Registry scoped;
        ASSERT_TRUE(scoped.openKey("\\Software", false));
        kept = scoped.currentKey();
    }
    EXPECT_EQ(RegCloseKey(kept), ERROR_INVALID_HANDLE);
}

TEST(RuntimeRegistry, ReadsWritesAndDeletesStrings)
{
    test::Sandbox sandbox;
    runtime::Registry registry;
    // With no key open nothing is read, and nothing can be written.
    EXPECT_EQ(registry.readString("Any"), "");
    EXPECT_FALSE(registry.valueExists("Any"));
    EXPECT_EQ(errorText([&] { registry.writeString("Any", "x"); }), "Failed to set data for 'Any'");

    ASSERT_TRUE(registry.openKey("\\Software\\Vorlax", true));
    EXPECT_FALSE(registry.valueExists("Name"));
    EXPECT_EQ(registry.readString("Name"), "");
    registry.writeString("Name", "C:\\Program Files\\x \"y\"");
    EXPECT_TRUE(registry.valueExists("name"));
    EXPECT_EQ(registry.readString("Name"), "C:\\Program Files\\x \"y\"");
    registry.writeString("Empty", "");
    EXPECT_TRUE(registry.valueExists("Empty"));
    EXPECT_TRUE(registry.deleteValue("Name"));
    EXPECT_FALSE(registry.deleteValue("Name"));
    EXPECT_FALSE(registry.valueExists("Name"));
}

TEST(RuntimeRegistry, RaisesForAnotherTypeAndForARefusedWrite)
{
    test::Sandbox sandbox;
    runtime::Registry registry;
    ASSERT_TRUE(registry.openKey("\\Software\\Vorlax", true));
    ASSERT_EQ(
        RegSetValueExA(registry.currentKey(), "Count", REG_DWORD, std::string("\x01\0\0\0", 4)),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(registry.currentKey(), "Expand", REG_EXPAND_SZ, "%HOME%"),
              ERROR_SUCCESS);
    EXPECT_EQ(errorText([&] { registry.readString("Count"); }), "Invalid data type for 'Count'");
    EXPECT_EQ(registry.readString("Expand"), "%HOME%");
    EXPECT_TRUE(registry.valueExists("Count"));

    test::ScopedFake<test::FakeRegistry> refusing;
    refusing.real = RegistryService::createDefault();
    refusing.refuseWrites = true;
    EXPECT_EQ(errorText([&] { registry.writeString("Expand", "new"); }),
              "Failed to set data for 'Expand'");
    EXPECT_EQ(registry.readString("Expand"), "%HOME%");
    EXPECT_FALSE(registry.deleteValue("Expand"));
}

TEST(ApplicationInfo, TitleIsTheApplicationNameOrTheProgramFile)
{
    const QString saved = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("Vorlax"));
    EXPECT_EQ(runtime::applicationTitle(), "Vorlax");
    QCoreApplication::setApplicationName(QString());
    EXPECT_EQ(runtime::applicationTitle(),
              QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString());
    QCoreApplication::setApplicationName(saved);
}
