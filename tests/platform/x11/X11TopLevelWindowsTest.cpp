#include "platform/x11/X11TopLevelWindows.h"
#include "platform/core/Service.h"
#include "platform/desktop/TopLevelWindows.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11Text.h"
#include "support/FakeDesktop.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"
#include "support/X11Client.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStringList>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

using platform::HWND;

namespace {

// ---------------------------------------------------------------------------------------
// Title encodings

TEST(X11TextTest, Latin1BecomesUtf8AndEndsAtNul)
{
    EXPECT_EQ(platform::latin1ToUtf8("Error Deleting File \xe9"), "Error Deleting File \xc3\xa9");
    EXPECT_EQ(platform::latin1ToUtf8("\xa3\xff"), "\xc2\xa3\xc3\xbf");
    EXPECT_EQ(platform::latin1ToUtf8(std::string("first\0second", 12)), "first");
    EXPECT_EQ(platform::latin1ToUtf8(""), "");
}

TEST(X11TextTest, CompoundTextDecodesDesignatedCharacterSets)
{
    // As an X toolkit writes "Ошибка €": ISO 8859-5, then ISO 8859-15, in the right half.
    EXPECT_EQ(platform::compoundTextToUtf8("\x1b-L\xbe\xe8\xd8\xd1\xda\xd0 \x1b-b\xa4"),
              "Ошибка €");
    // Without a designation the right half is ISO 8859-1.
    EXPECT_EQ(platform::compoundTextToUtf8("caf\xe9"), "café");
    // GB 2312 in the left half and in the right half, KS C 5601 and JIS X 0208.
    EXPECT_EQ(platform::compoundTextToUtf8("\x1b$(A\x30\x21\x1b(B ok"), "啊 ok");
    EXPECT_EQ(platform::compoundTextToUtf8("\x1b$)A\xb0\xa1"), "啊");
    EXPECT_EQ(platform::compoundTextToUtf8("\x1b$)C\xb0\xa1"), "가");
    EXPECT_EQ(platform::compoundTextToUtf8("\x1b$(B\x30\x21"), "亜");
    // JIS X 0201 katakana in the right half.
    EXPECT_EQ(platform::compoundTextToUtf8("\x1b)I\xb1"), "ｱ");
    // A UTF-8 segment and a named extended segment.
    EXPECT_EQ(platform::compoundTextToUtf8("a\x1b%G\xe2\x9c\x93\x1b%@b"), "a✓b");
    EXPECT_EQ(platform::compoundTextToUtf8("\x1b%/1\x80\x8ciso8859-15\x02\xa4!"), "€!");
    // Tab and newline stay, other controls and direction sequences go.
    EXPECT_EQ(platform::compoundTextToUtf8("a\tb\nc\x07\x9b"
                                           "1]d"),
              "a\tb\ncd");
}

TEST(X11TextTest, MalformedCompoundTextNeverLetsRawBytesThrough)
{
    const auto isCleanUtf8 = [](const std::string& text) {
        // Every byte from 0x80 up belongs to a well-formed UTF-8 sequence.
        for (std::size_t i = 0; i < text.size();) {
            const auto c = static_cast<unsigned char>(text[i]);
            std::size_t length = c < 0x80 ? 1 : c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 0;
            if (length == 0 || i + length > text.size())
                return false;
            for (std::size_t k = 1; k < length; ++k) {
                if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80)
                    return false;
            }
            i += length;
        }
        return true;
    };
    const std::map<std::string, std::string> cases = {
        {"truncated escape", std::string("keep\x1b$", 6)},
        {"half a two-byte character", "\x1b$)A\xb0"},
        {"unknown 94x94 set", "\x1b$)Z\xb0\xa1\xb0\xa1"},
        {"unknown 96 set", "\x1b-~\xe9\xe9"},
        {"bad UTF-8 segment", "\x1b%G\xff\xfe\xc3\x1b%@ok"},
        {"extended segment longer than the text", "\x1b%/1\xff\xffiso8859-1\x02\xe9"},
        {"extended segment with a strange name", "\x1b%/1\x80\x88../x\x02\xe9\xe9\xe9"},
        {"extended segment without its length", std::string("\x1b%/1", 4)},
        {"undecodable GR byte of a 94 set", "\x1b)I\xff"},
    };
    for (const auto& [name, bytes] : cases) {
        const std::string text = platform::compoundTextToUtf8(bytes);
        EXPECT_TRUE(isCleanUtf8(text)) << name << ": " << text;
    }
    EXPECT_EQ(platform::compoundTextToUtf8(std::string("keep\x1b$", 6)), "keep");
    EXPECT_EQ(platform::compoundTextToUtf8("\x1b$)Z\xb0\xa1\xb0\xa1"), "??");
    EXPECT_EQ(platform::compoundTextToUtf8("\x1b%G\xff\xfe\xc3\x1b%@ok"), "???ok");
    EXPECT_EQ(platform::compoundTextToUtf8(std::string("one\0two", 7)), "one");
}

