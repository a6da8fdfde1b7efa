#pragma once

#include "platform/TopLevelWindows.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Shell functions of a file request.
inline constexpr unsigned FO_MOVE = 1;
inline constexpr unsigned FO_COPY = 2;
inline constexpr unsigned FO_DELETE = 3;
inline constexpr unsigned FO_RENAME = 4;

// Flags of a file request.
inline constexpr std::uint16_t FOF_MULTIDESTFILES = 0x0001;
inline constexpr std::uint16_t FOF_CONFIRMMOUSE = 0x0002;
inline constexpr std::uint16_t FOF_SILENT = 0x0004;
inline constexpr std::uint16_t FOF_RENAMEONCOLLISION = 0x0008;
inline constexpr std::uint16_t FOF_NOCONFIRMATION = 0x0010;
inline constexpr std::uint16_t FOF_WANTMAPPINGHANDLE = 0x0020;
inline constexpr std::uint16_t FOF_ALLOWUNDO = 0x0040;
inline constexpr std::uint16_t FOF_FILESONLY = 0x0080;
inline constexpr std::uint16_t FOF_SIMPLEPROGRESS = 0x0100;
inline constexpr std::uint16_t FOF_NOCONFIRMMKDIR = 0x0200;
inline constexpr std::uint16_t FOF_NOERRORUI = 0x0400;

// One shell file request. pFrom and pTo are lists of Windows paths, each ended by a NUL
// character, the list closed by an empty entry (a second NUL): "C:\a\0C:\b\0\0".
struct SHFILEOPSTRUCTA
{
    HWND hwnd = 0;
    unsigned wFunc = 0;
    std::string pFrom;
    std::string pTo;
    std::uint16_t fFlags = 0;
    bool fAnyOperationsAborted = false;
    void* hNameMappings = nullptr;
    std::string lpszProgressTitle;
};

// Results of FindExecutableA at or below 32 are errors.
inline constexpr std::uintptr_t SE_ERR_FNF = 2;
inline constexpr std::uintptr_t SE_ERR_PNF = 3;
inline constexpr std::uintptr_t SE_ERR_OOM = 8;
inline constexpr std::uintptr_t SE_ERR_NOASSOC = 31;

// The questions and error reports of a file request. The installed default writes the
// title and text to standard error and answers the default (yes to a confirmation); the
// runtime installs boxes on screen once the toolkit runs, so tests and a run without a
// display see the same requests.
class ShellDialogs
{
public:
    virtual ~ShellDialogs() = default;
    // "Confirm File Delete" and the like; false for "No" or a box closed otherwise.
    virtual bool confirm(HWND owner, const std::string& title, const std::string& text) = 0;
    // "Error Deleting File" and the like: modal, one focused "OK", returns when closed.
    virtual void reportError(HWND owner, const std::string& title, const std::string& text) = 0;

    static std::unique_ptr<ShellDialogs> createDefault();
};

class ShellService
{
public:
    virtual ~ShellService() = default;
    // Performs the request synchronously; 0 on success.
    virtual int fileOperation(SHFILEOPSTRUCTA& request) = 0;
    // The program that opens the document: above 32 with its path in program, or an SE_ERR_
    // code.
    virtual std::uintptr_t findExecutable(const std::string& file, const std::string& directory,
                                          std::string& program) = 0;

    // Ours, for the collection run (Windows has no such call). Whether a found file may be
    // taken: the running user owns it and it lies in no trash folder (the home trash, a
    // topdir .Trash or .Trash-$uid). False when it cannot be looked at.
    virtual bool isCollectable(const std::string& windowsPath) = 0;
    // Whether emptying the folder would reach a trash: it is one, lies inside one, or holds
    // the home trash or its filesystem's topdir trash.
    virtual bool holdsTrash(const std::string& windowsFolder) = 0;

    static std::unique_ptr<ShellService> createDefault();
};

// On Linux: delete with FOF_ALLOWUNDO moves each entry to the freedesktop.org trash (the
// home trash for its filesystem, else the topdir trash of its mount), never copying across
// filesystems and never deleting instead; without it, delete removes. Copy, move and
// rename take files and folders, with wildcards in the last part of a source path. An
// entry that cannot be handled is reported through ShellDialogs, the request goes on with
// the next one and finally returns non-zero.
int SHFileOperationA(SHFILEOPSTRUCTA& request);
std::uintptr_t FindExecutableA(const std::string& file, const std::string& directory,
                               std::string& result);
bool isCollectable(const std::string& windowsPath);
bool holdsTrash(const std::string& windowsFolder);

} // namespace platform
