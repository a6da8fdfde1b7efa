#pragma once

#include <exception>
#include <functional>
#include <optional>

namespace runtime {

// No display to show windows on: neither DISPLAY nor WAYLAND_DISPLAY is set.
bool isHeadless();
// Tests decide it themselves; std::nullopt returns to the display's answer.
void overrideHeadless(std::optional<bool> headless);
// Before the application object exists: choose the offscreen platform when headless, keep
// the toolkit from making a runtime folder in the temporary folder, and its notice about a
// missing XDG_RUNTIME_DIR out of a scheduled run's output.
void prepareEnvironment();
// Right after the application object exists: the environment as it was, for everything
// started from here on.
void restoreEnvironment();
// After it exists: the window family, the shell's dialogs and folder browser, and
// SIGTERM, SIGINT and SIGHUP as orderly exits.
void startServices();

// Lets the toolkit process every pending message once.
void processMessages();
// The same for loops that would pump after every small step: it processes only when the
// interval has passed by the coarse monotonic clock since it last processed (fifty passes a
// second keep a window live), or at the 256th call since then (twice as many after each
// further pass within the interval, up to 4096), and otherwise returns at once.
void processMessagesWhenDue(int intervalMs = 20);

// Asks the application to end: the message loop ends as soon as it runs, also when the
// request came before it started.
void terminate();
bool terminated();
// Runs the message loop until termination is asked for; returns the exit code.
int run();
// Tests start each program life afresh.
void resetTermination();

// Called instead of terminate() for a signal, so the window can stop what it is doing first.
void setSignalHandler(std::function<void()> handler);

// Runs once if the process ends through exit() with the window still there: the toolkit
// does that itself when the display connection breaks. The hook must touch no toolkit
// object, and only objects with static storage that were created before it was set
// (those created later are gone by the time it runs). An empty function removes it.
void setExitHook(std::function<void()> hook);
// Runs the hook now, if one is set, and removes it.
void runExitHook();

// Shows the text of an error that left an event handler; the program goes on.
void handleException(std::exception_ptr error);

// Runs an event handler; an error leaving it is shown, never passed to the toolkit.
template <class Handler> void guarded(Handler&& handler)
{
    try {
        handler();
    } catch (...) {
        handleException(std::current_exception());
    }
}

} // namespace runtime
