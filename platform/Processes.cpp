// replaced at merge
#include "platform/Processes.h"

#include "platform/Service.h"

namespace platform {

namespace {

class PosixProcesses : public ProcessService
{
public:
    bool createProcess(const std::string&, std::uint32_t, const STARTUPINFOA&,
                       PROCESS_INFORMATION&) override
    {
        return false;
    }
    std::uint32_t waitForSingleObject(HANDLE, std::uint32_t) override { return WAIT_FAILED; }
    int waitDescriptor(HANDLE) override { return -1; }
    bool closeHandle(HANDLE) override { return false; }
    std::uint32_t lastError() override { return ERROR_FILE_NOT_FOUND; }
};

} // namespace

std::unique_ptr<ProcessService> ProcessService::createDefault()
{
    return std::make_unique<PosixProcesses>();
}

bool CreateProcessA(const std::string& commandLine, std::uint32_t creationFlags,
                    const STARTUPINFOA& startup, PROCESS_INFORMATION& info)
{
    return Service<ProcessService>::instance().createProcess(commandLine, creationFlags, startup,
                                                             info);
}

std::uint32_t WaitForSingleObject(HANDLE process, std::uint32_t milliseconds)
{
    return Service<ProcessService>::instance().waitForSingleObject(process, milliseconds);
}

bool CloseHandle(HANDLE handle)
{
    return Service<ProcessService>::instance().closeHandle(handle);
}

std::uint32_t GetLastError()
{
    return Service<ProcessService>::instance().lastError();
}

} // namespace platform
