#include "platform/processes/Processes.h"

#include "platform/core/Service.h"

namespace platform {

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
