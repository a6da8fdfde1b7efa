#include "support/LocalDate.h"
#include "support/ProgramRun.h"
#include "support/Sandbox.h"

#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;
using test::Sandbox;

namespace {

constexpr uid_t Nobody = 65534;
constexpr std::time_t Day = 86400;

using Result = test::Outcome;

Result run(const QStringList& command, const QProcessEnvironment& env, const std::string& cwd = "/")
{
    return test::runCommand(command.front(), command.mid(1), env, 60000, cwd);
}

std::string contentOf(const std::string& path)
{
    return Sandbox::exists(path) ? Sandbox::readFile(path) : "(gone)";
}

// A temporary folder laid out like a running desktop's and a home like a user's (drive C:),
// in a folder of its own that another user may enter, and `vorlax /a` run over them.
class LiveDesktopTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(::mkdtemp(root.data()), nullptr);
        ::chmod(root.c_str(), 0755);
        home = root + "/home";
        tmp = root + "/tmp";
        fs::create_directories(tmp);
        git = QStandardPaths::findExecutable(QStringLiteral("git"));
    }
    void TearDown() override
    {
        held.kill();
        held.waitForFinished();
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // Two days old unless said otherwise (seconds since its last read and write).
    void plant(const std::string& path, bool rubbish, std::time_t read = 2 * Day,
               std::time_t written = 2 * Day)
    {
        Sandbox::writeFile(path, "content of " + path);
        const timespec times[2] = {{std::time(nullptr) - read, 0},
                                   {std::time(nullptr) - written, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
        if (rubbish)
            this->rubbish.insert(path);
        else
            keep[path] = "content of " + path;
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR",
                                 "XDG_CACHE_HOME", "GNUPGHOME", "PASSWORD_STORE_DIR"})
            env.remove(QString::fromLatin1(name));
        const std::pair<const char*, std::string> values[] = {
            {"HOME", home},
            {"XDG_CONFIG_HOME", home + "/.config"},
            {"XDG_DATA_HOME", home + "/.local/share"},
            {"XDG_STATE_HOME", home + "/.local/state"},
            {"VORLAX_WINDIR", home + "/.config/vorlax"},
            {"VORLAX_DRIVES", "C:=" + home + "@fixed"},
            {"TMPDIR", tmp},
            {"VORLAX_TMPFILES_PATH", root + "/tmpfiles.d:" + home + "/.config/user-tmpfiles.d"}};
        for (const auto& [name, value] : values)
            env.insert(QString::fromLatin1(name), QString::fromStdString(value));
        return env;
    }

    Result gitIn(const std::string& folder, const QString& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), QString::fromStdString(root));
        env.insert(QStringLiteral("GIT_CONFIG_NOSYSTEM"), QStringLiteral("1"));
        const QString config =
            QStringLiteral("-c safe.directory=* -c user.name=Test -c "
                           "user.email=test@example.org -c init.defaultBranch=main ");
        return run(QStringList{git} + (config + arguments).split(' '), env, folder);
    }

    std::string refs()
    {
        const Result listed = gitIn(home + "/project", QStringLiteral("for-each-ref"));
        EXPECT_EQ(listed.exitCode, 0) << listed.errors;
        return listed.output;
    }

    void plantDesktop(uid_t uid)
    {
        const std::string t = tmp + "/";
        for (const char* name :
             {".X0-lock", ".ICE-unix/4711", "serverauth.Ab3Xy", "xauth_Qw12Er", "krb5cc_1000",
              "systemd-private-abc-xyz.service-123/tmp/file", "ssh-Ab3Xy/agent.1",
              "tmux-1000/default", "kept-by-config/data.bin", "pinned.dat", "held.dat"})
            plant(t + name, false);
        plant(t + "session-" + std::to_string(uid) + ".dat", false);
        plant(t + "session-99.dat", true);
        plant(t + "fresh.dat", false, 0, 0);
        plant(t + "read-lately.dat", false, 3600, 2 * Day);
        plant(t + "written-lately.dat", false, 2 * Day, 3600);
        for (const char* name : {"old.dat", ".old-hidden", "build/obj.o"})
            plant(t + name, true);
        fs::create_directories(t + ".X11-unix");
        const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        (t + ".X11-unix/X0").copy(address.sun_path, sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(socket);
        Sandbox::writeFile(root + "/tmpfiles.d/keep.conf",
                           "x " + t + "kept-by-config\nX " + t + "pinned.dat\n");
        Sandbox::writeFile(home + "/.config/user-tmpfiles.d/session.conf", "x %T/session-%U.dat\n");

        const std::string h = home + "/";
        for (const char* name :
             {".ssh/id_ed25519", ".ssh/known_hosts.bak", ".gnupg/trustdb.gpg.bak",
              ".local/share/keyrings/login.keyring.bak", ".config/autostart/other.desktop.bak",
              ".config/vorlax/vorlax.ini.bak", "docs/letter.txt"})
            plant(h + name, false);
        plant(h + ".cache/app/fresh-entry", false, 0, 0);
        for (const char* name :
             {"docs/report.bak", "docs/ssh-notes.bak", "docs/export.git", ".cache/app/old-entry"})
            plant(h + name, true);
        // The masks are explicit: what they match goes however new it is.
        plant(h + "docs/new.tmp", true, 0, 0);
        Sandbox::writeFile(
            h + ".config/vorlax/vorlax.ini",
            "[Drives]\r\nDrive0=1\r\n[Actions]\r\nCache=C:\\.cache\\\r\nAutoStart=0\r\n"
            "RunScanDisk=0\r\nDelCHK=1\r\nDelTempFiles=1\r\nDelCache=1\r\nDelBAK=1\r\n"
            "DelTMP=1\r\nDelUser1=1\r\nDelUser2=1\r\nFrequency1=1\r\n"
            "[User]\r\nUser1=*\r\nUser2=*.git\r\n[NextDate]\r\nDate=" +
                test::localDateText(0) + "\r\n");

        // A repository whose branch and tag names match the masks, and a worktree of it.
        const std::string project = h + "project";
        Sandbox::writeFile(project + "/README", "read me\n");
        for (const char* step :
             {"init -q", "add README", "commit -qm first", "branch wip.tmp", "branch feature/x.chk",
              "tag before-refactor.bak", "worktree add -q ../worktree -b side"}) {
            const Result done = gitIn(project, QString::fromLatin1(step));
            ASSERT_EQ(done.exitCode, 0) << step << ": " << done.errors;
        }
        keep[h + "worktree/.git"] = Sandbox::readFile(h + "worktree/.git");
        plant(project + "/notes.bak", true);

        if (uid != ::geteuid()) {
            for (const auto& entry : fs::recursive_directory_iterator(root))
                ASSERT_EQ(::lchown(entry.path().c_str(), uid, uid), 0) << entry.path();
            ASSERT_EQ(::lchown(root.c_str(), uid, uid), 0);
        }
        if (::geteuid() == 0) {
            plant(t + "others.dat", false);
            ASSERT_EQ(::chown((t + "others.dat").c_str(), uid == 0 ? Nobody : 0, 0), 0);
        }
        // A program still has this one open.
        held.setStandardInputFile(QString::fromStdString(t + "held.dat"));
        held.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        ASSERT_TRUE(held.waitForStarted());
    }

    // The original paths of the home trash's entries.
    std::set<std::string> trashed() const
    {
        std::set<std::string> paths;
        for (const auto& entry : fs::directory_iterator(home + "/.local/share/Trash/info")) {
            const std::string info = Sandbox::readFile(entry.path());
            const auto at = info.find("\nPath=") + 6;
            paths.insert(QUrl::fromPercentEncoding(
                             QByteArray::fromStdString(info.substr(at, info.find('\n', at) - at)))
                             .toStdString());
        }
        return paths;
    }

    void collectAndCheck(const QStringList& asUser, uid_t uid)
    {
        if (git.isEmpty())
            GTEST_SKIP() << "needs git";
        plantDesktop(uid);
        if (HasFatalFailure())
            return;
        const std::string before = refs();
        const Result outcome =
            run(asUser + QStringList{QStringLiteral(VORLAX_BINARY), QStringLiteral("/a")},
                environment());
        EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
        EXPECT_NE(outcome.errors.find("'*' would take every file"), std::string::npos);
        EXPECT_NE(outcome.errors.find("held.dat"), std::string::npos) << outcome.errors;

        const std::set<std::string> taken = trashed();
        EXPECT_EQ(taken, rubbish) << outcome.errors;
        std::cout << "taken:";
        for (const std::string& path : taken)
            std::cout << " " << path.substr(root.size() + 1);
        std::cout << "\nleft:";
        for (const auto& [path, content] : keep) {
            EXPECT_EQ(contentOf(path), content) << path;
            std::cout << " " << path.substr(root.size() + 1);
        }
        std::cout << " tmp/.X11-unix/X0 (a socket)\n";
        EXPECT_TRUE(fs::is_socket(tmp + "/.X11-unix/X0"));
        for (const char* ref :
             {"refs/heads/wip.tmp", "refs/heads/feature/x.chk", "refs/tags/before-refactor.bak"})
            EXPECT_NE(before.find(ref), std::string::npos) << before;
        EXPECT_EQ(refs(), before);
        EXPECT_EQ(gitIn(home + "/worktree", QStringLiteral("status")).exitCode, 0);
        // The refused mask's box is saved cleared; the run ended normally.
        const std::string ini = Sandbox::readFile(home + "/.config/vorlax/vorlax.ini");
        EXPECT_NE(ini.find("DelUser1=0"), std::string::npos) << ini;
        EXPECT_NE(ini.find("Date=" + test::localDateText(1)), std::string::npos) << ini;
    }

    std::string root = "/tmp/vorlax-desktop-XXXXXX";
    std::string home;
    std::string tmp;
    QString git;
    std::set<std::string> rubbish;
    std::map<std::string, std::string> keep; // path -> content
    QProcess held;
};

} // namespace

TEST_F(LiveDesktopTest, AsTheRunningUserOnlyOldUnprotectedFilesGo)
{
    collectAndCheck({}, ::geteuid());
}

TEST_F(LiveDesktopTest, AsAnUnprivilegedUserOnlyOldUnprotectedFilesGo)
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (::geteuid() != 0 || setpriv.isEmpty())
        GTEST_SKIP() << "needs root and setpriv to run the program as another user";
    const QStringList asNobody = {setpriv, QStringLiteral("--reuid=65534"),
                                  QStringLiteral("--regid=65534"),
                                  QStringLiteral("--clear-groups")};
    if (run(asNobody + QStringList{QStringLiteral("test"), QStringLiteral("-x"),
                                   QStringLiteral(VORLAX_BINARY)},
            QProcessEnvironment::systemEnvironment())
            .exitCode != 0)
        GTEST_SKIP() << "the built program is out of another user's reach here";
    collectAndCheck(asNobody, Nobody);
}
