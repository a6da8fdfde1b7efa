#include "support/FakeProcesses.h"

namespace test {

bool FakeProcesses::createProcess(const std::string& commandLine, std::uint32_t creationFlags,
                                  const platform::STARTUPINFOA& startup,
                                  platform::PROCESS_INFORMATION& info)
{
    started.push_back(commandLine);
    starts.push_back({commandLine, creationFlags, startup});
    const std::size_t n = starts.size() - 1;
    if (outcomes.empty() ? !startSucceeds : n >= outcomes.size() || !outcomes[n])
        return false;
    info.hProcess = &process;
    info.hThread = &thread;
    info.dwProcessId = 4242;
    if (whileRunning)
        whileRunning(commandLine);
    return true;
}

std::uint32_t FakeProcesses::waitForSingleObject(platform::HANDLE, std::uint32_t milliseconds)
{
    waits.push_back(milliseconds);
    return platform::WAIT_OBJECT_0;
}

int FakeProcesses::waitDescriptor(platform::HANDLE)
{
    return -1;
}

bool FakeProcesses::closeHandle(platform::HANDLE handle)
{
    closed.push_back(handle);
    return handle != nullptr;
}

std::uint32_t FakeProcesses::lastError()
{
    return error;
}

} // namespace test
