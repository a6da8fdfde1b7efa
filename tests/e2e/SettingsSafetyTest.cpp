#include "support/ProgramRun.h"
#include "support/Sandbox.h"

#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <random>
#include <sys/inotify.h>
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

// The fault for real: a file the running user may not read, which root could.
TEST_F(SettingsSafetyTest, AFileTheUserMayNotReadIsLeftAlone)
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (::geteuid() != 0 || setpriv.isEmpty())
        GTEST_SKIP() << "needs root and setpriv to run the program as another user";
    const QStringList asNobody = {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                  QStringLiteral("--clear-groups")};
    // The test's sandbox lies below folders only root may enter: a folder of its own.
    std::string root = "/tmp/vorlax-unprivileged-XXXXXX";
    ASSERT_NE(::mkdtemp(root.data()), nullptr);
    const auto cleanup = std::unique_ptr<std::string, void (*)(std::string*)>(
        &root, [](std::string* folder) { fs::remove_all(*folder); });
    ::chmod(root.c_str(), 0755);
    for (const char* sub : {"windir", "home", "home/.config", "data", "tmp", "c"})
        fs::create_directories(root + "/" + sub);
    const std::string ini = root + "/windir/vorlax.ini";
    const std::string stored = "[Actions]\r\nAutoStart=0\r\n";
    test::Sandbox::writeFile(ini, stored);
    for (const auto& entry : fs::recursive_directory_iterator(root))
        ASSERT_EQ(::chown(entry.path().c_str(), 65534, 65534), 0);
    ::chmod(ini.c_str(), 0);

    QProcessEnvironment env = headless();
    env.insert(QStringLiteral("VORLAX_WINDIR"), QString::fromStdString(root + "/windir"));
    env.insert(QStringLiteral("VORLAX_DRIVES"), QString::fromStdString("C:=" + root + "/c@fixed"));
    env.insert(QStringLiteral("HOME"), QString::fromStdString(root + "/home"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(root + "/home/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(root + "/data"));
    env.insert(QStringLiteral("TMPDIR"), QString::fromStdString(root + "/tmp"));
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.start(setpriv, asNobody + QStringList{QStringLiteral("test"), QStringLiteral("-x"),
                                                QStringLiteral(VORLAX_BINARY)});
    if (!probe.waitForFinished() || probe.exitCode() != 0)
        GTEST_SKIP() << "the built program is out of another user's reach here";

    QProcess program;
    program.setProcessEnvironment(env);
    program.start(setpriv,
                  asNobody + QStringList{QStringLiteral(VORLAX_BINARY), QStringLiteral("/a")});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_NE(program.readAllStandardError().indexOf("Unable to read vorlax.ini"), -1);
    EXPECT_EQ(test::Sandbox::readFile(ini), stored);
    EXPECT_EQ(fs::status(ini).permissions(), fs::perms::none);
    EXPECT_FALSE(test::Sandbox::exists(root + "/home/.config/autostart/Vorlax.desktop"));
}

// Every kill during a save leaves the old file or the new one, whole; the next save
// removes what killed ones left behind.
TEST_F(SettingsSafetyTest, KillDuringASaveLeavesTheOldFileOrTheNewOneWhole)
{
    const char* runsText = std::getenv("VORLAX_KILL_RUNS");
    const int runs = runsText ? std::atoi(runsText) : 45;
    // A small file, and one large enough for its save to take a while to write.
    std::string filler;
    for (int k = 0; filler.size() < 4 << 20; ++k)
        filler += "[Other" + std::to_string(k) + "]\r\nKey=a value of some length\r\n";
    const std::string olds[] = {
        "", "; by hand\r\n[Actions]\r\nAutoStart=0\r\n[User]\r\nUser1=*.q\r\n",
        "; by hand\r\n[Actions]\r\nAutoStart=0\r\n" + filler + "[User]\r\nUser1=*.q\r\n"};
    // A start without a display saves only a file that is there, so the first case is an
    // empty one.
    enum Case { EmptyFile, Rewrite, LargeRewrite };

    // Each kill is aimed at a moment of the save: the file's temporary appearing starts it,
    // the rename over the file ends it.
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, sandbox.windir().c_str(), IN_CREATE | IN_MOVED_TO), 0);
    // What happened in the folder, waiting up to timeoutMs for anything; 0 for nothing.
    auto events = [watch](int timeoutMs) {
        pollfd ready{watch, POLLIN, 0};
        alignas(inotify_event) char buffer[4096];
        std::uint32_t seen = 0;
        if (::poll(&ready, 1, timeoutMs) != 1)
            return seen;
        const ssize_t got = ::read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            seen |= event->mask;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
        return seen;
    };
    auto waitForSave = [&events] {
        for (int k = 0; k < 300; ++k) {
            if (events(100) & IN_CREATE)
                return true;
        }
        return false;
    };
    auto prepare = [&](Case c) {
        test::Sandbox::writeFile(sandbox.iniPath(), olds[c]);
        while (events(0) != 0) {
        }
    };

    // What an uninterrupted save writes in each case, and how long it takes from its
    // temporary to its last rename (the program's end may take far longer).
    std::string saved[3];
    std::chrono::microseconds longest{0};
    for (Case c : {EmptyFile, Rewrite, LargeRewrite}) {
        prepare(c);
        QProcess process;
        test::startProgram(process, {}, headless());
        ASSERT_TRUE(waitForSave());
        const auto begun = std::chrono::steady_clock::now();
        auto renamed = begun;
        for (;;) {
            process.waitForFinished(1);
            const bool finished = process.state() == QProcess::NotRunning;
            const std::uint32_t seen = events(0);
            if (seen & IN_MOVED_TO)
                renamed = std::chrono::steady_clock::now();
            if (finished && seen == 0)
                break;
        }
        longest = std::max(longest,
                           std::chrono::duration_cast<std::chrono::microseconds>(renamed - begun));
        saved[c] = test::Sandbox::readFile(sandbox.iniPath());
        ASSERT_NE(saved[c], olds[c]);
    }

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<long long> delay(0, longest.count());
    int replaced = 0;
    int inside = 0;
    for (int i = 0; i < runs; ++i) {
        const auto c = static_cast<Case>(i % 3);
        prepare(c);
        QProcess process;
        test::startProgram(process, {}, headless());
        ASSERT_TRUE(waitForSave()) << "run " << i << " saved nothing";
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        ASSERT_TRUE(process.waitForFinished());

        const bool there = test::Sandbox::exists(sandbox.iniPath());
        const std::string now = there ? test::Sandbox::readFile(sandbox.iniPath()) : "";
        EXPECT_TRUE(now == olds[c] || now == saved[c])
            << "run " << i << ": neither the old file nor the new one";
        replaced += now == saved[c];
        inside += !temporaries().empty();
        for (const std::string& name : temporaries())
            fs::remove(sandbox.windir() + "/" + name);
    }
    ::close(watch);
    std::cout << runs << " kills during saves: " << replaced << " after the file was replaced, "
              << inside << " between the temporary and the rename" << std::endl;
    // Proof that the kills met saves at work, not only before or after them.
    EXPECT_GT(inside, 0);

    // Left by a writer killed between its temporary and the rename, or not ours at all.
    test::Sandbox::writeFile(sandbox.windir() + "/.vorlax.ini.4242.7.1f3a", "half");
    test::Sandbox::writeFile(sandbox.windir() + "/.vorlax.ini.backup", "mine");
    fs::create_symlink(sandbox.iniPath(), sandbox.windir() + "/.vorlax.ini.1.2.3");
    ASSERT_TRUE(test::runProgram({}, headless()).finished);
    EXPECT_EQ(temporaries(), (std::vector<std::string>{".vorlax.ini.1.2.3", ".vorlax.ini.backup"}));
}

