#include "platform/x11/X11Keyboard.h"

#include "platform/x11/X11Connection.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace platform {

namespace {

using KeySym = std::uint32_t;

struct NamedKey
{
    std::uint8_t virtualKey;
    KeySym keysym;
};

// The keys whose symbol is no character of their own, and the punctuation keys of a United
// Kingdom keyboard, unshifted. Print Screen and the old Print key both print.
constexpr NamedKey NamedKeys[] = {
    {0x03, 0xff69}, {0x08, 0xff08}, {0x09, 0xff09}, {0x0C, 0xff0b}, {0x0D, 0xff0d}, {0x10, 0xffe1},
    {0x11, 0xffe3}, {0x12, 0xffe9}, {0x13, 0xff13}, {0x14, 0xffe5}, {0x1B, 0xff1b}, {0x20, 0x0020},
    {0x21, 0xff55}, {0x22, 0xff56}, {0x23, 0xff57}, {0x24, 0xff50}, {0x25, 0xff51}, {0x26, 0xff52},
    {0x27, 0xff53}, {0x28, 0xff54}, {0x29, 0xff60}, {0x2A, 0xff61}, {0x2B, 0xff62}, {0x2C, 0xff61},
    {0x2D, 0xff63}, {0x2E, 0xffff}, {0x2F, 0xff6a}, {0x6A, 0xffaa}, {0x6B, 0xffab}, {0x6C, 0xffac},
    {0x6D, 0xffad}, {0x6E, 0xffae}, {0x6F, 0xffaf}, {0x90, 0xff7f}, {0x91, 0xff14}, {0xBA, 0x003b},
    {0xBB, 0x003d}, {0xBC, 0x002c}, {0xBD, 0x002d}, {0xBE, 0x002e}, {0xBF, 0x002f}, {0xC0, 0x0027},
    {0xDB, 0x005b}, {0xDC, 0x005c}, {0xDD, 0x005d}, {0xDE, 0x0023}, {0xDF, 0x0060},
};

// 0 for a virtual key without a symbol (the mouse buttons, unassigned codes).
KeySym keysymOf(std::uint8_t virtualKey)
{
    if (virtualKey >= '0' && virtualKey <= '9')
        return virtualKey;
    if (virtualKey >= 'A' && virtualKey <= 'Z')
        return virtualKey - 'A' + 'a';
    if (virtualKey >= 0x60 && virtualKey <= 0x69) // the keypad's digits
        return 0xffb0 + (virtualKey - 0x60);
    if (virtualKey >= 0x70 && virtualKey <= 0x87) // F1 to F24
        return 0xffbe + (virtualKey - 0x70);
    for (const NamedKey& key : NamedKeys) {
        if (key.virtualKey == virtualKey)
            return key.keysym;
    }
    return 0;
}

} // namespace

