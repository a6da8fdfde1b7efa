#include "runtime/OwnWindows.h"
#include "platform/core/Service.h"
#include "platform/desktop/Keyboard.h"
#include "platform/desktop/TopLevelWindows.h"
#include "runtime/MessageBoxes.h"
#include "runtime/OwnKeyboard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using platform::HWND;
using runtime::OwnWindows;

namespace {

// Lets the toolkit work until the condition holds, for at most a few seconds.
bool settle(const std::function<bool()>& condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 5000)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

std::unique_ptr<QWidget> shownWindow(const QString& title)
{
    auto widget = std::make_unique<QWidget>();
    widget->setWindowTitle(title);
    widget->resize(120, 80);
    widget->show();
    return widget;
}

bool activate(QWidget* widget)
{
    widget->activateWindow();
    return settle([widget] { return QApplication::activeWindow() == widget; });
}

std::vector<HWND> walk(platform::WindowService& service)
{
    std::vector<HWND> order;
    for (HWND window = service.firstWindow(); window != 0; window = service.nextWindow(window))
        order.push_back(window);
    return order;
}

TEST(OwnWindowsTest, VisibleWindowsAreListedActiveFirstWithTheirTitles)
{
    auto first = shownWindow("Vorlax");
    auto second = shownWindow("Error Deleting File");
    auto hidden = std::make_unique<QWidget>();
    hidden->setWindowTitle("Hidden");
    ASSERT_TRUE(activate(first.get()));

    OwnWindows service;
    auto order = walk(service);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], OwnWindows::handleOf(first.get()));
    EXPECT_EQ(order[1], OwnWindows::handleOf(second.get()));
    EXPECT_EQ(service.windowText(order[0]), "Vorlax");
    EXPECT_EQ(service.windowText(order[1]), "Error Deleting File");

    ASSERT_TRUE(activate(second.get()));
    order = walk(service);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], OwnWindows::handleOf(second.get()));

    // Showing it lists it; closing another leaves it out.
    hidden->show();
    first->close();
    ASSERT_TRUE(settle([&] { return hidden->isVisible() && !first->isVisible(); }));
    order = walk(service);
    EXPECT_EQ(order.size(), 2u);
    EXPECT_NE(std::find(order.begin(), order.end(), OwnWindows::handleOf(hidden.get())),
              order.end());
    EXPECT_EQ(std::find(order.begin(), order.end(), OwnWindows::handleOf(first.get())),
              order.end());
}

TEST(OwnWindowsTest, TitlesAreUtf8AsShown)
{
    auto accented = shownWindow(QString::fromUtf8("Fehler beim Löschen – é ✓"));
    auto document = shownWindow("report.doc[*] - Editor");
    document->setWindowModified(true);
    OwnWindows service;
    service.firstWindow();
    EXPECT_EQ(service.windowText(OwnWindows::handleOf(accented.get())),
              "Fehler beim Löschen – é ✓");
    // The modified marker is shown as a star, or not at all.
    EXPECT_EQ(service.windowText(OwnWindows::handleOf(document.get())), "report.doc* - Editor");
    document->setWindowModified(false);
    EXPECT_EQ(service.windowText(OwnWindows::handleOf(document.get())), "report.doc - Editor");
}

TEST(OwnWindowsTest, AWindowDeletedSinceTheLookIsGoneWithoutHarm)
{
    auto kept = shownWindow("Kept");
    auto doomed = shownWindow("Doomed");
    ASSERT_TRUE(activate(doomed.get()));
    OwnWindows service;
    const HWND first = service.firstWindow();
    ASSERT_EQ(first, OwnWindows::handleOf(doomed.get()));
    doomed.reset();

    EXPECT_EQ(service.windowText(first), "");
    EXPECT_FALSE(service.bringToFront(first));
    // The walk still goes on past it.
    EXPECT_EQ(service.nextWindow(first), OwnWindows::handleOf(kept.get()));
    EXPECT_EQ(service.windowText(service.nextWindow(first)), "Kept");
    // A handle nobody ever had is nothing either.
    EXPECT_EQ(service.windowText(12345), "");
    EXPECT_FALSE(service.bringToFront(0));
}

