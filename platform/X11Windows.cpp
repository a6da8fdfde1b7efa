#include "platform/TopLevelWindows.h"

namespace platform {

namespace {

// Placeholder until the X11 implementation lands: no windows at all.
class NoWindows : public WindowService
{
public:
    HWND firstWindow() override { return 0; }
    HWND nextWindow(HWND) override { return 0; }
    std::string windowText(HWND) override { return {}; }
    bool bringToFront(HWND) override { return false; }
};

} // namespace

std::unique_ptr<WindowService> WindowService::createDefault()
{
    return std::make_unique<NoWindows>();
}

} // namespace platform
