#include "runtime/Application.h"

#include "runtime/FolderBrowser.h"
#include "runtime/MessageBoxes.h"
#include "runtime/OwnWindows.h"
#include "runtime/ShellDialogs.h"

#include "platform/core/Termination.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace runtime {

namespace {

bool& terminationRequested()
{
    static bool requested = false;
    return requested;
}

std::function<void()>& signalHandler()
{
    static std::function<void()> handler;
    return handler;
}

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    // Only async-signal-safe work here: the loop picks the byte up.
    const int savedErrno = errno;
    platform::noteTerminationSignal();
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void installSignalHandlers()
{
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char buffer[16];
        while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        if (signalHandler())
            guarded(signalHandler());
        else
            terminate();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

std::function<void()>& exitHook()
{
    static std::function<void()> hook;
    return hook;
}

QtMessageHandler previousMessageHandler = nullptr;

// The toolkit's start asks for its runtime folder, only to look for a sandbox's
// flatpak-info in it, and without XDG_RUNTIME_DIR makes $TMPDIR/runtime-$USER for that: a
// folder in the very folder a collection empties, left behind by every run. While it
// starts, TMPDIR names a file, so the folder cannot be made and the answer is "none";
// XDG_RUNTIME_DIR stays unset, as every program started from here must see it.
constexpr const char* UnmakeableTemp = "/dev/null";
std::optional<std::string> savedTemp;
bool tempSwapped = false;

bool isRuntimeFolderNotice(const QString& message)
{
    return message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")) ||
           (message.startsWith(QLatin1String("QStandardPaths: ")) &&
            message.contains(QLatin1String(UnmakeableTemp)));
}

void filterMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (isRuntimeFolderNotice(message))
        return;
    previousMessageHandler(type, context, message);
}

std::optional<bool>& headlessOverride()
{
    static std::optional<bool> value;
    return value;
}

bool hasEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

bool isHeadless()
{
    if (headlessOverride())
        return *headlessOverride();
    // Once the toolkit runs, its platform decides: a display that could not be reached
    // left it offscreen.
    if (QGuiApplication::instance()) {
        const QString platform = QGuiApplication::platformName();
        return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
    }
    return !hasEnv("DISPLAY") && !hasEnv("WAYLAND_DISPLAY");
}

void overrideHeadless(std::optional<bool> headless)
{
    headlessOverride() = headless;
}

void prepareEnvironment()
{
    if (!previousMessageHandler)
        previousMessageHandler = qInstallMessageHandler(filterMessage);
    struct stat null = {};
    if (!tempSwapped && ::stat(UnmakeableTemp, &null) == 0 && S_ISCHR(null.st_mode)) {
        if (const char* temp = std::getenv("TMPDIR"))
            savedTemp = temp;
        ::setenv("TMPDIR", UnmakeableTemp, 1);
        tempSwapped = true;
    }
    if (hasEnv("QT_QPA_PLATFORM"))
        return;
    // A display that is gone (a stale DISPLAY under cron) must not abort the start.
    if (isHeadless())
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    else if (hasEnv("WAYLAND_DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "wayland;xcb;offscreen", 1);
    else
        ::setenv("QT_QPA_PLATFORM", "xcb;offscreen", 1);
}

void restoreEnvironment()
{
    if (!tempSwapped)
        return;
    if (savedTemp)
        ::setenv("TMPDIR", savedTemp->c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    savedTemp.reset();
    tempSwapped = false;
}

void startServices()
{
    installWindowService();
    installShellDialogs();
    installFolderBrowser();
    installSignalHandlers();
}

void processMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void processMessagesWhenDue(int intervalMs)
{
    // A pass of the toolkit's loop costs microseconds and a system call or more even with
    // nothing to do; reading the coarse clock costs nanoseconds. The count keeps a queued stop from
    // waiting on the clock when the caller's steps are quick; within one interval each further pass
    // waits twice as many steps, so that a loop of very quick steps pumps a few times an interval,
    // not dozens.
    static timespec last = {};
    static unsigned skipped = 0;
    static unsigned allowed = 256;
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    const long long since =
        (now.tv_sec - last.tv_sec) * 1'000'000'000LL + (now.tv_nsec - last.tv_nsec);
    const bool early = since < intervalMs * 1'000'000LL;
    if (early && ++skipped < allowed)
        return;
    allowed = early ? std::min(allowed * 2, 4096u) : 256;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &last);
    skipped = 0;
}

void terminate()
{
    terminationRequested() = true;
    QCoreApplication::exit(0);
}

bool terminated()
{
    return terminationRequested();
}

int run()
{
    // An early request still runs the loop for a moment: it clears the toolkit's own quit
    // state, which would otherwise make every later modal box return unseen.
    if (terminationRequested())
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    return QApplication::exec();
}

void resetTermination()
{
    terminationRequested() = false;
    platform::resetTerminationSignal();
}

void setSignalHandler(std::function<void()> handler)
{
    signalHandler() = std::move(handler);
}

void runExitHook()
{
    if (auto hook = std::exchange(exitHook(), {}))
        hook();
}

void setExitHook(std::function<void()> hook)
{
    // Registered anew each time, so the hook runs before the exit handlers of everything
    // it uses that was set up before it (the handlers run newest first), its own storage
    // included.
    std::function<void()>& current = exitHook();
    if (hook)
        std::atexit(runExitHook);
    current = std::move(hook);
}

void handleException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        showErrorMessage(e.what());
    } catch (...) {
        showErrorMessage("Unknown error");
    }
}

} // namespace runtime