// Another program holds the lock of the settings folder: the exit gives up after a few
// seconds, says so and leaves the file as it was; a termination signal during the wait
// ends it at once, without the wait running out.
TEST_F(SettingsSafetyTest, ASaveWaitsForTheLockBrieflyAndASignalEndsTheWait)
{
    const std::string old = "[Actions]\r\nAutoStart=0\r\n[User]\r\nUser1=*.q\r\n";
    test::Sandbox::writeFile(sandbox.iniPath(), old);
    const std::string lockPath = sandbox.windir() + "/vorlax.lock";
    const int holder = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(holder, 0);
    // A whole-file lock of the classic kind, as another locking program would take it.
    struct flock range = {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(holder, F_SETLK, &range), 0);
    const char* const Refused = "Unable to write to vorlax.ini";
    const char* const RanOut = "stayed locked by another program";

    const Outcome waited = test::runProgram({}, headless());
    ASSERT_TRUE(waited.finished);
    EXPECT_EQ(waited.exitCode, 1);
    EXPECT_NE(waited.errors.find(Refused), std::string::npos) << waited.errors;
    EXPECT_NE(waited.errors.find(RanOut), std::string::npos) << waited.errors;
    EXPECT_EQ(test::Sandbox::readFile(sandbox.iniPath()), old);

    QProcess process;
    test::startProgram(process, {}, headless());
    ASSERT_TRUE(process.waitForStarted());
    // The lock file is open only while the exit's save waits for it.
    const std::string fds = "/proc/" + std::to_string(process.processId()) + "/fd";
    auto waiting = [&] {
        std::error_code ec;
        for (const auto& fd : fs::directory_iterator(fds, ec)) {
            if (fs::read_symlink(fd.path(), ec) == lockPath)
                return true;
        }
        return false;
    };
    bool inWait = false;
    for (int k = 0; k < 20000 && !inWait && process.state() == QProcess::Running; ++k) {
        inWait = waiting();
        if (!inWait)
            process.waitForFinished(1);
    }
    ASSERT_TRUE(inWait) << "the save never waited";
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(30000));
    const std::string errors = process.readAllStandardError().toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_NE(errors.find(Refused), std::string::npos) << errors;
    EXPECT_EQ(errors.find(RanOut), std::string::npos) << errors;
    EXPECT_EQ(test::Sandbox::readFile(sandbox.iniPath()), old);
    ::close(holder);
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
    test::startProgram(program, {}, env);
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