struct X11Keyboard::Connection : X11Connection
{
    void readMapping()
    {
        const xcb_setup_t* setup = xcb_get_setup(xcb);
        firstKeycode = setup->min_keycode;
        const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
        xcb_generic_error_t* error = nullptr;
        xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
            xcb, xcb_get_keyboard_mapping(xcb, setup->min_keycode, count), &error);
        std::free(error);
        keysyms.clear();
        perKeycode = 0;
        if (reply) {
            const xcb_keysym_t* symbols = xcb_get_keyboard_mapping_keysyms(reply);
            keysyms.assign(symbols, symbols + xcb_get_keyboard_mapping_keysyms_length(reply));
            perKeycode = reply->keysyms_per_keycode;
            std::free(reply);
        }
        mappingRead = true;
    }

    // The key that types the symbol unshifted. The keypad's digits and decimal point sit in
    // the shifted column, where Num Lock, not Shift, picks them. 0 when there is none: a key
    // that types the symbol only with Shift types another one without it.
    xcb_keycode_t keycodeOf(KeySym keysym) const
    {
        const bool keypad = keysym >= 0xff80 && keysym <= 0xffbd;
        const std::size_t columns = std::min<std::size_t>(keypad ? 2 : 1, perKeycode);
        for (std::size_t column = 0; column < columns; ++column) {
            for (std::size_t at = column; at < keysyms.size(); at += perKeycode) {
                if (keysyms[at] == keysym)
                    return static_cast<xcb_keycode_t>(firstKeycode + at / perKeycode);
            }
        }
        return 0;
    }

    // Unasked events must not pile up; a changed keyboard makes the mapping stale.
    void drainEvents()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(xcb)) {
            if ((event->response_type & 0x7f) == XCB_MAPPING_NOTIFY)
                mappingRead = false;
            std::free(event);
        }
    }

    // Whether the focus is the window, inside it, or the frame around it.
    bool focusIn(xcb_window_t window)
    {
        xcb_generic_error_t* error = nullptr;
        xcb_get_input_focus_reply_t* reply =
            xcb_get_input_focus_reply(xcb, xcb_get_input_focus(xcb), &error);
        std::free(error);
        if (!reply)
            return false;
        const xcb_window_t focus = reply->focus;
        std::free(reply);
        if (focus == XCB_NONE || focus == XCB_INPUT_FOCUS_POINTER_ROOT || focus == root)
            return false;
        if (focus == window)
            return true;
        // Up from the focus to the window, or from the window to the frame with the focus.
        return isAncestor(window, focus) || isAncestor(focus, window);
    }

    bool isAncestor(xcb_window_t ancestor, xcb_window_t window)
    {
        xcb_window_t current = window;
        for (int step = 0; step < 64 && current != root; ++step) {
            xcb_generic_error_t* error = nullptr;
            xcb_query_tree_reply_t* tree =
                xcb_query_tree_reply(xcb, xcb_query_tree(xcb, current), &error);
            std::free(error);
            if (!tree)
                return false;
            current = tree->parent;
            std::free(tree);
            if (current == ancestor)
                return true;
            if (current == XCB_NONE)
                return false;
        }
        return false;
    }

    bool held = false;
    bool mappingRead = false;
    xcb_keycode_t firstKeycode = 0;
    std::size_t perKeycode = 0;
    std::vector<xcb_keysym_t> keysyms;
};

std::unique_ptr<X11Keyboard::Connection> X11Keyboard::connect(const std::string& display)
{
    auto connection = std::make_unique<Connection>();
    if (!connection->open(display))
        return nullptr;
    xcb_connection_t* xcb = connection->xcb;
    const xcb_query_extension_reply_t* test = xcb_get_extension_data(xcb, &xcb_test_id);
    if (!test || !test->present)
        return nullptr;
    return connection;
}

std::unique_ptr<X11Keyboard> X11Keyboard::open(const std::string& display)
{
    auto connection = connect(display);
    if (!connection)
        return nullptr;
    return std::unique_ptr<X11Keyboard>(new X11Keyboard(display, std::move(connection)));
}

X11Keyboard::X11Keyboard(std::string display, std::unique_ptr<Connection> connection)
    : m_display(std::move(display)), m_connection(std::move(connection))
{
}

X11Keyboard::~X11Keyboard() = default;

X11Keyboard::Connection* X11Keyboard::connection()
{
    return liveConnection(m_connection, [this] { return connect(m_display); });
}

void X11Keyboard::keyEvent(std::uint8_t virtualKey, std::uint8_t, std::uint32_t flags,
                           std::uintptr_t)
{
    const KeySym keysym = keysymOf(virtualKey);
    Connection* x = keysym ? connection() : nullptr;
    if (!x)
        return;
    x->drainEvents();
    if (!x->mappingRead)
        x->readMapping();
    xcb_keycode_t keycode = x->keycodeOf(keysym);
    if (keycode == 0) {
        // The keyboard may have changed since the mapping was read.
        x->readMapping();
        keycode = x->keycodeOf(keysym);
    }
    if (keycode == 0)
        return;
    const std::uint8_t type = (flags & KEYEVENTF_KEYUP) ? XCB_KEY_RELEASE : XCB_KEY_PRESS;
    xcb_test_fake_input(x->xcb, type, keycode, XCB_CURRENT_TIME, x->root, 0, 0, 0);
    xcb_flush(x->xcb);
}

bool X11Keyboard::beginKeys(HWND window)
{
    Connection* x = connection();
    if (!x || window == 0 || window > UINT32_MAX)
        return false;
    xcb_grab_server(x->xcb);
    x->held = true;
    return x->focusIn(static_cast<xcb_window_t>(window));
}

void X11Keyboard::endKeys()
{
    // The server handles the key events before the request after them, so they have
    // reached their window once it lets go.
    if (!m_connection || !m_connection->held)
        return;
    m_connection->held = false;
    xcb_ungrab_server(m_connection->xcb);
    xcb_flush(m_connection->xcb);
}

} // namespace platform
