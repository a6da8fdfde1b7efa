#include "runtime/OwnWindows.h"

#include "platform/core/Service.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11TopLevelWindows.h"
#include "runtime/OwnKeyboard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWindow>
#include <algorithm>

namespace runtime {

namespace {

constexpr qint64 ActivationLimitMs = 300;

} // namespace

platform::HWND OwnWindows::handleOf(const QWidget* widget)
{
    return reinterpret_cast<platform::HWND>(widget);
}

platform::HWND OwnWindows::firstWindow()
{
    m_order.clear();
    const auto add = [this](QWidget* widget) {
        if (!widget || !widget->isWindow() || !widget->isVisible())
            return;
        const platform::HWND handle = handleOf(widget);
        const bool listed = std::any_of(m_order.begin(), m_order.end(),
                                        [handle](const Entry& e) { return e.handle == handle; });
        if (!listed)
            m_order.push_back({handle, widget});
    };
    add(QApplication::activeWindow());
    for (QWidget* widget : QApplication::topLevelWidgets())
        add(widget);
    return m_order.empty() ? 0 : m_order.front().handle;
}

platform::HWND OwnWindows::nextWindow(platform::HWND window)
{
    for (std::size_t i = 0; i + 1 < m_order.size(); ++i) {
        if (m_order[i].handle == window)
            return m_order[i + 1].handle;
    }
    return 0;
}

std::string OwnWindows::windowText(platform::HWND window)
{
    const QWidget* widget = widgetOf(window);
    if (!widget)
        return {};
    // The native window's title is the one shown, with the "[*]" marker resolved.
    const QWindow* native = widget->windowHandle();
    return (native ? native->title() : widget->windowTitle()).toStdString();
}

QWidget* OwnWindows::shownWindowOf(platform::HWND window)
{
    if (window == 0)
        return nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (handleOf(widget) == window)
            return widget->isVisible() ? widget : nullptr;
    }
    return nullptr;
}

bool OwnWindows::bringToFront(platform::HWND window)
{
    QWidget* widget = widgetOf(window);
    if (!widget || !widget->isVisible())
        return false;
    if (widget->isMinimized())
        widget->setWindowState(widget->windowState() & ~Qt::WindowMinimized);
    widget->raise();
    widget->activateWindow();
    // Activation, where the desktop grants it, reaches the toolkit as an event of its own.
    QElapsedTimer waited;
    waited.start();
    while (QApplication::activeWindow() != widget && waited.elapsed() <= ActivationLimitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(5);
    }
    return widget->isVisible();
}

platform::HWND OwnWindows::focusWindow()
{
    QWidget* active = QApplication::activeWindow();
    return active ? handleOf(active) : 0;
}

std::uint32_t OwnWindows::windowProcessId(platform::HWND window)
{
    return widgetOf(window) ? platform::GetCurrentProcessId() : 0;
}

QWidget* OwnWindows::widgetOf(platform::HWND window) const
{
    if (window == 0)
        return nullptr;
    for (const Entry& entry : m_order) {
        if (entry.handle == window)
            return entry.widget.data();
    }
    // A handle from an earlier look: only a widget that still exists is trusted.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (handleOf(widget) == window)
            return widget;
    }
    return nullptr;
}

void installWindowService()
{
    using Windows = platform::Service<platform::WindowService>;
    using Keyboard = platform::Service<platform::KeyboardService>;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        auto windows = platform::X11TopLevelWindows::open();
        auto keyboard = platform::X11Keyboard::open();
        // Keys typed into a window found by the other family would miss it.
        if (windows && keyboard) {
            Windows::install(std::move(windows));
            Keyboard::install(std::move(keyboard));
            return;
        }
    }
    Windows::install(std::make_unique<OwnWindows>());
    Keyboard::install(std::make_unique<OwnKeyboard>());
}

platform::HWND windowHandle(QWidget* window)
{
    if (dynamic_cast<OwnWindows*>(&platform::Service<platform::WindowService>::instance()))
        return OwnWindows::handleOf(window);
    return static_cast<platform::HWND>(window->winId());
}

} // namespace runtime
