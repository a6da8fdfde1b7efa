#include "platform/x11/X11Keyboard.h"
#include "platform/desktop/Keyboard.h"
#include "platform/x11/X11TopLevelWindows.h"
#include "support/X11Client.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using KeyEvent = test::X11Client::KeyEvent;

constexpr std::uint32_t XK_space = 0x20, XK_1 = 0x31, XK_Return = 0xff0d, XK_Shift_L = 0xffe1;

class X11KeyboardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display)
            GTEST_SKIP() << "no X display: the X11 keyboard tests need one (DISPLAY is unset)";
        // A server started without -noreset refuses clients for a moment after the last one
        // of an earlier test program has left.
        for (int attempt = 0; attempt < 150 && !(windows && keyboard); ++attempt) {
            windows = platform::X11TopLevelWindows::open();
            keyboard = platform::X11Keyboard::open();
            if (!(windows && keyboard))
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_TRUE(windows && keyboard) << "cannot connect to " << display;
    }

    std::unique_ptr<platform::X11TopLevelWindows> windows;
    std::unique_ptr<platform::X11Keyboard> keyboard;
};

TEST_F(X11KeyboardTest, KeysReachTheWindowBroughtToTheFront)
{
    test::X11Client client;
    const xcb_window_t window = client.create();
    client.watchKeys(window);
    client.map(window);
    client.sync();
    ASSERT_TRUE(windows->bringToFront(window));
    ASSERT_EQ(windows->focusWindow(), window);

    struct Sent
    {
        std::uint8_t virtualKey;
        std::uint32_t flags;
    };
    const Sent sent[] = {
        // Mouse buttons and the key no layout has are no keys of the keyboard.
        {0x01, 0},
        {0x01, platform::KEYEVENTF_KEYUP},
        {0xFF, 0},
        {platform::VK_SPACE, 0},
        {platform::VK_SPACE, platform::KEYEVENTF_KEYUP},
        {platform::VK_RETURN, 0},
        {platform::VK_RETURN, platform::KEYEVENTF_KEYUP},
        {platform::VK_SHIFT, 0},
        {'1', 0},
        {'1', platform::KEYEVENTF_KEYUP},
        {platform::VK_SHIFT, platform::KEYEVENTF_KEYUP},
    };
    for (const Sent& key : sent)
        keyboard->keyEvent(key.virtualKey, 0, key.flags, 0);

    const std::vector<KeyEvent> received = {
        {true, XK_space, 0},
        {false, XK_space, 0},
        {true, XK_Return, 0},
        {false, XK_Return, 0},
        {true, XK_Shift_L, 0},
        {true, XK_1, XCB_MOD_MASK_SHIFT},
        {false, XK_1, XCB_MOD_MASK_SHIFT},
        {false, XK_Shift_L, XCB_MOD_MASK_SHIFT},
    };
    EXPECT_EQ(client.keyEvents(received.size()), received);
}

} // namespace

// Keys typed through XTest go wherever the focus is when they arrive; another client asking
// for it between the look and the keys must wait until they are through.
TEST_F(X11KeyboardTest, WhileKeysAreHeldNoOtherClientMovesTheFocus)
{
    test::X11Client client;
    test::X11Client other;
    const xcb_window_t window = client.create();
    const xcb_window_t inside = client.create(window);
    const xcb_window_t foreign = other.create();
    client.watchKeys(window);
    other.watchKeys(foreign);
    client.map(inside);
    client.map(window);
    other.map(foreign);
    other.sync();
    ASSERT_TRUE(windows->bringToFront(window));

    ASSERT_TRUE(keyboard->beginKeys(window));
    other.setFocus(foreign, false);
    keyboard->keyEvent(platform::VK_RETURN, 0, 0, 0);
    keyboard->keyEvent(platform::VK_RETURN, 0, platform::KEYEVENTF_KEYUP, 0);
    keyboard->endKeys();
    EXPECT_EQ(client.keyEvents(2),
              (std::vector<KeyEvent>{{true, XK_Return, 0}, {false, XK_Return, 0}}));
    EXPECT_TRUE(other.keyEventsSoFar().empty());

    // The focus elsewhere, or inside the window.
    ASSERT_EQ(other.focus(), foreign);
    EXPECT_FALSE(keyboard->beginKeys(window));
    keyboard->endKeys();
    client.setFocus(inside);
    EXPECT_TRUE(keyboard->beginKeys(window));
    keyboard->endKeys();
}
