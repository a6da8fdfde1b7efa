#pragma once

#include "platform/processes/Processes.h"

#include <functional>
#include <string>
#include <vector>

namespace test {

// Processes that start at once and have ended when waited for; every command line is
// recorded. Install it with a platform::ScopedService.
class FakeProcesses : public platform::ProcessService
{
public:
    bool createProcess(const std::string& commandLine, std::uint32_t creationFlags,
                       const platform::STARTUPINFOA& startup,
                       platform::PROCESS_INFORMATION& info) override;
    std::uint32_t waitForSingleObject(platform::HANDLE process,
                                      std::uint32_t milliseconds) override;
    int waitDescriptor(platform::HANDLE process) override;
    bool closeHandle(platform::HANDLE handle) override;
    std::uint32_t lastError() override;

    std::vector<std::string> started;
    bool startSucceeds = true;
    // Runs while the started program would be running.
    std::function<void(const std::string&)> whileRunning;

private:
    int m_process = 0;
};

} // namespace test
