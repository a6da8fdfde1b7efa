#include "platform/shell/Trash.h"
#include "platform/core/Termination.h"
#include "platform/drives/Drives.h"
#include "platform/files/FileCopy.h"
#include "platform/files/PathWalk.h"
#include "platform/shell/Shell.h"
#include "support/ShellFixture.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace platform;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

constexpr std::uint16_t CollectionFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT;
constexpr uid_t OtherUser = 54321;

std::string infoPattern(const std::string& path)
{
    return "\\[Trash Info\\]\nPath=" + path +
           "\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n";
}

// Bytes of every value, in a pattern that does not repeat at a page.
std::string binaryText(std::size_t size)
{
    std::string text(size, '\0');
    for (std::size_t k = 0; k < size; ++k)
        text[k] = static_cast<char>((k * 131 + k / 4099) & 0xff);
    return text;
}

mode_t modeOf(const std::string& path)
{
    struct stat status = {};
    ::lstat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// Runs a command in the sandbox's environment; its standard output.
std::string shell(const std::string& command)
{
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, count);
        ::pclose(pipe);
    }
    return output;
}

// Whether the kernel shows, within five seconds, a lease break it signalled.
bool leaseBreakShown()
{
    for (int k = 0; k < 500; ++k) {
        if (test::Sandbox::readFile("/proc/locks").find("BREAKING") != std::string::npos)
            return true;
        ::usleep(10000);
    }
    return false;
}

// Runs move in a traced child, and atEntry once at the entry of the first system call that
// wanted accepts; the child's exit status, or -1 when atEntry never ran.
int traceMove(const std::function<int()>& move, const std::function<bool(long)>& wanted,
              const std::function<void()>& atEntry)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        ::raise(SIGSTOP);
        ::_exit(move());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child)
        return -1;
    ::ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    bool ran = false;
    for (;;) {
        ::ptrace(PTRACE_SYSCALL, child, nullptr, nullptr);
        if (::waitpid(child, &status, 0) != child)
            return -1;
        if (WIFEXITED(status))
            return ran ? WEXITSTATUS(status) : -1;
        __ptrace_syscall_info info = {};
        if (!ran && WSTOPSIG(status) == (SIGTRAP | 0x80) &&
            ::ptrace(PTRACE_GET_SYSCALL_INFO, child, sizeof info, &info) > 0 &&
            info.op == PTRACE_SYSCALL_INFO_ENTRY && wanted(static_cast<long>(info.entry.nr))) {
            atEntry();
            ran = true;
        }
    }
}

class Trash : public test::ShellFixture
{
};

// A disk filesystem of its own for topdir trashes: an ext4 image mounted in the sandbox.
class TopdirTrash : public test::ShellFixture
{
protected:
    void SetUp() override
    {
        top = sandbox.root() + "/mnt";
        fs::create_directories(top);
        const std::string image = sandbox.root() + "/disk.img";
        if (::geteuid() != 0 ||
            std::system(("truncate -s 16M '" + image + "' && mkfs.ext4 -q -F '" + image +
                         "' >/dev/null 2>&1 && mount -o loop '" + image + "' '" + top + "'")
                            .c_str()) != 0)
            GTEST_SKIP() << "no loop mount of an ext4 image allowed here";
        mounted = true;
        ::chmod(top.c_str(), 0755);
        fs::remove_all(top + "/lost+found");
        sandbox.setDrives("C:=" + sandbox.driveC() + "@fixed;D:=" + top + "@fixed");
    }
    void TearDown() override
    {
        if (mounted)
            ::umount2(top.c_str(), MNT_DETACH);
    }
    std::string d(const std::string& relative) const { return top + "/" + relative; }

    std::string top;
    bool mounted = false;
};

// A tmpfs of its own as drive D:, whose files go to the home trash by a copy.
class MemoryTrash : public test::ShellFixture
{
protected:
    void SetUp() override
    {
        top = sandbox.root() + "/mem";
        fs::create_directories(top);
        if (::mount("vorlax-test", top.c_str(), "tmpfs", 0, "mode=0755,size=256m") != 0)
            GTEST_SKIP() << "no tmpfs mount allowed here";
        mounted = true;
        sandbox.setDrives("C:=" + sandbox.driveC() + "@fixed;D:=" + top + "@fixed");
    }
    void TearDown() override
    {
        for (const auto& mount : extraMounts)
            ::umount2(mount.c_str(), MNT_DETACH);
        if (mounted)
            ::umount2(top.c_str(), MNT_DETACH);
    }
    std::string d(const std::string& relative) const { return top + "/" + relative; }
    // What the top of the home trash holds besides its own folders: temporaries.
    std::vector<std::string> leftovers() const
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(homeTrash(), ec)) {
            const std::string name = entry.path().filename().string();
            if (name != "files" && name != "info" && name != "directorysizes")
                names.push_back(name);
        }
        return names;
    }

    std::string top;
    bool mounted = false;
    std::vector<std::string> extraMounts;
};

std::string parentOf(const std::string& path)
{
    return path.substr(0, path.rfind('/'));
}

