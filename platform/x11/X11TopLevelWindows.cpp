#include "platform/x11/X11TopLevelWindows.h"

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Text.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace platform {

namespace {

struct FreeReply
{
    void operator()(void* reply) const { std::free(reply); }
};
template <class T> using Reply = std::unique_ptr<T, FreeReply>;

// A window that vanished meanwhile answers with an error instead of a reply: the error is
// dropped and the caller sees no reply. The error is taken by reference, since it is only
// set once the reply call, an argument evaluated in no fixed order, has run.
template <class T> Reply<T> take(T* reply, xcb_generic_error_t*& error)
{
    std::free(error);
    error = nullptr;
    return Reply<T>(reply);
}

// Longer title properties are cut here (in 32-bit units).
constexpr std::uint32_t MaxTitleWords = 16384;
// How far below a top-level frame its client window is looked for. Window managers put
// the client directly into the frame or into one wrapper inside it.
constexpr int MaxClientDepth = 3;
// _NET_ACTIVE_WINDOW source indication of a pager or similar tool, which window managers
// obey without their focus-stealing prevention.
constexpr std::uint32_t ActivationByTool = 2;
// How long a window manager gets to pass the focus on after an activation request.
constexpr auto FocusLimit = std::chrono::milliseconds(300);
constexpr auto FocusPoll = std::chrono::milliseconds(10);
// Host names are at most 255 bytes; a longer WM_CLIENT_MACHINE names no host.
constexpr std::uint32_t MaxHostWords = 64;

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

bool toWindowId(HWND handle, xcb_window_t& window)
{
    if (handle == 0 || handle > UINT32_MAX)
        return false;
    window = static_cast<xcb_window_t>(handle);
    return true;
}

// Events we never asked for (MappingNotify goes to every client) must not pile up.
void drainEvents(xcb_connection_t* xcb)
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(xcb))
        std::free(event);
}

std::vector<xcb_window_t> childrenOf(const Reply<xcb_query_tree_reply_t>& tree)
{
    if (!tree)
        return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    return {children, children + xcb_query_tree_children_length(tree.get())};
}

std::string_view propertyBytes(const xcb_get_property_reply_t* property)
{
    if (!property || property->format != 8)
        return {};
    return {static_cast<const char*>(xcb_get_property_value(property)),
            static_cast<std::size_t>(xcb_get_property_value_length(property))};
}

std::string untilNul(std::string_view text)
{
    return std::string(text.substr(0, text.find('\0')));
}

// Text of a type we cannot decode keeps its ASCII characters.
std::string asciiOnly(std::string_view text)
{
    std::string out = untilNul(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) >= 0x80)
            c = '?';
    }
    return out;
}

} // namespace

struct X11TopLevelWindows::Connection : X11Connection
{
    std::string titleFrom(const xcb_get_property_reply_t* netWmName,
                          const xcb_get_property_reply_t* wmName) const
    {
        if (netWmName && netWmName->type == utf8String) {
            const std::string title = untilNul(propertyBytes(netWmName));
            if (!title.empty())
                return title;
        }
        if (!wmName || wmName->type == XCB_NONE)
            return {};
        const std::string_view bytes = propertyBytes(wmName);
        if (wmName->type == XCB_ATOM_STRING)
            return latin1ToUtf8(bytes);
        if (wmName->type == utf8String)
            return untilNul(bytes);
        if (wmName->type == compoundText)
            return compoundTextToUtf8(bytes);
        return asciiOnly(bytes);
    }

