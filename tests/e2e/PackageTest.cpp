#include "support/ProgramRun.h"
#include "support/Sandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <algorithm>
#include <gtest/gtest.h>
#include <iostream>
#include <string>
#include <vector>

namespace {

using test::Outcome;

Outcome run(const QString& program, const QStringList& arguments, int timeoutMs = 120000,
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    return test::runCommand(program, arguments, environment, timeoutMs);
}

// The end of a long log, where a failed build says why.
std::string tail(const std::string& log)
{
    return log.substr(log.size() - std::min<std::size_t>(log.size(), 6000));
}

QString tool(const char* name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string field(const QString& deb, const char* name)
{
    const Outcome out =
        run(tool("dpkg-deb"), {QStringLiteral("--field"), deb, QString::fromLatin1(name)});
    std::string value = out.output;
    while (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}

// The page as a reader sees it, and what man and groff said about its markup.
Outcome renderManual(const std::string& page)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    return run(tool("man"),
               {QStringLiteral("--warnings"), QStringLiteral("-l"), QStringLiteral("-P"),
                QStringLiteral("cat"), QString::fromStdString(page)},
               120000, environment);
}

void expectReadableManual(const Outcome& page)
{
    ASSERT_TRUE(page.finished);
    EXPECT_EQ(page.exitCode, 0) << page.errors;
    EXPECT_EQ(page.errors, "");
    for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "SETTINGS",
                                "ENVIRONMENT", "FILES", "EXIT STATUS", "SCHEDULING", "EXAMPLES"})
        EXPECT_TRUE(contains(page.output, std::string("\n") + section + "\n")) << section;
    for (const char* fact :
         {"vorlax.ini", "registry.reg", "Vorlax.desktop", "Trash", "VORLAX_DRIVES", "VORLAX_WINDIR",
          "vorlax.timer", "NextDate", "Frequency1"})
        EXPECT_TRUE(contains(page.output, fact)) << fact;
}

std::string firstChangelogVersion()
{
    const std::string changelog =
        test::Sandbox::readFile(std::string(VORLAX_SOURCE_DIR) + "/debian/changelog");
    const auto open = changelog.find('(');
    const auto close = changelog.find(')');
    if (changelog.rfind("vorlax (", 0) != 0 || close == std::string::npos)
        return {};
    return changelog.substr(open + 1, close - open - 1);
}

} // namespace

// scripts/build-package refuses a changelog that disagrees with the build, but only where
// packages are built: this holds everywhere.
TEST(PackageSourceTest, ChangelogNamesTheBuildsVersion)
{
    EXPECT_EQ(firstChangelogVersion(), VORLAX_VERSION);
}

TEST(PackageSourceTest, ManualPageRendersWithoutWarnings)
{
    if (tool("man").isEmpty())
        GTEST_SKIP() << "man is not installed (make package installs it)";
    expectReadableManual(renderManual(VORLAX_DATA_BUILD_DIR "/vorlax.1"));
}

