#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>
#include <xcb/xcb.h>

namespace test {

// The test's own X client, for windows the services must find (or must not) and for the
// key events that reach them.
class X11Client
{
public:
    explicit X11Client(const std::string& display = {});
    ~X11Client();
    X11Client(const X11Client&) = delete;
    X11Client& operator=(const X11Client&) = delete;

    bool connected() const { return !xcb_connection_has_error(m_xcb); }
    xcb_window_t root() const { return m_root; }

    xcb_window_t create(xcb_window_t parent = XCB_NONE);
    void setText(xcb_window_t window, const std::string& property, const std::string& type,
                 const std::string& text);
    void setCardinal(xcb_window_t window, const std::string& property, std::uint32_t value);
    // What a window manager puts on the clients it manages.
    void setNormalState(xcb_window_t window);
    void map(xcb_window_t window) { xcb_map_window(m_xcb, window); }
    void destroy(xcb_window_t window);
    // wait false: the request is only sent, for a server that another client holds.
    void setFocus(xcb_window_t window, bool wait = true);
    xcb_window_t focus();
    // Everything sent so far has been carried out once this returns.
    void sync() { focus(); }

    struct KeyEvent
    {
        bool press;
        std::uint32_t keysym; // of the key's first column in the server's mapping
        std::uint16_t state;
        bool operator==(const KeyEvent&) const = default;
        friend std::ostream& operator<<(std::ostream& out, const KeyEvent& event)
        {
            return out << (event.press ? "press " : "release ") << std::hex << event.keysym
                       << " state " << event.state << std::dec;
        }
    };
    // Key events that reach the window from now on.
    void watchKeys(xcb_window_t window);
    // The key events received, once count have arrived or a few seconds have passed.
    std::vector<KeyEvent> keyEvents(std::size_t count) { return keyEvents(count, true); }
    // The key events that reached the window before this call.
    std::vector<KeyEvent> keyEventsSoFar();

private:
    std::vector<KeyEvent> keyEvents(std::size_t count, bool wait);
    xcb_atom_t atom(const std::string& name);
    std::uint32_t keysymOf(xcb_keycode_t keycode);

    xcb_connection_t* m_xcb;
    xcb_window_t m_root = XCB_NONE;
    std::vector<xcb_window_t> m_created;
};

} // namespace test