timespec mtimeOf(const std::string& path)
{
    struct stat status = {};
    ::lstat(path.c_str(), &status);
    return status.st_mtim;
}

} // namespace

TEST_F(Trash, AFileAndAFolderGoToTheHomeTrashWithInfoAndFolderSize)
{
    test::Sandbox::writeFile(c("dir/a b%.tmp"), "alpha");
    test::Sandbox::writeFile(c("dir/sub/one.tmp"), "12345");
    test::Sandbox::writeFile(c("dir/sub/deeper/two.tmp"), "123");

    EXPECT_EQ(request(FO_DELETE, "C:\\dir\\a b%.tmp\0C:\\dir\\sub"s, CollectionFlags), 0);
    EXPECT_TRUE(dialogs.errors.empty() && dialogs.questions.empty());
    EXPECT_FALSE(test::Sandbox::exists(c("dir/a b%.tmp")));
    EXPECT_FALSE(test::Sandbox::exists(c("dir/sub")));
    EXPECT_EQ(test::Sandbox::readFile(homeTrash() + "/files/a b%.tmp"), "alpha");
    EXPECT_EQ(test::Sandbox::readFile(homeTrash() + "/files/sub/deeper/two.tmp"), "123");
    EXPECT_TRUE(std::regex_match(test::Sandbox::readFile(homeTrash() + "/info/a b%.tmp.trashinfo"),
                                 std::regex(infoPattern(c("dir/a%20b%25.tmp")))));
    EXPECT_EQ(modeOf(homeTrash() + "/info/a b%.tmp.trashinfo"), 0600u);
    for (const char* folder : {"", "/files", "/info"})
        EXPECT_EQ(modeOf(homeTrash() + folder), 0700u) << folder;

    struct stat info = {};
    ASSERT_EQ(::stat((homeTrash() + "/info/sub.trashinfo").c_str(), &info), 0);
    EXPECT_EQ(test::Sandbox::readFile(homeTrash() + "/directorysizes"),
              "8 " + std::to_string(info.st_mtim.tv_sec) + " sub\n");
}

TEST_F(Trash, NamesakesGetNumberedNamesAndNoEarlierEntryIsOverwritten)
{
    // An entry of files/ without its info, and an info without its entry, are both taken.
    test::Sandbox::writeFile(homeTrash() + "/files/a.tmp", "orphan");
    test::Sandbox::writeFile(homeTrash() + "/info/a.tmp.2.trashinfo", "stray");
    for (const char* content : {"first", "second"}) {
        test::Sandbox::writeFile(c("a.tmp"), content);
        ASSERT_EQ(request(FO_DELETE, "C:\\a.tmp", CollectionFlags), 0);
    }
    EXPECT_EQ(test::Sandbox::readFile(homeTrash() + "/files/a.tmp"), "orphan");
    EXPECT_EQ(test::Sandbox::readFile(homeTrash() + "/info/a.tmp.2.trashinfo"), "stray");
    EXPECT_FALSE(test::Sandbox::exists(homeTrash() + "/files/a.tmp.2"));
    EXPECT_EQ(test::Sandbox::readFile(homeTrash() + "/files/a.tmp.3"), "first");
    EXPECT_EQ(test::Sandbox::readFile(homeTrash() + "/files/a.tmp.4"), "second");
    EXPECT_TRUE(std::regex_match(test::Sandbox::readFile(homeTrash() + "/info/a.tmp.4.trashinfo"),
                                 std::regex(infoPattern(c("a.tmp")))));
}

// What must never reach the trash: each is reported, stays where it is, and the request
// fails.
TEST_F(Trash, RefusedEntriesAreReportedAndStay)
{
    struct Case
    {
        const char* name;
        std::function<std::string(const std::string& root)> setUp; // the entry's path
        const char* reason;
    };
    std::vector<Case> cases = {
        {"a FIFO, without blocking",
         [](const std::string& root) {
             ::mkfifo((root + "/pipe.tmp").c_str(), 0600);
             return root + "/pipe.tmp";
         },
         "not a file"},
        {"a symbolic link",
         [](const std::string& root) {
             test::Sandbox::writeFile(root + "/target", "x");
             fs::create_symlink(root + "/target", root + "/link.tmp");
             return root + "/link.tmp";
         },
         "symbolic link"},
        {"a folder swapped for a link in a folder everyone may write to",
         [](const std::string& root) {
             test::Sandbox::writeFile(root + "/elsewhere/f.tmp", "x");
             fs::create_directories(root + "/world");
             ::chmod((root + "/world").c_str(), 01777);
             fs::create_symlink(root + "/elsewhere", root + "/world/dir");
             return root + "/world/dir/f.tmp";
         },
         "symbolic link that another user"},
        {"a missing file", [](const std::string& root) { return root + "/missing.tmp"; },
         "cannot find the file"},
    };
    // Chosen as ours, then swapped for another user's file by someone who may write there.
    if (::geteuid() == 0)
        cases.push_back({"another user's file in a folder everyone may write to",
                         [](const std::string& root) {
                             ::chmod(root.c_str(), 01777);
                             test::Sandbox::writeFile(root + "/theirs.tmp", "x");
                             ::chown((root + "/theirs.tmp").c_str(), OtherUser, OtherUser);
                             return root + "/theirs.tmp";
                         },
                         "belongs to another user"});
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const std::string root = c(testCase.name);
        fs::create_directories(root);
        const std::string path = testCase.setUp(root);
        dialogs.errors.clear();
        const std::string windows = toWindowsPath(path);
        EXPECT_NE(request(FO_DELETE, windows, CollectionFlags), 0);
        ASSERT_EQ(dialogs.errors.size(), 1u);
        EXPECT_EQ(dialogs.errors[0].title, "Error Deleting File");
        EXPECT_NE(dialogs.errors[0].text.find("Could not move " + windows + " to the trash: "),
                  std::string::npos)
            << dialogs.errors[0].text;
        EXPECT_NE(dialogs.errors[0].text.find(testCase.reason), std::string::npos)
            << dialogs.errors[0].text;
        EXPECT_EQ(test::Sandbox::exists(path), std::string(testCase.name) != "a missing file");
    }
    EXPECT_FALSE(test::Sandbox::exists(homeTrash() + "/files") &&
                 !fs::is_empty(homeTrash() + "/files"));
    EXPECT_TRUE(!test::Sandbox::exists(homeTrash() + "/info") ||
                fs::is_empty(homeTrash() + "/info"));
}