// Builds the package from this tree as "make package" does and checks what it installs.
TEST(DebianPackageTest, PackageInstallsProgramMenuEntryManualAndUserUnits)
{
#ifdef VORLAX_SANITIZED
    GTEST_SKIP() << "the package is built and checked by the optimised build's tests";
#endif
    std::string missing;
    for (const char* name : {"dpkg-buildpackage", "dpkg-deb", "dh", "dpkg-architecture"})
        if (tool(name).isEmpty())
            missing += std::string(" ") + name;
    if (!missing.empty())
        GTEST_SKIP() << "packaging tools missing:" << missing
                     << " (scripts/install-deps --package installs them)";

    test::Sandbox sandbox;
    const std::string out = sandbox.root() + "/package";
    const Outcome build = run(QStringLiteral(VORLAX_SOURCE_DIR "/scripts/build-package"),
                              {QString::fromStdString(out)}, 1700 * 1000);
    ASSERT_TRUE(build.finished) << tail(build.output) << tail(build.errors);
    ASSERT_EQ(build.exitCode, 0) << tail(build.output) << tail(build.errors);
    // lintian's verdict, shown with the test's output.
    const auto verdict = build.output.find("build-package: ");
    if (verdict != std::string::npos)
        std::cout << build.output.substr(verdict) << std::flush;

    std::string hostArch =
        run(tool("dpkg-architecture"), {QStringLiteral("-qDEB_HOST_ARCH")}).output;
    hostArch = hostArch.substr(0, hostArch.find('\n'));
    const QString deb =
        QString::fromStdString(out + "/vorlax_" VORLAX_VERSION "_" + hostArch + ".deb");
    ASSERT_TRUE(test::Sandbox::exists(deb.toStdString())) << tail(build.output);

    EXPECT_EQ(field(deb, "Package"), "vorlax");
    EXPECT_EQ(field(deb, "Version"), VORLAX_VERSION);
    EXPECT_EQ(field(deb, "Architecture"), hostArch);
    const std::string depends = field(deb, "Depends");
    // The toolkit's libraries, and Arial's metric twin, without which captions are cut.
    for (const char* library :
         {"libc6", "libqt6core6", "libqt6gui6", "libqt6widgets6", "libxcb1", "fonts-liberation"})
        EXPECT_TRUE(contains(depends, library)) << library << " missing in: " << depends;
    const std::string suggests = field(deb, "Suggests");
    for (const char* package : {"trash-cli", "qt6-wayland"})
        EXPECT_TRUE(contains(suggests, package)) << package << " missing in: " << suggests;

    const std::string root = sandbox.root() + "/root";
    const Outcome unpack =
        run(tool("dpkg-deb"), {QStringLiteral("-x"), deb, QString::fromStdString(root)});
    ASSERT_EQ(unpack.exitCode, 0) << unpack.errors;
    const Outcome list = run(tool("dpkg-deb"), {QStringLiteral("--contents"), deb});
    std::vector<std::string> expected = {
        "./usr/bin/vorlax",
        "./usr/share/applications/vorlax.desktop",
        "./usr/share/man/man1/vorlax.1.gz",
        "./usr/lib/systemd/user/vorlax.service",
        "./usr/lib/systemd/user/vorlax.timer",
        "./usr/share/doc/vorlax/copyright",
        "./usr/share/doc/vorlax/changelog.gz",
    };
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const std::string icon = "./usr/share/icons/hicolor/" + std::to_string(size) + "x" +
                                 std::to_string(size) + "/apps/vorlax.png";
        expected.push_back(icon);
        EXPECT_EQ(QImage(QString::fromStdString(root + icon.substr(1))).size(), QSize(size, size))
            << icon;
    }
    for (const std::string& path : expected)
        EXPECT_TRUE(contains(list.output, " " + path + "\n")) << path << " not in:\n"
                                                              << list.output;
    // Everything under /usr: nothing in /etc to leave behind, nothing in /usr/local.
    EXPECT_FALSE(contains(list.output, " ./etc/")) << list.output;
    EXPECT_FALSE(contains(list.output, " ./usr/local/")) << list.output;
    EXPECT_TRUE(QFileInfo(QString::fromStdString(root + "/usr/bin/vorlax")).isExecutable());

    const std::string units = root + "/usr/lib/systemd/user";
    const std::string service = test::Sandbox::readFile(units + "/vorlax.service");
    for (const char* line :
         {"\nType=oneshot\n", "\nExecStart=/usr/bin/vorlax /a\n", "\nTimeoutStartSec=4h\n"})
        EXPECT_TRUE(contains(service, line)) << line << " not in:\n" << service;
    const std::string timer = test::Sandbox::readFile(units + "/vorlax.timer");
    for (const char* line : {"\nOnCalendar=daily\n", "\nPersistent=true\n",
                             "\nRandomizedDelaySec=", "\nWantedBy=timers.target\n"})
        EXPECT_TRUE(contains(timer, line)) << line << " not in:\n" << timer;

    if (!tool("desktop-file-validate").isEmpty()) {
        const Outcome check =
            run(tool("desktop-file-validate"),
                {QString::fromStdString(root + "/usr/share/applications/vorlax.desktop")});
        EXPECT_EQ(check.exitCode, 0) << check.output << check.errors;
        EXPECT_EQ(check.output + check.errors, "");
    }
    if (!tool("systemd-analyze").isEmpty()) {
        // --root does not work for user units: the units are checked from a copy that
        // starts the unpacked program, and their manual page is looked up in the package.
        const std::string copies = sandbox.root() + "/units";
        const std::string runtimeDir = sandbox.root() + "/run";
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(copies)));
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(runtimeDir)));
        QFile::setPermissions(QString::fromStdString(runtimeDir), QFileDevice::ReadOwner |
                                                                      QFileDevice::WriteOwner |
                                                                      QFileDevice::ExeOwner);
        std::string copy = service;
        const auto program = copy.find("=/usr/bin/vorlax");
        ASSERT_NE(program, std::string::npos) << service;
        copy.replace(program, 16, "=" + root + "/usr/bin/vorlax");
        test::Sandbox::writeFile(copies + "/vorlax.service", copy);
        test::Sandbox::writeFile(copies + "/vorlax.timer", timer);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtimeDir));
        environment.insert(QStringLiteral("MANPATH"),
                           QString::fromStdString(root + "/usr/share/man"));
        const Outcome verify = run(tool("systemd-analyze"),
                                   {QStringLiteral("verify"), QStringLiteral("--user"),
                                    QString::fromStdString(copies + "/vorlax.timer"),
                                    QString::fromStdString(copies + "/vorlax.service")},
                                   120000, environment);
        EXPECT_EQ(verify.exitCode, 0) << verify.output << verify.errors;
        // Lines it ignores are only reported.
        EXPECT_EQ(verify.output + verify.errors, "");
    }
    if (!tool("man").isEmpty())
        expectReadableManual(renderManual(root + "/usr/share/man/man1/vorlax.1.gz"));
}
