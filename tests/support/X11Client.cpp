#include "support/X11Client.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace test {

X11Client::X11Client(const std::string& display)
    : m_xcb(xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr))
{
    if (connected())
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_xcb)).data->root;
}

X11Client::~X11Client()
{
    for (auto window = m_created.rbegin(); window != m_created.rend(); ++window)
        xcb_destroy_window(m_xcb, *window);
    sync();
    xcb_disconnect(m_xcb);
}

xcb_window_t X11Client::create(xcb_window_t parent)
{
    const xcb_window_t window = xcb_generate_id(m_xcb);
    xcb_create_window(m_xcb, XCB_COPY_FROM_PARENT, window, parent ? parent : m_root, 0, 0, 60, 40,
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    m_created.push_back(window);
    return window;
}

void X11Client::setText(xcb_window_t window, const std::string& property, const std::string& type,
                        const std::string& text)
{
    xcb_change_property(m_xcb, XCB_PROP_MODE_REPLACE, window, atom(property), atom(type), 8,
                        static_cast<std::uint32_t>(text.size()), text.data());
}

void X11Client::setCardinal(xcb_window_t window, const std::string& property, std::uint32_t value)
{
    xcb_change_property(m_xcb, XCB_PROP_MODE_REPLACE, window, atom(property), XCB_ATOM_CARDINAL, 32,
                        1, &value);
}

void X11Client::setNormalState(xcb_window_t window)
{
    const std::uint32_t state[2] = {1, XCB_NONE};
    xcb_change_property(m_xcb, XCB_PROP_MODE_REPLACE, window, atom("WM_STATE"), atom("WM_STATE"),
                        32, 2, state);
}

void X11Client::destroy(xcb_window_t window)
{
    xcb_destroy_window(m_xcb, window);
    std::erase(m_created, window);
}

void X11Client::setFocus(xcb_window_t window, bool wait)
{
    xcb_set_input_focus(m_xcb, XCB_INPUT_FOCUS_NONE, window, XCB_CURRENT_TIME);
    if (wait)
        sync();
    else
        xcb_flush(m_xcb);
}

xcb_window_t X11Client::focus()
{
    auto* reply = xcb_get_input_focus_reply(m_xcb, xcb_get_input_focus(m_xcb), nullptr);
    const xcb_window_t focused = reply ? reply->focus : XCB_NONE;
    std::free(reply);
    return focused;
}

void X11Client::watchKeys(xcb_window_t window)
{
    const std::uint32_t mask = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE;
    xcb_change_window_attributes(m_xcb, window, XCB_CW_EVENT_MASK, &mask);
    sync();
}

std::vector<X11Client::KeyEvent> X11Client::keyEvents(std::size_t count, bool wait)
{
    std::vector<KeyEvent> events;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (events.size() < count && std::chrono::steady_clock::now() < deadline) {
        xcb_generic_event_t* event = xcb_poll_for_event(m_xcb);
        if (!event) {
            if (!wait)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
            const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
            events.push_back({type == XCB_KEY_PRESS, keysymOf(key->detail), key->state});
        }
        std::free(event);
    }
    return events;
}

std::vector<X11Client::KeyEvent> X11Client::keyEventsSoFar()
{
    // Events the server sent before its reply come before the reply.
    sync();
    return keyEvents(SIZE_MAX, false);
}

xcb_atom_t X11Client::atom(const std::string& name)
{
    auto* reply = xcb_intern_atom_reply(
        m_xcb, xcb_intern_atom(m_xcb, 0, static_cast<std::uint16_t>(name.size()), name.data()),
        nullptr);
    const xcb_atom_t value = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return value;
}

std::uint32_t X11Client::keysymOf(xcb_keycode_t keycode)
{
    auto* reply =
        xcb_get_keyboard_mapping_reply(m_xcb, xcb_get_keyboard_mapping(m_xcb, keycode, 1), nullptr);
    std::uint32_t keysym = 0;
    if (reply && xcb_get_keyboard_mapping_keysyms_length(reply) > 0)
        keysym = xcb_get_keyboard_mapping_keysyms(reply)[0];
    std::free(reply);
    return keysym;
}

} // namespace test
