#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

using HWND = std::uintptr_t;
constexpr unsigned GW_HWNDNEXT = 2;

// The top-level windows of the desktop in z-order, top first.
class WindowService
{
public:
    virtual ~WindowService() = default;
    // Takes a fresh look at the z-order and returns its first window (0 when there is none).
    virtual HWND firstWindow() = 0;
    // The window after this one in the z-order of the last look (0 at the end).
    virtual HWND nextWindow(HWND window) = 0;
    // The whole title of the window, UTF-8 (empty when it has none or is gone).
    virtual std::string windowText(HWND window) = 0;
    // Raises the window and gives it the input focus; true only once the focus is seen on
    // it, within a short limit (activation through a window manager is asynchronous and
    // may be refused).
    virtual bool bringToFront(HWND window) = 0;
    // The window of the looks that holds the input focus (the top-level window containing
    // the focused one); 0 when none does or it cannot be told.
    virtual HWND focusWindow() = 0;
    // The process that made the window, when it runs on this machine; 0 when unknown.
    virtual std::uint32_t windowProcessId(HWND window) = 0;

    static std::unique_ptr<WindowService> createDefault();
};

// FindWindowA with neither a class nor a title: the first top-level window.
HWND FindWindowA();
// Only GW_HWNDNEXT is offered.
HWND GetWindow(HWND window, unsigned command);
// At most maxCount - 1 characters of the title, as a buffer of maxCount characters holds.
std::string GetWindowTextA(HWND window, int maxCount);
bool SetForegroundWindow(HWND window);
HWND GetForegroundWindow();
// The window's process in processId; returns 0 (and leaves processId 0) when unknown, a
// non-zero value otherwise. processId may be null.
std::uint32_t GetWindowThreadProcessId(HWND window, std::uint32_t* processId);
std::uint32_t GetCurrentProcessId();

// Whose top-level windows a search by title looks at.
enum class WindowsOf { AnyProcess, ThisProcess };
// The first top-level window whose title, read through a buffer of titleBuffer characters,
// contains text, ignoring the case of A to Z; 0 when none does, and for an empty text. The
// first window of the z-order and at most 1000 after it are looked at.
HWND findTitledWindow(const std::string& text, WindowsOf windows, int titleBuffer);

} // namespace platform
