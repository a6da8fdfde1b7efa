#include "platform/shell/PosixShell.h"

#include "platform/core/ErrorCodes.h"
#include "platform/core/PathText.h"
#include "platform/core/Service.h"
#include "platform/drives/Drives.h"
#include "platform/files/Files.h"
#include "platform/shell/Trash.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

// The entries of a NUL-separated list up to its first empty one.
std::vector<std::string> parseList(const std::string& list)
{
    std::vector<std::string> entries;
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t end = std::min(list.find('\0', at), list.size());
        if (end == at)
            break;
        entries.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return entries;
}

std::size_t lastSeparator(const std::string& path)
{
    const std::size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? 0 : at;
}

std::string lastPart(const std::string& path)
{
    return path.substr(lastSeparator(path) + 1);
}

bool hasWildcard(const std::string& path)
{
    const std::size_t wildcard = path.find_last_of("*?");
    return wildcard != std::string::npos && wildcard > lastSeparator(path);
}

std::string nativeName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

struct Kind
{
    const char* errorTitle;
    const char* verb;
};

// The titles are the shell's own, and the window's timer looks for the first of them.
Kind kindOf(unsigned function)
{
    switch (function) {
    case FO_MOVE:
        return {"Error Moving File", "move"};
    case FO_COPY:
        return {"Error Copying File", "copy"};
    case FO_DELETE:
        return {"Error Deleting File", "delete"};
    default:
        return {"Error Renaming File", "rename"};
    }
}