    // Both title properties of every window are asked for before the first answer is read,
    // so a thousand windows cost one round trip.
    std::vector<std::string> titles(const std::vector<xcb_window_t>& windows) const
    {
        std::vector<xcb_get_property_cookie_t> netWmNames;
        std::vector<xcb_get_property_cookie_t> wmNames;
        netWmNames.reserve(windows.size());
        wmNames.reserve(windows.size());
        for (const xcb_window_t window : windows) {
            netWmNames.push_back(
                xcb_get_property(xcb, 0, window, netWmName, utf8String, 0, MaxTitleWords));
            wmNames.push_back(xcb_get_property(xcb, 0, window, XCB_ATOM_WM_NAME,
                                               XCB_GET_PROPERTY_TYPE_ANY, 0, MaxTitleWords));
        }
        std::vector<std::string> result;
        result.reserve(windows.size());
        for (std::size_t i = 0; i < windows.size(); ++i) {
            xcb_generic_error_t* error = nullptr;
            const auto net = take(xcb_get_property_reply(xcb, netWmNames[i], &error), error);
            const auto plain = take(xcb_get_property_reply(xcb, wmNames[i], &error), error);
            result.push_back(titleFrom(net.get(), plain.get()));
        }
        return result;
    }

    // The root's mapped children, top of the stack first.
    std::vector<xcb_window_t> viewableTopLevels() const
    {
        xcb_generic_error_t* error = nullptr;
        const std::vector<xcb_window_t> children =
            childrenOf(take(xcb_query_tree_reply(xcb, xcb_query_tree(xcb, root), &error), error));
        std::vector<xcb_get_window_attributes_cookie_t> cookies;
        cookies.reserve(children.size());
        for (const xcb_window_t child : children)
            cookies.push_back(xcb_get_window_attributes(xcb, child));
        std::vector<xcb_window_t> viewable;
        for (std::size_t i = 0; i < children.size(); ++i) {
            const auto attributes =
                take(xcb_get_window_attributes_reply(xcb, cookies[i], &error), error);
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
                viewable.push_back(children[i]);
        }
        return {viewable.rbegin(), viewable.rend()};
    }

    // For each top-level window the window a person would call it: the nearest descendant
    // that carries WM_STATE (a window manager's client inside its frame), else itself.
    // The search goes level by level over all frames at once, one round trip a level.
    std::vector<xcb_window_t> clientsOf(const std::vector<xcb_window_t>& tops) const
    {
        struct Candidate
        {
            std::size_t top;
            xcb_window_t window;
        };
        std::vector<xcb_window_t> clients(tops.size(), XCB_NONE);
        std::vector<Candidate> level;
        for (std::size_t i = 0; i < tops.size(); ++i)
            level.push_back({i, tops[i]});
        for (int depth = 0; !level.empty(); ++depth) {
            std::vector<xcb_get_property_cookie_t> states;
            states.reserve(level.size());
            for (const Candidate& candidate : level)
                states.push_back(xcb_get_property(xcb, 0, candidate.window, wmState,
                                                  XCB_GET_PROPERTY_TYPE_ANY, 0, 0));
            for (std::size_t i = 0; i < level.size(); ++i) {
                xcb_generic_error_t* error = nullptr;
                const auto state = take(xcb_get_property_reply(xcb, states[i], &error), error);
                if (state && state->type != XCB_NONE && clients[level[i].top] == XCB_NONE)
                    clients[level[i].top] = level[i].window;
            }
            if (depth == MaxClientDepth)
                break;
            std::vector<Candidate> searching;
            std::vector<xcb_query_tree_cookie_t> trees;
            for (const Candidate& candidate : level) {
                if (clients[candidate.top] != XCB_NONE)
                    continue;
                searching.push_back(candidate);
                trees.push_back(xcb_query_tree(xcb, candidate.window));
            }
            std::vector<Candidate> next;
            for (std::size_t i = 0; i < searching.size(); ++i) {
                xcb_generic_error_t* error = nullptr;
                const auto children =
                    childrenOf(take(xcb_query_tree_reply(xcb, trees[i], &error), error));
                for (auto child = children.rbegin(); child != children.rend(); ++child)
                    next.push_back({searching[i].top, *child});
            }
            level = std::move(next);
        }
        for (std::size_t i = 0; i < tops.size(); ++i) {
            if (clients[i] == XCB_NONE)
                clients[i] = tops[i];
        }
        return clients;
    }

