#include "platform/shell/Shell.h"

#include "platform/core/Service.h"
#include "platform/drives/Drives.h"
#include "platform/files/Folders.h"

#include <iostream>
#include <sys/stat.h>

namespace platform {

namespace {

// Without a toolkit nobody can answer, so the default answer stands.
class StandardErrorDialogs : public ShellDialogs
{
public:
    bool confirm(HWND, const std::string& title, const std::string& text) override
    {
        std::cerr << title << ": " << text << std::endl;
        return true;
    }
    void reportError(HWND, const std::string& title, const std::string& text) override
    {
        std::cerr << title << ": " << text << std::endl;
    }
};

// Without a toolkit there is nobody to choose a folder.
class NoFolderBrowser : public FolderBrowser
{
public:
    LPITEMIDLIST browse(BROWSEINFOA&) override { return nullptr; }
    std::intptr_t sendMessage(HWND, unsigned, std::uintptr_t, const std::string&) override
    {
        return 0;
    }
};

} // namespace

std::unique_ptr<ShellDialogs> ShellDialogs::createDefault()
{
    return std::make_unique<StandardErrorDialogs>();
}

std::unique_ptr<FolderBrowser> FolderBrowser::createDefault()
{
    return std::make_unique<NoFolderBrowser>();
}

HRESULT SHGetSpecialFolderLocation(HWND, int folder, LPITEMIDLIST& item)
{
    item.reset();
    if (folder == CSIDL_DRIVES) {
        item = std::make_unique<ITEMIDLIST>();
        return S_OK;
    }
    if (folder != CSIDL_DESKTOP)
        return E_FAIL;
    const std::string desktop = desktopFolderNative();
    struct stat info;
    if (::stat(desktop.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return E_FAIL;
    const std::string path = toWindowsPath(desktop);
    if (path.empty())
        return E_FAIL;
    item = std::make_unique<ITEMIDLIST>(ITEMIDLIST{path});
    return S_OK;
}

bool SHGetPathFromIDListA(const ITEMIDLIST* item, std::string& path)
{
    if (!item || item->path.empty())
        return false;
    path = item->path;
    return true;
}

LPITEMIDLIST SHBrowseForFolderA(BROWSEINFOA& info)
{
    return Service<FolderBrowser>::instance().browse(info);
}

std::intptr_t SendMessageA(HWND window, unsigned message, std::uintptr_t wParam,
                           const std::string& lParam)
{
    return Service<FolderBrowser>::instance().sendMessage(window, message, wParam, lParam);
}

int SHFileOperationA(SHFILEOPSTRUCTA& request)
{
    return Service<ShellService>::instance().fileOperation(request);
}

std::uintptr_t FindExecutableA(const std::string& file, const std::string& directory,
                               std::string& result)
{
    return Service<ShellService>::instance().findExecutable(file, directory, result);
}

bool isCollectable(const std::string& windowsPath)
{
    return Service<ShellService>::instance().isCollectable(windowsPath);
}

bool holdsTrash(const std::string& windowsFolder)
{
    return Service<ShellService>::instance().holdsTrash(windowsFolder);
}

void tidyTrash()
{
    Service<ShellService>::instance().tidyTrash();
}

} // namespace platform
