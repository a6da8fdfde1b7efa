#include "support/FakeProcesses.h"

namespace test {

bool FakeProcesses::createProcess(const std::string& commandLine, std::uint32_t,
                                  const platform::STARTUPINFOA&,
                                  platform::PROCESS_INFORMATION& info)
{
    started.push_back(commandLine);
    if (!startSucceeds)
        return false;
    info.hProcess = &m_process;
    info.dwProcessId = 4242;
    if (whileRunning)
        whileRunning(commandLine);
    return true;
}

std::uint32_t FakeProcesses::waitForSingleObject(platform::HANDLE, std::uint32_t)
{
    return platform::WAIT_OBJECT_0;
}

int FakeProcesses::waitDescriptor(platform::HANDLE)
{
    return -1;
}

bool FakeProcesses::closeHandle(platform::HANDLE handle)
{
    return handle != nullptr;
}

std::uint32_t FakeProcesses::lastError()
{
    return platform::ERROR_FILE_NOT_FOUND;
}

} // namespace test
