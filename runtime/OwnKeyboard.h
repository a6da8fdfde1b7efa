#pragma once

#include "platform/desktop/Keyboard.h"

namespace runtime {

// Keystrokes without an X server (offscreen, Wayland ...): each event is posted to one of
// the process's own windows, as a United Kingdom keyboard would have typed it. Between
// beginKeys and endKeys that is the window named, to its widget that has or last had the
// focus, whether or not the desktop made it the active window; otherwise the focused
// widget, or the active window. With no such window it goes nowhere.
class OwnKeyboard : public platform::KeyboardService
{
public:
    void keyEvent(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags,
                  std::uintptr_t extraInfo) override;
    // True while the window is a visible one of the process's own.
    bool beginKeys(platform::HWND window) override;
    void endKeys() override;

private:
    platform::HWND m_window = 0;
    bool m_shift = false;
    bool m_control = false;
    bool m_alt = false;
};

} // namespace runtime
