#include "platform/PosixShell.h"

namespace platform {

// Replaced by the association lookup.
std::uintptr_t PosixShell::findExecutable(const std::string&, const std::string&,
                                          std::string& program)
{
    program.clear();
    return SE_ERR_NOASSOC;
}

} // namespace platform
