#include "automation/SendKeys.h"

#include "platform/core/Service.h"
#include "support/FakeDesktop.h"
#include "support/ScopedFake.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <vector>

using test::KeyEvent;

namespace {

// The events of the Windows key-event table, by the mapped value m of each.
KeyEvent down(std::uint8_t vk, unsigned m)
{
    return {vk, static_cast<std::uint8_t>(m), 0, m * 256 + 1u};
}
KeyEvent up(std::uint8_t vk, unsigned m)
{
    return {vk, static_cast<std::uint8_t>(m), 2, m * 256 + 1u};
}
std::vector<KeyEvent> tap(std::uint8_t vk, unsigned m)
{
    return {down(vk, m), up(vk, m)};
}
const KeyEvent ShiftDown{0x10, 0x2A, 0, 0x2A01};
const KeyEvent ShiftUp{0x10, 0, 2, 0x2A00};
const KeyEvent CtrlDown{0x11, 0, 0, 1};
const KeyEvent CtrlUp{0x11, 0, 2, 0};
const KeyEvent AltDown{0x12, 0, 0, 1};
const KeyEvent AltUp{0x12, 0, 2, 0};

std::vector<KeyEvent> join(std::initializer_list<std::vector<KeyEvent>> parts)
{
    std::vector<KeyEvent> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}
std::vector<KeyEvent> shifted(std::uint8_t vk, unsigned m)
{
    return join({{ShiftDown}, tap(vk, m), {ShiftUp}});
}

// A key string and the events it gives.
struct KeyCase
{
    std::string keys;
    std::vector<KeyEvent> events;
};

class SendKeysTest : public ::testing::Test
{
protected:
    std::vector<KeyEvent> send(const std::string& keys)
    {
        keyboard.events.clear();
        TSendKey sender;
        sender.Keys = keys;
        sender.Delay = -1;
        sender.execute();
        return keyboard.events;
    }

    test::ScopedFake<test::FakeKeyboard> keyboard;
    test::ScopedFake<test::FakeWindows> windows;
};

} // namespace