// ---------------------------------------------------------------------------------------
// The Windows-style calls over whatever service is installed

TEST(TopLevelWindowsTest, WalkFollowsTheServiceAndStopsAtTheEnd)
{
    test::ScopedFake<test::FakeWindows> windows;
    windows.titles = {"first", "second"};
    const HWND first = platform::FindWindowA();
    ASSERT_NE(first, 0u);
    EXPECT_EQ(platform::GetWindowTextA(first, 256), "first");
    const HWND second = platform::GetWindow(first, platform::GW_HWNDNEXT);
    EXPECT_EQ(platform::GetWindowTextA(second, 256), "second");
    EXPECT_EQ(platform::GetWindow(second, platform::GW_HWNDNEXT), 0u);
    // Only the next-window command is offered, and nothing follows no window.
    EXPECT_EQ(platform::GetWindow(first, 0), 0u);
    EXPECT_EQ(platform::GetWindow(0, platform::GW_HWNDNEXT), 0u);
    EXPECT_TRUE(platform::SetForegroundWindow(second));
    EXPECT_FALSE(platform::SetForegroundWindow(0));
    EXPECT_EQ(windows.raised, std::vector<HWND>{second});
}

TEST(TopLevelWindowsTest, TitleIsCutToTheBufferWithoutSplittingACharacter)
{
    const std::string ascii(300, 'a');
    // 254 ASCII characters and then "é" (two bytes) straddle the 255-byte limit.
    const std::string straddling = std::string(254, 'b') + "\xc3\xa9" + "tail";
    // A four-byte character ending exactly at the limit stays.
    const std::string fits = std::string(251, 'c') + "\xf0\x9f\x98\x80" + "tail";
    test::ScopedFake<test::FakeWindows> windows;
    windows.titles = {ascii, straddling, fits, "short"};
    EXPECT_EQ(platform::GetWindowTextA(1, 256), std::string(255, 'a'));
    EXPECT_EQ(platform::GetWindowTextA(2, 256), std::string(254, 'b'));
    EXPECT_EQ(platform::GetWindowTextA(3, 256), std::string(251, 'c') + "\xf0\x9f\x98\x80");
    EXPECT_EQ(platform::GetWindowTextA(4, 256), "short");
    EXPECT_EQ(platform::GetWindowTextA(4, 3), "sh");
    EXPECT_EQ(platform::GetWindowTextA(4, 1), "");
    EXPECT_EQ(platform::GetWindowTextA(4, 0), "");
    EXPECT_EQ(platform::GetWindowTextA(0, 256), "");
}

TEST(TopLevelWindowsTest, TheDefaultServiceHasNoWindows)
{
    const auto service = platform::WindowService::createDefault();
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->firstWindow(), 0u);
    EXPECT_FALSE(service->bringToFront(1));
    EXPECT_EQ(service->windowText(1), "");
}

TEST(TopLevelWindowsTest, AnUnreachableDisplayOpensNoService)
{
    EXPECT_EQ(platform::X11TopLevelWindows::open("unix:/nonexistent/vorlax-x11"), nullptr);
    EXPECT_EQ(platform::X11TopLevelWindows::open(":65000"), nullptr);
    EXPECT_EQ(platform::X11Keyboard::open(":65000"), nullptr);
}

