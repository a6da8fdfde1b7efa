#pragma once

#include "platform/shell/Shell.h"

#include <vector>

namespace runtime {

class FolderBrowserDialog;

// The shell's folder browser as a modal dialog of the toolkit: the title above a tree of
// folders, rooted at "Computer" with the drive letters under it or at a folder, an
// optional status line, OK and Cancel. Subfolders are read when a folder is first
// expanded, with the file search the scanner uses, so names stay bytes and a link is
// never entered. Its event loop keeps the application's timers running.
class FolderBrowser : public platform::FolderBrowser
{
public:
    platform::LPITEMIDLIST browse(platform::BROWSEINFOA& info) override;
    std::intptr_t sendMessage(platform::HWND window, unsigned message, std::uintptr_t wParam,
                              const std::string& lParam) override;

private:
    // Open dialogs, the innermost last: a callback may open another browser.
    std::vector<FolderBrowserDialog*> m_open;
};

// Puts the dialog in place of the default that shows nothing; called once the application
// object exists.
void installFolderBrowser();

} // namespace runtime
