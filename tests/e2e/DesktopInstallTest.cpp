#include "support/ProgramRun.h"
#include "support/Sandbox.h"

#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <string>

namespace {

// Standard output and error together.
test::Outcome run(const QString& program, const QStringList& arguments)
{
    test::Outcome result =
        test::runCommand(program, arguments, QProcessEnvironment::systemEnvironment(), 120000);
    result.output += result.errors;
    return result;
}

} // namespace

// Installs the build into a folder of its own, as a package or "make install" would.
TEST(DesktopInstallTest, InstallPutsTheProgramIntoTheApplicationMenu)
{
    const QString cmake = QStandardPaths::findExecutable(QStringLiteral("cmake"));
    if (cmake.isEmpty())
        GTEST_SKIP() << "cmake is not on the path";
    test::Sandbox sandbox;
    const QString prefix = QString::fromStdString(sandbox.root() + "/prefix");
    const QString buildDir = QFileInfo(QStringLiteral(VORLAX_BINARY)).absolutePath();
    const test::Outcome install =
        run(cmake, {QStringLiteral("--install"), buildDir, QStringLiteral("--prefix"), prefix});
    ASSERT_TRUE(install.finished);
    ASSERT_EQ(install.exitCode, 0) << install.output;

    EXPECT_TRUE(QFileInfo(prefix + QStringLiteral("/bin/vorlax")).isExecutable());

    const std::string entryPath = prefix.toStdString() + "/share/applications/vorlax.desktop";
    ASSERT_TRUE(test::Sandbox::exists(entryPath));
    const std::string entry = test::Sandbox::readFile(entryPath);
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    for (const char* line : {"\nType=Application\n", "\nName=Vorlax\n", "\nExec=vorlax\n",
                             "\nIcon=vorlax\n", "\nTerminal=false\n", "\nComment="})
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    const auto categories = entry.find("\nCategories=");
    ASSERT_NE(categories, std::string::npos);
    const std::string list =
        entry.substr(categories, entry.find('\n', categories + 1) - categories);
    EXPECT_NE(list.find("System;"), std::string::npos);

    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString icon =
            QStringLiteral("%1/share/icons/hicolor/%2x%2/apps/vorlax.png").arg(prefix).arg(size);
        const QImage image(icon);
        ASSERT_FALSE(image.isNull()) << icon.toStdString();
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_TRUE(image.hasAlphaChannel());
    }

    // The desktop's own checker, where the machine has it.
    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!validator.isEmpty()) {
        const test::Outcome check = run(validator, {QString::fromStdString(entryPath)});
        ASSERT_TRUE(check.finished);
        EXPECT_EQ(check.exitCode, 0) << check.output;
        EXPECT_EQ(check.output.find("error:"), std::string::npos) << check.output;
    }
}
