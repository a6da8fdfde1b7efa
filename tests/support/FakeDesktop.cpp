#include "support/FakeDesktop.h"

namespace test {

using platform::HWND;

HWND FakeWindows::nextWindow(HWND window)
{
    return window < titles.size() ? window + 1 : 0;
}

std::string FakeWindows::windowText(HWND window)
{
    ++titlesRead;
    return window >= 1 && window <= titles.size() ? titles[window - 1] : std::string();
}

bool FakeWindows::bringToFront(HWND window)
{
    raised.push_back(window);
    if (window < 1 || window > titles.size() || refusing.count(window))
        return false;
    focus = window;
    return true;
}

std::uint32_t FakeWindows::windowProcessId(HWND window)
{
    if (window < 1 || window > titles.size())
        return 0;
    return foreign.count(window) ? platform::GetCurrentProcessId() + 1
                                 : platform::GetCurrentProcessId();
}

void FakeKeyboard::keyEvent(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags,
                            std::uintptr_t extraInfo)
{
    events.push_back({virtualKey, scanCode, flags, extraInfo});
    heldFor.push_back(m_heldFor);
    if (onEvent)
        onEvent(events.back());
}

bool FakeKeyboard::beginKeys(platform::HWND window)
{
    const bool focused = KeyboardService::beginKeys(window);
    m_heldFor = focused ? window : 0;
    return focused;
}

} // namespace test
