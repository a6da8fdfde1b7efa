#pragma once

#include "platform/desktop/Keyboard.h"

#include <memory>
#include <string>

namespace platform {

// Keystrokes through the X server's test extension, over an xcb connection of its own: they
// join the server's input stream as a real keyboard's would, and errors come back on this
// connection only, never to the toolkit's handler.
class X11Keyboard : public KeyboardService
{
public:
    // Null when no connection to the display opens or the server cannot fake input. An
    // empty name means $DISPLAY.
    static std::unique_ptr<X11Keyboard> open(const std::string& display = {});
    ~X11Keyboard() override;
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    // Presses or releases the server's key that carries the unshifted symbol of the virtual
    // key on a United Kingdom keyboard. Keys with no symbol, or none the server's keyboard
    // carries, send nothing.
    void keyEvent(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags,
                  std::uintptr_t extraInfo) override;
    // Holds the server, so no other client can move the focus between this look at it and
    // the last key event; keys typed through XTest go wherever the focus is when they
    // arrive. True when the focus is the window, a window inside it or its frame. Until
    // endKeys nothing may wait for an answer on another connection to this server (the
    // toolkit's, the window family's): it would wait for the hold forever.
    bool beginKeys(HWND window) override;
    void endKeys() override;

private:
    struct Connection;
    static std::unique_ptr<Connection> connect(const std::string& display);
    X11Keyboard(std::string display, std::unique_ptr<Connection> connection);
    // The live connection, made anew when the server went away since the last call.
    Connection* connection();

    std::string m_display;
    std::unique_ptr<Connection> m_connection;
};

} // namespace platform
