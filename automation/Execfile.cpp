#include "automation/Execfile.h"

#include "platform/core/Service.h"
#include "platform/shell/Shell.h"
#include "runtime/Application.h"
#include "runtime/ProcessWait.h"

using namespace platform;

namespace {

constexpr std::size_t shortTextLength = 255;
// Without a descriptor to wait on, the process is asked this often while messages run.
constexpr int pollIntervalMs = 20;

std::string shortText(const std::string& text)
{
    return text.substr(0, shortTextLength);
}

std::uint16_t showWindowOf(TWindowStyle style)
{
    switch (style) {
    case wsNorm:
        return SW_SHOWNORMAL;
    case wsMinimize:
        return SW_SHOWMINIMIZED;
    case wsMaximize:
        return SW_SHOWMAXIMIZED;
    case wsHide:
        return SW_HIDE;
    case wsMinNoActivate:
        return SW_SHOWMINNOACTIVE;
    case wsShowNoActivate:
        return SW_SHOWNA;
    }
    return SW_SHOWNORMAL;
}

std::uint32_t priorityClassOf(TPriorityClass priority)
{
    switch (priority) {
    case pcNormal:
        return NORMAL_PRIORITY_CLASS;
    case pcIdle:
        return IDLE_PRIORITY_CLASS;
    case pcHigh:
        return HIGH_PRIORITY_CLASS;
    case pcRealTime:
        return REALTIME_PRIORITY_CLASS;
    }
    return NORMAL_PRIORITY_CLASS;
}

// Runs the message loop until the process ends; false when the program is asked to end
// first. The program then finishes in order and leaves the started one running.
bool waitRegular(HANDLE process)
{
    const int descriptor = Service<ProcessService>::instance().waitDescriptor(process);
    for (;;) {
        runtime::processMessages();
        if (runtime::terminated())
            return false;
        if (WaitForSingleObject(process, 0) != WAIT_TIMEOUT)
            break;
        runtime::processMessagesUntilReadable(descriptor, descriptor < 0 ? pollIntervalMs : -1);
    }
    runtime::processMessages();
    return true;
}

} // namespace

void TExecFile::setCommandLine(const std::string& value)
{
    m_commandLine = shortText(value);
}

void TExecFile::setParameters(const std::string& value)
{
    m_parameters = shortText(value);
}

bool TExecFile::Execute()
{
    m_startupInfo = STARTUPINFOA{};
    m_startupInfo.cb = 68;
    m_startupInfo.dwFlags = STARTF_USESHOWWINDOW;
    m_startupInfo.wShowWindow = showWindowOf(m_windowStyle);
    m_priorityClass = priorityClassOf(m_priority);
    const std::uint32_t creationFlags = m_priorityClass | CREATE_NEW_CONSOLE;

    bool started = CreateProcessA(shortText(m_commandLine + " " + m_parameters), creationFlags,
                                  m_startupInfo, m_processInfo);
    if (!started && m_associate) {
        std::string program;
        if (FindExecutableA(m_commandLine, std::string(), program) >= 32) {
            m_associatedProgram = program;
            // Not cut: the program's path may be long, and a cut one would start another
            // program or none. A string holds any length, so there is no buffer to overrun.
            started = CreateProcessA(program + " " + m_commandLine + " " + m_parameters,
                                     creationFlags, m_startupInfo, m_processInfo);
        }
    }
    if (!started) {
        m_errorCode = GetLastError();
        if (OnFail)
            OnFail(this);
        return false;
    }

    // Kept apart from the members: a handler run during the wait may start this component
    // again, and the wait and the closing are this start's own.
    const PROCESS_INFORMATION handles = m_processInfo;
    bool ended = true;
    if (m_wait) {
        const bool waitingBefore = m_waiting;
        m_waiting = true;
        m_finished = false;
        if (m_waitStyle == wSuspend)
            WaitForSingleObject(handles.hProcess, INFINITE);
        else
            ended = waitRegular(handles.hProcess);
        m_finished = ended;
        m_waiting = waitingBefore;
    }
    CloseHandle(handles.hProcess);
    CloseHandle(handles.hThread);
    return ended;
}
