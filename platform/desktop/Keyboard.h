#pragma once

#include "platform/desktop/TopLevelWindows.h"

#include <cstdint>
#include <memory>

namespace platform {

inline constexpr std::uint32_t KEYEVENTF_EXTENDEDKEY = 0x0001;
inline constexpr std::uint32_t KEYEVENTF_KEYUP = 0x0002;

// Map types of MapVirtualKeyA.
inline constexpr unsigned MAPVK_VK_TO_VSC = 0;
inline constexpr unsigned MAPVK_VSC_TO_VK = 1;
inline constexpr unsigned MAPVK_VK_TO_CHAR = 2;

// Virtual keys the system names.
inline constexpr std::uint8_t VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10,
                              VK_CONTROL = 0x11, VK_MENU = 0x12, VK_ESCAPE = 0x1B, VK_SPACE = 0x20;

// Synthetic keystrokes into the system's single input stream: they reach whichever window
// holds the input focus when they arrive.
class KeyboardService
{
public:
    virtual ~KeyboardService() = default;
    virtual void keyEvent(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags,
                          std::uintptr_t extraInfo) = 0;
    // Ours: the key events up to endKeys reach the window only. True when the input focus
    // is in it now; it then stays there, whatever other programs ask, until endKeys. False
    // when the focus is elsewhere: nothing may be sent then. endKeys follows either way.
    // Here: a look at the focus, enough where no other program can move it meanwhile.
    virtual bool beginKeys(HWND window) { return GetForegroundWindow() == window; }
    virtual void endKeys() {}

    // Drops every event: which keyboard there is is the runtime's choice, made once it
    // knows the toolkit's platform (XTest on X11, posted events to its own windows else).
    static std::unique_ptr<KeyboardService> createDefault();
};

void keybd_event(std::uint8_t bVk, std::uint8_t bScan, std::uint32_t dwFlags,
                 std::uintptr_t dwExtraInfo);

// The United Kingdom layout of the Windows keyboard tables, whatever the machine's own
// layout: a virtual key to its scan code (MAPVK_VK_TO_VSC), a scan code to its virtual
// key (MAPVK_VSC_TO_VK) or a virtual key to its unshifted character (MAPVK_VK_TO_CHAR,
// upper-case for letters); 0 when there is none.
unsigned MapVirtualKeyA(unsigned uCode, unsigned uMapType);
// The virtual key that types the 8-bit Windows (code page 1252) character in the low
// byte, its shift state in the high byte (1 Shift, 2 Ctrl, 4 Alt); -1 when no key of the
// layout types it.
std::int16_t VkKeyScanA(char ch);

// beginKeys and endKeys of the installed keyboard for one scope; a null window means
// wherever the focus is, with no check.
class KeysForWindow
{
public:
    explicit KeysForWindow(HWND window);
    ~KeysForWindow();
    KeysForWindow(const KeysForWindow&) = delete;
    KeysForWindow& operator=(const KeysForWindow&) = delete;
    // Whether the events may be sent.
    explicit operator bool() const { return m_allowed; }

private:
    bool m_begun;
    bool m_allowed;
};

} // namespace platform
