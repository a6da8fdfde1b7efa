#include "support/LocalDate.h"
#include "support/ProgramRun.h"
#include "support/Sandbox.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A uid nobody has.
uid_t freeUid()
{
    uid_t uid = 47000;
    while (::getpwuid(uid))
        ++uid;
    return uid;
}

} // namespace

// A job the system starts without HOME (a root timer, a chroot) for an unprivileged user:
// the settings, the drive map and the trash all follow the account's home in the password
// database, and nothing goes to the top of "/". The account is one of the test's own: a
// password file seen only by the program, through a mount of its own.
TEST(AccountHomeTest, WithoutHomeTheTrashIsInTheAccountsHome)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to give the program an account of its own";
    test::Sandbox sandbox;
    const uid_t uid = freeUid();
    const std::string id = std::to_string(uid);
    // The way to it open to the account, as the way to a home under /home is: only the
    // test sandboxes' own folders are changed.
    for (fs::path at = sandbox.root(); at.string().find("/vorlax-test-") != std::string::npos;
         at = at.parent_path()) {
        struct stat status = {};
        if (::stat(at.c_str(), &status) == 0 && !(status.st_mode & S_IXOTH))
            ::chmod(at.c_str(), (status.st_mode & 07777) | S_IXOTH);
    }
    const std::string home = sandbox.root() + "/account";
    const std::string temp = sandbox.root() + "/account-tmp";
    test::Sandbox::writeFile(home + "/.config/vorlax/vorlax.ini",
                             "[Drives]\r\nDrive0=1\r\n[Actions]\r\nAutoStart=0\r\nRunScanDisk=0\r\n"
                             "DelTempFiles=0\r\nDelCache=0\r\nDelBAK=1\r\nDelCHK=0\r\nDelTMP=0\r\n"
                             "DelUser1=0\r\nDelUser2=0\r\nFrequency1=1\r\n"
                             "[NextDate]\r\nDate=" +
                                 test::localDateText(0) + "\r\n");
    test::Sandbox::writeFile(home + "/docs/old.bak", "rubbish");
    test::Sandbox::writeFile(home + "/docs/keep.txt", "kept");
    fs::create_directories(temp);
    for (const auto& entry : fs::recursive_directory_iterator(sandbox.root()))
        ::lchown(entry.path().c_str(), uid, uid);
    const std::string passwd = sandbox.root() + "/passwd";
    {
        std::ifstream system("/etc/passwd");
        std::ofstream own(passwd);
        own << system.rdbuf() << "vorlaxtest:x:" << id << ":" << id << "::" << home << ":/bin/sh\n";
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "VORLAX_WINDIR",
          "XDG_RUNTIME_DIR", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("TMPDIR"), QString::fromStdString(temp));
    env.insert(QStringLiteral("VORLAX_DRIVES"), QString::fromStdString("C:=" + home + "@fixed"));
    // The account's entry is seen through a mount that only the program's namespace has.
    const auto asAccount = [&](const QStringList& command) {
        QStringList line = {QStringLiteral("unshare"),
                            QStringLiteral("--mount"),
                            QStringLiteral("--propagation"),
                            QStringLiteral("private"),
                            QStringLiteral("--"),
                            QStringLiteral("sh"),
                            QStringLiteral("-c"),
                            QStringLiteral("mount --bind \"$0\" /etc/passwd && id=$1 && shift "
                                           "&& exec setpriv --reuid=$id --regid=$id "
                                           "--clear-groups -- \"$@\""),
                            QString::fromStdString(passwd),
                            QString::fromStdString(id)};
        return test::runCommand(line.front(), line.mid(1) + command, env);
    };
    const test::Outcome who =
        asAccount({QStringLiteral("sh"), QStringLiteral("-c"),
                   QStringLiteral("echo $(id -u) $(getent passwd $(id -u) | cut "
                                  "-d: -f6)")});
    if (who.output != id + " " + home + "\n")
        GTEST_SKIP() << "cannot run as an account of the test's own here: " << who.output
                     << who.errors;
    const bool topTrashBefore = fs::exists("/.local/share/Trash");

    const test::Outcome collection =
        asAccount({QStringLiteral(VORLAX_BINARY), QStringLiteral("/a")});
    EXPECT_EQ(collection.exitCode, 0) << collection.errors;
    EXPECT_EQ(collection.output, "1 file moved to the trash, 0 Kb\n") << collection.errors;
    const std::string trash = home + "/.local/share/Trash";
    EXPECT_EQ(test::Sandbox::readFile(trash + "/files/old.bak"), "rubbish");
    EXPECT_NE(test::Sandbox::readFile(trash + "/info/old.bak.trashinfo")
                  .find("\nPath=" + home + "/docs/old.bak\n"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(home + "/docs/old.bak"));
    EXPECT_EQ(test::Sandbox::readFile(home + "/docs/keep.txt"), "kept");
    EXPECT_NE(test::Sandbox::readFile(home + "/.config/vorlax/vorlax.ini")
                  .find("Date=" + test::localDateText(1)),
              std::string::npos);
    EXPECT_EQ(fs::exists("/.local/share/Trash"), topTrashBefore);
}
