#include "platform/processes/Processes.h"
#include "platform/core/Service.h"
#include "platform/processes/CommandLine.h"
#include "support/Sandbox.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

void writeScript(const std::string& path, const std::string& body, fs::perms mode = fs::perms(0755))
{
    test::Sandbox::writeFile(path, "#!/bin/sh\n" + body);
    fs::permissions(path, mode);
}

// The program in a sandbox folder that waits for its flag file, so a test decides when it
// ends without timing anything.
std::string startWaiter(test::Sandbox& sandbox, const std::string& flag, PROCESS_INFORMATION& info)
{
    const std::string waiter = sandbox.root() + "/bin/waitfor";
    writeScript(waiter, "while [ ! -e \"$1\" ]; do sleep 0.01; done\n");
    EXPECT_TRUE(CreateProcessA(waiter + " " + flag, NORMAL_PRIORITY_CLASS, {}, info));
    return waiter;
}

} // namespace

TEST(CommandLine, SplitsAsWindowsProgramsDo)
{
    struct Case
    {
        const char* line;
        std::vector<std::string> arguments;
    } cases[] = {
        {"SCANDSKW.EXE C:  /n", {"SCANDSKW.EXE", "C:", "/n"}},
        {"prog ", {"prog"}},
        {"  \tprog\ta  b\t", {"prog", "a", "b"}},
        {"", {}},
        {"\"C:\\Program Files\\x.exe\" \"a b\" c", {"C:\\Program Files\\x.exe", "a b", "c"}},
        {"\"C:\\dir\\\"x a", {"C:\\dir\\x", "a"}},    // no escapes in the program name
        {"p a\\\\\\\"b", {"p", "a\\\"b"}},            // 2n+1 backslashes: n and a quote
        {"p a\\\\\"b c\"", {"p", "a\\b c"}},          // 2n: n, and the quote groups
        {"p a\\\\b \\c\\", {"p", "a\\\\b", "\\c\\"}}, // no quote after them: literal
        {"p \"\" x", {"p", "", "x"}},
        {"p a\"b c\"d e", {"p", "ab cd", "e"}},
        {"p \"open", {"p", "open"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(splitCommandLine(c.line), c.arguments) << c.line;
}

TEST(CommandLine, FindsProgramsAsWrittenThenAsInstalledHere)
{
    test::Sandbox sandbox;
    const std::string root = sandbox.root();
    sandbox.setDrives("C:=" + sandbox.driveC() + "@fixed");
    writeScript(root + "/bin/scandskw", "");
    writeScript(root + "/bin/Tool", "");
    writeScript(root + "/bin/tool", "");
    writeScript(root + "/bin/plain", "", fs::perms(0644));
    writeScript(root + "/bin2/plain", "");
    writeScript(root + "/bin3/text", "", fs::perms(0644));
    writeScript(sandbox.driveC() + "/tools/check", "");
    fs::create_directories(root + "/bin/folder");
    // Reached only through relative or empty PATH entries, which never count.
    writeScript(root + "/rel/hidden", "");
    writeScript(root + "/hidden", "");

    struct Case
    {
        std::string name;
        std::string path;
        std::uint32_t error;
        std::string found;
    } cases[] = {
        {"SCANDSKW.EXE", "::" + root + "/bin", 0, root + "/bin/scandskw"},
        {"scandskw.exe", root + "/bin", 0, root + "/bin/scandskw"},
        {"Tool", root + "/bin", 0, root + "/bin/Tool"},
        {"TOOL", root + "/bin", 0, root + "/bin/tool"},
        {"plain", root + "/bin:" + root + "/bin2", 0, root + "/bin2/plain"},
        {"plain", root + "/bin", ERROR_ACCESS_DENIED, ""},
        {"folder", root + "/bin", ERROR_ACCESS_DENIED, ""},
        {"text", root + "/bin3", ERROR_ACCESS_DENIED, ""},
        {"hidden", "rel::.:" + root + "/bin", ERROR_FILE_NOT_FOUND, ""},
        {"missing", root + "/bin", ERROR_FILE_NOT_FOUND, ""},
        {"C:\\tools\\CHECK.EXE", "", 0, sandbox.driveC() + "/tools/check"},
        {"C:/tools/check", "", 0, sandbox.driveC() + "/tools/check"},
        {"Q:\\tools\\check", "", ERROR_FILE_NOT_FOUND, ""},
        {root + "/bin/tool", "", 0, root + "/bin/tool"},
        {"rel\\hidden", "", 0, "rel/hidden"},
        {"", root + "/bin", ERROR_FILE_NOT_FOUND, ""},
    };
    const auto previous = fs::current_path();
    fs::current_path(root);
    for (const Case& c : cases) {
        std::string found;
        EXPECT_EQ(findProgram(c.name, c.path, found), c.error) << c.name << " in " << c.path;
        if (c.error == 0) {
            EXPECT_EQ(found, c.found) << c.name;
        }
    }
    fs::current_path(previous);
}

TEST(Processes, TheDiskCheckerStartsAloneWithNothingOfOurs)
{
    test::Sandbox sandbox;
    // A descriptor somebody opened without close-on-exec.
    const int opened = ::open("/dev/null", O_RDONLY);
    const int leaked = ::fcntl(opened, F_DUPFD, 50);
    ::close(opened);
    ASSERT_GE(leaked, 50);
    const std::string report = sandbox.root() + "/report";
    // Reading standard input ends at once on /dev/null; anything else would hang here.
    writeScript(sandbox.root() + "/bin/scandskw",
                "exec > " + report + "\nfor a; do echo \"[$a]\"; done\n" +
                    "readlink /proc/$$/fd/0\ncat\n" + "ls /proc/$$/fd/" + std::to_string(leaked) +
                    " 2>/dev/null\n" + "cut -d' ' -f5,19 /proc/$$/stat\n");
    sandbox.setEnv("PATH", sandbox.root() + "/bin:/usr/bin:/bin");

    PROCESS_INFORMATION info;
    ASSERT_TRUE(
        CreateProcessA("SCANDSKW.EXE C:  /n", IDLE_PRIORITY_CLASS | CREATE_NEW_CONSOLE, {}, info));
    ::close(leaked);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_TRUE(CloseHandle(info.hThread));

    // Its own process group (the pid) and the idle nice value.
    EXPECT_EQ(test::Sandbox::readFile(report),
              "[C:]\n[/n]\n/dev/null\n" + std::to_string(info.dwProcessId) + " 19\n");
}

TEST(Processes, WaitsSeeTheEndAndLeaveNoZombie)
{
    test::Sandbox sandbox;
    const std::string flag = sandbox.root() + "/flag";
    PROCESS_INFORMATION info;
    startWaiter(sandbox, flag, info);
    ASSERT_NE(info.hProcess, nullptr);
    EXPECT_NE(info.hThread, info.hProcess);
    const pid_t pid = static_cast<pid_t>(info.dwProcessId);

    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20), WAIT_TIMEOUT);
    const int descriptor = Service<ProcessService>::instance().waitDescriptor(info.hProcess);
    ASSERT_GE(descriptor, 0);
    EXPECT_EQ(::fcntl(descriptor, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);

    test::Sandbox::writeFile(flag, "");
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_OBJECT_0);
    // Reaped already: nothing of it is left for anyone to wait for.
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    EXPECT_TRUE(CloseHandle(info.hThread));
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_FALSE(CloseHandle(info.hProcess));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_FAILED);
}