// ---------------------------------------------------------------------------------------
// A real X server

using Clock = std::chrono::steady_clock;

// Polls until the condition holds, for at most a few seconds.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

struct Listed
{
    HWND window;
    std::string title;
};

std::vector<Listed> snapshot(platform::WindowService& service)
{
    std::vector<Listed> listed;
    for (HWND window = service.firstWindow(); window != 0; window = service.nextWindow(window))
        listed.push_back({window, service.windowText(window)});
    return listed;
}

std::optional<std::size_t> positionOf(const std::vector<Listed>& listed, const std::string& title)
{
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (listed[i].title == title)
            return i;
    }
    return std::nullopt;
}

// Another program's dialog, shown by xmessage.
class MessageWindow
{
public:
    explicit MessageWindow(const QString& title)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The toolkit then writes non-ASCII titles as ICCCM demands, not as raw bytes.
        environment.insert("LC_ALL", "C.UTF-8");
        m_process.setProcessEnvironment(environment);
        m_process.start("xmessage", {"-timeout", "30", "-title", title, "A file is in use."});
        m_started = m_process.waitForStarted(5000);
    }
    ~MessageWindow() { close(); }
    bool started() const { return m_started; }
    void close()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(3000);
    }

private:
    QProcess m_process;
    bool m_started = false;
};

class X11TopLevelWindowsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display)
            GTEST_SKIP() << "no X display: the X11 window tests need one (DISPLAY is unset)";
        // A server started without -noreset refuses clients for a moment after the last one
        // of an earlier test program has left.
        waitFor([&] { return (service = platform::X11TopLevelWindows::open()) != nullptr; },
                std::chrono::seconds(3));
        ASSERT_NE(service, nullptr) << "cannot connect to " << display;
    }

    // Waits until a window with this title is listed.
    bool shown(const std::string& title)
    {
        return waitFor([&] { return positionOf(snapshot(*service), title).has_value(); });
    }
    bool opened(const MessageWindow& window, const std::string& title)
    {
        return window.started() && shown(title);
    }

    std::unique_ptr<platform::X11TopLevelWindows> service;
};

TEST_F(X11TopLevelWindowsTest, AnotherProgramsDialogIsListedOnTopWithItsWholeTitle)
{
    const std::string title = "eRRor deleting FILE - report.doc is in use";
    MessageWindow dialog(QString::fromStdString(title));
    ASSERT_TRUE(dialog.started()) << "xmessage did not start";
    ASSERT_TRUE(shown(title));
    const auto listed = snapshot(*service);
    EXPECT_EQ(listed.front().title, title) << "the window started last is on top";

    // The Windows-style walk over the installed service finds it too.
    platform::ScopedService<platform::WindowService> scope(*service);
    bool found = false;
    int walked = 0;
    for (HWND window = platform::FindWindowA(); window != 0 && walked <= 1000;
         window = platform::GetWindow(window, platform::GW_HWNDNEXT), ++walked)
        found = found || platform::GetWindowTextA(window, 256) == title;
    EXPECT_TRUE(found);
}

TEST_F(X11TopLevelWindowsTest, AClosedWindowIsGoneFromTheNextLook)
{
    const std::string title = "Error Deleting File";
    MessageWindow dialog(QString::fromStdString(title));
    ASSERT_TRUE(opened(dialog, title));
    const auto listed = snapshot(*service);
    const HWND window = listed[*positionOf(listed, title)].window;
    dialog.close();
    EXPECT_TRUE(waitFor([&] { return !positionOf(snapshot(*service), title).has_value(); }));
    // A window that no longer exists has no title and cannot be raised, and asking is no error.
    EXPECT_EQ(service->windowText(window), "");
    EXPECT_FALSE(service->bringToFront(window));
}

