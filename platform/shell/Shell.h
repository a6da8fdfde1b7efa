#pragma once

#include "platform/desktop/TopLevelWindows.h"

#include <cstdint>
#include <functional>
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
    // Ours (Windows reports a code only): the system's reason, as the error dialog gave it,
    // for the last entry that could not be handled; empty when every entry was.
    std::string failureReason;
    // Ours: told the Windows path of each entry just before it is handled, so a caller can
    // show what is being moved. Called on the requesting thread; it must be quick.
    std::function<void(const std::string& windowsPath)> progress;
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
    // taken: the running user owns it, it lies in no trash folder (the home trash, a
    // topdir .Trash or .Trash-$uid) and not in memory on purpose (/dev/shm, the runtime
    // folder). A file gone since it was found, or with a path too long
    // to look at, is the shell's to report; false when it cannot be looked at otherwise.
    virtual bool isCollectable(const std::string& windowsPath) = 0;
    // Whether emptying the folder would reach a trash: it is one, lies inside one, or holds
    // the home trash or its filesystem's topdir trash.
    virtual bool holdsTrash(const std::string& windowsFolder) = 0;
    // Removes what copies into the trash that were killed left behind, before a collection.
    virtual void tidyTrash() {}

    static std::unique_ptr<ShellService> createDefault();
};

// A shell item, as an item list stands for it: the computer (the drive map, which has no
// path) or a folder by its Windows path. The owner frees it, where Windows has the shell's
// allocator.
struct ITEMIDLIST
{
    std::string path; // empty for the computer
};
using LPITEMIDLIST = std::unique_ptr<ITEMIDLIST>;
using HRESULT = long;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005L);

// Special folders.
inline constexpr int CSIDL_DESKTOP = 0x0000;
inline constexpr int CSIDL_DRIVES = 0x0011;

// Flags of a folder browser.
inline constexpr unsigned BIF_RETURNONLYFSDIRS = 0x0001;
inline constexpr unsigned BIF_STATUSTEXT = 0x0004;

// What the browser tells its callback, and what the callback may send the browser.
inline constexpr unsigned BFFM_INITIALIZED = 1;
inline constexpr unsigned BFFM_SELCHANGED = 2;
inline constexpr unsigned BFFM_SETSTATUSTEXTA = 0x0464;
inline constexpr unsigned BFFM_SETSELECTIONA = 0x0466;

// item is the new selection for BFFM_SELCHANGED and null otherwise; data is the
// BROWSEINFOA's lParam. The browser ignores the result.
using BFFCALLBACK = int (*)(HWND window, unsigned message, const ITEMIDLIST* item, void* data);

struct BROWSEINFOA
{
    HWND hwndOwner = 0;
    const ITEMIDLIST* pidlRoot = nullptr; // null: the desktop
    std::string pszDisplayName;           // set to the chosen item's name
    std::string lpszTitle;
    unsigned ulFlags = 0;
    BFFCALLBACK lpfn = nullptr;
    void* lParam = nullptr;
    int iImage = 0;
};

// The modal folder browser behind SHBrowseForFolderA. The installed default shows nothing
// and answers as a cancel; the runtime installs one on screen once the toolkit runs.
class FolderBrowser
{
public:
    virtual ~FolderBrowser() = default;
    // Returns when the dialog closes: the confirmed item, or null for a cancel.
    virtual LPITEMIDLIST browse(BROWSEINFOA& info) = 0;
    // BFFM_SETSELECTIONA (lParam a Windows path when wParam is non-zero) and
    // BFFM_SETSTATUSTEXTA to the open dialog with that handle; 0 for anything else.
    virtual std::intptr_t sendMessage(HWND window, unsigned message, std::uintptr_t wParam,
                                      const std::string& lParam) = 0;

    static std::unique_ptr<FolderBrowser> createDefault();
};

// CSIDL_DRIVES is the computer, always there; CSIDL_DESKTOP the desktop folder
// (desktopFolderNative), which fails when that folder does not exist. E_FAIL for any other.
HRESULT SHGetSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST& item);
// False for an item without a path.
bool SHGetPathFromIDListA(const ITEMIDLIST* item, std::string& path);
LPITEMIDLIST SHBrowseForFolderA(BROWSEINFOA& info);
// Only the folder browser's messages, with a text as lParam.
std::intptr_t SendMessageA(HWND window, unsigned message, std::uintptr_t wParam,
                           const std::string& lParam);

// On Linux: delete with FOF_ALLOWUNDO moves each entry to the freedesktop.org trash (the
// home trash for its filesystem, else the topdir trash of its mount; a file in memory or on
// a disk with no trash for the user by a copy to the home trash), never deleting instead; without
// it, delete removes. Copy, move and rename take files and folders, with wildcards in the last part
// of a source path. An entry that cannot be handled (one whose native path is PATH_MAX long or
// longer among them) is reported through ShellDialogs, the request goes on with the next one and
// finally returns non-zero.
int SHFileOperationA(SHFILEOPSTRUCTA& request);
std::uintptr_t FindExecutableA(const std::string& file, const std::string& directory,
                               std::string& result);
bool isCollectable(const std::string& windowsPath);
bool holdsTrash(const std::string& windowsFolder);
void tidyTrash();

} // namespace platform
