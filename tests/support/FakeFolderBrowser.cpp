#include "support/FakeFolderBrowser.h"

namespace test {

platform::LPITEMIDLIST FakeFolderBrowser::browse(platform::BROWSEINFOA& info)
{
    ++shown;
    flags = info.ulFlags;
    title = info.lpszTitle;
    owner = info.hwndOwner;
    root = info.pidlRoot ? std::optional<std::string>(info.pidlRoot->path) : std::nullopt;
    info.lpfn(handle, platform::BFFM_INITIALIZED, nullptr, info.lParam);
    for (const std::string& path : selections) {
        const platform::ITEMIDLIST item{path};
        info.lpfn(handle, platform::BFFM_SELCHANGED, &item, info.lParam);
    }
    if (!answer)
        return nullptr;
    return std::make_unique<platform::ITEMIDLIST>(*answer);
}

std::intptr_t FakeFolderBrowser::sendMessage(platform::HWND window, unsigned message,
                                             std::uintptr_t wParam, const std::string& lParam)
{
    messages.push_back({window, message, wParam, lParam});
    return 0;
}

} // namespace test
