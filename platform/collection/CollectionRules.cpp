#include "platform/collection/CollectionRules.h"

#include "platform/core/PathText.h"
#include "platform/drives/Drives.h"
#include "platform/files/Folders.h"
#include "platform/files/PathWalk.h"
#include "platform/settings/AutostartFolder.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fnmatch.h>
#include <string_view>
#include <sys/stat.h>

namespace platform {

namespace {

constexpr std::int64_t InUseSeconds = 24 * 60 * 60;

constexpr std::string_view VersionControlFolders[] = {".git", ".hg", ".svn", ".bzr", "_darcs"};

// Whatever the tmpfiles.d configuration says: the display server's and the session's.
constexpr const char* SessionNames[] = {
    ".X*-lock",   ".X11-unix",  ".ICE-unix",         ".XIM-unix",
    ".font-unix", ".Test-unix", "systemd-private-*", "serverauth.*",
    "xauth*",     ".xauth*",    "krb5cc*",           "ssh-*",
    "tmux-*",     "screen*"};

bool isVersionControlFolder(std::string_view name)
{
    return std::find(std::begin(VersionControlFolders), std::end(VersionControlFolders), name) !=
           std::end(VersionControlFolders);
}

bool isSessionName(const std::string& name)
{
    // Every pattern begins with one of these; most names are out at the first byte.
    if (name.empty() || std::string_view(".sxkt").find(name[0]) == std::string_view::npos)
        return false;
    for (const char* pattern : SessionNames) {
        if (::fnmatch(pattern, name.c_str(), 0) == 0)
            return true;
    }
    return false;
}

std::uint64_t ticks(const FILETIME& time)
{
    return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

std::uint64_t cutoffNow()
{
    return ticks(fileTimeFromUnix(static_cast<std::int64_t>(std::time(nullptr)) - InUseSeconds, 0));
}

std::string resolved(const std::string& native)
{
    std::error_code ec;
    const auto path = std::filesystem::canonical(native, ec);
    return ec ? std::string() : path.string();
}

bool liesWithin(const std::string& inner, const std::string& outer)
{
    return inner.starts_with(outer) &&
           (inner.size() == outer.size() || outer == "/" || inner[outer.size()] == '/');
}

// Whether a pattern can name the folder, something in it or a folder above it: what it
// says before its first wildcard agrees with the folder as far as both go.
bool canReach(const TmpfilesExclusion& exclusion, const std::string& folder)
{
    const std::string& pattern = exclusion.pattern;
    const std::string within = folder == "/" ? folder : folder + "/";
    const std::size_t literal = std::min(pattern.find_first_of("*?[\\"), pattern.size());
    const std::size_t common = std::min(literal, within.size());
    return pattern.compare(0, common, within, 0, common) == 0;
}

std::vector<std::string> guardedFolders()
{
    const std::string home = homeFolderNative(WithoutHome::Root);
    std::vector<std::string> folders = {windowsDirectoryNative(),
                                        AutostartFolder::defaultFolder(),
                                        home + "/.ssh",
                                        home + "/.gnupg",
                                        home + "/.pki",
                                        home + "/.password-store",
                                        home + "/.local/share/keyrings",
                                        dataHomeNative() + "/keyrings"};
    for (const char* name : {"GNUPGHOME", "PASSWORD_STORE_DIR"}) {
        if (const char* value = std::getenv(name); value && value[0] == '/')
            folders.emplace_back(value);
    }
    return folders;
}

} // namespace

CollectionRules::CollectionRules(Reach reach, const std::string& windowsRoot)
    : m_whole(reach == Reach::WholeFolder), m_rootText(windowsRoot), m_keptAside(keptAsideFiles())
{
    while (m_rootText.size() > 2 && m_rootText.back() == '\\')
        m_rootText.pop_back();
    // "C:" is the drive's root, as a search of a whole drive names it.
    const bool driveRoot = m_rootText.size() == 2 && m_rootText[1] == ':';
    const std::string native = toNativePath(driveRoot ? m_rootText + "\\" : m_rootText);
    m_rootNative = resolved(native);
    if (m_rootNative.empty())
        m_rootNative = native;

    for (const std::string& folder : guardedFolders()) {
        const std::string path = resolved(folder);
        struct stat status = {};
        if (path.empty() || ::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
            continue;
        m_guarded.push_back(
            {path, std::filesystem::path(path).filename().string(), status.st_dev, status.st_ino});
        if (liesWithin(m_rootNative, path))
            m_keepsEverything = true;
    }
    for (const auto& part : std::filesystem::path(m_rootNative)) {
        if (isVersionControlFolder(part.string()))
            m_keepsEverything = true;
    }
    if (!m_whole)
        return;

    m_cutoff = cutoffNow();
    for (auto& exclusion : readTmpfilesExclusions(tmpfilesFolders())) {
        if (canReach(exclusion, m_rootNative))
            m_exclusions.push_back(std::move(exclusion));
    }
    // An x line for the root or a folder above it keeps all of it.
    for (std::filesystem::path at = m_rootNative;; at = at.parent_path()) {
        for (const auto& exclusion : m_exclusions) {
            if (exclusion.withContents && excludes(exclusion, at.string()))
                m_keepsEverything = true;
        }
        if (at == at.root_path() || at.empty())
            break;
    }
}

const std::string& CollectionRules::nativeOf(const std::string& windowsFolder)
{
    if (windowsFolder == m_lastFolder && !m_lastNative.empty())
        return m_lastNative;
    m_lastFolder = windowsFolder;
    const bool below =
        windowsFolder.starts_with(m_rootText) &&
        (windowsFolder.size() == m_rootText.size() || windowsFolder[m_rootText.size()] == '\\');
    if (below) {
        // The search came down from the root by names: no drive map needed.
        m_lastNative = m_rootNative;
        for (std::size_t at = m_rootText.size(); at < windowsFolder.size(); ++at)
            m_lastNative += windowsFolder[at] == '\\' ? '/' : windowsFolder[at];
        while (m_lastNative.size() > 1 && m_lastNative.back() == '/')
            m_lastNative.pop_back();
    } else {
        m_lastNative = toNativePath(windowsFolder);
    }
    return m_lastNative;
}

bool CollectionRules::isGuarded(const std::string& windowsFolder, const std::string& name)
{
    const bool named = std::any_of(m_guarded.begin(), m_guarded.end(),
                                   [&name](const Guarded& folder) { return folder.name == name; });
    if (!named)
        return false;
    // The same name elsewhere is any folder; only the same folder counts.
    const std::string path = joinPath(nativeOf(windowsFolder), name);
    struct stat status = {};
    if (::lstat(path.c_str(), &status) != 0)
        return false;
    return std::any_of(m_guarded.begin(), m_guarded.end(), [&status](const Guarded& folder) {
        return folder.device == status.st_dev && folder.inode == status.st_ino;
    });
}

bool CollectionRules::isExcluded(const std::string& windowsFolder, const std::string& name,
                                 Entry entry)
{
    if (m_exclusions.empty())
        return false;
    const std::string path = joinPath(nativeOf(windowsFolder), name);
    // An X line keeps a folder itself, which is never taken anyway, and lets its contents go.
    return std::any_of(
        m_exclusions.begin(), m_exclusions.end(), [&](const TmpfilesExclusion& exclusion) {
            return (entry == Entry::File || exclusion.withContents) && excludes(exclusion, path);
        });
}

bool CollectionRules::skipsFolder(const std::string& windowsFolder, const std::string& name)
{
    if (m_keepsEverything || isVersionControlFolder(name))
        return true;
    if (m_whole && isSessionName(name))
        return true;
    return isGuarded(windowsFolder, name) ||
           (m_whole && isExcluded(windowsFolder, name, Entry::Folder));
}

bool CollectionRules::keepsByName(const std::string& windowsFolder, const std::string& name)
{
    // A worktree's or a submodule's .git is a file naming its repository.
    if (m_keepsEverything || name == ".git")
        return true;
    if (m_keptAside->names.count(name)) {
        std::string path = nativeOf(windowsFolder);
        path += path == "/" ? "" : "/";
        if (m_keptAside->keeps(path + name, name))
            return true;
    }
    return m_whole && (isSessionName(name) || isExcluded(windowsFolder, name, Entry::File));
}

bool CollectionRules::keepsByDetails(const WIN32_FIND_DATAA& entry) const
{
    return m_whole &&
           (ticks(entry.ftLastWriteTime) > m_cutoff || ticks(entry.ftLastAccessTime) > m_cutoff);
}

bool CollectionRules::usedLately(const std::string& windowsPath) const
{
    if (!m_whole)
        return false;
    const std::string native = toNativePath(windowsPath);
    if (native.empty())
        return false;
    // The look the collection took of it already, in a run.
    struct stat status = {};
    if (const EntryLook* look = lookAt(native))
        status = look->status;
    else if (::lstat(native.c_str(), &status) != 0)
        return false;
    const std::uint64_t cutoff = cutoffNow();
    const auto since = [cutoff](const timespec& time) {
        return ticks(fileTimeFromUnix(time.tv_sec, time.tv_nsec)) > cutoff;
    };
    return since(status.st_mtim) || since(status.st_atim);
}

} // namespace platform
