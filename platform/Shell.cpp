// replaced at merge
#include "platform/Shell.h"

#include "platform/Service.h"

namespace platform {

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