// Removes a file, or a folder with all it holds, relative to its parent: links are removed,
// never followed, and nothing on another filesystem mounted inside is touched.
std::optional<FileFailure> removeTree(int parent, const char* name, dev_t device)
{
    if (::unlinkat(parent, name, 0) == 0)
        return std::nullopt;
    if (errno != EISDIR)
        return failureOf(errno);
    OwnedFd folder(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status = {};
    if (!folder.valid() || ::fstat(folder.get(), &status) != 0)
        return failureOf(errno);
    if (status.st_dev != device)
        return failureOf(EXDEV);
    std::vector<std::string> names;
    {
        FolderEntries entries(folder.get());
        if (entries.valid()) {
            while (const dirent* entry = entries.next())
                names.emplace_back(entry->d_name);
        }
    }
    std::optional<FileFailure> firstFailure;
    for (const auto& entryName : names) {
        auto failure = removeTree(folder.get(), entryName.c_str(), device);
        if (failure && !firstFailure)
            firstFailure = std::move(failure);
    }
    if (::unlinkat(parent, name, AT_REMOVEDIR) != 0)
        return firstFailure ? firstFailure : failureOf(errno);
    return std::nullopt;
}

std::optional<FileFailure> removeEntry(const std::string& nativePath)
{
    FileFailure failure;
    auto opened = openParent(nativePath, failure);
    if (!opened)
        return failure;
    struct stat status = {};
    if (::fstatat(opened->folder.get(), opened->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return failureOf(errno);
    return removeTree(opened->folder.get(), opened->name.c_str(), status.st_dev);
}

// Where a copy that must not take the name it was given goes.
enum class NamePlace { BesideOriginal, Elsewhere };

// "Copy of x", "Copy (2) of x" beside the original; "x (2).txt" elsewhere.
std::string freeName(const std::string& folder, const std::string& name, NamePlace place)
{
    for (int k = 1;; ++k) {
        std::string candidate;
        if (place == NamePlace::BesideOriginal) {
            candidate = (k == 1 ? "Copy of " : "Copy (" + std::to_string(k) + ") of ") + name;
        } else {
            if (k == 1)
                continue;
            const std::size_t dot = name.rfind('.');
            const bool hasExtension = dot != std::string::npos && dot > 0;
            candidate = (hasExtension ? name.substr(0, dot) : name) + " (" + std::to_string(k) +
                        ")" + (hasExtension ? name.substr(dot) : "");
        }
        struct stat status = {};
        if (::lstat(joinPath(folder, candidate).c_str(), &status) != 0)
            return candidate;
    }
}

std::optional<FileFailure> failureOfCode(const std::error_code& error)
{
    if (!error)
        return std::nullopt;
    return platform::failureOf(error.value());
}

// What a transfer does to a file at its target: the user agreed to replace it, or there is
// none and none may come.
enum class Existing { Replace, Keep };
// What a move to another drive does: copies and removes the original, or refuses (a rename).
enum class OtherDrive { CopyAndRemove, Refuse };

std::optional<FileFailure> copyEntry(const std::string& source, const std::string& target,
                                     Existing existing)
{
    std::error_code error;
    const auto status = fs::symlink_status(source, error);
    if (error)
        return failureOfCode(error);
    if (fs::is_directory(status)) {
        fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
                 error);
        return failureOfCode(error);
    }
    if (fs::is_symlink(status)) {
        fs::copy_symlink(source, target, error);
        return failureOfCode(error);
    }
    fs::copy_file(source, target,
                  existing == Existing::Replace ? fs::copy_options::overwrite_existing
                                                : fs::copy_options::none,
                  error);
    if (error)
        return failureOfCode(error);
    // A copy keeps the time it was last written, as on Windows.
    fs::last_write_time(target, fs::last_write_time(source, error), error);
    return std::nullopt;
}

std::optional<FileFailure> moveEntry(const std::string& source, const std::string& target,
                                     Existing existing, OtherDrive otherDrive)
{
    const int result =
        existing == Existing::Replace
            ? ::rename(source.c_str(), target.c_str())
            : ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    if (result == 0)
        return std::nullopt;
    if (errno != EXDEV || otherDrive == OtherDrive::Refuse)
        return platform::failureOf(errno);
    if (auto failure = copyEntry(source, target, existing))
        return failure;
    return removeEntry(source);
}

class Request
{
public:
    explicit Request(SHFILEOPSTRUCTA& request)
        : m_request(request), m_kind(kindOf(request.wFunc)),
          m_dialogs(Service<ShellDialogs>::instance())
    {
    }

    int run();

private:
    bool flag(std::uint16_t value) const { return m_request.fFlags & value; }
    // Says what did not happen: the entry is still where it was.
    void fail(const std::string& windowsPath, const FileFailure& failure)
    {
        m_request.failureReason = failure.reason;
        m_result = windowsErrorOf(failure.error);
        const bool toTrash = m_request.wFunc == FO_DELETE && flag(FOF_ALLOWUNDO);
        m_dialogs.reportError(m_request.hwnd, m_kind.errorTitle,
                              std::string("Could not ") + (toTrash ? "move" : m_kind.verb) + " " +
                                  windowsPath + (toTrash ? " to the trash: " : ": ") +
                                  failure.reason);
    }
    bool abort()
    {
        m_request.fAnyOperationsAborted = true;
        m_result = ERROR_CANCELLED;
        return false;
    }
    // The native path of a Windows path the request names, or a reported failure.
    std::optional<std::string> nativeOf(const std::string& windowsPath);
    std::vector<std::string> expand(const std::string& source);
    bool remove(const std::string& windowsPath);
    // Many: the request names several entries for one destination, a folder.
    enum class Sources { One, Many };
    bool transfer(const std::string& windowsPath, std::size_t index, Sources sources);

    SHFILEOPSTRUCTA& m_request;
    Kind m_kind;
    ShellDialogs& m_dialogs;
    std::vector<std::string> m_targets;
    int m_result = 0;
};

std::optional<std::string> Request::nativeOf(const std::string& windowsPath)
{
    if (windowsPath.size() >= 2 && isSeparator(windowsPath[0]) && isSeparator(windowsPath[1])) {
        fail(windowsPath, {EINVAL, "Network paths are not supported; map the share to a drive."});
        return std::nullopt;
    }
    if (!isFullyQualified(windowsPath)) {
        fail(windowsPath, {EINVAL, "The path is not a full path with a drive letter."});
        return std::nullopt;
    }
    std::string native = toNativePath(windowsPath);
    if (native.empty()) {
        fail(windowsPath, {ENOTDIR, "The drive or the path does not exist."});
        return std::nullopt;
    }
    // Walked one folder at a time it could still be handled, but no other program could
    // name it afterwards, nor put it back from the trash.
    if (native.size() >= PATH_MAX) {
        fail(windowsPath, failureOf(ENAMETOOLONG));
        return std::nullopt;
    }
    return native;
}

// The entries a source names: itself, or what the wildcards of its last part match, the
// way a folder search matches them.
std::vector<std::string> Request::expand(const std::string& source)
{
    if (!hasWildcard(source))
        return {source};
    std::vector<std::string> matches;
    if (!isFullyQualified(source)) {
        matches.push_back(source); // refused with its reason later
        return matches;
    }
    const std::string folder = source.substr(0, lastSeparator(source));
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileExA(source, data, FindFirstExDeferDetails);
    if (search == INVALID_HANDLE_VALUE)
        return matches;
    do {
        if (data.cFileName == "." || data.cFileName == "..")
            continue;
        if (flag(FOF_FILESONLY) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        matches.push_back(folder + "\\" + data.cFileName);
    } while (FindNextFileA(search, data));
    FindClose(search);
    return matches;
}

bool Request::remove(const std::string& windowsPath)
{
    const bool undo = flag(FOF_ALLOWUNDO);
    const auto native = nativeOf(windowsPath);
    if (!native)
        return true;
    if (!flag(FOF_NOCONFIRMATION)) {
        const std::string name = lastPart(windowsPath);
        const std::string text =
            undo ? "Are you sure you want to send '" + name + "' to the Recycle Bin?"
                 : "Are you sure you want to delete '" + name + "'?";
        if (!m_dialogs.confirm(m_request.hwnd, "Confirm File Delete", text))
            return abort();
    }
    if (auto failure = undo ? moveToTrash(*native) : removeEntry(*native))
        fail(windowsPath, *failure);
    return true;
}

bool Request::transfer(const std::string& windowsPath, std::size_t index, Sources sources)
{
    const auto source = nativeOf(windowsPath);
    if (!source)
        return true;
    const bool multiple = flag(FOF_MULTIDESTFILES);
    const std::size_t targetIndex = multiple ? index : 0;
    if (targetIndex >= m_targets.size()) {
        fail(windowsPath, {EINVAL, "No destination was given for it."});
        return true;
    }
    std::string targetText = m_targets[targetIndex];
    // A rename to a bare name stays in the same folder.
    if (m_request.wFunc == FO_RENAME && targetText.find_first_of("\\/") == std::string::npos)
        targetText = windowsPath.substr(0, lastSeparator(windowsPath)) + "\\" + targetText;
    const auto targetNative = nativeOf(targetText);
    if (!targetNative)
        return true;

    struct stat sourceStatus = {};
    if (::lstat(source->c_str(), &sourceStatus) != 0) {
        fail(windowsPath, failureOf(errno));
        return true;
    }
    std::string target = *targetNative;
    struct stat targetStatus = {};
    const bool targetIsFolder =
        ::stat(target.c_str(), &targetStatus) == 0 && S_ISDIR(targetStatus.st_mode);
    if (m_request.wFunc != FO_RENAME && (targetIsFolder || sources == Sources::Many)) {
        // The destination is a folder that receives the entry under its own name.
        if (!targetIsFolder && ::mkdir(target.c_str(), 0777) != 0) {
            fail(windowsPath, failureOf(errno));
            return true;
        }
        target = joinPath(target, nativeName(*source));
    }
    if (S_ISDIR(sourceStatus.st_mode) && (target == *source || target.starts_with(*source + "/"))) {
        fail(windowsPath,
             {EINVAL, "The destination folder is the source folder or lies inside it."});
        return true;
    }

    Existing atTarget = Existing::Keep;
    struct stat existing = {};
    if (::lstat(target.c_str(), &existing) == 0) {
        const bool same =
            existing.st_dev == sourceStatus.st_dev && existing.st_ino == sourceStatus.st_ino;
        if (flag(FOF_RENAMEONCOLLISION)) {
            const std::string folder = parentOf(target);
            const bool beside = same || folder == parentOf(*source);
            target = joinPath(folder,
                              freeName(folder, nativeName(target),
                                       beside ? NamePlace::BesideOriginal : NamePlace::Elsewhere));
        } else if (same) {
            fail(windowsPath, {EEXIST, "The source and destination are the same file."});
            return true;
        } else if (S_ISDIR(existing.st_mode) || S_ISDIR(sourceStatus.st_mode)) {
            // A folder is never replaced unasked or merged into.
            fail(windowsPath,
                 {EEXIST, "The destination " + toWindowsPath(target) + " already exists."});
            return true;
        } else {
            if (!flag(FOF_NOCONFIRMATION) &&
                !m_dialogs.confirm(m_request.hwnd, "Confirm File Replace",
                                   "This folder already contains a file named '" +
                                       nativeName(target) +
                                       "'. Would you like to replace the existing file?")) {
                m_request.fAnyOperationsAborted = true;
                return true;
            }
            atTarget = Existing::Replace;
        }
    }

    std::optional<FileFailure> failure;
    if (m_request.wFunc == FO_COPY)
        failure = copyEntry(*source, target, atTarget);
    else
        failure =
            moveEntry(*source, target, atTarget,
                      m_request.wFunc == FO_MOVE ? OtherDrive::CopyAndRemove : OtherDrive::Refuse);
    if (failure)
        fail(windowsPath, *failure);
    return true;
}

int Request::run()
{
    m_request.fAnyOperationsAborted = false;
    m_request.failureReason.clear();
    const unsigned function = m_request.wFunc;
    if (function != FO_MOVE && function != FO_COPY && function != FO_DELETE &&
        function != FO_RENAME)
        return ERROR_INVALID_PARAMETER;
    const auto sources = parseList(m_request.pFrom);
    m_targets = parseList(m_request.pTo);
    for (std::size_t index = 0; index < sources.size(); ++index) {
        const auto& source = sources[index];
        const bool wildcard = hasWildcard(source);
        const auto entries = expand(source);
        const Sources many = wildcard || (!flag(FOF_MULTIDESTFILES) && sources.size() > 1)
                                 ? Sources::Many
                                 : Sources::One;
        for (const auto& entry : entries) {
            if (m_request.progress)
                m_request.progress(entry);
            const bool goOn = function == FO_DELETE ? remove(entry) : transfer(entry, index, many);
            if (!goOn)
                return m_result;
        }
    }
    return m_result;
}

} // namespace

std::unique_ptr<ShellService> ShellService::createDefault()
{
    return std::make_unique<PosixShell>();
}

int PosixShell::fileOperation(SHFILEOPSTRUCTA& request)
{
    return Request(request).run();
}

bool PosixShell::isCollectable(const std::string& windowsPath)
{
    const std::string native = toNativePath(windowsPath);
    if (native.empty())
        return false;
    // What cannot be looked at is refused by the move, with its reason.
    if (native.size() >= PATH_MAX)
        return true;
    if (const EntryLook* look = lookAt(native))
        return collectableLook(*look);
    if (errno == ENOENT || errno == ENAMETOOLONG)
        return true;
    // A walk refuses more than the system does (a link another user could have made): the
    // move tells why.
    struct stat status = {};
    if (::lstat(native.c_str(), &status) != 0)
        return errno == ENOENT || errno == ENAMETOOLONG;
    return status.st_uid == runningUser() && !liesInTrash(native) && !keptInMemoryOnPurpose(native);
}

bool PosixShell::holdsTrash(const std::string& windowsFolder)
{
    const std::string native = toNativePath(windowsFolder);
    return !native.empty() && reachesTrash(native);
}

void PosixShell::tidyTrash()
{
    removeInterruptedCopies();
}

} // namespace platform
