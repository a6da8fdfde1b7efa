#pragma once

#include "platform/shell/Shell.h"

namespace platform {

// The shell family on Linux. File requests (the trash among them) live in PosixShell.cpp,
// the document associations in PosixAssociations.cpp.
class PosixShell : public ShellService
{
public:
    int fileOperation(SHFILEOPSTRUCTA& request) override;
    std::uintptr_t findExecutable(const std::string& file, const std::string& directory,
                                  std::string& program) override;
    bool isCollectable(const std::string& windowsPath) override;
    bool holdsTrash(const std::string& windowsFolder) override;
    void tidyTrash() override;
};

} // namespace platform
