#include "app/Wmiscio.h"

#include "platform/desktop/TopLevelWindows.h"
#include "platform/files/Folders.h"

#include <algorithm>
#include <cstdint>

namespace {

// The folder calls write into a buffer of 255 characters, the final zero included.
constexpr std::size_t folderBufferSize = 255;
constexpr int titleBufferSize = 256;

// What a zeroed buffer holds after the call: nothing when the folder does not fit.
std::string fromFolderBuffer(const std::string& folder)
{
    if (folder.size() + 1 > folderBufferSize)
        return {};
    return folder.substr(0, folder.find('\0'));
}

} // namespace

bool WindowTitleExists(const std::string& Text)
{
    return platform::findTitledWindow(Text, platform::WindowsOf::AnyProcess, titleBufferSize) != 0;
}

bool OwnWindowTitleExists(const std::string& Text)
{
    return platform::findTitledWindow(Text, platform::WindowsOf::ThisProcess, titleBufferSize) != 0;
}

std::string GetWindowsFolder()
{
    return fromFolderBuffer(platform::GetWindowsDirectoryA());
}

std::string GetSystemFolder()
{
    return fromFolderBuffer(platform::GetSystemDirectoryA());
}

std::string GetTempFolder()
{
    // A path that does not fit is no answer at all, rather than whatever the buffer held.
    std::string path = fromFolderBuffer(platform::GetTempPathA());
    if (RightStr(path, 1) == "\\")
        path.pop_back();
    return path;
}

std::string RightStr(const std::string& S, int Count)
{
    if (Count <= 0)
        return {};
    const auto length = static_cast<std::int64_t>(S.size());
    const std::int64_t start = std::max<std::int64_t>(length - Count + 1, 1);
    return S.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(Count));
}
