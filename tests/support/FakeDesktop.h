#pragma once

#include "platform/desktop/Keyboard.h"
#include "platform/desktop/TopLevelWindows.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace test {

// Windows 1..n in z-order with their titles, all of this process unless listed as
// foreign. Bringing one to the front gives it the focus unless it refuses.
class FakeWindows : public platform::WindowService
{
public:
    using Interface = platform::WindowService;
    platform::HWND firstWindow() override { return titles.empty() ? 0 : 1; }
    platform::HWND nextWindow(platform::HWND window) override;
    std::string windowText(platform::HWND window) override;
    bool bringToFront(platform::HWND window) override;
    platform::HWND focusWindow() override { return focus; }
    std::uint32_t windowProcessId(platform::HWND window) override;

    std::vector<std::string> titles;
    std::set<platform::HWND> foreign;
    std::set<platform::HWND> refusing;
    platform::HWND focus = 0;
    std::vector<platform::HWND> raised;
    int titlesRead = 0;
};

struct KeyEvent
{
    std::uint8_t virtualKey;
    std::uint8_t scanCode;
    std::uint32_t flags;
    std::uintptr_t extraInfo;
    bool operator==(const KeyEvent&) const = default;
};

// Records every key event; onEvent runs after each is recorded.
class FakeKeyboard : public platform::KeyboardService
{
public:
    using Interface = platform::KeyboardService;
    void keyEvent(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags,
                  std::uintptr_t extraInfo) override;
    bool beginKeys(platform::HWND window) override;
    void endKeys() override { m_heldFor = 0; }

    std::vector<KeyEvent> events;
    // For each event, the window whose focus was held when it came; 0 when none was.
    std::vector<platform::HWND> heldFor;
    std::function<void(const KeyEvent&)> onEvent;

private:
    platform::HWND m_heldFor = 0;
};

} // namespace test