TEST(OwnWindowsTest, BringingToFrontActivatesTheWindow)
{
    auto dialog = shownWindow("Error Deleting File");
    auto main = shownWindow("Vorlax");
    ASSERT_TRUE(activate(main.get()));
    OwnWindows service;
    service.firstWindow();
    // A handle from an earlier look still works while its widget lives.
    OwnWindows other;
    EXPECT_TRUE(other.bringToFront(OwnWindows::handleOf(dialog.get())));
    EXPECT_TRUE(settle([&] { return QApplication::activeWindow() == dialog.get(); }));
    EXPECT_EQ(service.firstWindow(), OwnWindows::handleOf(dialog.get()));

    main->showMinimized();
    EXPECT_TRUE(service.bringToFront(OwnWindows::handleOf(main.get())));
    EXPECT_FALSE(main->isMinimized());
    // The window is active by the time it returns, so keys typed next reach it.
    EXPECT_EQ(QApplication::activeWindow(), main.get());
    EXPECT_EQ(service.focusWindow(), OwnWindows::handleOf(main.get()));

    // A window that cannot become active is not reported as brought to the front.
    auto hidden = std::make_unique<QWidget>();
    EXPECT_FALSE(service.bringToFront(OwnWindows::handleOf(hidden.get())));
    EXPECT_EQ(QApplication::activeWindow(), main.get());
}

TEST(OwnWindowsTest, InstalledWithoutXTheWalkSeesTheProcessWindows)
{
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        GTEST_SKIP() << "on xcb the X server's windows are installed instead";
    runtime::installWindowService();
    auto dialog = shownWindow("eRRor deleting FILE");
    ASSERT_TRUE(activate(dialog.get()));
    const HWND window = platform::FindWindowA();
    EXPECT_EQ(window, OwnWindows::handleOf(dialog.get()));
    EXPECT_EQ(platform::GetWindowTextA(window, 256), "eRRor deleting FILE");
    EXPECT_TRUE(platform::SetForegroundWindow(window));
}

// ---------------------------------------------------------------------------------------
// Keys posted to the process's own windows

void press(std::uint8_t virtualKey)
{
    platform::keybd_event(virtualKey, 0, 0, 0);
}

void release(std::uint8_t virtualKey)
{
    platform::keybd_event(virtualKey, 0, platform::KEYEVENTF_KEYUP, 0);
}

void type(std::uint8_t virtualKey)
{
    press(virtualKey);
    release(virtualKey);
}

bool ownKeyboardInstalled()
{
    return dynamic_cast<runtime::OwnKeyboard*>(
               &platform::Service<platform::KeyboardService>::instance()) != nullptr;
}

class OwnKeyboardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() == QLatin1String("xcb"))
            GTEST_SKIP() << "on xcb the X server's keyboard is installed instead";
        ASSERT_TRUE(ownKeyboardInstalled());
    }
};

TEST_F(OwnKeyboardTest, TypingIntoALineEditGivesTheCharactersOfTheLayout)
{
    QWidget window;
    auto* edit = new QLineEdit(&window);
    window.show();
    ASSERT_TRUE(activate(&window));
    edit->setFocus();
    ASSERT_TRUE(settle([&] { return QApplication::focusWidget() == edit; }));

    press(platform::VK_SHIFT);
    type('H');
    release(platform::VK_SHIFT);
    type('I');
    press(platform::VK_SHIFT);
    type('1');
    release(platform::VK_SHIFT);
    EXPECT_TRUE(settle([&] { return edit->text() == "Hi!"; })) << edit->text().toStdString();
}

// Records the key presses that reach a widget.
class PressRecorder : public QWidget
{
public:
    struct Press
    {
        int key;
        Qt::KeyboardModifiers modifiers;
        QString text;
        bool operator==(const Press&) const = default;
    };
    std::vector<Press> presses;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        presses.push_back({event->key(), event->modifiers(), event->text()});
    }
};

// Shows the recorder as the active window, with the focus in it.
bool showFocused(PressRecorder& window)
{
    window.setFocusPolicy(Qt::StrongFocus);
    window.show();
    if (!activate(&window))
        return false;
    window.setFocus();
    return settle([&] { return QApplication::focusWidget() == &window; });
}

