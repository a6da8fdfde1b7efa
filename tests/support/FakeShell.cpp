#include "support/FakeShell.h"

namespace test {

int FakeShell::fileOperation(platform::SHFILEOPSTRUCTA& request)
{
    requests.push_back(request);
    if (request.progress) {
        for (const std::string& entry : entries(request.pFrom))
            request.progress(entry);
    }
    if (onRequest)
        onRequest(request);
    request.fAnyOperationsAborted = aborted;
    request.failureReason = result != 0 ? failureReason : std::string();
    return result;
}

std::uintptr_t FakeShell::findExecutable(const std::string& file, const std::string&,
                                         std::string& program)
{
    asked.push_back(file);
    program = found;
    return findResult;
}

bool FakeShell::isCollectable(const std::string& windowsPath)
{
    return collectable(windowsPath);
}

bool FakeShell::holdsTrash(const std::string& windowsFolder)
{
    return trash(windowsFolder);
}

std::vector<std::string> FakeShell::entries(const std::string& list)
{
    std::vector<std::string> result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = list.find('\0', start);
        if (end == std::string::npos || end == start)
            return result;
        result.push_back(list.substr(start, end - start));
        start = end + 1;
    }
}

std::vector<std::string> FakeShell::sources() const
{
    std::vector<std::string> result;
    for (const auto& request : requests) {
        const auto from = entries(request.pFrom);
        result.push_back(from.empty() ? std::string() : from.front());
    }
    return result;
}

} // namespace test
