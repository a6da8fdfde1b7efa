// Placeholder until merged: replaced by the shell file operation.
#include "platform/PosixShell.h"

namespace platform {

int PosixShell::fileOperation(SHFILEOPSTRUCTA&)
{
    return 1;
}

bool PosixShell::isCollectable(const std::string&)
{
    return false;
}

bool PosixShell::holdsTrash(const std::string&)
{
    return false;
}

std::unique_ptr<ShellService> ShellService::createDefault()
{
    return std::make_unique<PosixShell>();
}

} // namespace platform
