#pragma once

#include "platform/desktop/TopLevelWindows.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

// The X server's top-level windows, over an xcb connection of its own: every error comes
// back with the request that caused it, so nothing here meets the toolkit's error handler.
class X11TopLevelWindows : public WindowService
{
public:
    // Null when no connection to the display opens. An empty name means $DISPLAY.
    static std::unique_ptr<X11TopLevelWindows> open(const std::string& display = {});
    ~X11TopLevelWindows() override;
    X11TopLevelWindows(const X11TopLevelWindows&) = delete;
    X11TopLevelWindows& operator=(const X11TopLevelWindows&) = delete;

    // Viewable windows only; under a window manager the client inside each frame stands
    // for it. The titles of the whole look are read at once.
    HWND firstWindow() override;
    HWND nextWindow(HWND window) override;
    // The title as of the last look for the windows in it, read afresh for any other.
    std::string windowText(HWND window) override;
    // Raises the window's top-level frame, asks the window manager to activate it and
    // gives it the input focus; true once the focus is seen on it. False when there is no
    // such window or the focus does not arrive within a short limit.
    bool bringToFront(HWND window) override;
    // The listed window for the focus: the client inside the focused frame, the top-level
    // window without a window manager.
    HWND focusWindow() override;
    // From _NET_WM_PID, when WM_CLIENT_MACHINE names this machine.
    std::uint32_t windowProcessId(HWND window) override;

private:
    struct Connection;
    static std::unique_ptr<Connection> connect(const std::string& display);
    X11TopLevelWindows(std::string display, std::unique_ptr<Connection> connection);
    // The live connection, made anew when the server went away since the last call.
    Connection* connection();

    std::string m_display;
    std::unique_ptr<Connection> m_connection;
    std::vector<HWND> m_order;
    std::vector<std::string> m_titles;
    std::unordered_map<HWND, std::size_t> m_position;
};

} // namespace platform
