#include "automation/Execfile.h"

#include "platform/core/Service.h"
#include "platform/shell/Shell.h"
#include "runtime/Application.h"
#include "support/FakeProcesses.h"
#include "support/FakeShell.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

using namespace platform;
namespace fs = std::filesystem;

namespace {

class Execfile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        runtime::resetTermination();
        sandbox.setEnv("PATH", sandbox.root() + "/bin:/usr/bin:/bin");
        exec.OnFail = [this](TExecFile* sender) {
            EXPECT_EQ(sender, &exec);
            ++failures;
        };
    }
    void TearDown() override { runtime::resetTermination(); }

    // Waits until its flag file exists, so the test says when it ends.
    void writeWaiter()
    {
        const std::string path = sandbox.root() + "/bin/waitfor";
        test::Sandbox::writeFile(path, "#!/bin/sh\nwhile [ ! -e \"$1\" ]; do sleep 0.01; done\n");
        fs::permissions(path, fs::perms(0755));
    }
    // Whether the process still exists (a zombie does not count: it was reaped).
    static bool running(std::uint32_t pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0; }

    test::Sandbox sandbox;
    TExecFile exec;
    int failures = 0;
};

} // namespace

TEST_F(Execfile, CommandLinesAsComposedAndTheAssociatedProgramAsFallback)
{
    const std::string a200(200, 'a'), b100(100, 'b'), c255(255, 'c'), d255(255, 'd');
    struct Case
    {
        std::string commandLine, parameters;
        bool associate;
        std::vector<bool> outcomes;
        std::uintptr_t findResult;
        std::vector<std::string> started;
        bool result;
        std::string associated;
    } cases[] = {
        {"SCANDSKW.EXE C:  /n", "", false, {true}, 0, {"SCANDSKW.EXE C:  /n "}, true, ""},
        {"prog", "-x", false, {true}, 0, {"prog -x"}, true, ""},
        {a200, b100, false, {true}, 0, {a200 + " " + b100.substr(0, 54)}, true, ""},
        {"missing", "", false, {false}, 33, {"missing "}, false, ""},
        {"C:\\doc.txt",
         "-v",
         true,
         {false, true},
         33,
         {"C:\\doc.txt -v", "/usr/bin/viewer C:\\doc.txt -v"},
         true,
         "/usr/bin/viewer"},
        {c255,
         d255,
         true,
         {false, true},
         33,
         {(c255 + " " + d255).substr(0, 255), "/usr/bin/viewer " + c255 + " " + d255},
         true,
         "/usr/bin/viewer"},
        {"C:\\doc.txt", "", true, {false}, SE_ERR_NOASSOC, {"C:\\doc.txt "}, false, ""},
        {"C:\\doc.txt",
         "",
         true,
         {false, false},
         32,
         {"C:\\doc.txt ", "/usr/bin/viewer C:\\doc.txt "},
         false,
         "/usr/bin/viewer"},
    };
    for (const Case& c : cases) {
        test::ScopedFake<test::FakeProcesses> processes;
        processes.outcomes = c.outcomes;
        processes.error = ERROR_BAD_FORMAT;
        test::ScopedFake<test::FakeShell> shell;
        shell.findResult = c.findResult;
        shell.found = "/usr/bin/viewer";
        TExecFile launcher;
        int failed = 0;
        launcher.OnFail = [&](TExecFile*) {
            ++failed;
            EXPECT_EQ(launcher.ErrorCode(), ERROR_BAD_FORMAT);
        };
        launcher.setCommandLine(c.commandLine);
        launcher.setParameters(c.parameters);
        launcher.setAssociate(c.associate);

        EXPECT_EQ(launcher.Execute(), c.result) << c.commandLine;
        EXPECT_EQ(processes.started, c.started);
        EXPECT_EQ(failed, c.result ? 0 : 1) << c.commandLine;
        EXPECT_EQ(launcher.AssociatedProgram(), c.associated);
        EXPECT_EQ(shell.asked.size(), c.associate ? 1u : 0u);
        // Not waiting: both handles go at once.
        const std::vector<HANDLE> closed =
            c.result ? std::vector<HANDLE>{&processes.process, &processes.thread}
                     : std::vector<HANDLE>{};
        EXPECT_EQ(processes.closed, closed);
        EXPECT_TRUE(processes.waits.empty());
    }
}

