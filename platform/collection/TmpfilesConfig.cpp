#include "platform/collection/TmpfilesConfig.h"

#include "platform/core/FileStorage.h"
#include "platform/core/HexDigit.h"
#include "platform/core/PathText.h"
#include "platform/core/Service.h"
#include "platform/files/Folders.h"
#include "platform/system/System.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fnmatch.h>
#include <grp.h>
#include <pwd.h>
#include <set>
#include <sys/utsname.h>
#include <unistd.h>

namespace platform {

namespace {

std::optional<std::string> absoluteEnv(const char* name)
{
    const char* value = std::getenv(name);
    if (value && value[0] == '/')
        return std::string(value);
    return std::nullopt;
}

std::string temporaryFolder(const char* fallback)
{
    for (const char* name : {"TMPDIR", "TEMP", "TMP"}) {
        if (auto folder = absoluteEnv(name))
            return *folder;
    }
    return fallback;
}

// The architecture as systemd names it.
std::string architecture()
{
    utsname system = {};
    if (::uname(&system) != 0)
        return {};
    const std::string machine = system.machine;
    if (machine == "x86_64")
        return "x86-64";
    if (machine.size() == 4 && machine[0] == 'i' && machine.ends_with("86"))
        return "x86";
    if (machine == "aarch64")
        return "arm64";
    if (machine == "aarch64_be")
        return "arm64-be";
    if (machine.starts_with("arm"))
        return "arm";
    if (machine == "ppc64le")
        return "ppc64-le";
    // The others (ppc64, s390x, riscv64, loongarch64 ...) carry the kernel's name.
    return machine;
}

std::string kernelRelease()
{
    utsname system = {};
    return ::uname(&system) == 0 ? system.release : "";
}

std::optional<std::string> bootId()
{
    const auto text = readWholeFile("/proc/sys/kernel/random/boot_id");
    if (!text)
        return std::nullopt;
    std::string id;
    for (const char c : *text) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            id += c;
    }
    if (id.size() != 32)
        return std::nullopt;
    return id;
}

std::string hostName()
{
    return Service<SystemService>::instance().computerName();
}

std::string userName()
{
    const std::string name = Service<SystemService>::instance().userName();
    return name.empty() ? std::to_string(::getuid()) : name;
}

std::string groupName()
{
    if (const group* entry = ::getgrgid(::getgid()); entry && entry->gr_name)
        return entry->gr_name;
    return std::to_string(::getgid());
}

std::optional<std::string> specifierValue(char letter, bool user)
{
    switch (letter) {
    case 'a':
        return architecture();
    case 'A':
        return osReleaseValue("IMAGE_VERSION");
    case 'b':
        return bootId();
    case 'B':
        return osReleaseValue("BUILD_ID");
    case 'C':
        if (!user)
            return "/var/cache";
        return absoluteEnv("XDG_CACHE_HOME")
            .value_or(homeFolderNative(WithoutHome::Root) + "/.cache");
    case 'g':
        return user ? groupName() : "root";
    case 'G':
        return user ? std::to_string(::getgid()) : "0";
    case 'h':
        return user ? homeFolderNative(WithoutHome::Root) : "/root";
    case 'H':
        return hostName();
    case 'l': {
        const std::string host = hostName();
        return host.substr(0, host.find('.'));
    }
    case 'L':
        return user ? configHomeNative() + "/log" : "/var/log";
    case 'm': {
        std::string id = machineId();
        if (id.empty())
            return std::nullopt;
        return id;
    }
    case 'M':
        return osReleaseValue("IMAGE_ID");
    case 'o':
        return osReleaseValue("ID");
    case 'S':
        return user ? configHomeNative() : "/var/lib";
    case 't':
        return user ? absoluteEnv("XDG_RUNTIME_DIR") : "/run";
    case 'T':
        return temporaryFolder("/tmp");
    case 'u':
        return user ? userName() : "root";
    case 'U':
        return user ? std::to_string(::getuid()) : "0";
    case 'v':
        return kernelRelease();
    case 'V':
        return temporaryFolder("/var/tmp");
    case 'w':
        return osReleaseValue("VERSION_ID");
    case 'W':
        return osReleaseValue("VARIANT_ID");
    default:
        return std::nullopt;
    }
}

// The next whitespace-separated field, its quotes removed and its C escapes undone; false
// at the end of the line and for what tmpfiles rejects (a bad escape, an open quote).
bool nextField(std::string_view& rest, std::string& field)
{
    field.clear();
    std::size_t at = 0;
    while (at < rest.size() && isWhitespace(rest[at]))
        ++at;
    if (at == rest.size())
        return false;
    char quote = 0;
    for (; at < rest.size(); ++at) {
        const char c = rest[at];
        if (!quote && isWhitespace(c))
            break;
        if (quote ? c == quote : c == '"' || c == '\'') {
            quote = quote ? 0 : c;
            continue;
        }
        if (c != '\\') {
            field += c;
            continue;
        }
        if (++at == rest.size())
            return false;
        static constexpr std::string_view plain = "abfnrtv\\\"'s";
        static constexpr std::string_view meant = "\a\b\f\n\r\t\v\\\"' ";
        const char e = rest[at];
        if (const auto k = plain.find(e); k != std::string_view::npos) {
            field += meant[k];
        } else if (e == 'x' && at + 2 < rest.size() && hexDigitValue(rest[at + 1]) >= 0 &&
                   hexDigitValue(rest[at + 2]) >= 0) {
            field +=
                static_cast<char>(hexDigitValue(rest[at + 1]) * 16 + hexDigitValue(rest[at + 2]));
            at += 2;
        } else if (e >= '0' && e <= '3' && at + 2 < rest.size() && rest[at + 1] >= '0' &&
                   rest[at + 1] <= '7' && rest[at + 2] >= '0' && rest[at + 2] <= '7') {
            field +=
                static_cast<char>((e - '0') * 64 + (rest[at + 1] - '0') * 8 + rest[at + 2] - '0');
            at += 2;
        } else {
            return false;
        }
    }
    rest.remove_prefix(at);
    return !quote;
}

bool expandSpecifiers(const std::string& text, const TmpfilesSpecifiers& specifiers,
                      std::string& out)
{
    out.clear();
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '%') {
            out += text[at];
            continue;
        }
        if (++at == text.size())
            return false;
        if (text[at] == '%') {
            out += '%';
            continue;
        }
        const auto value = specifiers(text[at]);
        if (!value)
            return false;
        out += *value;
    }
    return true;
}

