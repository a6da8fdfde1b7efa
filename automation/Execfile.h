#pragma once

#include "platform/processes/Processes.h"

#include <cstdint>
#include <functional>
#include <string>

enum TPriorityClass { pcNormal, pcIdle, pcHigh, pcRealTime };
enum TWindowStyle { wsNorm, wsMinimize, wsMaximize, wsHide, wsMinNoActivate, wsShowNoActivate };
enum TWaitStyle { wRegular, wSuspend };

class TExecFile;
using TExecFileEvent = std::function<void(TExecFile* Sender)>;

// Starts another program, optionally through the program associated with a document, and
// optionally waits for it to end.
class TExecFile
{
public:
    TExecFile() = default;
    TExecFile(const TExecFile&) = delete;
    TExecFile& operator=(const TExecFile&) = delete;

    bool Associate() const { return m_associate; }
    void setAssociate(bool value) { m_associate = value; }
    // Texts of at most 255 characters: a longer one keeps its first 255.
    const std::string& CommandLine() const { return m_commandLine; }
    void setCommandLine(const std::string& value);
    const std::string& Parameters() const { return m_parameters; }
    void setParameters(const std::string& value);
    TPriorityClass Priority() const { return m_priority; }
    void setPriority(TPriorityClass value) { m_priority = value; }
    bool Wait() const { return m_wait; }
    void setWait(bool value) { m_wait = value; }
    TWaitStyle WaitStyle() const { return m_waitStyle; }
    void setWaitStyle(TWaitStyle value) { m_waitStyle = value; }
    TWindowStyle WindowStyle() const { return m_windowStyle; }
    void setWindowStyle(TWindowStyle value) { m_windowStyle = value; }
    TExecFileEvent OnFail;

    // True when a process was started (and, with Wait, has ended). Raises nothing. A
    // request to end the program during a wait ends the wait: false, no OnFail, and the
    // started program goes on running.
    bool Execute();

    std::uint32_t ErrorCode() const { return m_errorCode; }
    bool Waiting() const { return m_waiting; }
    const std::string& AssociatedProgram() const { return m_associatedProgram; }
    const platform::STARTUPINFOA& StartupInfo() const { return m_startupInfo; }
    // Of the last start; its handles are closed by the time Execute returns.
    const platform::PROCESS_INFORMATION& ProcessInfo() const { return m_processInfo; }

private:
    bool m_associate = false;
    std::string m_commandLine;
    std::string m_parameters;
    TPriorityClass m_priority = pcNormal;
    bool m_wait = false;
    TWaitStyle m_waitStyle = wRegular;
    TWindowStyle m_windowStyle = wsNorm;

    bool m_finished = false;
    std::uint32_t m_priorityClass = 0;
    std::uint32_t m_errorCode = 0;
    bool m_waiting = false;
    std::string m_associatedProgram;
    platform::STARTUPINFOA m_startupInfo;
    platform::PROCESS_INFORMATION m_processInfo;
};