    // The root's child that holds the window (the frame of a managed client).
    xcb_window_t topLevelOf(xcb_window_t window) const
    {
        xcb_window_t current = window;
        for (int step = 0; step < 64; ++step) {
            xcb_generic_error_t* error = nullptr;
            const auto tree =
                take(xcb_query_tree_reply(xcb, xcb_query_tree(xcb, current), &error), error);
            if (!tree)
                break;
            if (tree->parent == root || tree->parent == XCB_NONE)
                return current;
            current = tree->parent;
        }
        return window;
    }

    xcb_atom_t wmState = XCB_NONE;
    xcb_atom_t netWmName = XCB_NONE;
    xcb_atom_t utf8String = XCB_NONE;
    xcb_atom_t compoundText = XCB_NONE;
    xcb_atom_t netActiveWindow = XCB_NONE;
    xcb_atom_t netWmPid = XCB_NONE;
};

std::unique_ptr<X11TopLevelWindows::Connection>
X11TopLevelWindows::connect(const std::string& display)
{
    auto connection = std::make_unique<Connection>();
    if (!connection->open(display))
        return nullptr;
    xcb_connection_t* xcb = connection->xcb;

    const char* const names[] = {"WM_STATE",      "_NET_WM_NAME",       "UTF8_STRING",
                                 "COMPOUND_TEXT", "_NET_ACTIVE_WINDOW", "_NET_WM_PID"};
    xcb_atom_t* const atoms[] = {&connection->wmState,         &connection->netWmName,
                                 &connection->utf8String,      &connection->compoundText,
                                 &connection->netActiveWindow, &connection->netWmPid};
    xcb_intern_atom_cookie_t cookies[std::size(names)];
    for (std::size_t i = 0; i < std::size(names); ++i)
        cookies[i] =
            xcb_intern_atom(xcb, 0, static_cast<std::uint16_t>(std::strlen(names[i])), names[i]);
    for (std::size_t i = 0; i < std::size(names); ++i) {
        xcb_generic_error_t* error = nullptr;
        const auto atom = take(xcb_intern_atom_reply(xcb, cookies[i], &error), error);
        if (!atom)
            return nullptr;
        *atoms[i] = atom->atom;
    }
    return connection;
}

std::unique_ptr<X11TopLevelWindows> X11TopLevelWindows::open(const std::string& display)
{
    auto connection = connect(display);
    if (!connection)
        return nullptr;
    return std::unique_ptr<X11TopLevelWindows>(
        new X11TopLevelWindows(display, std::move(connection)));
}

X11TopLevelWindows::X11TopLevelWindows(std::string display, std::unique_ptr<Connection> connection)
    : m_display(std::move(display)), m_connection(std::move(connection))
{
}

X11TopLevelWindows::~X11TopLevelWindows() = default;

X11TopLevelWindows::Connection* X11TopLevelWindows::connection()
{
    return liveConnection(m_connection, [this] { return connect(m_display); });
}

HWND X11TopLevelWindows::firstWindow()
{
    m_order.clear();
    m_titles.clear();
    m_position.clear();
    Connection* x = connection();
    if (!x)
        return 0;
    const std::vector<xcb_window_t> clients = x->clientsOf(x->viewableTopLevels());
    m_titles = x->titles(clients);
    m_order.reserve(clients.size());
    for (const xcb_window_t client : clients) {
        m_position.emplace(client, m_order.size());
        m_order.push_back(client);
    }
    drainEvents(x->xcb);
    return m_order.empty() ? 0 : m_order.front();
}

HWND X11TopLevelWindows::nextWindow(HWND window)
{
    const auto at = m_position.find(window);
    if (at == m_position.end() || at->second + 1 >= m_order.size())
        return 0;
    return m_order[at->second + 1];
}

std::string X11TopLevelWindows::windowText(HWND window)
{
    const auto at = m_position.find(window);
    if (at != m_position.end())
        return m_titles[at->second];
    xcb_window_t id = XCB_NONE;
    Connection* x = connection();
    if (!x || !toWindowId(window, id))
        return {};
    std::string title = x->titles({id}).front();
    drainEvents(x->xcb);
    return title;
}

