#include "platform/core/Descriptor.h"
#include "platform/processes/CommandLine.h"
#include "platform/processes/Processes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

extern char** environ;

namespace platform {

namespace {

// waitid's selector for a process descriptor; older C libraries do not name it.
constexpr idtype_t byPidfd = static_cast<idtype_t>(3);
constexpr char defaultSearchPath[] = "/usr/local/bin:/usr/bin:/bin";

std::uint32_t errorOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
        return ERROR_FILE_NOT_FOUND;
    case ENOEXEC:
    case ELIBBAD:
    case EINVAL:
        return ERROR_BAD_FORMAT;
    case ENOMEM:
    case EAGAIN:
        return ERROR_NOT_ENOUGH_MEMORY;
    case E2BIG:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// Priority classes as nice values. The normal class keeps ours, so a run started under
// nice starts its programs as nice; raising needs privilege, and without it the program
// runs at our own value rather than not at all.
std::optional<int> niceValueOf(std::uint32_t creationFlags)
{
    if (creationFlags & REALTIME_PRIORITY_CLASS)
        return -10;
    if (creationFlags & HIGH_PRIORITY_CLASS)
        return -5;
    if (creationFlags & IDLE_PRIORITY_CLASS)
        return 19;
    return std::nullopt;
}

// Runs in the new process between fork and exec: async-signal-safe calls only.
[[noreturn]] void startChild(const char* path, char* const* argv, std::optional<int> nice,
                             int descriptorLimit, int errorPipe)
{
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        ::sigaction(signal, &byDefault, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // A group of its own: Ctrl+C in our terminal ends us in order, and the program we
    // started goes on, as it does when we end for any other reason.
    ::setpgid(0, 0);
    if (nice)
        ::setpriority(PRIO_PROCESS, 0, *nice);

    int error = 0;
    const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (input < 0)
        error = errno;
    else if (input == 0)
        ::fcntl(0, F_SETFD, 0);
    else if (::dup2(input, 0) < 0)
        error = errno;
    else
        ::close(input);
    if (error == 0) {
        // Nothing of ours beyond the standard three reaches the program, whoever opened it
        // without close-on-exec.
        if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
            for (int fd = 3; fd < descriptorLimit; ++fd)
                if (fd != errorPipe)
                    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        ::execve(path, argv, environ);
        error = errno;
    }
    [[maybe_unused]] ssize_t written = ::write(errorPipe, &error, sizeof error);
    ::_exit(127);
}

// A started process, shared by its process and thread handles. It is reaped when a wait
// sees it end, or, once the last handle is closed, as soon as it ends.
class Child
{
public:
    Child(pid_t pid, OwnedFd pidfd) : m_pid(pid), m_pidfd(std::move(pidfd)) {}
    ~Child() { release(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    int descriptor() const { return m_pidfd.get(); }

    // Whether the process has ended within timeoutMs (-1: no limit).
    bool wait(long long timeoutMs)
    {
        if (m_reaped)
            return true;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0LL));
        for (;;) {
            if (reap(Reap::IfEnded))
                return true;
            long long remaining = -1;
            if (timeoutMs >= 0) {
                remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
                                deadline - std::chrono::steady_clock::now())
                                .count();
                if (remaining <= 0)
                    return false;
            }
            if (m_pidfd.valid()) {
                pollfd entry{m_pidfd.get(), POLLIN, 0};
                const int ready =
                    ::poll(&entry, 1, static_cast<int>(std::min<long long>(remaining, INT_MAX)));
                if (ready < 0 && errno != EINTR)
                    return false;
            } else if (timeoutMs < 0) {
                return reap(Reap::WhenEnded);
            } else {
                // Without a process descriptor (an old kernel) only the pid can be asked.
                ::usleep(static_cast<useconds_t>(std::min<long long>(remaining, 10) * 1000));
            }
        }
    }

    // The service ends with the process: nothing to reap for, the system takes over.
    void abandon()
    {
        m_pidfd.reset();
        m_reaped = true;
    }

private:
    // Now if it has ended, or once it ends.
    enum class Reap { IfEnded, WhenEnded };
    bool reap(Reap when)
    {
        siginfo_t info = {};
        const int options = WEXITED | (when == Reap::WhenEnded ? 0 : WNOHANG);
        const int result =
            retryInterrupted([&] { return waitFor(m_pid, m_pidfd.get(), info, options); });
        // Gone without us (ECHILD) counts as ended; a pid of 0 means still running.
        m_reaped = result < 0 ? errno == ECHILD : info.si_pid != 0;
        return m_reaped;
    }

    void release()
    {
        if (!m_reaped && !reap(Reap::IfEnded)) {
            // Still running and nobody waits any more: a thread of its own reaps it when it
            // ends, so it leaves no zombie behind.
            try {
                std::thread([pid = m_pid, pidfd = std::move(m_pidfd)] {
                    siginfo_t info = {};
                    retryInterrupted([&] { return waitFor(pid, pidfd.get(), info, WEXITED); });
                }).detach();
                return;
            } catch (const std::system_error&) {
                // No thread to spare: the zombie stays until we end.
            }
        }
    }

    // By the process descriptor where there is one: a pid alone may name another process
    // once this one is reaped elsewhere.
    static int waitFor(pid_t pid, int pidfd, siginfo_t& info, int options)
    {
        return pidfd >= 0 ? ::waitid(byPidfd, static_cast<id_t>(pidfd), &info, options)
                          : ::waitid(P_PID, static_cast<id_t>(pid), &info, options);
    }

    pid_t m_pid;
    OwnedFd m_pidfd;
    bool m_reaped = false;
};

class PosixProcesses : public ProcessService
{
public:
    ~PosixProcesses() override
    {
        for (auto& [handle, child] : m_handles) {
            child->abandon();
            delete static_cast<char*>(handle);
        }
    }

