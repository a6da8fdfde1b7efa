#pragma once

#include "platform/shell/Shell.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

enum TFileOp : std::uint8_t { foCopy, foDelete, foMove, foRename };

enum TFileOpFlag : std::uint8_t {
    fofAllowUndo,
    fofConfirmMouse,
    fofFilesOnly,
    fofMultiDestFiles,
    fofNoConfirmation,
    fofNoConfirmMkDir,
    fofRenameOnCollision,
    fofSilent,
    fofSimpleProgress
};

// A set of TFileOpFlag in 16 bits; member k is bit k.
class TFileOpFlags
{
public:
    constexpr TFileOpFlags() = default;
    constexpr TFileOpFlags(std::initializer_list<TFileOpFlag> Members)
    {
        for (const TFileOpFlag member : Members)
            m_bits |= static_cast<std::uint16_t>(1u << member);
    }

    constexpr bool contains(TFileOpFlag Member) const { return m_bits & (1u << Member); }
    constexpr bool empty() const { return m_bits == 0; }
    constexpr std::uint16_t bits() const { return m_bits; }
    constexpr bool operator==(const TFileOpFlags&) const = default;

private:
    std::uint16_t m_bits = 0;
};

// Hands one copy, delete, move or rename request to the shell's file operation.
class TFileOperation
{
public:
    // The window the shell's dialogs belong to: the owning form's, made on demand. Without
    // one the request goes out with the application's handle, 0 here, as the application
    // has no window of its own.
    using TOwnerWindow = std::function<platform::HWND()>;

    explicit TFileOperation(TOwnerWindow OwnerWindow = {});
    TFileOperation(const TFileOperation&) = delete;
    TFileOperation& operator=(const TFileOperation&) = delete;

    // Three fixed lines; writing them changes nothing.
    const std::vector<std::string>& About() const { return m_about; }
    void setAbout(const std::vector<std::string>&) {}
    // Always false; writing true makes one request at once.
    bool Active() const { return false; }
    void setActive(bool Value);
    // Paths separated by ";".
    const std::string& FilesFrom() const { return m_filesFrom; }
    void setFilesFrom(const std::string& Value) { m_filesFrom = Value; }
    const std::string& FilesTo() const { return m_filesTo; }
    void setFilesTo(const std::string& Value) { m_filesTo = Value; }
    TFileOpFlags Flags() const { return m_flags; }
    void setFlags(TFileOpFlags Value) { m_flags = Value; }
    TFileOp Operation() const { return m_operation; }
    void setOperation(TFileOp Value) { m_operation = Value; }
    // The outcome of the last Execute; writing it changes nothing.
    bool OperationAborted() const { return m_operationAborted; }
    void setOperationAborted(bool) {}
    const std::string& ProgressTitle() const { return m_progressTitle; }
    void setProgressTitle(const std::string& Value) { m_progressTitle = Value; }
    // Ours, so a run can tell what became of each file: after an Execute that failed, the
    // shell's reason for the last entry it could not handle; empty after one that succeeded.
    const std::string& FailureReason() const { return m_failureReason; }

    // Ours: told each entry's path just before the shell handles it.
    std::function<void(TFileOperation* Sender, const std::string& File)> OnProgress;
    // One request from the current properties; true when the shell reports success.
    // Raises nothing of its own.
    bool Execute();

    // The shell's flag word for a set: 0x0054 for undo, no confirmation and silent.
    static std::uint16_t FlagWord(TFileOpFlags Flags);

private:
    TOwnerWindow m_ownerWindow;
    std::vector<std::string> m_about;
    std::string m_filesFrom;
    std::string m_filesTo;
    TFileOpFlags m_flags;
    TFileOp m_operation = foCopy;
    bool m_operationAborted = false;
    std::string m_progressTitle;
    std::string m_failureReason;
};
