#include "support/ProgramRun.h"
#include "support/Sandbox.h"

#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using test::Outcome;

namespace {

class SettingsSafetyTest : public ::testing::Test
{
protected:
    QProcessEnvironment headless() const
    {
        QProcessEnvironment env = test::programEnvironment(false);
        // As under cron: the toolkit must not add its notice about it.
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        return env;
    }

    std::vector<std::string> temporaries() const
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(sandbox.windir())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with(".vorlax.ini."))
                found.push_back(name);
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    test::Sandbox sandbox;
};

TEST_F(SettingsSafetyTest, ExitStatusTellsWhetherAnErrorBoxWasShown)
{
    struct Row
    {
        const char* settings; // nullptr: a folder in the file's place
        int status;
        const char* error;
    };
    const Row rows[] = {
        {"[Actions]\r\nAutoStart=0\r\n", 0, ""},
        {"[Actions]\r\nAutoStart=0\r\n[NextDate]\r\nDate=never\r\n", 1,
         "'never' is not a valid date"},
        {nullptr, 1, "Unable to read vorlax.ini"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        fs::remove_all(sandbox.iniPath());
        if (row.settings)
            test::Sandbox::writeFile(sandbox.iniPath(), row.settings);
        else
            fs::create_directory(sandbox.iniPath());
        const Outcome outcome = test::runProgram({QStringLiteral("/a")}, headless());
        ASSERT_TRUE(outcome.finished);
        EXPECT_EQ(outcome.exitCode, row.status);
        if (*row.error)
            EXPECT_NE(outcome.errors.find(row.error), std::string::npos) << outcome.errors;
        else
            EXPECT_EQ(outcome.errors, "");
    }
    // The folder was left as it was, and nothing was registered.
    EXPECT_TRUE(fs::is_directory(sandbox.iniPath()));
    EXPECT_TRUE(fs::is_empty(sandbox.iniPath()));
    EXPECT_FALSE(test::Sandbox::exists(sandbox.autostartDir() + "/Vorlax.desktop"));
}

// Every kill leaves the old file or the new one, whole; the next save removes what the
// killed ones left behind.
TEST_F(SettingsSafetyTest, KillAtAnyMomentLeavesTheOldFileOrTheNewOneWhole)
{
    const char* runsText = std::getenv("VORLAX_KILL_RUNS");
    const int runs = runsText ? std::atoi(runsText) : 40;
    const std::string old = "; by hand\r\n[Actions]\r\nAutoStart=0\r\n[User]\r\nUser1=*.q\r\n";

    // What an uninterrupted save writes, from no file and over the old one.
    std::string fresh;
    std::string rewritten;
    const auto started = std::chrono::steady_clock::now();
    for (std::string* result : {&fresh, &rewritten}) {
        fs::remove(sandbox.iniPath());
        if (result == &rewritten)
            test::Sandbox::writeFile(sandbox.iniPath(), old);
        ASSERT_TRUE(test::runProgram({}, headless()).finished);
        *result = test::Sandbox::readFile(sandbox.iniPath());
    }
    // Kills spread over the whole of a run, start-up to save.
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - started) /
                      2;
    ASSERT_NE(rewritten, old);

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<long long> delay(0, span.count());
    int whole = 0;
    for (int i = 0; i < runs; ++i) {
        const bool first = i % 2 == 0;
        fs::remove(sandbox.iniPath());
        if (!first)
            test::Sandbox::writeFile(sandbox.iniPath(), old);
        QProcess process;
        process.setProcessEnvironment(headless());
        process.start(QStringLiteral(VORLAX_BINARY), {});
        ASSERT_TRUE(process.waitForStarted());
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        ASSERT_TRUE(process.waitForFinished());

        const bool there = test::Sandbox::exists(sandbox.iniPath());
        const std::string now = there ? test::Sandbox::readFile(sandbox.iniPath()) : "";
        if (first)
            EXPECT_TRUE(!there || now == fresh) << "run " << i << ":\n" << now;
        else
            EXPECT_TRUE(now == old || now == rewritten) << "run " << i << ":\n" << now;
        whole += now == (first ? fresh : rewritten);
    }
    std::cout << runs << " kills, " << whole << " after the file was replaced, "
              << temporaries().size() << " temporaries left" << std::endl;

    // Left by a writer killed between its temporary and the rename, or not ours at all.
    test::Sandbox::writeFile(sandbox.windir() + "/.vorlax.ini.4242.7.1f3a", "half");
    test::Sandbox::writeFile(sandbox.windir() + "/.vorlax.ini.backup", "mine");
    fs::create_symlink(sandbox.iniPath(), sandbox.windir() + "/.vorlax.ini.1.2.3");
    ASSERT_TRUE(test::runProgram({}, headless()).finished);
    EXPECT_EQ(temporaries(), (std::vector<std::string>{".vorlax.ini.1.2.3", ".vorlax.ini.backup"}));
}

TEST_F(SettingsSafetyTest, LostDisplaySavesWhatTheWindowHeld)
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString xwininfo = QStandardPaths::findExecutable(QStringLiteral("xwininfo"));
    if (xvfb.isEmpty() || xwininfo.isEmpty())
        GTEST_SKIP() << "needs Xvfb and xwininfo";
    // A display of its own: this one is taken away under the running program.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    QProcess server;
    server.setProgram(xvfb);
    server.setArguments({QStringLiteral("-displayfd"), QString::number(fds[1]),
                         QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    server.setChildProcessModifier([fds] { ::close(fds[0]); });
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start();
    ::close(fds[1]);
    std::string number;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    const QString display = QStringLiteral(":") + QString::fromStdString(number);

    test::Sandbox::writeFile(sandbox.iniPath(),
                             "[Actions]\r\nAutoStart=0\r\n[User]\r\nUser1=*.q\r\n");
    QProcessEnvironment env = test::programEnvironment(true);
    env.insert(QStringLiteral("DISPLAY"), display);
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VORLAX_BINARY), {});
    ASSERT_TRUE(program.waitForStarted());
    bool shown = false;
    for (int i = 0; i < 200 && !shown; ++i) {
        QProcess probe;
        probe.start(xwininfo, {QStringLiteral("-display"), display, QStringLiteral("-root"),
                               QStringLiteral("-tree")});
        probe.waitForFinished();
        shown = probe.readAllStandardOutput().contains("\"Vorlax 1.2\"");
        if (!shown)
            program.waitForFinished(100);
    }
    ASSERT_TRUE(shown) << "the window never appeared";
    // The session ends under the open window.
    server.kill();
    server.waitForFinished();
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    const std::string saved = test::Sandbox::readFile(sandbox.iniPath());
    EXPECT_NE(saved.find("[Drives]\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("User1=*.q\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("[NextDate]\r\nDate="), std::string::npos) << saved;
}

} // namespace