// No doubled "/", no "." parts, no trailing "/".
std::string simplified(const std::string& path)
{
    std::string out;
    std::size_t at = 0;
    while (at < path.size()) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string_view part(path.data() + at, end - at);
        if (!part.empty() && part != ".") {
            out += '/';
            out += part;
        }
        at = end + 1;
    }
    return out.empty() ? "/" : out;
}

bool isGlob(const std::string& pattern)
{
    return pattern.find_first_of("*?[") != std::string::npos;
}

} // namespace

std::vector<TmpfilesFolder> tmpfilesFolders()
{
    std::vector<TmpfilesFolder> folders;
    if (const char* list = std::getenv("VORLAX_TMPFILES_PATH")) {
        std::string_view rest = list;
        while (!rest.empty()) {
            const std::size_t end = std::min(rest.find(':'), rest.size());
            const std::string folder(rest.substr(0, end));
            rest.remove_prefix(std::min(end + 1, rest.size()));
            if (!folder.empty())
                folders.push_back(
                    {folder, std::filesystem::path(folder).filename() == "user-tmpfiles.d"});
        }
        return folders;
    }
    for (const char* folder :
         {"/etc/tmpfiles.d", "/run/tmpfiles.d", "/usr/local/lib/tmpfiles.d", "/usr/lib/tmpfiles.d"})
        folders.push_back({folder, false});
    folders.push_back({configHomeNative() + "/user-tmpfiles.d", true});
    if (const auto runtime = absoluteEnv("XDG_RUNTIME_DIR"))
        folders.push_back({*runtime + "/user-tmpfiles.d", true});
    folders.push_back({dataHomeNative() + "/user-tmpfiles.d", true});
    for (const char* folder : {"/etc/xdg/user-tmpfiles.d", "/usr/local/share/user-tmpfiles.d",
                               "/usr/share/user-tmpfiles.d"})
        folders.push_back({folder, true});
    return folders;
}

TmpfilesSpecifiers tmpfilesSpecifiers(TmpfilesScope scope)
{
    const bool user = scope == TmpfilesScope::User;
    return [user](char letter) { return specifierValue(letter, user); };
}

std::optional<TmpfilesExclusion> tmpfilesExclusion(std::string_view line,
                                                   const TmpfilesSpecifiers& specifiers)
{
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || line[first] == '#')
        return std::nullopt;
    std::string type;
    std::string path;
    if (!nextField(line, type) || !nextField(line, path) || type.empty())
        return std::nullopt;
    if (type[0] != 'x' && type[0] != 'X')
        return std::nullopt;
    if (type.find_first_not_of("+!-=~^", 1) != std::string::npos)
        return std::nullopt;
    std::string expanded;
    if (!expandSpecifiers(path, specifiers, expanded) || !expanded.starts_with('/'))
        return std::nullopt;
    return TmpfilesExclusion{simplified(expanded), type[0] == 'x'};
}

std::vector<TmpfilesExclusion> readTmpfilesExclusions(const std::vector<TmpfilesFolder>& folders)
{
    std::vector<TmpfilesExclusion> exclusions;
    std::set<std::string> seen[2]; // the system's names, the user's
    const TmpfilesSpecifiers specifiers[2] = {tmpfilesSpecifiers(TmpfilesScope::System),
                                              tmpfilesSpecifiers(TmpfilesScope::User)};
    for (const TmpfilesFolder& folder : folders) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.size() > 5 && name.ends_with(".conf"))
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (!seen[folder.user].insert(name).second)
                continue;
            const auto text = readWholeFile(folder.path + "/" + name);
            if (!text)
                continue;
            std::string_view rest = *text;
            while (!rest.empty()) {
                const std::size_t end = std::min(rest.find('\n'), rest.size());
                if (auto exclusion =
                        tmpfilesExclusion(rest.substr(0, end), specifiers[folder.user]))
                    exclusions.push_back(std::move(*exclusion));
                rest.remove_prefix(std::min(end + 1, rest.size()));
            }
        }
    }
    return exclusions;
}

bool excludes(const TmpfilesExclusion& exclusion, const std::string& nativePath)
{
    if (!isGlob(exclusion.pattern))
        return exclusion.pattern == nativePath;
    return ::fnmatch(exclusion.pattern.c_str(), nativePath.c_str(), FNM_PATHNAME | FNM_PERIOD) == 0;
}

} // namespace platform
