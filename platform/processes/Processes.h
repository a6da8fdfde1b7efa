#pragma once

#include "platform/core/ErrorCodes.h"
#include "platform/files/Files.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

inline constexpr std::uint32_t NORMAL_PRIORITY_CLASS = 0x20;
inline constexpr std::uint32_t IDLE_PRIORITY_CLASS = 0x40;
inline constexpr std::uint32_t HIGH_PRIORITY_CLASS = 0x80;
inline constexpr std::uint32_t REALTIME_PRIORITY_CLASS = 0x100;
inline constexpr std::uint32_t CREATE_NEW_CONSOLE = 0x10;

inline constexpr std::uint32_t STARTF_USESHOWWINDOW = 0x1;
inline constexpr std::uint16_t SW_HIDE = 0;
inline constexpr std::uint16_t SW_SHOWNORMAL = 1;
inline constexpr std::uint16_t SW_SHOWMINIMIZED = 2;
inline constexpr std::uint16_t SW_SHOWMAXIMIZED = 3;
inline constexpr std::uint16_t SW_SHOWMINNOACTIVE = 7;
inline constexpr std::uint16_t SW_SHOWNA = 8;

inline constexpr std::uint32_t INFINITE = 0xffffffff;
inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_TIMEOUT = 0x102;
inline constexpr std::uint32_t WAIT_FAILED = 0xffffffff;

struct STARTUPINFOA
{
    std::uint32_t cb = 0;
    std::uint32_t dwFlags = 0;
    std::uint16_t wShowWindow = 0;
};

struct PROCESS_INFORMATION
{
    HANDLE hProcess = nullptr;
    HANDLE hThread = nullptr;
    std::uint32_t dwProcessId = 0;
    std::uint32_t dwThreadId = 0;
};

class ProcessService
{
public:
    virtual ~ProcessService() = default;
    // Starts commandLine (split as Windows splits one); false with lastError() set when
    // nothing was started.
    virtual bool createProcess(const std::string& commandLine, std::uint32_t creationFlags,
                               const STARTUPINFOA& startup, PROCESS_INFORMATION& info) = 0;
    virtual std::uint32_t waitForSingleObject(HANDLE process, std::uint32_t milliseconds) = 0;
    // A descriptor that becomes readable when the process has ended, so a wait can block on
    // it and the message loop together; -1 when there is none (then poll).
    virtual int waitDescriptor(HANDLE process) = 0;
    virtual bool closeHandle(HANDLE handle) = 0;
    virtual std::uint32_t lastError() = 0;

    static std::unique_ptr<ProcessService> createDefault();
};

// Without an application name, handles not inherited, the caller's environment and
// current directory. On Linux the program is looked up along PATH as written, then in
// lower case without a trailing ".exe"; it gets /dev/null as its standard input, shares
// our standard output and error, inherits no other descriptor and runs in a process group
// of its own. Priority classes become nice values: idle 19, high -5, real time -10, and
// normal keeps ours; a raise the system refuses starts the program at ours. The
// show-window value and CREATE_NEW_CONSOLE have no effect there.
bool CreateProcessA(const std::string& commandLine, std::uint32_t creationFlags,
                    const STARTUPINFOA& startup, PROCESS_INFORMATION& info);
std::uint32_t WaitForSingleObject(HANDLE process, std::uint32_t milliseconds);
bool CloseHandle(HANDLE handle);
// The error of the last failed call of this family.
std::uint32_t GetLastError();

} // namespace platform