bool X11TopLevelWindows::bringToFront(HWND window)
{
    xcb_window_t id = XCB_NONE;
    Connection* x = connection();
    if (!x || !toWindowId(window, id) || id == x->root)
        return false;
    xcb_connection_t* xcb = x->xcb;
    xcb_generic_error_t* error = nullptr;
    const auto attributes = take(
        xcb_get_window_attributes_reply(xcb, xcb_get_window_attributes(xcb, id), &error), error);
    if (!attributes)
        return false;

    const xcb_window_t top = x->topLevelOf(id);
    std::vector<xcb_void_cookie_t> requests;
    requests.push_back(xcb_map_window_checked(xcb, id));
    if (top != id)
        requests.push_back(xcb_map_window_checked(xcb, top));
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    requests.push_back(
        xcb_configure_window_checked(xcb, top, XCB_CONFIG_WINDOW_STACK_MODE, &above));

    xcb_client_message_event_t activate{};
    activate.response_type = XCB_CLIENT_MESSAGE;
    activate.format = 32;
    activate.window = id;
    activate.type = x->netActiveWindow;
    activate.data.data32[0] = ActivationByTool;
    activate.data.data32[1] = XCB_CURRENT_TIME;
    requests.push_back(xcb_send_event_checked(
        xcb, 0, x->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char*>(&activate)));

    // Keystrokes typed next must land in this window even without a window manager. Under
    // one the map may still be pending; the focus then fails harmlessly and the manager's
    // activation gives it. Should the window go away while keys are on their way, the
    // focus reverts to none rather than to the root, where keys would reach whatever
    // window lies under the pointer.
    requests.push_back(
        xcb_set_input_focus_checked(xcb, XCB_INPUT_FOCUS_NONE, id, XCB_CURRENT_TIME));
    for (const xcb_void_cookie_t request : requests)
        std::free(xcb_request_check(xcb, request));
    drainEvents(xcb);

    // Keys sent before the focus arrives would go to the window that had it.
    const auto deadline = std::chrono::steady_clock::now() + FocusLimit;
    while (focusWindow() != window) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(FocusPoll);
    }
    return true;
}

HWND X11TopLevelWindows::focusWindow()
{
    Connection* x = connection();
    if (!x)
        return 0;
    xcb_connection_t* xcb = x->xcb;
    xcb_generic_error_t* error = nullptr;
    const auto focus =
        take(xcb_get_input_focus_reply(xcb, xcb_get_input_focus(xcb), &error), error);
    if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
        focus->focus == x->root)
        return 0;
    // The focus may sit on a frame, the client or a window inside the client.
    const HWND client = x->clientsOf({x->topLevelOf(focus->focus)}).front();
    drainEvents(xcb);
    return client;
}

std::uint32_t X11TopLevelWindows::windowProcessId(HWND window)
{
    xcb_window_t id = XCB_NONE;
    Connection* x = connection();
    if (!x || !toWindowId(window, id))
        return 0;
    xcb_connection_t* xcb = x->xcb;
    const auto pidCookie = xcb_get_property(xcb, 0, id, x->netWmPid, XCB_ATOM_CARDINAL, 0, 1);
    const auto machineCookie = xcb_get_property(xcb, 0, id, XCB_ATOM_WM_CLIENT_MACHINE,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, MaxHostWords);
    xcb_generic_error_t* error = nullptr;
    const auto pid = take(xcb_get_property_reply(xcb, pidCookie, &error), error);
    const auto machine = take(xcb_get_property_reply(xcb, machineCookie, &error), error);
    drainEvents(xcb);
    // A process number means something only on the machine that runs the process.
    if (!pid || pid->format != 32 || xcb_get_property_value_length(pid.get()) != 4 || !machine ||
        machine->bytes_after != 0)
        return 0;
    const std::string host = hostName();
    if (host.empty() || untilNul(propertyBytes(machine.get())) != host)
        return 0;
    std::uint32_t process = 0;
    std::memcpy(&process, xcb_get_property_value(pid.get()), sizeof process);
    return process;
}

} // namespace platform
