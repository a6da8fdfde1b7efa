#include "platform/x11/X11Connection.h"

namespace platform {

X11Connection::~X11Connection()
{
    if (xcb)
        xcb_disconnect(xcb);
}

bool X11Connection::open(const std::string& display)
{
    int screenNumber = 0;
    xcb = xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
    if (xcb_connection_has_error(xcb))
        return false;
    xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(xcb));
    for (int i = 0; i < screenNumber && screen.rem; ++i)
        xcb_screen_next(&screen);
    if (!screen.rem)
        return false;
    root = screen.data->root;
    rootDepth = screen.data->root_depth;
    return true;
}

int rootDepthOf(const std::string& display)
{
    X11Connection connection;
    return connection.open(display) ? connection.rootDepth : 0;
}

} // namespace platform
