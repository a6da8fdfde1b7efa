#include "platform/TopLevelWindows.h"

#include "platform/Service.h"

namespace platform {

HWND FindWindowA() { return Service<WindowService>::instance().firstWindow(); }

HWND GetWindow(HWND window, unsigned command)
{
    if (command != GW_HWNDNEXT || window == 0)
        return 0;
    return Service<WindowService>::instance().nextWindow(window);
}

std::string GetWindowTextA(HWND window, int maxCount)
{
    if (window == 0 || maxCount <= 1)
        return {};
    std::string text = Service<WindowService>::instance().windowText(window);
    if (text.size() > static_cast<std::size_t>(maxCount - 1))
        text.resize(static_cast<std::size_t>(maxCount - 1));
    return text;
}

bool SetForegroundWindow(HWND window)
{
    return window != 0 && Service<WindowService>::instance().bringToFront(window);
}

} // namespace platform