TEST_F(Execfile, PriorityAndWindowStyleBecomeCreationValues)
{
    struct Case
    {
        TPriorityClass priority;
        TWindowStyle style;
        std::uint32_t flags;
        std::uint16_t show;
    } cases[] = {
        {pcNormal, wsNorm, 0x30, 1},        {pcIdle, wsHide, 0x50, 0},
        {pcHigh, wsMinimize, 0x90, 2},      {pcRealTime, wsMaximize, 0x110, 3},
        {pcIdle, wsMinNoActivate, 0x50, 7}, {pcNormal, wsShowNoActivate, 0x30, 8},
    };
    test::ScopedFake<test::FakeProcesses> processes;
    exec.setCommandLine("prog");
    for (const Case& c : cases) {
        exec.setPriority(c.priority);
        exec.setWindowStyle(c.style);
        ASSERT_TRUE(exec.Execute());
        const auto& start = processes.starts.back();
        EXPECT_EQ(start.flags, c.flags);
        EXPECT_EQ(start.startup.cb, 68u);
        EXPECT_EQ(start.startup.dwFlags, STARTF_USESHOWWINDOW);
        EXPECT_EQ(start.startup.wShowWindow, c.show);
        EXPECT_EQ(exec.StartupInfo().wShowWindow, c.show);
    }
}

TEST_F(Execfile, AProgramThatCannotBeFoundFailsOnce)
{
    exec.setCommandLine("no-such-program-anywhere");
    exec.setWait(true);
    EXPECT_FALSE(exec.Execute());
    EXPECT_EQ(exec.ErrorCode(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(exec.Waiting());
}

TEST_F(Execfile, ARegularWaitKeepsTheWindowAliveUntilTheProgramEnds)
{
    writeWaiter();
    const std::string flag = sandbox.root() + "/flag";
    // The program ends only once the timer has run during the wait.
    int ticks = 0;
    bool waitingSeen = false;
    QTimer timer;
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        waitingSeen = exec.Waiting();
        test::Sandbox::writeFile(flag, "");
    });
    timer.start();
    QPushButton button;
    bool clicked = false;
    QObject::connect(&button, &QPushButton::clicked, [&] { clicked = true; });
    QMetaObject::invokeMethod(&button, "click", Qt::QueuedConnection);

    exec.setCommandLine("waitfor");
    exec.setParameters(flag);
    exec.setWait(true);
    ASSERT_TRUE(exec.Execute());
    EXPECT_GE(ticks, 1);
    EXPECT_TRUE(waitingSeen);
    EXPECT_TRUE(clicked);
    EXPECT_FALSE(exec.Waiting());
    EXPECT_FALSE(running(exec.ProcessInfo().dwProcessId));
    EXPECT_EQ(failures, 0);
}

TEST_F(Execfile, ASuspendedWaitBlocksUntilTheProgramEnds)
{
    bool handled = false;
    QTimer::singleShot(0, [&] { handled = true; });
    exec.setCommandLine("sleep");
    exec.setParameters("0.3");
    exec.setWait(true);
    exec.setWaitStyle(wSuspend);
    ASSERT_TRUE(exec.Execute());
    EXPECT_FALSE(running(exec.ProcessInfo().dwProcessId));
    EXPECT_FALSE(handled);
    QCoreApplication::processEvents();
    EXPECT_TRUE(handled);
}

TEST_F(Execfile, AnEndRequestEndsTheWaitAndLeavesTheProgramRunning)
{
    writeWaiter();
    QTimer::singleShot(0, [] { runtime::terminate(); });
    exec.setCommandLine("waitfor");
    exec.setParameters(sandbox.root() + "/never");
    exec.setWait(true);
    EXPECT_FALSE(exec.Execute());
    EXPECT_FALSE(exec.Waiting());
    EXPECT_EQ(failures, 0);
    const std::uint32_t pid = exec.ProcessInfo().dwProcessId;
    EXPECT_TRUE(running(pid));
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    // The toolkit's own loop clears its ending state, as a program's next life would.
    runtime::run();
}

TEST_F(Execfile, AStartFromInsideTheWaitLeavesTheOuterWaitItsOwn)
{
    writeWaiter();
    const std::string flag = sandbox.root() + "/flag";
    std::uint32_t outer = 0, inner = 0;
    bool innerStarted = false, stillWaiting = false;
    QTimer::singleShot(0, [&] {
        outer = exec.ProcessInfo().dwProcessId;
        exec.setCommandLine("sleep");
        exec.setParameters("0");
        innerStarted = exec.Execute();
        inner = exec.ProcessInfo().dwProcessId;
        stillWaiting = exec.Waiting();
        test::Sandbox::writeFile(flag, "");
    });
    exec.setCommandLine("waitfor");
    exec.setParameters(flag);
    exec.setWait(true);
    ASSERT_TRUE(exec.Execute());
    EXPECT_TRUE(innerStarted);
    EXPECT_TRUE(stillWaiting);
    EXPECT_NE(inner, outer);
    // The outer wait lasted until its own program had ended.
    EXPECT_FALSE(running(outer));
    EXPECT_FALSE(exec.Waiting());
}