TEST(Processes, AStartThatFailsStartsNothing)
{
    test::Sandbox sandbox;
    const std::string bin = sandbox.root() + "/bin";
    writeScript(bin + "/plain", "", fs::perms(0644));
    // Marked executable but no program: the exec fails after the fork.
    test::Sandbox::writeFile(bin + "/garbage", "not a program\n");
    fs::permissions(bin + "/garbage", fs::perms(0755));
    sandbox.setEnv("PATH", bin);

    struct Case
    {
        std::string commandLine;
        std::uint32_t error;
    } cases[] = {
        {"no-such-program /n", ERROR_FILE_NOT_FOUND},
        {" ", ERROR_FILE_NOT_FOUND},
        {"plain", ERROR_ACCESS_DENIED},
        {"garbage x", ERROR_BAD_FORMAT},
        {std::string("garbage\0x", 9), ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        PROCESS_INFORMATION info;
        info.dwProcessId = 1;
        EXPECT_FALSE(CreateProcessA(c.commandLine, NORMAL_PRIORITY_CLASS, {}, info))
            << c.commandLine;
        EXPECT_EQ(GetLastError(), c.error) << c.commandLine;
        EXPECT_EQ(info.hProcess, nullptr);
        EXPECT_EQ(info.dwProcessId, 0u);
    }
}
