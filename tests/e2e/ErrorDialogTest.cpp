#include "platform/x11/X11TopLevelWindows.h"
#include "support/LocalDate.h"
#include "support/ProgramRun.h"
#include "support/Sandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

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

// Settings under which a start with a parameter collects *.tmp on C: today.
void writeDueSettings(const test::Sandbox& sandbox)
{
    test::Sandbox::writeFile(sandbox.iniPath(),
                             "[Drives]\r\nDrive0=1\r\n[Actions]\r\nAutoStart=0\r\nDelTMP=1\r\n"
                             "Frequency1=1\r\n[NextDate]\r\nDate=" +
                                 test::localDateText(0) + "\r\n");
}

// A real run with a file another program holds open: the shell's error box for it can
// only be closed by the timer's keystrokes, since nobody else is there, so a run that ends
// at all ended through them.
void expectTheRunGoesOnPastItsErrorBox(const test::Sandbox& sandbox,
                                       const QProcessEnvironment& environment)
{
    const std::string docs = sandbox.driveC() + "/docs";
    for (const char* name : {"a.tmp", "held.tmp", "z.tmp"})
        test::Sandbox::writeFile(docs + "/" + name, name);
    QProcess held;
    held.setStandardInputFile(QString::fromStdString(docs + "/held.tmp"));
    held.start(QStringLiteral("sleep"), {QStringLiteral("120")});
    ASSERT_TRUE(held.waitForStarted());

    const test::Outcome outcome = test::runProgram({QStringLiteral("/a")}, environment, 90000);
    stop(held);
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
}

// Another program's window titled like the shell's error box is on screen all along, from
// before Vorlax starts: xmessage takes Space or Enter as its default button and ends, so
// it is still there only if it never received a key.
class ErrorDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        if (QStandardPaths::findExecutable(QStringLiteral("xmessage")).isEmpty())
            GTEST_SKIP() << "needs xmessage (package x11-utils)";
        windows = platform::X11TopLevelWindows::open();
        ASSERT_TRUE(windows);
        sandbox.setDrives("C:=" + sandbox.driveC() + "@fixed");
        writeDueSettings(sandbox);
        other.start(QStringLiteral("xmessage"),
                    {QStringLiteral("-title"), QString::fromStdString(OtherTitle),
                     QStringLiteral("-default"), QStringLiteral("okay"),
                     QStringLiteral("Another program's window")});
        ASSERT_TRUE(other.waitForStarted());
        ASSERT_TRUE(waitForWindow(OtherTitle, other)) << "xmessage never showed its window";
    }

    void TearDown() override { stop(other); }

    bool waitForWindow(const std::string& title, QProcess& owner)
    {
        for (int i = 0; i < 200; ++i) {
            if (windowExists(*windows, title))
                return true;
            owner.waitForFinished(100);
        }
        return false;
    }

    void expectOtherWindowUntouched()
    {
        EXPECT_EQ(other.state(), QProcess::Running) << "the other program's window received keys";
        EXPECT_TRUE(windowExists(*windows, OtherTitle));
    }

    const std::string OtherTitle = "ERROR DELETING FILE now";
    std::unique_ptr<platform::X11TopLevelWindows> windows;
    test::Sandbox sandbox;
    QProcess other;
};

} // namespace

TEST_F(ErrorDialogTest, AnotherProgramsWindowNeverReceivesKeys)
{
    QProcess vorlax;
    test::startProgram(vorlax, {}, test::programEnvironment(true));
    ASSERT_TRUE(vorlax.waitForStarted());
    EXPECT_TRUE(waitForWindow("Vorlax " VORLAX_VERSION, vorlax)) << "no main window";
    // Twenty ticks of the timer, at the least, with that window on screen.
    EXPECT_FALSE(vorlax.waitForFinished(2000));
    expectOtherWindowUntouched();
    ::kill(static_cast<pid_t>(vorlax.processId()), SIGTERM);
    EXPECT_TRUE(vorlax.waitForFinished(10000));
}

TEST_F(ErrorDialogTest, TheTimerClosesItsOwnErrorBoxAndTheRunGoesOn)
{
    expectTheRunGoesOnPastItsErrorBox(sandbox, test::programEnvironment(true));
    expectOtherWindowUntouched();
}

// On a Wayland desktop with the toolkit's Wayland plugin there is no X server to ask: the
// window probe sees the process's own windows, and the keys are posted to them, whichever
// window the compositor gives the focus. A headless compositor has no keyboard at all.
TEST(WaylandErrorDialogTest, TheTimerClosesItsOwnErrorBoxAndTheRunGoesOn)
{
    const QString weston = QStandardPaths::findExecutable(QStringLiteral("weston"));
    if (weston.isEmpty())
        GTEST_SKIP() << "needs weston (package weston)";
    const QDir plugins(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                       QStringLiteral("/platforms"));
    if (plugins.entryList({QStringLiteral("libqwayland*")}).isEmpty())
        GTEST_SKIP() << "needs the toolkit's Wayland plugin (package qt6-wayland)";

    test::Sandbox sandbox;
    writeDueSettings(sandbox);
    const QString runtimeDir = QString::fromStdString(sandbox.root() + "/run");
    ASSERT_TRUE(QDir().mkpath(runtimeDir));
    QFile::setPermissions(runtimeDir,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString socket = QStringLiteral("vorlax-test-%1").arg(::getpid());
    QProcessEnvironment environment = test::programEnvironment(false);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);

    QProcess compositor;
    compositor.setProcessEnvironment(environment);
    compositor.setStandardOutputFile(QProcess::nullDevice());
    compositor.setStandardErrorFile(QProcess::nullDevice());
    compositor.start(weston, {QStringLiteral("--backend=headless-backend.so"),
                              QStringLiteral("--socket=") + socket, QStringLiteral("--no-config"),
                              QStringLiteral("--idle-time=0")});
    const QString listening = runtimeDir + QStringLiteral("/") + socket;
    for (int i = 0; i < 100 && !QFileInfo::exists(listening) && compositor.waitForStarted(); ++i)
        compositor.waitForFinished(100);
    ASSERT_TRUE(QFileInfo::exists(listening)) << "weston did not start";

    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    // Nothing else: a toolkit that cannot reach the compositor fails the run.
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    // Widgets draw into shared memory; the EGL integration would load the graphics driver,
    // whose unloading at exit leaves an allocation the leak checker cannot place.
    environment.insert(QStringLiteral("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION"),
                       QStringLiteral("none"));
    expectTheRunGoesOnPastItsErrorBox(sandbox, environment);
    stop(compositor);
}
