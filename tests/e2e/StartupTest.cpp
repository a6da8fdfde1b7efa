#include "platform/x11/X11TopLevelWindows.h"
#include "support/DefaultSettings.h"
#include "support/LocalDate.h"
#include "support/ProgramRun.h"
#include "support/Sandbox.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

using test::Outcome;

// Runs the built program as a user would, in the test's sandbox.
class StartupTest : public ::testing::Test
{
protected:
    static QProcessEnvironment environment(bool withDisplay)
    {
        return test::programEnvironment(withDisplay);
    }

    Outcome runHeadless(const QStringList& arguments)
    {
        return test::runProgram(arguments, environment(false));
    }

    static std::string dateText(int offsetDays) { return test::localDateText(offsetDays); }

    std::string savedDate() const
    {
        const std::string text = test::Sandbox::readFile(sandbox.iniPath());
        const auto at = text.find("Date=");
        return at == std::string::npos ? "" : text.substr(at + 5, 10);
    }

    std::string desktopEntry() const { return sandbox.autostartDir() + "/Vorlax.desktop"; }

    // Whether a top-level window of that title is on the X display.
    bool hasWindow(const std::string& title)
    {
        if (!windows)
            windows = platform::X11TopLevelWindows::open();
        for (auto w = windows ? windows->firstWindow() : 0; w != 0; w = windows->nextWindow(w)) {
            if (windows->windowText(w) == title)
                return true;
        }
        return false;
    }
    // Waits up to ten seconds for it while the program runs.
    bool waitForWindow(QProcess& process, const std::string& title)
    {
        for (int i = 0; i < 100; ++i) {
            if (hasWindow(title))
                return true;
            process.waitForFinished(100);
        }
        return false;
    }

    test::Sandbox sandbox;
    std::unique_ptr<platform::X11TopLevelWindows> windows;
};

} // namespace

// A timer enabled before the window was ever opened: the defaults are nobody's choice, so
// nothing is written for a later start to collect with, not even the folder.
TEST_F(StartupTest, FirstStartWithoutDisplayGreetsAndWritesNothing)
{
    std::filesystem::remove(sandbox.windir());
    const auto before = sandbox.snapshot();
    QProcessEnvironment env = environment(false);
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    for (const QStringList& arguments : {QStringList{}, QStringList{QStringLiteral("/a")}}) {
        const Outcome outcome = test::runProgram(arguments, env);
        ASSERT_TRUE(outcome.finished);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
        const auto greeting = outcome.errors.find("Welcome to your Vorlax Rubbish Collector");
        EXPECT_NE(greeting, std::string::npos) << outcome.errors;
        EXPECT_GT(outcome.errors.find("Open Vorlax once to choose what it collects.\n"), greeting)
            << outcome.errors;
        EXPECT_EQ(sandbox.snapshot(), before);
    }
}

// With a display the first start greets, opens Configure and saves the defaults at its
// exit, byte for byte as a first save writes them; its toolkit leaves nothing behind.
TEST_F(StartupTest, FirstStartWithDisplaySavesTheDefaults)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display";
    QProcessEnvironment env = environment(true);
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    QProcess process;
    test::startProgram(process, {}, env);
    ASSERT_TRUE(process.waitForStarted());
    EXPECT_TRUE(waitForWindow(process, "Information")) << "the greeting never appeared";
    EXPECT_FALSE(test::Sandbox::exists(sandbox.iniPath()));

    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(test::Sandbox::readFile(sandbox.iniPath()), test::FirstSavedSettings);
    EXPECT_FALSE(test::Sandbox::exists(desktopEntry()));
    EXPECT_TRUE(std::filesystem::is_empty(sandbox.tmp()));
}

