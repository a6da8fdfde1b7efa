#pragma once

#include "platform/desktop/TopLevelWindows.h"

#include <cstdint>
#include <string>

// Types a key string into the window that has the keyboard focus, after bringing to the
// front the first top-level window whose title contains TitleText.
//
// Key strings: plain characters; the shifted characters of the United Kingdom layout;
// named keys in brackets ("[Return]", "[F4]", any case, blanks ignored); groups in braces
// holding Shift, Alt or Ctrl ("{!a}", "{&x}", "{^[F4]}"). A malformed part (an opening
// bracket or brace with no closing one after it, a group that holds nothing) sends
// nothing.
class TSendKey
{
public:
    std::string Keys;
    std::string TitleText;
    // Milliseconds after each token; a negative value means no pause at all.
    std::int32_t Delay = 0;
    // Ours: only the process's own windows are searched. Keystrokes meant for a dialog of
    // our own must never reach another program whose title happens to hold the same words.
    bool OwnWindowsOnly = false;

    // With a TitleText, nothing is typed unless a window matched and took the focus, and
    // typing stops as soon as the focus has left it.
    void execute();

private:
    // The window brought to the front; 0 when none matched or it did not take the focus.
    platform::HWND activateTarget() const;
    void sendToken(const std::string& token) const;
    void pause() const;
};
