#include "platform/Shell.h"

#include "platform/Service.h"

#include <iostream>

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

} // namespace

std::unique_ptr<ShellDialogs> ShellDialogs::createDefault()
{
    return std::make_unique<StandardErrorDialogs>();
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

} // namespace platform