TEST_F(X11TopLevelWindowsTest, LaterWindowsStandAboveEarlierOnes)
{
    MessageWindow earlier("Stacking one");
    ASSERT_TRUE(opened(earlier, "Stacking one"));
    MessageWindow later("Stacking two");
    ASSERT_TRUE(opened(later, "Stacking two"));
    const auto listed = snapshot(*service);
    const auto one = positionOf(listed, "Stacking one");
    const auto two = positionOf(listed, "Stacking two");
    ASSERT_TRUE(one && two);
    EXPECT_EQ(*two, 0u);
    EXPECT_LT(*two, *one);
}

TEST_F(X11TopLevelWindowsTest, NonAsciiTitlesComeBackAsUtf8WhateverTheirEncoding)
{
    // xmessage writes WM_NAME as ISO 8859-1 STRING, or as COMPOUND_TEXT beyond it.
    MessageWindow latin("Erreur é à ô");
    MessageWindow cyrillic("Ошибка €");
    ASSERT_TRUE(latin.started() && cyrillic.started());
    EXPECT_TRUE(shown("Erreur é à ô"));
    EXPECT_TRUE(shown("Ошибка €"));

    // _NET_WM_NAME wins over WM_NAME and is taken unchanged.
    test::X11Client client;
    const xcb_window_t window = client.create();
    client.setText(window, "_NET_WM_NAME", "UTF8_STRING", "Fehler beim Löschen ✓");
    client.setText(window, "WM_NAME", "STRING", "Fehler beim L\xf6schen");
    client.map(window);
    client.sync();
    const auto listed = snapshot(*service);
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed.front().window, window);
    EXPECT_EQ(listed.front().title, "Fehler beim Löschen ✓");
}

TEST_F(X11TopLevelWindowsTest, ManagedClientStandsForItsFrameAndHiddenWindowsAreLeftOut)
{
    test::X11Client client;
    // What a window manager builds: a frame on the root, a wrapper, the client with WM_STATE.
    const xcb_window_t frame = client.create();
    const xcb_window_t wrapper = client.create(frame);
    const xcb_window_t decoration = client.create(frame);
    const xcb_window_t managed = client.create(wrapper);
    client.setText(frame, "WM_NAME", "STRING", "frame of the window manager");
    client.setText(decoration, "WM_NAME", "STRING", "title bar");
    client.setText(managed, "WM_NAME", "STRING", "Managed dialog");
    client.setNormalState(managed);
    for (const xcb_window_t window : {managed, wrapper, decoration, frame})
        client.map(window);
    const xcb_window_t hidden = client.create();
    client.setText(hidden, "WM_NAME", "STRING", "Hidden dialog");
    client.sync();

    const auto listed = snapshot(*service);
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed.front().window, managed);
    EXPECT_EQ(listed.front().title, "Managed dialog");
    EXPECT_FALSE(positionOf(listed, "frame of the window manager"));
    EXPECT_FALSE(positionOf(listed, "title bar"));
    EXPECT_FALSE(positionOf(listed, "Hidden dialog"));
    // A window outside the look is read afresh.
    EXPECT_EQ(service->windowText(hidden), "Hidden dialog");

    // Bringing the client to the front raises its frame above a window started later.
    MessageWindow later("Covering window");
    ASSERT_TRUE(opened(later, "Covering window"));
    ASSERT_EQ(snapshot(*service).front().title, "Covering window");
    EXPECT_TRUE(service->bringToFront(managed));
    EXPECT_EQ(snapshot(*service).front().window, managed);
    EXPECT_EQ(client.focus(), managed);
}

TEST_F(X11TopLevelWindowsTest, BringingToFrontRaisesAndFocusesOnlyExistingWindows)
{
    MessageWindow lower("Lower dialog");
    ASSERT_TRUE(opened(lower, "Lower dialog"));
    MessageWindow upper("Upper dialog");
    ASSERT_TRUE(opened(upper, "Upper dialog"));
    auto listed = snapshot(*service);
    const auto at = positionOf(listed, "Lower dialog");
    ASSERT_TRUE(at);
    const HWND window = listed[*at].window;

    EXPECT_TRUE(service->bringToFront(window));
    listed = snapshot(*service);
    EXPECT_EQ(listed.front().title, "Lower dialog");
    test::X11Client client;
    EXPECT_EQ(client.focus(), window);

    const xcb_window_t gone = client.create();
    client.destroy(gone);
    client.sync();
    EXPECT_FALSE(service->bringToFront(gone));
    EXPECT_FALSE(service->bringToFront(0));
    EXPECT_FALSE(service->bringToFront(client.root()));
    EXPECT_FALSE(service->bringToFront(HWND(1) << 40));
}