// Asking for the usage or the version, or giving an unknown option, on a due date: the
// answer, and nothing read, moved or written.
TEST_F(StartupTest, OptionsAnswerAndTouchNothing)
{
    test::Sandbox::writeFile(sandbox.iniPath(), "[Actions]\r\nAutoStart=0\r\nDelTempFiles=1\r\n"
                                                "[NextDate]\r\nDate=" +
                                                    dateText(0) + "\r\n");
    test::Sandbox::writeFile(sandbox.tmp() + "/rubbish.tmp", "x");
    test::Sandbox::writeFile(sandbox.driveC() + "/old.bak", "x");
    const auto before = sandbox.snapshot();
    struct Row
    {
        QStringList arguments;
        int status;
        const char* output; // the start of standard output
        const char* errors; // the start of standard error
    };
    const Row rows[] = {
        {{QStringLiteral("--help")}, 0, "Usage: vorlax [/a]\n", ""},
        {{QStringLiteral("-h")}, 0, "Usage: vorlax [/a]\n", ""},
        {{QStringLiteral("/a"), QStringLiteral("--help")}, 0, "Usage: vorlax [/a]\n", ""},
        {{QStringLiteral("--version")}, 0, "vorlax " VORLAX_VERSION "\n", ""},
        {{QStringLiteral("--previews")},
         2,
         "",
         "vorlax: unknown option --previews\nUsage: vorlax [/a]\n"},
        {{QStringLiteral("--null")},
         2,
         "",
         "vorlax: unknown option --null (it goes with --preview)\nUsage: vorlax [/a]\n"},
        {{QStringLiteral("--preview"), QStringLiteral("--nul")},
         2,
         "",
         "vorlax: unknown option --nul\nUsage: vorlax [/a]\n"},
        {{QStringLiteral("/a"), QStringLiteral("--")},
         2,
         "",
         "vorlax: unknown option --\nUsage: vorlax [/a]\n"},
    };
    for (const Row& row : rows) {
        QProcess process;
        test::startProgram(process, row.arguments, environment(false));
        ASSERT_TRUE(process.waitForFinished(30000));
        const std::string output = process.readAllStandardOutput().toStdString();
        const std::string errors = process.readAllStandardError().toStdString();
        const std::string what = row.arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(process.exitCode(), row.status) << what;
        EXPECT_TRUE(output.starts_with(row.output)) << what << ": " << output;
        EXPECT_EQ(output.empty(), *row.output == 0) << what;
        EXPECT_TRUE(errors.starts_with(row.errors)) << what << ": " << errors;
        EXPECT_EQ(errors.empty(), *row.errors == 0) << what;
        EXPECT_EQ(sandbox.snapshot(), before) << what;
    }
    // The usage names the options and where the settings live.
    const Outcome help = test::runProgram({QStringLiteral("--help")}, environment(false));
    for (const char* part :
         {"-h, --help", "--version", "vorlax /a", "vorlax.ini", "--preview", "--null"})
        EXPECT_NE(help.output.find(part), std::string::npos) << part;
}

// The toolkit's start is kept from making a runtime folder without XDG_RUNTIME_DIR being
// set for what Vorlax starts: the disk checker gets the environment as it was.
TEST_F(StartupTest, TheDiskCheckerGetsTheEnvironmentAsItWas)
{
    const std::string bin = sandbox.root() + "/bin";
    const std::string seen = sandbox.root() + "/seen";
    test::Sandbox::writeFile(bin + "/scandskw", "#!/bin/sh\nenv > '" + seen + "'\n");
    std::filesystem::permissions(bin + "/scandskw", std::filesystem::perms::owner_all);
    test::Sandbox::writeFile(sandbox.iniPath(),
                             "[Drives]\r\nDrive0=1\r\n[Actions]\r\nAutoStart=0\r\n"
                             "RunScanDisk=1\r\nDelTempFiles=0\r\n[NextDate]\r\nDate=\r\n");
    QProcessEnvironment env = environment(false);
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.insert(QStringLiteral("PATH"),
               QString::fromStdString(bin) + QStringLiteral(":/usr/bin:/bin"));
    const Outcome outcome = test::runProgram({QStringLiteral("/a")}, env);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
    const std::string environment = "\n" + test::Sandbox::readFile(seen);
    EXPECT_NE(environment.find("\nTMPDIR=" + sandbox.tmp() + "\n"), std::string::npos)
        << environment;
    EXPECT_EQ(environment.find("XDG_RUNTIME_DIR="), std::string::npos) << environment;
    EXPECT_TRUE(std::filesystem::is_empty(sandbox.tmp()));
}