// The home trash stays open between moves; what happens to it meanwhile is seen by the next.
TEST_F(Trash, AHomeTrashChangedBetweenMovesIsCheckedAfresh)
{
    struct Case
    {
        const char* name;
        std::function<void(const std::string& trash)> change;
        const char* refusal; // empty when the second file goes to the trash folder now there
    };
    const Case cases[] = {
        {"removed", [](const std::string& trash) { fs::remove_all(trash); }, ""},
        {"info/ replaced by a new folder",
         [](const std::string& trash) {
             fs::rename(trash + "/info", trash + "/old-info");
             fs::create_directories(trash + "/info");
         },
         ""},
        {"files/ replaced by a link",
         [](const std::string& trash) {
             fs::rename(trash + "/files", trash + "/elsewhere");
             fs::create_symlink("elsewhere", trash + "/files");
         },
         "it is no folder"},
        {"given to another user",
         [](const std::string& trash) { ::chown(trash.c_str(), OtherUser, OtherUser); },
         "it belongs to another user"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        fs::remove_all(homeTrash());
        test::Sandbox::writeFile(c("first.tmp"), "1");
        test::Sandbox::writeFile(c("second.tmp"), "2");
        ASSERT_EQ(request(FO_DELETE, "C:\\first.tmp", CollectionFlags), 0);
        testCase.change(homeTrash());
        dialogs.errors.clear();
        const int result = request(FO_DELETE, "C:\\second.tmp", CollectionFlags);
        if (*testCase.refusal) {
            EXPECT_NE(result, 0);
            ASSERT_EQ(dialogs.errors.size(), 1u);
            EXPECT_NE(dialogs.errors[0].text.find(testCase.refusal), std::string::npos)
                << dialogs.errors[0].text;
            EXPECT_EQ(test::Sandbox::readFile(c("second.tmp")), "2");
            EXPECT_FALSE(test::Sandbox::exists(homeTrash() + "/elsewhere/second.tmp"));
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(dialogs.errors.empty());
            EXPECT_EQ(test::Sandbox::readFile(homeTrash() + "/files/second.tmp"), "2");
            EXPECT_TRUE(std::regex_match(
                test::Sandbox::readFile(homeTrash() + "/info/second.tmp.trashinfo"),
                std::regex(infoPattern(c("second.tmp")))));
        }
        ::chown(homeTrash().c_str(), ::geteuid(), ::getegid());
    }
}

// A run keeps its folders, its trash and its last look: what goes is the file it looked at,
// where it is now, or nothing; a trash removed meanwhile is made again.
TEST_F(Trash, ARunMovesOnlyWhatItLookedAtWhereItIsNow)
{
    struct Case
    {
        const char* name;
        bool lookedAt;                // the second file looked at before the change
        std::function<void()> change; // after the first file moved
        const char* trashed;          // what goes to the trash as second.tmp; null for nothing
        std::string stays;            // where the second file is then, with "2" or `now`
        const char* now = "2";
    };
    const Case cases[] = {
        {"the trash removed", true, [this] { fs::remove_all(homeTrash()); }, "2", {}},
        {"its folder renamed and made again", true,
         [this] {
             fs::rename(c("dir"), c("old-dir"));
             test::Sandbox::writeFile(c("dir/second.tmp"), "made again");
         },
         "2", c("dir/second.tmp"), "made again"},
        {"the file replaced", true,
         [this] {
             test::Sandbox::writeFile(c("dir/new"), "replaced");
             fs::rename(c("dir/new"), c("dir/second.tmp"));
         },
         nullptr, c("dir/second.tmp"), "replaced"},
        {"its folder moved into the trash", false,
         [this] { fs::rename(c("dir"), homeTrash() + "/files/dir"); }, nullptr,
         homeTrash() + "/files/dir/second.tmp"},
        {"its folder renamed", false, [this] { fs::rename(c("dir"), c("old-dir")); }, nullptr,
         c("old-dir/second.tmp")},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        fs::remove_all(homeTrash());
        fs::remove_all(c("dir"));
        fs::remove_all(c("old-dir"));
        test::Sandbox::writeFile(c("dir/first.tmp"), "1");
        test::Sandbox::writeFile(c("dir/second.tmp"), "2");
        const KeptWalk walk;
        ASSERT_TRUE(isCollectable("C:\\dir\\first.tmp"));
        ASSERT_FALSE(moveToTrash(c("dir/first.tmp")));
        if (testCase.lookedAt) {
            ASSERT_TRUE(isCollectable("C:\\dir\\second.tmp"));
        }
        testCase.change();
        // As the run asks: what is no rubbish any more is not handed to the trash.
        const bool handed = testCase.lookedAt || isCollectable("C:\\dir\\second.tmp");
        const auto failure = handed ? moveToTrash(c("dir/second.tmp")) : std::nullopt;
        if (testCase.trashed) {
            EXPECT_FALSE(failure) << failure->reason;
            EXPECT_EQ(test::Sandbox::readFile(homeTrash() + "/files/second.tmp"), testCase.trashed);
            EXPECT_TRUE(std::regex_match(
                test::Sandbox::readFile(homeTrash() + "/info/second.tmp.trashinfo"),
                std::regex(infoPattern(c("dir/second.tmp")))));
        } else {
            ASSERT_TRUE(failure || !handed);
            if (testCase.lookedAt) {
                EXPECT_EQ(failure->reason, "The file was replaced while it was being moved.");
            }
            EXPECT_FALSE(test::Sandbox::exists(homeTrash() + "/files/second.tmp"));
            EXPECT_FALSE(test::Sandbox::exists(homeTrash() + "/info/second.tmp.trashinfo"));
        }
        if (!testCase.stays.empty()) {
            EXPECT_EQ(test::Sandbox::readFile(testCase.stays), testCase.now);
        }
    }
}

// A trash renamed during a run takes nothing more: the next move goes to the trash at its
// name, made again.
TEST_F(Trash, ATrashRenamedDuringARunTakesNothingMore)
{
    test::Sandbox::writeFile(c("dir/first.tmp"), "1");
    test::Sandbox::writeFile(c("dir/second.tmp"), "2");
    const KeptWalk walk;
    ASSERT_FALSE(moveToTrash(c("dir/first.tmp")));
    fs::rename(homeTrash(), homeTrash() + ".old");
    const auto failure = moveToTrash(c("dir/second.tmp"));
    EXPECT_FALSE(failure) << failure->reason;
    EXPECT_TRUE(test::Sandbox::exists(homeTrash() + "/files/second.tmp"));
    EXPECT_FALSE(test::Sandbox::exists(homeTrash() + ".old/files/second.tmp"));
}

// Another file put in the entry's place just before the rename that moves it goes back:
// the move is traced and held at the entry of its rename while the swap is made.
TEST_F(Trash, AFileSwappedInJustBeforeTheMoveGoesBack)
{
    test::Sandbox::writeFile(c("swap/entry.tmp"), "chosen");
    test::Sandbox::writeFile(c("swap/other"), "swapped in");
    bool swapped = false;
    const int status = traceMove([&] { return moveToTrash(c("swap/entry.tmp")) ? 0 : 1; },
                                 [](long call) { return call == SYS_renameat2; },
                                 [&] {
                                     ::renameat2(AT_FDCWD, c("swap/other").c_str(), AT_FDCWD,
                                                 c("swap/entry.tmp").c_str(), RENAME_EXCHANGE);
                                     swapped = true;
                                 });
    ASSERT_TRUE(swapped);
    EXPECT_EQ(status, 0) << "the move was reported as done";
    EXPECT_EQ(test::Sandbox::readFile(c("swap/entry.tmp")), "swapped in");
    EXPECT_EQ(test::Sandbox::readFile(c("swap/other")), "chosen");
    EXPECT_TRUE(fs::is_empty(homeTrash() + "/files"));
    EXPECT_TRUE(fs::is_empty(homeTrash() + "/info"));
}

TEST_F(Trash, ALinkInAFolderOnlyWeMayWriteToIsFollowed)
{
    test::Sandbox::writeFile(c("real/f.tmp"), "x");
    ::chmod(c("real").c_str(), 0755);
    ::chmod(sandbox.driveC().c_str(), 0755);
    fs::create_symlink("real", c("alias"));
    EXPECT_EQ(request(FO_DELETE, "C:\\alias\\f.tmp", CollectionFlags), 0);
    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_TRUE(std::regex_match(test::Sandbox::readFile(homeTrash() + "/info/f.tmp.trashinfo"),
                                 std::regex(infoPattern(c("real/f.tmp")))));
}

TEST_F(Trash, AFileAnotherProgramHoldsOpenIsInUseAndStays)
{
    test::Sandbox::writeFile(c("held.tmp"), "busy");
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(c("held.tmp").c_str(), O_RDONLY);
        ::dup2(fd, 0);
        ::execlp("sleep", "sleep", "30", nullptr);
        ::_exit(127);
    }
    // Until the child has the file open, a lease is still granted.
    for (int k = 0;
         k < 500 &&
         shell("ls -l /proc/" + std::to_string(child) + "/fd/0 2>/dev/null").find("held.tmp") ==
             std::string::npos;
         ++k)
        ::usleep(10000);

    EXPECT_NE(request(FO_DELETE, "C:\\held.tmp", CollectionFlags), 0);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_EQ(dialogs.errors[0].text,
              "Could not move C:\\held.tmp to the trash: The file is in use "
              "by another program.");
    EXPECT_EQ(test::Sandbox::readFile(c("held.tmp")), "busy");
    EXPECT_TRUE(fs::is_empty(homeTrash() + "/info"));
}