TEST_F(X11TopLevelWindowsTest, TheFocusIsTheListedWindowThatHoldsIt)
{
    test::X11Client client;
    const xcb_window_t plain = client.create();
    const xcb_window_t inner = client.create(plain);
    const xcb_window_t frame = client.create();
    const xcb_window_t managed = client.create(frame);
    const xcb_window_t insideManaged = client.create(managed);
    client.setNormalState(managed);
    for (const xcb_window_t window : {inner, plain, insideManaged, managed, frame})
        client.map(window);
    client.sync();

    struct Case
    {
        const char* focused;
        xcb_window_t focus;
        HWND expected;
    };
    const Case cases[] = {
        {"a top-level window", plain, plain},
        {"a window inside a top-level window", inner, plain},
        {"a managed client", managed, managed},
        {"the frame of a managed client", frame, managed},
        {"a window inside a managed client", insideManaged, managed},
        {"no window", XCB_NONE, 0},
        {"the window under the pointer", XCB_INPUT_FOCUS_POINTER_ROOT, 0},
        {"the root", client.root(), 0},
    };
    for (const Case& c : cases) {
        client.setFocus(c.focus);
        EXPECT_EQ(service->focusWindow(), c.expected) << c.focused;
    }

    client.setFocus(XCB_NONE);
    EXPECT_TRUE(service->bringToFront(plain));
    EXPECT_EQ(service->focusWindow(), plain);
    // Inside a window that is not shown nothing can take the focus.
    const xcb_window_t hiddenParent = client.create(frame);
    const xcb_window_t unreachable = client.create(hiddenParent);
    client.sync();
    EXPECT_FALSE(service->bringToFront(unreachable));
    EXPECT_EQ(service->focusWindow(), plain);
}

TEST_F(X11TopLevelWindowsTest, AWindowsProcessIsKnownOnlyOnThisMachine)
{
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    const std::uint32_t self = platform::GetCurrentProcessId();
    struct Case
    {
        const char* window;
        std::optional<std::uint32_t> pid;
        std::optional<std::string> machine;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"ours", self, host, self},
        {"with our number on another machine", self, std::string(host) + "-elsewhere", 0},
        {"without a process number", std::nullopt, host, 0},
        {"without a machine", self, std::nullopt, 0},
        {"without either", std::nullopt, std::nullopt, 0},
    };
    test::X11Client client;
    for (const Case& c : cases) {
        const xcb_window_t window = client.create();
        if (c.pid)
            client.setCardinal(window, "_NET_WM_PID", *c.pid);
        if (c.machine)
            client.setText(window, "WM_CLIENT_MACHINE", "STRING", *c.machine);
        client.sync();
        EXPECT_EQ(service->windowProcessId(window), c.expected) << c.window;
        std::uint32_t process = 12345;
        platform::ScopedService<platform::WindowService> scope(*service);
        EXPECT_EQ(platform::GetWindowThreadProcessId(window, &process), c.expected) << c.window;
        EXPECT_EQ(process, c.expected) << c.window;
    }
    const xcb_window_t gone = client.create();
    client.destroy(gone);
    client.sync();
    EXPECT_EQ(service->windowProcessId(gone), 0u);
}