TEST_F(SendKeysTest, KeyStringsGiveTheEventsOfTheKeyTable)
{
    const KeyCase cases[] = {
        {" \r", join({tap(0x20, 0x39), tap(0x0D, 0x1C)})},
        {"A", shifted(0x41, 0x1E)},
        {"a1", join({tap(0x41, 0x1E), tap(0x31, 0x02)})},
        {"!", shifted(0x31, 0x02)},
        {"\xC2\xA3", shifted(0x33, 0x04)}, // the pound sign, as UTF-8
        {"@", shifted(0xC0, 0x28)},
        {"\"", shifted(0x32, 0x03)},
        {"*", shifted(0x38, 0x09)},
        {"{^[F4]}", join({{CtrlDown}, tap(0x73, 0), {CtrlUp}})},
        {"{^A}", join({{ShiftDown, CtrlDown}, tap(0x41, 0x1E), {ShiftUp, CtrlUp}})},
        {"{&x}", join({{AltDown}, tap(0x58, 0x2D), {AltUp}})},
        // Only the first character after the modifier is typed.
        {"{!ab}", shifted(0x41, 0x1E)},
        {"[ return ]", tap(0x0D, 0x0D)},
        {"[RETURN\t]", tap(0x0D, 0x0D)},
        {"[Enter]", {}},
        {"[NumPad7]", tap(0x67, '7')},
        // A group with a named key, then another named key: each under its own name.
        {"{![Tab]}[Escape]", join({{ShiftDown}, tap(0x09, '\t'), {ShiftUp}, tap(0x1B, 0x1B)})},
        // A second modifier in a group becomes a group of its own, "{!6}", inside it: the
        // outer group then holds Shift and Ctrl over "{", and its "}" follows as a key.
        {"{^^}",
         join({{ShiftDown, CtrlDown}, tap(0xDB, 0x1A), {ShiftUp, CtrlUp}, tap(0xDD, 0x1B)})},
        // A character no key types is sent as virtual key 255.
        {"\xE2\x82\xAC\xE4\xB8\x80", join({tap(0x34, 0x05), tap(0xFF, 0)})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(send(c.keys), c.events) << c.keys;
}

TEST_F(SendKeysTest, MalformedPartsSendNothingAndTheRestGoesOn)
{
    const KeyCase cases[] = {
        {"a[Return", tap(0x41, 0x1E)},
        {"a{^b", tap(0x41, 0x1E)},
        {"{}a", tap(0x41, 0x1E)},
        {"{^}a", tap(0x41, 0x1E)},
        {"[]a", tap(0x41, 0x1E)},
        // A plain closer is typed; a named key after it is malformed, plain keys are not.
        {"][Return]a", join({tap(0xDD, 0x1B), tap(0x41, 0x1E)})},
        {"}{^a}b", join({tap(0xDD, 0x1B), tap(0x42, 0x30)})},
        {"[", {}},
        {"{", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(send(c.keys), c.events) << c.keys;
}

// Long strings of one part give that part's events once per copy: used closers are
// skipped, and a plain "]" keeps every later named key malformed, however far along.
TEST_F(SendKeysTest, LongKeyStringsRepeatTheEventsOfTheirParts)
{
    const KeyCase cases[] = {
        {"!", shifted(0x31, 0x02)},
        {"{a}", tap(0x41, 0x1E)},
        {"{^[F4]}[Tab]", join({{CtrlDown}, tap(0x73, 0), {CtrlUp}, tap(0x09, '\t')})},
        {"]{a}[Tab]b", join({tap(0xDD, 0x1B), tap(0x41, 0x1E), tap(0x42, 0x30)})},
    };
    constexpr int Copies = 20000;
    for (const auto& c : cases) {
        std::string keys;
        std::vector<KeyEvent> expected;
        for (int i = 0; i < Copies; ++i) {
            keys += c.keys;
            expected.insert(expected.end(), c.events.begin(), c.events.end());
        }
        EXPECT_EQ(send(keys), expected) << c.keys;
    }
}

TEST_F(SendKeysTest, TheFirstMatchingWindowIsBroughtToTheFrontBeforeTyping)
{
    windows.titles = {"Editor", "ERROR DELETING FILE now", "Error Deleting File"};
    std::vector<platform::HWND> raisedBeforeTyping;
    keyboard.onEvent = [&](const KeyEvent&) { raisedBeforeTyping = windows.raised; };
    TSendKey sender;
    sender.TitleText = "Error Deleting File";
    sender.Keys = " ";
    sender.execute();
    EXPECT_EQ(windows.raised, std::vector<platform::HWND>{2});
    EXPECT_EQ(raisedBeforeTyping, std::vector<platform::HWND>{2});
    EXPECT_EQ(keyboard.events, tap(0x20, 0x39));
    // Sent while the keyboard held the focus there: a look at it just before would leave
    // another program time to move it.
    EXPECT_EQ(keyboard.heldFor, std::vector<platform::HWND>(2, 2));
}

TEST_F(SendKeysTest, NothingIsTypedUnlessTheWindowWasFoundAndKeepsTheFocus)
{
    TSendKey sender;
    sender.TitleText = "Error Deleting File";
    sender.Keys = " \r";

    windows.titles = {"Editor"};
    windows.focus = 1;
    sender.execute();
    EXPECT_TRUE(keyboard.events.empty()) << "no window matched";

    windows.titles = {"Editor", "Error Deleting File"};
    windows.refusing = {2};
    sender.execute();
    EXPECT_TRUE(keyboard.events.empty()) << "the activation was refused";

    // The focus leaves the dialog after Space: Enter is dropped.
    windows.refusing.clear();
    keyboard.onEvent = [&](const KeyEvent& e) {
        if (e.flags == 2)
            windows.focus = 1;
    };
    sender.execute();
    EXPECT_EQ(keyboard.events, tap(0x20, 0x39));
}

TEST_F(SendKeysTest, OwnWindowsOnlyPassesOverOtherProgramsWindows)
{
    windows.titles = {"error deleting file - a web page", "Error Deleting File"};
    windows.foreign = {1};
    TSendKey sender;
    sender.TitleText = "Error Deleting File";
    sender.Keys = " ";
    sender.OwnWindowsOnly = true;
    sender.execute();
    EXPECT_EQ(windows.raised, std::vector<platform::HWND>{2});

    windows.raised.clear();
    windows.foreign = {1, 2};
    sender.execute();
    EXPECT_TRUE(windows.raised.empty());
    EXPECT_EQ(keyboard.events, tap(0x20, 0x39)) << "only the first run typed";
}

TEST_F(SendKeysTest, SearchLooksAt1001WindowsAndTitlesOf254Characters)
{
    TSendKey sender;
    sender.TitleText = "target";
    windows.titles.assign(1002, "other");
    windows.titles[1000] = "target";
    sender.execute();
    EXPECT_EQ(windows.raised, std::vector<platform::HWND>{1001});

    windows.raised.clear();
    windows.titles[1000] = "other";
    windows.titles[1001] = "target";
    sender.execute();
    EXPECT_TRUE(windows.raised.empty());

    windows.titles = {std::string(248, 'x') + "target", std::string(249, 'x') + "target"};
    sender.execute();
    EXPECT_EQ(windows.raised, std::vector<platform::HWND>{1});

    windows.raised.clear();
    windows.titles.erase(windows.titles.begin());
    sender.execute();
    EXPECT_TRUE(windows.raised.empty());
}

TEST_F(SendKeysTest, EmptyTitleTextTypesIntoTheFocusWithoutASearch)
{
    windows.titles = {"Editor"};
    EXPECT_EQ(send("a"), tap(0x41, 0x1E));
    EXPECT_EQ(windows.titlesRead, 0);
    EXPECT_TRUE(windows.raised.empty());
}

TEST_F(SendKeysTest, APauseFollowsEveryTokenUnlessTheDelayIsNegative)
{
    int delivered = 0;
    const auto postMessage = [&] { QTimer::singleShot(0, [&] { ++delivered; }); };
    // Each key event posts a message; the pause after its token delivers it.
    keyboard.onEvent = [&](const KeyEvent& e) {
        if (e.flags == 2)
            postMessage();
    };
    TSendKey sender;
    sender.Keys = "ab";
    sender.Delay = 0;
    sender.execute();
    EXPECT_EQ(delivered, 2);

    delivered = 0;
    sender.Delay = -1;
    sender.execute();
    EXPECT_EQ(delivered, 0);
}
