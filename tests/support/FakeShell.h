#pragma once

#include "platform/shell/Shell.h"

#include <functional>
#include <string>
#include <vector>

namespace test {

// A shell that records every file request and program look-up and answers as the test says.
class FakeShell : public platform::ShellService
{
public:
    using Interface = platform::ShellService;
    int fileOperation(platform::SHFILEOPSTRUCTA& request) override;
    std::uintptr_t findExecutable(const std::string& file, const std::string& directory,
                                  std::string& program) override;
    bool isCollectable(const std::string& windowsPath) override;
    bool holdsTrash(const std::string& windowsFolder) override;

    // The entries of a NUL-separated list up to its first empty one.
    static std::vector<std::string> entries(const std::string& list);
    // The first source path of every request, in order.
    std::vector<std::string> sources() const;

    std::vector<platform::SHFILEOPSTRUCTA> requests;
    // What fileOperation answers, and what it sets in fAnyOperationsAborted.
    int result = 0;
    bool aborted = false;
    // The reason a failed request gives.
    std::string failureReason;
    // Runs inside every request, before it is answered; it may throw.
    std::function<void(const platform::SHFILEOPSTRUCTA&)> onRequest;
    // What findExecutable answers and finds; every file it was asked about.
    std::uintptr_t findResult = platform::SE_ERR_NOASSOC;
    std::string found;
    std::vector<std::string> asked;
    std::function<bool(const std::string&)> collectable = [](const std::string&) { return true; };
    std::function<bool(const std::string&)> trash = [](const std::string&) { return false; };
};

} // namespace test
