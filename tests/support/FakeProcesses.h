#pragma once

#include "platform/processes/Processes.h"

#include <functional>
#include <string>
#include <vector>

namespace test {

// Processes that start at once and have ended when waited for; every start, wait and
// closed handle is recorded.
class FakeProcesses : public platform::ProcessService
{
public:
    using Interface = platform::ProcessService;
    struct Start
    {
        std::string commandLine;
        std::uint32_t flags;
        platform::STARTUPINFOA startup;
    };

    bool createProcess(const std::string& commandLine, std::uint32_t creationFlags,
                       const platform::STARTUPINFOA& startup,
                       platform::PROCESS_INFORMATION& info) override;
    std::uint32_t waitForSingleObject(platform::HANDLE process,
                                      std::uint32_t milliseconds) override;
    int waitDescriptor(platform::HANDLE process) override;
    bool closeHandle(platform::HANDLE handle) override;
    std::uint32_t lastError() override;

    std::vector<std::string> started;
    std::vector<Start> starts;
    std::vector<std::uint32_t> waits;
    std::vector<platform::HANDLE> closed;
    bool startSucceeds = true;
    // When not empty, whether each start in turn succeeds; those past its end fail.
    std::vector<bool> outcomes;
    std::uint32_t error = platform::ERROR_FILE_NOT_FOUND;
    // Runs while the started program would be running.
    std::function<void(const std::string&)> whileRunning;

    char process = 0;
    char thread = 0;
};

} // namespace test
