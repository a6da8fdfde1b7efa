#include "runtime/OwnWindows.h"
#include "platform/Service.h"
#include "platform/TopLevelWindows.h"

#include <QApplication>
#include <QElapsedTimer>
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
    EXPECT_TRUE(settle([&] { return QApplication::activeWindow() == main.get(); }));
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

} // namespace
