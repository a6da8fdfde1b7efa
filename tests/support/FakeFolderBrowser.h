#pragma once

#include "platform/shell/Shell.h"

#include <optional>
#include <string>
#include <vector>

namespace test {

// A folder browser that plays a scripted session: it raises BFFM_INITIALIZED, then one
// BFFM_SELCHANGED for every entry of selections (an empty text stands for an item without a
// path), records what it is sent and answers with answer.
class FakeFolderBrowser : public platform::FolderBrowser
{
public:
    using Interface = platform::FolderBrowser;
    struct Message
    {
        platform::HWND window;
        unsigned message;
        std::uintptr_t wParam;
        std::string lParam;
        bool operator==(const Message&) const = default;
    };

    platform::LPITEMIDLIST browse(platform::BROWSEINFOA& info) override;
    std::intptr_t sendMessage(platform::HWND window, unsigned message, std::uintptr_t wParam,
                              const std::string& lParam) override;

    platform::HWND handle = 0x5a17;
    std::vector<std::string> selections;
    // Null for a cancel; an item with an empty path is the computer.
    std::optional<platform::ITEMIDLIST> answer;

    int shown = 0;
    std::vector<Message> messages;
    // Of the last browse: the flags, the title, the owner and the root's path.
    unsigned flags = 0;
    std::string title;
    platform::HWND owner = 0;
    std::optional<std::string> root;
};

} // namespace test
