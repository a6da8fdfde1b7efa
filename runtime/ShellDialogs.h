#pragma once

#include "platform/shell/Shell.h"

namespace runtime {

// The shell's questions and error reports as the toolkit's modal boxes, titled exactly as
// the request gives them, so a timer can find an error box by its title. Their event loop
// keeps the application's timers running.
class ShellDialogs : public platform::ShellDialogs
{
public:
    bool confirm(platform::HWND owner, const std::string& title, const std::string& text) override;
    void reportError(platform::HWND owner, const std::string& title,
                     const std::string& text) override;
};

// Puts the boxes in place of the default that writes to standard error; called once the
// application object exists.
void installShellDialogs();

} // namespace runtime