TEST_F(X11TopLevelWindowsTest, ManyWindowsKeepTheirOrderAndTitles)
{
    test::X11Client client;
    constexpr int count = 300;
    std::vector<xcb_window_t> windows;
    for (int i = 0; i < count; ++i) {
        windows.push_back(client.create());
        // Every third window names itself only the old way.
        const std::string title = "many " + std::to_string(i);
        client.setText(windows.back(), i % 3 ? "_NET_WM_NAME" : "WM_NAME",
                       i % 3 ? "UTF8_STRING" : "STRING", title);
        client.map(windows.back());
    }
    client.sync();
    const auto listed = snapshot(*service);
    ASSERT_GE(listed.size(), std::size_t(count));
    for (int i = 0; i < count; ++i) {
        const Listed& entry = listed[static_cast<std::size_t>(count - 1 - i)];
        EXPECT_EQ(entry.window, windows[static_cast<std::size_t>(i)]);
        EXPECT_EQ(entry.title, "many " + std::to_string(i));
    }
}

// An X server of the test's own, so that it can be taken away.
class PrivateServer
{
public:
    PrivateServer()
    {
        // The server picks a free display and writes its number to standard output.
        start({"-displayfd", "1"});
        QByteArray number;
        waitFor([&] {
            m_server.waitForReadyRead(50);
            number += m_server.readAllStandardOutput();
            return number.contains('\n') || m_server.state() == QProcess::NotRunning;
        });
        if (number.contains('\n'))
            m_display = ":" + number.trimmed().toStdString();
    }
    ~PrivateServer() { stop(); }
    const std::string& display() const { return m_display; }

    void stop()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.terminate();
        if (!m_server.waitForFinished(3000)) {
            m_server.kill();
            m_server.waitForFinished(3000);
        }
    }
    bool restart()
    {
        stop();
        start({QString::fromStdString(m_display)});
        return waitFor([&] { return test::X11Client(m_display).connected(); });
    }

private:
    // Without -noreset the server resets when the probe client leaves, and a client that
    // connects meanwhile is refused.
    void start(QStringList arguments)
    {
        arguments += QStringList{"-screen", "0", "320x240x24", "-nolisten", "tcp", "-noreset"};
        m_server.start("Xvfb", arguments);
        m_server.waitForStarted(5000);
    }

    QProcess m_server;
    std::string m_display;
};

TEST(X11ServerLossTest, AServerThatWentAwayHasNoWindowsUntilItIsBack)
{
    if (QStandardPaths::findExecutable("Xvfb").isEmpty())
        GTEST_SKIP() << "Xvfb is not installed";
    PrivateServer server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    const auto service = platform::X11TopLevelWindows::open(server.display());
    ASSERT_NE(service, nullptr);
    const auto keyboard = platform::X11Keyboard::open(server.display());
    ASSERT_NE(keyboard, nullptr);
    const auto pressSpace = [&] {
        keyboard->keyEvent(platform::VK_SPACE, 0, 0, 0);
        keyboard->keyEvent(platform::VK_SPACE, 0, platform::KEYEVENTF_KEYUP, 0);
    };

    const auto showWindow = [&](test::X11Client& client, const std::string& title) {
        const xcb_window_t window = client.create();
        client.setText(window, "WM_NAME", "STRING", title);
        client.map(window);
        client.sync();
        return window;
    };
    HWND before = 0;
    {
        test::X11Client client(server.display());
        before = showWindow(client, "Before");
        ASSERT_EQ(service->firstWindow(), before);
        EXPECT_EQ(service->windowText(before), "Before");
    }

    server.stop();
    EXPECT_EQ(service->firstWindow(), 0u);
    EXPECT_EQ(service->firstWindow(), 0u);
    EXPECT_EQ(service->windowText(before), "");
    EXPECT_FALSE(service->bringToFront(before));
    EXPECT_EQ(service->focusWindow(), 0u);
    pressSpace();

    ASSERT_TRUE(server.restart());
    test::X11Client client(server.display());
    const xcb_window_t after = showWindow(client, "After");
    EXPECT_EQ(service->firstWindow(), after);
    EXPECT_EQ(service->windowText(after), "After");
    // The keyboard finds the new server too.
    client.watchKeys(after);
    client.setFocus(after);
    pressSpace();
    const std::vector<test::X11Client::KeyEvent> typed = {{true, ' ', 0}, {false, ' ', 0}};
    EXPECT_EQ(client.keyEvents(typed.size()), typed);
}

} // namespace