TEST_F(OwnKeyboardTest, EachKeyCarriesTheToolkitsKeyModifiersAndText)
{
    PressRecorder window;
    ASSERT_TRUE(showFocused(window));

    struct Case
    {
        const char* typed;
        std::uint8_t modifier; // held around the key; 0 for none
        std::uint8_t virtualKey;
        PressRecorder::Press expected;
    };
    const Case cases[] = {
        {"a", 0, 'A', {Qt::Key_A, Qt::NoModifier, "a"}},
        {"pound sign", platform::VK_SHIFT, '3', {Qt::Key_sterling, Qt::ShiftModifier, "\u00a3"}},
        {"at sign", platform::VK_SHIFT, 0xC0, {Qt::Key_At, Qt::ShiftModifier, "@"}},
        {"number sign", 0, 0xDE, {Qt::Key_NumberSign, Qt::NoModifier, "#"}},
        {"not sign", platform::VK_SHIFT, 0xDF, {Qt::Key_notsign, Qt::ShiftModifier, "\u00ac"}},
        {"Ctrl+A", platform::VK_CONTROL, 'A', {Qt::Key_A, Qt::ControlModifier, ""}},
        {"Alt+F4", platform::VK_MENU, 0x73, {Qt::Key_F4, Qt::AltModifier, ""}},
        {"Enter", 0, platform::VK_RETURN, {Qt::Key_Return, Qt::NoModifier, "\r"}},
        {"keypad 7", 0, 0x67, {Qt::Key_7, Qt::KeypadModifier, "7"}},
    };
    for (const Case& c : cases) {
        window.presses.clear();
        if (c.modifier)
            press(c.modifier);
        type(c.virtualKey);
        if (c.modifier)
            release(c.modifier);
        const std::size_t count = c.modifier ? 2 : 1;
        ASSERT_TRUE(settle([&] { return window.presses.size() == count; })) << c.typed;
        EXPECT_EQ(window.presses.back(), c.expected)
            << c.typed << ": " << window.presses.back().text.toStdString();
    }
    // A mouse button is no key.
    window.presses.clear();
    type(0x01);
    type('A');
    ASSERT_TRUE(settle([&] { return !window.presses.empty(); }));
    EXPECT_EQ(window.presses.front().key, Qt::Key_A);
}

// A Wayland desktop may leave the focus where it was when a window of the process asks for
// it: the keys meant for that window still reach it, and never the one that kept it.
TEST_F(OwnKeyboardTest, KeysForAWindowReachItWhereverTheDesktopLeftTheFocus)
{
    PressRecorder main;
    ASSERT_TRUE(showFocused(main));
    PressRecorder box;
    box.setWindowTitle("Error Deleting File");
    box.show();
    const HWND window = OwnWindows::handleOf(&box);
    EXPECT_TRUE(platform::SetForegroundWindow(window));
    // The desktop gives the focus back to the other window.
    ASSERT_TRUE(activate(&main));
    {
        const platform::KeysForWindow keys(window);
        ASSERT_TRUE(keys);
        type(platform::VK_SPACE);
    }
    ASSERT_TRUE(settle([&] { return !box.presses.empty(); }));
    EXPECT_EQ(box.presses.front().key, Qt::Key_Space);

    // Once it is gone, nothing is let through for it, nor typed anywhere else.
    box.hide();
    EXPECT_FALSE(platform::SetForegroundWindow(window));
    {
        const platform::KeysForWindow keys(window);
        EXPECT_FALSE(keys);
        type(platform::VK_RETURN);
    }
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_TRUE(main.presses.empty());
    EXPECT_EQ(box.presses.size(), 1u);
}

TEST_F(OwnKeyboardTest, SpaceClosesTheShellsErrorDialog)
{
    auto main = shownWindow("Vorlax");
    ASSERT_TRUE(activate(main.get()));
    // What the timer does once the box is up: find it, bring it to the front, press Space.
    bool typed = false;
    QTimer closer;
    closer.setInterval(20);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (HWND window = platform::FindWindowA(); window && !typed;
             window = platform::GetWindow(window, platform::GW_HWNDNEXT)) {
            if (platform::GetWindowTextA(window, 256) != "Error Deleting File")
                continue;
            typed = true;
            ASSERT_TRUE(platform::SetForegroundWindow(window));
            ASSERT_EQ(platform::GetForegroundWindow(), window);
            type(platform::VK_SPACE);
        }
    });
    closer.start();
    // Should the keys go astray, the box is closed by its title bar and answers Cancel.
    QTimer rescue;
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    rescue.start(10000);
    const runtime::ModalResult answer = runtime::showMessageBox(
        {runtime::MessageType::Error, "Error Deleting File",
         "Could not move report.doc to the trash: it is being used by another person or program.",
         runtime::ButtonOk});
    EXPECT_TRUE(typed);
    EXPECT_EQ(answer, runtime::ModalResult::Ok);
}

} // namespace
