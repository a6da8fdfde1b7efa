#pragma once

#include <memory>
#include <string>
#include <xcb/xcb.h>

namespace platform {

// An xcb connection of its own to one display: every error comes back with the request
// that caused it, so nothing here meets the toolkit's error handler.
struct X11Connection
{
    X11Connection() = default;
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    // Connects and finds the screen's root window; false when either fails. An empty name
    // means $DISPLAY.
    bool open(const std::string& display);

    xcb_connection_t* xcb = nullptr;
    xcb_window_t root = XCB_NONE;
    // The root window's depth: 24 on a true-colour screen, whose pixels take 32 bits.
    int rootDepth = 0;
};

// The root window's depth on the display's screen; 0 when the display cannot be reached.
int rootDepthOf(const std::string& display);

// The live connection in current, made anew by connect() when the server went away since
// the last call; null when none opens.
template <class Connection, class Connect>
Connection* liveConnection(std::unique_ptr<Connection>& current, Connect&& connect)
{
    if (current && xcb_connection_has_error(current->xcb))
        current.reset();
    if (!current)
        current = connect();
    return current.get();
}

} // namespace platform