TEST_F(Trash, ALeaseBrokenWhileHeldDoesNotEndTheProgram)
{
    test::Sandbox::writeFile(c("leased"), "x");
    const int fd = ::open(c("leased").c_str(), O_RDONLY | O_CLOEXEC);
    std::optional<FileLease> lease(std::in_place, fd);
    ASSERT_TRUE(lease->held());
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::open(c("leased").c_str(), O_RDONLY) >= 0 ? 0 : 1);
    EXPECT_TRUE(leaseBreakShown());
    lease.reset();
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(fd);
}

TEST_F(TopdirTrash, TheTrashOfAnotherFilesystemIsChosenAndChecked)
{
    const std::string uid = std::to_string(::geteuid());
    struct Case
    {
        const char* name;
        std::function<void(const std::string& top)> setUp;
        const char* trash; // relative to the top; empty when refused
    };
    const Case cases[] = {
        {"no trash yet", [](const std::string&) {}, ".Trash-0"},
        {"a shared .Trash with the sticky bit",
         [](const std::string& top) {
             fs::create_directories(top + "/.Trash");
             ::chmod((top + "/.Trash").c_str(), 01777);
         },
         ".Trash/0"},
        {"a shared .Trash without the sticky bit",
         [](const std::string& top) {
             fs::create_directories(top + "/.Trash");
             ::chmod((top + "/.Trash").c_str(), 0777);
         },
         ".Trash-0"},
        {"a shared .Trash that is a link",
         [](const std::string& top) {
             fs::create_directories(top + "/sticky");
             ::chmod((top + "/sticky").c_str(), 01777);
             fs::create_symlink("sticky", top + "/.Trash");
         },
         ".Trash-0"},
        {"a .Trash-$uid of another user",
         [](const std::string& top) {
             fs::create_directories(top + "/.Trash-0/files");
             ::chown((top + "/.Trash-0").c_str(), OtherUser, OtherUser);
         },
         ""},
        {"a .Trash-$uid that is a link",
         [](const std::string& top) {
             fs::create_directories(top + "/mine");
             fs::create_symlink("mine", top + "/.Trash-0");
         },
         ""},
    };
    ASSERT_EQ(uid, "0") << "the cases name the trash of root";
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        for (const auto& entry : fs::directory_iterator(top))
            fs::remove_all(entry.path());
        testCase.setUp(top);
        test::Sandbox::writeFile(d("sub/x.tmp"), "on D");
        dialogs.errors.clear();
        const int result = request(FO_DELETE, "D:\\sub\\x.tmp", CollectionFlags);
        if (*testCase.trash) {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(dialogs.errors.empty());
            const std::string trash = d(testCase.trash);
            EXPECT_EQ(test::Sandbox::readFile(trash + "/files/x.tmp"), "on D");
            EXPECT_TRUE(std::regex_match(test::Sandbox::readFile(trash + "/info/x.tmp.trashinfo"),
                                         std::regex(infoPattern("sub/x.tmp"))));
            EXPECT_EQ(modeOf(trash), 0700u);
        } else {
            EXPECT_NE(result, 0);
            ASSERT_EQ(dialogs.errors.size(), 1u);
            EXPECT_EQ(dialogs.errors[0].text.rfind(
                          "Could not move D:\\sub\\x.tmp to the trash: The Recycle Bin "
                          "folder D:\\.Trash-0 cannot be used: ",
                          0),
                      0u)
                << dialogs.errors[0].text;
            EXPECT_EQ(test::Sandbox::readFile(d("sub/x.tmp")), "on D");
        }
        EXPECT_FALSE(test::Sandbox::exists(homeTrash()));
    }
    // Refused trash folders were left exactly as they were.
    struct stat status = {};
    ASSERT_EQ(::lstat(d(".Trash-0").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
}

TEST_F(TopdirTrash, TrashToolsListAndRestoreWhatWasTrashed)
{
    test::Sandbox::writeFile(c("home file.tmp"), std::string(100000, 'h'));
    test::Sandbox::writeFile(d("dir/mounted.tmp"), "bytes on D\n");
    ASSERT_EQ(request(FO_DELETE, "C:\\home file.tmp\0D:\\dir\\mounted.tmp"s, CollectionFlags), 0);
    ASSERT_FALSE(test::Sandbox::exists(c("home file.tmp")));
    ASSERT_FALSE(test::Sandbox::exists(d("dir/mounted.tmp")));

    const std::string listed = shell("trash-list 2>&1");
    EXPECT_NE(listed.find(c("home file.tmp")), std::string::npos) << listed;
    EXPECT_NE(listed.find(d("dir/mounted.tmp")), std::string::npos) << listed;

    for (const auto& path : {c("home file.tmp"), d("dir/mounted.tmp")}) {
        SCOPED_TRACE(path);
        const std::string folder = path.substr(0, path.rfind('/'));
        shell("cd '" + folder + "' && echo 0 | trash-restore '" + path + "' 2>&1");
    }
    EXPECT_EQ(test::Sandbox::readFile(c("home file.tmp")), std::string(100000, 'h'));
    EXPECT_EQ(test::Sandbox::readFile(d("dir/mounted.tmp")), "bytes on D\n");
    EXPECT_TRUE(fs::is_empty(homeTrash() + "/files"));
    EXPECT_TRUE(fs::is_empty(d(".Trash-0/files")));
}

TEST_F(TopdirTrash, TheCollectionTakesNothingInATrashOrOfAnotherUser)
{
    test::Sandbox::writeFile(c("mine.tmp"), "x");
    test::Sandbox::writeFile(c("theirs.tmp"), "x");
    ::chown(c("theirs.tmp").c_str(), OtherUser, OtherUser);
    test::Sandbox::writeFile(homeTrash() + "/files/old.tmp", "x");
    test::Sandbox::writeFile(d(".Trash-0/files/old.tmp"), "x");
    test::Sandbox::writeFile(d(".Trash/0/files/old.tmp"), "x");
    test::Sandbox::writeFile(d("sub/.Trash-0/kept.tmp"), "x");
    const struct
    {
        const char* path;
        bool collectable;
    } files[] = {
        {"C:\\mine.tmp", true},
        {"C:\\theirs.tmp", false},
        {"D:\\.Trash-0\\files\\old.tmp", false},
        {"D:\\.Trash\\0\\files\\old.tmp", false},
        {"D:\\sub\\.Trash-0\\kept.tmp", true},
        // Gone since it was found: the shell says so, and the run counts it.
        {"C:\\missing.tmp", true},
    };
    // The home trash seen through a bind mount of the folder that holds it is the same
    // trash; a run decides as each file alone is decided.
    fs::create_directories(c("seen"));
    ASSERT_EQ(::mount(sandbox.dataHome().c_str(), c("seen").c_str(), nullptr, MS_BIND, nullptr), 0);
    struct Unmount
    {
        std::string at;
        ~Unmount() { ::umount(at.c_str()); }
    } unmount{c("seen")};
    for (const bool inRun : {false, true}) {
        std::optional<KeptWalk> walk;
        if (inRun)
            walk.emplace();
        for (const auto& file : files)
            EXPECT_EQ(isCollectable(file.path), file.collectable) << file.path << " " << inRun;
        EXPECT_FALSE(isCollectable(toWindowsPath(homeTrash() + "/files/old.tmp"))) << inRun;
        EXPECT_FALSE(isCollectable("C:\\seen\\Trash\\files\\old.tmp")) << inRun;
    }

    const struct
    {
        std::string folder;
        bool holds;
    } folders[] = {
        {toWindowsPath(sandbox.home()), true},
        {toWindowsPath(sandbox.dataHome()), true},
        {toWindowsPath(homeTrash() + "/files"), true},
        {"C:\\", false},
        // Its own topdir trash is left out by the search, not a reason to refuse the drive.
        {"D:\\", false},
        {"D:\\sub", false},
        {"D:\\.Trash-0\\files", true},
    };
    for (const auto& folder : folders)
        EXPECT_EQ(holdsTrash(folder.folder), folder.holds) << folder.folder;
}

TEST_F(MemoryTrash, AFileInMemoryIsCopiedWholeToTheHomeTrashWithItsHolesModeAndTime)
{
    const std::string plain = binaryText(70000);
    test::Sandbox::writeFile(d("dir/plain.tmp"), plain);
    ::chmod(d("dir/plain.tmp").c_str(), 0640);
    // Data, a hole of 64 MiB, data again.
    const int sparse = ::open(d("dir/sparse.tmp").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(sparse, 0);
    ASSERT_EQ(::pwrite(sparse, plain.data(), 4096, 0), 4096);
    ASSERT_EQ(::pwrite(sparse, plain.data(), 4096, 64 << 20), 4096);
    ::close(sparse);
    const timespec old[2] = {{1000000000, 0}, {1200000000, 123456789}};
    for (const char* name : {"dir/plain.tmp", "dir/sparse.tmp"})
        ASSERT_EQ(::utimensat(AT_FDCWD, d(name).c_str(), old, 0), 0);
    fs::create_directories(d("folder/inner"));

    EXPECT_EQ(request(FO_DELETE, "D:\\dir\\plain.tmp\0D:\\dir\\sparse.tmp"s, CollectionFlags), 0);
    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_FALSE(test::Sandbox::exists(d("dir/plain.tmp")));
    EXPECT_FALSE(test::Sandbox::exists(d("dir/sparse.tmp")));
    const std::string files = homeTrash() + "/files/";
    EXPECT_EQ(test::Sandbox::readFile(files + "plain.tmp"), plain);
    EXPECT_EQ(modeOf(files + "plain.tmp"), 0640u);
    EXPECT_EQ(mtimeOf(files + "sparse.tmp").tv_sec, 1200000000);
    EXPECT_EQ(mtimeOf(files + "sparse.tmp").tv_nsec, 123456789);
    struct stat copied = {};
    ASSERT_EQ(::stat((files + "sparse.tmp").c_str(), &copied), 0);
    EXPECT_EQ(copied.st_size, (64 << 20) + 4096);
    EXPECT_LT(copied.st_blocks * 512, 1 << 20) << "the hole was written out";
    const std::string sparseText = test::Sandbox::readFile(files + "sparse.tmp");
    EXPECT_EQ(sparseText.substr(0, 4096), plain.substr(0, 4096));
    EXPECT_EQ(sparseText.substr(64 << 20), plain.substr(0, 4096));
    EXPECT_EQ(sparseText.substr(4096, (64 << 20) - 4096), std::string((64 << 20) - 4096, '\0'));
    EXPECT_TRUE(std::regex_match(test::Sandbox::readFile(homeTrash() + "/info/plain.tmp.trashinfo"),
                                 std::regex(infoPattern(d("dir/plain.tmp")))));
    EXPECT_FALSE(test::Sandbox::exists(d(".Trash-0")));
    EXPECT_TRUE(leftovers().empty());

    // A folder is never copied; it stays, with the reason.
    EXPECT_NE(request(FO_DELETE, "D:\\folder", CollectionFlags), 0);
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_NE(dialogs.errors[0].text.find("A folder in memory is not copied"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(d("folder/inner")));
}

// Each stays whole where it was, nothing of it in the trash, with the reason.
TEST_F(MemoryTrash, AFileThatMustNotOrCannotBeCopiedStays)
{
    struct Case
    {
        const char* name;
        std::function<std::string()> setUp; // the file's path
        const char* reason;
    };
    const Case cases[] = {
        {"in the session's runtime folder",
         [this] {
             fs::create_directories(d("run/user"));
             sandbox.setEnv("XDG_RUNTIME_DIR", d("run/user"));
             test::Sandbox::writeFile(d("run/user/socket.tmp"), "runtime");
             return d("run/user/socket.tmp");
         },
         "kept in memory on purpose"},
        {"a termination came",
         [this] {
             noteTerminationSignal();
             test::Sandbox::writeFile(d("stopped.tmp"), binaryText(3 << 20));
             return d("stopped.tmp");
         },
         "cancelled"},
        // Last: the home trash stays on that small disk.
        {"the home trash's disk would keep too little room",
         [this] {
             const std::string data = sandbox.root() + "/small-data";
             fs::create_directories(data);
             EXPECT_EQ(::mount("vorlax-small", data.c_str(), "tmpfs", 0, "size=64m"), 0);
             extraMounts.push_back(data);
             sandbox.setEnv("XDG_DATA_HOME", data);
             test::Sandbox::writeFile(d("big.tmp"), std::string(100000, 'b'));
             return d("big.tmp");
         },
         "There is not enough space on the disk."},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const std::string path = testCase.setUp();
        const std::string content = test::Sandbox::readFile(path);
        dialogs.errors.clear();
        EXPECT_NE(request(FO_DELETE, toWindowsPath(path), CollectionFlags), 0);
        resetTerminationSignal();
        ASSERT_EQ(dialogs.errors.size(), 1u);
        EXPECT_NE(dialogs.errors[0].text.find(testCase.reason), std::string::npos)
            << dialogs.errors[0].text;
        EXPECT_EQ(test::Sandbox::readFile(path), content);
        EXPECT_TRUE(!test::Sandbox::exists(homeTrash() + "/files") ||
                    fs::is_empty(homeTrash() + "/files"));
        EXPECT_TRUE(leftovers().empty());
    }
    // The collection passes over what lies in memory on purpose, without a word.
    EXPECT_FALSE(isCollectable(toWindowsPath(d("run/user/socket.tmp"))));
    EXPECT_TRUE(isCollectable(toWindowsPath(d("big.tmp"))));
}

// Someone opens the file while it is being copied: the copy stops, its temporary goes and
// the original stays. The move is traced and held at its first write of the copy while
// another process opens the file, until the kernel shows the lease breaking.
TEST_F(MemoryTrash, ALeaseBrokenDuringTheCopyStopsItAndTheOriginalStays)
{
    const std::string content = binaryText(16 << 20);
    test::Sandbox::writeFile(d("opened.tmp"), content);
    pid_t opener = -1;
    const int status = traceMove(
        [&] {
            const auto failure = moveToTrash(d("opened.tmp"));
            return failure && failure->error == EAGAIN ? 0 : 1;
        },
        [](long call) { return call == SYS_pwrite64 || call == SYS_copy_file_range; },
        [&] {
            opener = ::fork();
            if (opener == 0)
                ::_exit(::open(d("opened.tmp").c_str(), O_RDONLY) >= 0 ? 0 : 1);
            EXPECT_TRUE(leaseBreakShown());
        });
    ASSERT_GT(opener, 0) << "the copy wrote nothing";
    EXPECT_EQ(status, 0) << "the move was not refused as in use";
    int opened = 0;
    ::waitpid(opener, &opened, 0);
    EXPECT_TRUE(WIFEXITED(opened) && WEXITSTATUS(opened) == 0);
    EXPECT_EQ(test::Sandbox::readFile(d("opened.tmp")), content);
    EXPECT_TRUE(fs::is_empty(homeTrash() + "/files"));
    EXPECT_TRUE(fs::is_empty(homeTrash() + "/info"));
    EXPECT_TRUE(leftovers().empty());
}

// What a killed copy left: its temporary, and the information of an entry that never
// arrived, go; an entry that arrived, a stray information of someone else and the
// temporary of a copy still running stay.
TEST_F(MemoryTrash, WhatKilledCopiesLeftIsRemovedAndNothingElse)
{
    const std::string trash = homeTrash();
    const std::string prefix(CopyTemporaryPrefix);
    test::Sandbox::writeFile(trash + "/" + prefix + "lost.tmp", "part");
    test::Sandbox::writeFile(trash + "/info/lost.tmp.trashinfo", "[Trash Info]\n");
    test::Sandbox::writeFile(trash + "/" + prefix + "arrived.tmp", "part");
    test::Sandbox::writeFile(trash + "/files/arrived.tmp", "whole");
    test::Sandbox::writeFile(trash + "/info/arrived.tmp.trashinfo", "[Trash Info]\n");
    test::Sandbox::writeFile(trash + "/info/stray.tmp.trashinfo", "stray");
    test::Sandbox::writeFile(trash + "/" + prefix + "running.tmp", "part");
    test::Sandbox::writeFile(trash + "/info/running.tmp.trashinfo", "[Trash Info]\n");
    const int running = ::open((trash + "/" + prefix + "running.tmp").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(running, LOCK_EX), 0);

    removeInterruptedCopies();
    ::close(running);
    EXPECT_FALSE(test::Sandbox::exists(trash + "/" + prefix + "lost.tmp"));
    EXPECT_FALSE(test::Sandbox::exists(trash + "/info/lost.tmp.trashinfo"));
    EXPECT_FALSE(test::Sandbox::exists(trash + "/" + prefix + "arrived.tmp"));
    EXPECT_EQ(test::Sandbox::readFile(trash + "/files/arrived.tmp"), "whole");
    EXPECT_TRUE(test::Sandbox::exists(trash + "/info/arrived.tmp.trashinfo"));
    EXPECT_EQ(test::Sandbox::readFile(trash + "/info/stray.tmp.trashinfo"), "stray");
    EXPECT_TRUE(test::Sandbox::exists(trash + "/" + prefix + "running.tmp"));
    EXPECT_TRUE(test::Sandbox::exists(trash + "/info/running.tmp.trashinfo"));
}

// A user who may not write at the top of a disk, with no trash there: the home trash takes
// a copy. A trash there that fails its checks stays a refusal.
TEST_F(TopdirTrash, ADiskWithoutATrashForTheUserCopiesToTheHomeTrash)
{
    const std::string userHome = sandbox.root() + "/user-data";
    for (const std::string& folder : {userHome, d("sub")}) {
        fs::create_directories(folder);
        ASSERT_EQ(::chown(folder.c_str(), OtherUser, OtherUser), 0);
    }
    for (const char* name : {"sub/copied.tmp", "sub/refused.tmp"}) {
        test::Sandbox::writeFile(d(name), name);
        ASSERT_EQ(::chown(d(name).c_str(), OtherUser, OtherUser), 0);
    }
    sandbox.setEnv("XDG_DATA_HOME", userHome);
    // The user must reach the disk through the sandbox's folders.
    for (std::string folder = sandbox.root(); folder.size() > 5; folder = parentOf(folder))
        ::chmod(folder.c_str(), modeOf(folder) | 0111);
    const auto asUser = [this](const std::string& path) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setresgid(OtherUser, OtherUser, OtherUser) != 0 ||
                ::setresuid(OtherUser, OtherUser, OtherUser) != 0)
                ::_exit(2);
            const auto failure = moveToTrash(path);
            ::_exit(!failure                                                          ? 0
                    : failure->reason.find("Recycle Bin folder") != std::string::npos ? 3
                                                                                      : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(asUser(d("sub/copied.tmp")), 0);
    EXPECT_FALSE(test::Sandbox::exists(d("sub/copied.tmp")));
    EXPECT_EQ(test::Sandbox::readFile(userHome + "/Trash/files/copied.tmp"), "sub/copied.tmp");

    fs::create_symlink("sub", d(".Trash-" + std::to_string(OtherUser)));
    EXPECT_EQ(asUser(d("sub/refused.tmp")), 3);
    EXPECT_EQ(test::Sandbox::readFile(d("sub/refused.tmp")), "sub/refused.tmp");
    EXPECT_FALSE(test::Sandbox::exists(userHome + "/Trash/files/refused.tmp"));
}
