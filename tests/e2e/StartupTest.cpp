#include "platform/X11TopLevelWindows.h"
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

    test::Sandbox sandbox;
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
    auto windows = platform::X11TopLevelWindows::open();
    ASSERT_TRUE(windows);
    auto hasWindow = [&windows](const std::string& title) {
        for (auto w = windows->firstWindow(); w != 0; w = windows->nextWindow(w)) {
            if (windows->windowText(w) == title)
                return true;
        }
        return false;
    };
    QProcessEnvironment env = environment(true);
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(VORLAX_BINARY), {});
    ASSERT_TRUE(process.waitForStarted());
    bool greeted = false;
    for (int i = 0; i < 100 && !greeted; ++i) {
        greeted = hasWindow("Information");
        if (!greeted)
            process.waitForFinished(100);
    }
    EXPECT_TRUE(greeted) << "the greeting never appeared";
    EXPECT_FALSE(test::Sandbox::exists(sandbox.iniPath()));

    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(test::Sandbox::readFile(sandbox.iniPath()),
              "[Drives]\r\nDrive0=1\r\nDrive1=0\r\nDrive2=0\r\nDrive3=0\r\n"
              "[Actions]\r\nRunScanDisk=0\r\nDelCHK=1\r\nDelTempFiles=1\r\n"
              "DelCache=0\r\nDelBAK=1\r\nDelTMP=1\r\nDelUser1=1\r\nDelUser2=0\r\n"
              "Cache=\r\nAutoStart=0\r\nFrequency1=1\r\nFrequency2=0\r\n"
              "Frequency3=0\r\nFrequency4=0\r\n"
              "[User]\r\nUser1=*.~??\r\nUser2=*.ZIP\r\n"
              "[NextDate]\r\nDate=1899/12/30\r\n");
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
        {{QStringLiteral("--preview")},
         2,
         "",
         "vorlax: unknown option --preview\nUsage: vorlax [/a]\n"},
        {{QStringLiteral("/a"), QStringLiteral("--")},
         2,
         "",
         "vorlax: unknown option --\nUsage: vorlax [/a]\n"},
    };
    for (const Row& row : rows) {
        QProcess process;
        process.setProcessEnvironment(environment(false));
        process.start(QStringLiteral(VORLAX_BINARY), row.arguments);
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
    for (const char* part : {"-h, --help", "--version", "vorlax /a", "vorlax.ini"})
        EXPECT_NE(help.output.find(part), std::string::npos) << part;
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
    auto windows = platform::X11TopLevelWindows::open();
    ASSERT_TRUE(windows);
    auto hasWindow = [&windows](const std::string& title) {
        for (auto w = windows->firstWindow(); w != 0; w = windows->nextWindow(w)) {
            if (windows->windowText(w) == title)
                return true;
        }
        return false;
    };

    test::Sandbox::writeFile(sandbox.iniPath(),
                             "[Actions]\r\nAutoStart=0\r\n[User]\r\nUser1=*.q\r\n");
    QProcess process;
    process.setProcessEnvironment(environment(true));
    process.start(QStringLiteral(VORLAX_BINARY), {});
    ASSERT_TRUE(process.waitForStarted());
    bool shown = false;
    for (int i = 0; i < 100 && !shown; ++i) {
        shown = hasWindow("Vorlax 1.2");
        if (!shown)
            process.waitForFinished(100);
    }
    EXPECT_TRUE(shown) << "the main window never appeared";
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
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(VORLAX_BINARY), {});
    ASSERT_TRUE(process.waitForFinished(30000)) << "waited on a box nobody can see";
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_NE(process.readAllStandardError().indexOf("Welcome to your Vorlax"), -1);
    // As any start without a display: the defaults are not saved.
    EXPECT_FALSE(test::Sandbox::exists(sandbox.iniPath()));
}
