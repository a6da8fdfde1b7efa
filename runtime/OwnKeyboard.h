#pragma once

#include "platform/Keyboard.h"

namespace runtime {

// Keystrokes without an X server (offscreen, Wayland ...): each event is posted to the
// process's own focused widget, or its active window when nothing in it has the focus, as
// a United Kingdom keyboard would have typed it. With no active window it goes nowhere.
class OwnKeyboard : public platform::KeyboardService
{
public:
    void keyEvent(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags,
                  std::uintptr_t extraInfo) override;

private:
    bool m_shift = false;
    bool m_control = false;
    bool m_alt = false;
};

} // namespace runtime