    bool createProcess(const std::string& commandLine, std::uint32_t creationFlags,
                       const STARTUPINFOA&, PROCESS_INFORMATION& info) override
    {
        // The show-window value has no effect: nobody can tell another program's windows
        // on X11 how to appear. CREATE_NEW_CONSOLE neither: there is no console to make,
        // and the program shares our standard output and error.
        info = {};
        if (commandLine.find('\0') != std::string::npos)
            return fail(ERROR_INVALID_PARAMETER);
        const std::vector<std::string> arguments = splitCommandLine(commandLine);
        if (arguments.empty())
            return fail(ERROR_FILE_NOT_FOUND);
        std::string program;
        const char* searchPath = std::getenv("PATH");
        if (const std::uint32_t error =
                findProgram(arguments[0], searchPath ? searchPath : defaultSearchPath, program))
            return fail(error);

        std::vector<char*> argv;
        argv.push_back(program.data());
        for (std::size_t i = 1; i < arguments.size(); ++i)
            argv.push_back(const_cast<char*>(arguments[i].c_str()));
        argv.push_back(nullptr);
        rlimit limit = {};
        const int descriptorLimit = ::getrlimit(RLIMIT_NOFILE, &limit) == 0
                                        ? static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536))
                                        : 1024;

        // The new process reports a failed exec through this pipe; a successful one closes
        // it, so a start is never reported for a program that did not run.
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return fail(errorOf(errno));
        OwnedFd errorReader(ends[0]);
        OwnedFd errorWriter(ends[1]);
        const pid_t pid = ::fork();
        if (pid == 0)
            startChild(program.c_str(), argv.data(), niceValueOf(creationFlags), descriptorLimit,
                       errorWriter.get());
        const int forkError = errno;
        errorWriter.reset();
        if (pid < 0)
            return fail(errorOf(forkError));
        int childError = 0;
        const ssize_t got = retryInterrupted(
            [&] { return ::read(errorReader.get(), &childError, sizeof childError); });
        errorReader.reset();
        if (got > 0) {
            retryInterrupted([&] { return ::waitpid(pid, nullptr, 0); });
            return fail(errorOf(childError));
        }

        // The child is ours and not reaped, so its pid cannot be reused before this.
        OwnedFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
        auto child = std::make_shared<Child>(pid, std::move(pidfd));
        // Two distinct handles over one process: the thread handle is there to be closed.
        info.hProcess = addHandle(child);
        info.hThread = addHandle(child);
        info.dwProcessId = static_cast<std::uint32_t>(pid);
        info.dwThreadId = static_cast<std::uint32_t>(pid);
        return true;
    }

    std::uint32_t waitForSingleObject(HANDLE process, std::uint32_t milliseconds) override
    {
        const auto found = m_handles.find(process);
        if (found == m_handles.end()) {
            m_lastError = ERROR_INVALID_HANDLE;
            return WAIT_FAILED;
        }
        const long long timeout = milliseconds == INFINITE ? -1 : milliseconds;
        return found->second->wait(timeout) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }

    int waitDescriptor(HANDLE process) override
    {
        const auto found = m_handles.find(process);
        return found == m_handles.end() ? -1 : found->second->descriptor();
    }

    bool closeHandle(HANDLE handle) override
    {
        const auto found = m_handles.find(handle);
        if (found == m_handles.end())
            return fail(ERROR_INVALID_HANDLE);
        delete static_cast<char*>(handle);
        m_handles.erase(found);
        return true;
    }

    std::uint32_t lastError() override { return m_lastError; }

private:
    bool fail(std::uint32_t error)
    {
        m_lastError = error;
        return false;
    }

    HANDLE addHandle(const std::shared_ptr<Child>& child)
    {
        // A fresh allocation per handle, so no two open handles ever share a value.
        HANDLE handle = new char;
        m_handles.emplace(handle, child);
        return handle;
    }

    std::unordered_map<HANDLE, std::shared_ptr<Child>> m_handles;
    std::uint32_t m_lastError = 0;
};

} // namespace

std::unique_ptr<ProcessService> ProcessService::createDefault()
{
    return std::make_unique<PosixProcesses>();
}

} // namespace platform
