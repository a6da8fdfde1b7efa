#include "scan/FileOp.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// Indexed by TFileOp.
constexpr unsigned FunctionCodes[] = {platform::FO_COPY, platform::FO_DELETE, platform::FO_MOVE,
                                      platform::FO_RENAME};

// Indexed by TFileOpFlag. No member reaches FOF_NOERRORUI or FOF_WANTMAPPINGHANDLE.
constexpr std::uint16_t ShellFlags[] = {
    platform::FOF_ALLOWUNDO,         platform::FOF_CONFIRMMOUSE,   platform::FOF_FILESONLY,
    platform::FOF_MULTIDESTFILES,    platform::FOF_NOCONFIRMATION, platform::FOF_NOCONFIRMMKDIR,
    platform::FOF_RENAMEONCOLLISION, platform::FOF_SILENT,         platform::FOF_SIMPLEPROGRESS};

// "a;b" becomes "a\0b\0\0": every ";" ends an entry, and an empty entry ends the list.
std::string shellList(const std::string& Paths)
{
    std::string list = Paths;
    list.append(2, '\0');
    std::replace(list.begin(), list.end(), ';', '\0');
    return list;
}

} // namespace

TFileOperation::TFileOperation(TOwnerWindow OwnerWindow)
    : m_ownerWindow(std::move(OwnerWindow)), m_about{"Component: TFileOperation", "Version: 1.1",
                                                     "YO!"}
{
}

void TFileOperation::setActive(bool Value)
{
    if (Value)
        Execute();
}

std::uint16_t TFileOperation::FlagWord(TFileOpFlags Flags)
{
    std::uint16_t word = 0;
    for (std::size_t k = 0; k < std::size(ShellFlags); ++k) {
        if (Flags.contains(static_cast<TFileOpFlag>(k)))
            word |= ShellFlags[k];
    }
    return word;
}

bool TFileOperation::Execute()
{
    platform::SHFILEOPSTRUCTA request;
    request.hwnd = m_ownerWindow ? m_ownerWindow() : 0;
    request.wFunc = FunctionCodes[m_operation];
    request.pFrom = shellList(m_filesFrom);
    request.pTo = shellList(m_filesTo);
    request.fFlags = FlagWord(m_flags);
    request.lpszProgressTitle = m_progressTitle;
    if (OnProgress)
        request.progress = [this](const std::string& File) { OnProgress(this, File); };
    m_failureReason.clear();
    const int result = platform::SHFileOperationA(request);
    m_operationAborted = request.fAnyOperationsAborted;
    if (result != 0)
        m_failureReason = request.failureReason;
    return result == 0;
}
