// replaced at merge
#include "automation/Execfile.h"

namespace {

constexpr std::size_t InStringLength = 255;

} // namespace

void TExecFile::setCommandLine(const std::string& value)
{
    m_commandLine = value.substr(0, InStringLength);
}

void TExecFile::setParameters(const std::string& value)
{
    m_parameters = value.substr(0, InStringLength);
}

bool TExecFile::Execute()
{
    m_startupInfo = {};
    m_processInfo = {};
    const std::string command = (m_commandLine + " " + m_parameters).substr(0, InStringLength);
    if (!platform::CreateProcessA(command, platform::NORMAL_PRIORITY_CLASS, m_startupInfo,
                                  m_processInfo)) {
        m_errorCode = platform::GetLastError();
        if (OnFail)
            OnFail(this);
        return false;
    }
    if (m_wait) {
        m_waiting = true;
        platform::WaitForSingleObject(m_processInfo.hProcess, platform::INFINITE);
        m_waiting = false;
    }
    platform::CloseHandle(m_processInfo.hProcess);
    return true;
}
