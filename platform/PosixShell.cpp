// replaced at merge
#include "platform/PosixShell.h"

namespace platform {

std::unique_ptr<ShellService> ShellService::createDefault()
{
    return std::make_unique<PosixShell>();
}

int PosixShell::fileOperation(SHFILEOPSTRUCTA&)
{
    return 1;
}

std::uintptr_t PosixShell::findExecutable(const std::string&, const std::string&, std::string&)
{
    return SE_ERR_NOASSOC;
}

bool PosixShell::isCollectable(const std::string&)
{
    return false;
}

// What cannot be looked at counts as holding one.
bool PosixShell::holdsTrash(const std::string&)
{
    return true;
}

} // namespace platform