TEST_F(StartupTest, UnattendedStartCollectsOnlyOnTheDueDate)
{
    test::Sandbox::writeFile(sandbox.iniPath(),
                             "[Actions]\r\nAutoStart=0\r\nFrequency1=0\r\nFrequency2=1\r\n"
                             "[NextDate]\r\nDate=" +
                                 dateText(1) + "\r\n");
    Outcome outcome = runHeadless({QStringLiteral("/a")});
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(savedDate(), dateText(1));

    test::Sandbox::writeFile(sandbox.iniPath(), "[Actions]\r\nAutoStart=0\r\nFrequency2=1\r\n"
                                                "[NextDate]\r\nDate=" +
                                                    dateText(0) + "\r\n");
    outcome = runHeadless({QStringLiteral("x")});
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(savedDate(), dateText(3));
}

TEST_F(StartupTest, FileWithoutAutoStartCreatesTheAutostartEntry)
{
    test::Sandbox::writeFile(sandbox.iniPath(), "[Actions]\r\nDelBAK=1\r\n");
    const Outcome outcome = runHeadless({});
    ASSERT_TRUE(outcome.finished);
    ASSERT_TRUE(test::Sandbox::exists(desktopEntry()));
    const std::string entry = test::Sandbox::readFile(desktopEntry());
    EXPECT_NE(entry.find("Exec="), std::string::npos);
    EXPECT_NE(entry.find("vorlax"), std::string::npos);
    EXPECT_NE(entry.find(" /a"), std::string::npos);
    EXPECT_NE(test::Sandbox::readFile(sandbox.iniPath()).find("AutoStart=1\r\n"),
              std::string::npos);
}

TEST_F(StartupTest, InvalidDateIsReportedWithoutDisplay)
{
    test::Sandbox::writeFile(sandbox.iniPath(), "[NextDate]\r\nDate=never\r\n");
    const Outcome outcome = runHeadless({QStringLiteral("/a")});
    ASSERT_TRUE(outcome.finished);
    EXPECT_NE(outcome.errors.find("'never' is not a valid date"), std::string::npos)
        << outcome.errors;
}

TEST_F(StartupTest, MalformedDriveMapIsReportedNotFatal)
{
    sandbox.setDrives("C:=" + sandbox.driveC() + "@fixed;nonsense;Q=relative");
    test::Sandbox::writeFile(sandbox.iniPath(), "[Actions]\r\nAutoStart=0\r\n");
    const Outcome outcome = runHeadless({});
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_NE(outcome.errors.find("nonsense"), std::string::npos) << outcome.errors;
    EXPECT_NE(test::Sandbox::readFile(sandbox.iniPath()).find("[Drives]"), std::string::npos);
}

TEST_F(StartupTest, WindowStaysOpenUntilSignalledThenSaves)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display";
    test::Sandbox::writeFile(sandbox.iniPath(),
                             "[Actions]\r\nAutoStart=0\r\n[User]\r\nUser1=*.q\r\n");
    QProcess process;
    test::startProgram(process, {}, environment(true));
    ASSERT_TRUE(process.waitForStarted());
    EXPECT_TRUE(waitForWindow(process, "Vorlax 1.2")) << "the main window never appeared";
    EXPECT_EQ(process.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const std::string ini = test::Sandbox::readFile(sandbox.iniPath());
    EXPECT_NE(ini.find("User1=*.q\r\n"), std::string::npos);
    EXPECT_NE(ini.find("[Drives]\r\nDrive0="), std::string::npos);
    EXPECT_FALSE(hasWindow("Vorlax 1.2"));
}

TEST_F(StartupTest, StaleDisplayFallsBackToRunningWithoutOne)
{
    QProcessEnvironment env = environment(false);
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":987"));
    QProcess process;
    test::startProgram(process, {}, env);
    ASSERT_TRUE(process.waitForFinished(30000)) << "waited on a box nobody can see";
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_NE(process.readAllStandardError().indexOf("Welcome to your Vorlax"), -1);
    // As any start without a display: the defaults are not saved.
    EXPECT_FALSE(test::Sandbox::exists(sandbox.iniPath()));
}
