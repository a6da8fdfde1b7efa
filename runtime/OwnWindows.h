#pragma once

#include "platform/desktop/TopLevelWindows.h"

#include <QPointer>
#include <QWidget>
#include <vector>

namespace runtime {

// The process's own visible top-level widgets, the active one first: the top-level
// windows when the toolkit runs without an X display (offscreen, Wayland ...). A window's
// handle is its widget's address; the look keeps guarded pointers, so a widget deleted
// since is simply gone.
class OwnWindows : public platform::WindowService
{
public:
    static platform::HWND handleOf(const QWidget* widget);
    // The visible top-level widget a handle names; none for a widget that is gone or hidden.
    static QWidget* shownWindowOf(platform::HWND window);

    platform::HWND firstWindow() override;
    platform::HWND nextWindow(platform::HWND window) override;
    std::string windowText(platform::HWND window) override;
    // Asks for the window to be activated and lets the toolkit work until it is the active
    // one, within a short limit. True for any visible window of the process: a Wayland
    // desktop decides on its own which window gets the focus, and keys posted by the
    // process's own keyboard reach the window whether or not it has it.
    bool bringToFront(platform::HWND window) override;
    platform::HWND focusWindow() override;
    // Every window listed is the process's own.
    std::uint32_t windowProcessId(platform::HWND window) override;

private:
    struct Entry
    {
        platform::HWND handle;
        QPointer<QWidget> widget;
    };
    QWidget* widgetOf(platform::HWND window) const;

    std::vector<Entry> m_order;
};

// Installs the window and keyboard families that fit the toolkit's platform: the X server's
// windows and its test keyboard on xcb, the process's own windows and posted key events
// everywhere else. The one place that chooses, so the program and its tests see the same
// windows and type into them alike; called once the application object exists.
void installWindowService();

// The handle by which the installed window family knows a top-level widget: its X window
// (made when it has none yet) on X11, its address with the process's own windows.
platform::HWND windowHandle(QWidget* window);

} // namespace runtime
