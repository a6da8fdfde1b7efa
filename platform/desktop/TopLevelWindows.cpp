#include "platform/desktop/TopLevelWindows.h"

#include "platform/core/AsciiCase.h"
#include "platform/core/Service.h"

#include <unistd.h>

namespace platform {

HWND FindWindowA()
{
    return Service<WindowService>::instance().firstWindow();
}

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
    const auto limit = static_cast<std::size_t>(maxCount - 1);
    if (text.size() <= limit)
        return text;
    // Titles are UTF-8: a character the buffer cannot hold whole is left out whole.
    const auto continues = [&](std::size_t at) {
        return (static_cast<unsigned char>(text[at]) & 0xc0) == 0x80;
    };
    std::size_t end = limit;
    while (end > 0 && limit - end < 3 && continues(end))
        --end;
    text.resize(continues(end) ? limit : end);
    return text;
}

bool SetForegroundWindow(HWND window)
{
    return window != 0 && Service<WindowService>::instance().bringToFront(window);
}

HWND GetForegroundWindow()
{
    return Service<WindowService>::instance().focusWindow();
}

std::uint32_t GetWindowThreadProcessId(HWND window, std::uint32_t* processId)
{
    const std::uint32_t process =
        window == 0 ? 0 : Service<WindowService>::instance().windowProcessId(window);
    if (processId)
        *processId = process;
    // There is no thread of its own to name; the process stands for it.
    return process;
}

std::uint32_t GetCurrentProcessId()
{
    return static_cast<std::uint32_t>(::getpid());
}

HWND findTitledWindow(const std::string& text, WindowsOf windows, int titleBuffer)
{
    constexpr int furtherWindows = 1000;
    if (text.empty())
        return 0;
    const std::string wanted = lowerAscii(text);
    const std::uint32_t ownProcess = GetCurrentProcessId();
    HWND window = FindWindowA();
    for (int further = 0;; ++further) {
        std::uint32_t process = 0;
        const bool eligible = windows == WindowsOf::AnyProcess ||
                              (window != 0 && GetWindowThreadProcessId(window, &process) != 0 &&
                               process == ownProcess);
        if (eligible &&
            lowerAscii(GetWindowTextA(window, titleBuffer)).find(wanted) != std::string::npos)
            return window;
        if (window == 0 || further >= furtherWindows)
            return 0;
        window = GetWindow(window, GW_HWNDNEXT);
    }
}

namespace {

// Without an X display there is no desktop to look at.
class NoWindows : public WindowService
{
public:
    HWND firstWindow() override { return 0; }
    HWND nextWindow(HWND) override { return 0; }
    std::string windowText(HWND) override { return {}; }
    bool bringToFront(HWND) override { return false; }
    HWND focusWindow() override { return 0; }
    std::uint32_t windowProcessId(HWND) override { return 0; }
};

} // namespace

// Which windows there are is the runtime's choice, made once it knows the toolkit's
// platform; until then, and without it, there are none.
std::unique_ptr<WindowService> WindowService::createDefault()
{
    return std::make_unique<NoWindows>();
}

} // namespace platform
