#include "platform/X11TopLevelWindows.h"
#include "support/LocalDate.h"
#include "support/ProgramRun.h"
#include "support/Sandbox.h"

#include <QProcess>
#include <QStandardPaths>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

bool windowExists(platform::X11TopLevelWindows& windows, const std::string& title)
{
    for (auto w = windows.firstWindow(); w != 0; w = windows.nextWindow(w)) {
        if (windows.windowText(w) == title)
            return true;
    }
    return false;
}

void stop(QProcess& process)
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
}

} // namespace

// A real run on a display with a file another program holds open: the shell's error box
// for it can only be closed by the timer's keystrokes, since nobody else is there, so a
// run that ends at all ended through them. Another program's window carrying the same
// words is on screen all along and must not receive a single key (xmessage would take
// Space or Enter as its default button and end).
TEST(ErrorDialogTest, TheTimerClosesItsOwnErrorBoxAndLeavesOtherProgramsAlone)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display";
    if (QStandardPaths::findExecutable(QStringLiteral("xmessage")).isEmpty())
        GTEST_SKIP() << "needs xmessage (package x11-utils)";
    auto windows = platform::X11TopLevelWindows::open();
    ASSERT_TRUE(windows);

    test::Sandbox sandbox;
    sandbox.setDrives("C:=" + sandbox.driveC() + "@fixed");
    test::Sandbox::writeFile(sandbox.iniPath(),
                             "[Drives]\r\nDrive0=1\r\n[Actions]\r\nAutoStart=0\r\nDelTMP=1\r\n"
                             "Frequency1=1\r\n[NextDate]\r\nDate=" +
                                 test::localDateText(0) + "\r\n");
    const std::string docs = sandbox.driveC() + "/docs";
    for (const char* name : {"a.tmp", "held.tmp", "z.tmp"})
        test::Sandbox::writeFile(docs + "/" + name, name);

    QProcess held;
    held.setStandardInputFile(QString::fromStdString(docs + "/held.tmp"));
    held.start(QStringLiteral("sleep"), {QStringLiteral("120")});
    ASSERT_TRUE(held.waitForStarted());

    const std::string otherTitle = "ERROR DELETING FILE now";
    QProcess other;
    other.start(QStringLiteral("xmessage"),
                {QStringLiteral("-title"), QString::fromStdString(otherTitle),
                 QStringLiteral("-default"), QStringLiteral("okay"),
                 QStringLiteral("Another program's window")});
    ASSERT_TRUE(other.waitForStarted());
    bool shown = false;
    for (int i = 0; i < 100 && !shown; ++i) {
        shown = windowExists(*windows, otherTitle);
        if (!shown)
            other.waitForFinished(100);
    }
    EXPECT_TRUE(shown) << "xmessage never showed its window";

    const test::Outcome outcome =
        test::runProgram({QStringLiteral("/a")}, test::programEnvironment(true), 90000);
    EXPECT_TRUE(outcome.finished) << "the error box was never closed";
    EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
    // The error went to a box on screen, not to standard error as it does without a display.
    EXPECT_EQ(outcome.errors.find("Error Deleting File"), std::string::npos) << outcome.errors;
    // The run went on after the box and ended normally: the next date moved on.
    EXPECT_NE(test::Sandbox::readFile(sandbox.iniPath()).find("Date=" + test::localDateText(1)),
              std::string::npos);
    EXPECT_TRUE(fs::exists(docs + "/held.tmp"));
    EXPECT_FALSE(fs::exists(docs + "/a.tmp"));
    EXPECT_FALSE(fs::exists(docs + "/z.tmp"));

    EXPECT_EQ(other.state(), QProcess::Running) << "the other program's window received keys";
    EXPECT_TRUE(windowExists(*windows, otherTitle));
    stop(other);
    stop(held);
}
