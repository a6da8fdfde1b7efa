#include "platform/drives/Drives.h"

#include "platform/core/AsciiCase.h"
#include "platform/core/PathText.h"
#include "platform/core/Service.h"

#include <algorithm>
#include <array>
#include <utility>

namespace platform {

namespace {

std::string trimmed(const std::string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isWhitespace(text[begin]))
        ++begin;
    while (end > begin && isWhitespace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// What ".." at the start of a path does: stays at the start, as a native path's does, or
// makes the path invalid, as beyond a drive root.
enum class AboveStart { Stay, Invalid };

// Splits text at any of the separators, dropping empty and "." parts and resolving "..".
// Returns false when ".." would climb above the start and that is invalid.
bool splitPath(const std::string& text, bool (*separator)(char), AboveStart above,
               std::vector<std::string>& parts)
{
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = at;
        while (end < text.size() && !separator(text[end]))
            ++end;
        const std::string part = text.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            else if (above == AboveStart::Invalid)
                return false;
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    return true;
}

bool isSlash(char c)
{
    return c == '/';
}

std::string joinNative(const std::vector<std::string>& parts)
{
    std::string path = "/";
    for (const auto& part : parts)
        path = joinPath(path, part);
    return path;
}

struct Suffix
{
    const char* name;
    unsigned type;
};

constexpr std::array<Suffix, 5> suffixes{{{"fixed", DRIVE_FIXED},
                                          {"removable", DRIVE_REMOVABLE},
                                          {"remote", DRIVE_REMOTE},
                                          {"cdrom", DRIVE_CDROM},
                                          {"ramdisk", DRIVE_RAMDISK}}};

} // namespace

const DriveMapping* findLetter(const std::vector<DriveMapping>& map, char letter)
{
    for (const auto& mapping : map) {
        if (mapping.letter == letter)
            return &mapping;
    }
    return nullptr;
}

std::string normalizeNativePath(const std::string& path)
{
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos)
        return {};
    std::vector<std::string> parts;
    splitPath(path, isSlash, AboveStart::Stay, parts);
    return joinNative(parts);
}

std::vector<DriveMapping> parseDriveMap(const std::string& text, std::vector<std::string>* errors)
{
    std::vector<DriveMapping> map;
    auto reject = [errors](const std::string& entry, const std::string& why) {
        if (errors)
            errors->push_back("\"" + entry + "\": " + why);
    };

    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find(';', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = trimmed(text.substr(at, end - at));
        at = end + 1;
        if (entry.empty())
            continue;

        if (!hasDriveLetter(entry)) {
            reject(entry, "no drive letter and \":\" in front");
            continue;
        }
        if (entry.size() < 3 || entry[2] != '=') {
            reject(entry, "no \"=\" after the drive letter");
            continue;
        }
        std::string folder = entry.substr(3);
        unsigned type = DRIVE_UNKNOWN;
        // The last "@" starts the type, so a folder with "@" in its name needs a type.
        if (const auto mark = folder.rfind('@'); mark != std::string::npos) {
            const std::string name = folder.substr(mark + 1);
            const auto known = std::find_if(suffixes.begin(), suffixes.end(),
                                            [&name](const Suffix& s) { return name == s.name; });
            if (known == suffixes.end()) {
                reject(entry, "unknown drive type \"@" + name + "\"");
                continue;
            }
            type = known->type;
            folder.resize(mark);
        }
        const std::string root = normalizeNativePath(folder);
        if (root.empty()) {
            reject(entry, "the folder is not an absolute path");
            continue;
        }
        const char letter = upperAscii(entry[0]);
        if (findLetter(map, letter)) {
            reject(entry, std::string("drive ") + letter + ": is mapped twice");
            continue;
        }
        map.push_back({letter, root, type});
    }
    std::sort(map.begin(), map.end(),
              [](const DriveMapping& a, const DriveMapping& b) { return a.letter < b.letter; });
    return map;
}

void addRootFallback(std::vector<DriveMapping>& map)
{
    const bool rootMapped = std::any_of(map.begin(), map.end(),
                                        [](const DriveMapping& m) { return m.nativeRoot == "/"; });
    if (rootMapped)
        return;
    // Z: by custom; when the map already uses it, the highest free letter above F:. C: to
    // F: are the drives a person picks for a search, and "/" must never be one of them.
    for (char letter = 'Z'; letter > 'F'; --letter) {
        if (!findLetter(map, letter)) {
            map.push_back({letter, "/", DRIVE_FIXED});
            std::sort(map.begin(), map.end(), [](const DriveMapping& a, const DriveMapping& b) {
                return a.letter < b.letter;
            });
            return;
        }
    }
}

char driveLetterOfRoot(const std::string& rootPath)
{
    const bool bare = rootPath.size() == 2;
    const bool withSeparator = rootPath.size() == 3 && isSeparator(rootPath[2]);
    if ((!bare && !withSeparator) || !hasDriveLetter(rootPath))
        return 0;
    return upperAscii(rootPath[0]);
}

std::string GetLogicalDriveStringsA()
{
    std::string strings;
    for (const auto& mapping : Service<DriveService>::instance().driveMap()) {
        strings += mapping.letter;
        strings += ":\\";
        strings += '\0';
    }
    return strings;
}

unsigned GetDriveTypeA(const std::string& rootPath)
{
    const char letter = driveLetterOfRoot(rootPath);
    if (!letter)
        return DRIVE_NO_ROOT_DIR;
    return Service<DriveService>::instance().driveType(std::string(1, letter) + ":\\");
}

std::string toNativePath(const std::string& windowsPath)
{
    if (!hasDriveLetter(windowsPath))
        return {};
    // "C:name" is relative to a current folder, which the layer does not keep.
    if (windowsPath.size() > 2 && !isSeparator(windowsPath[2]))
        return {};
    if (windowsPath.find('\0') != std::string::npos)
        return {};

    const auto map = Service<DriveService>::instance().driveMap();
    const DriveMapping* mapping = findLetter(map, upperAscii(windowsPath[0]));
    if (!mapping)
        return {};

    std::vector<std::string> parts;
    if (!splitPath(windowsPath.substr(2), isSeparator, AboveStart::Invalid, parts))
        return {};
    std::string native = mapping->nativeRoot;
    for (const auto& part : parts) {
        if (native.back() != '/')
            native += '/';
        native += part;
    }
    return native;
}

std::string toWindowsPath(const std::string& nativePath)
{
    if (nativePath.empty() || nativePath.front() != '/' ||
        nativePath.find('\0') != std::string::npos)
        return {};
    std::vector<std::string> parts;
    splitPath(nativePath, isSlash, AboveStart::Stay, parts);
    // A "\" inside a name would read back as a separator and name another file.
    for (const auto& part : parts) {
        if (part.find('\\') != std::string::npos)
            return {};
    }

    const auto map = Service<DriveService>::instance().driveMap();
    const DriveMapping* best = nullptr;
    std::size_t bestDepth = 0;
    for (const auto& mapping : map) {
        std::vector<std::string> rootParts;
        splitPath(mapping.nativeRoot, isSlash, AboveStart::Stay, rootParts);
        if (rootParts.size() > parts.size() || (best && rootParts.size() <= bestDepth))
            continue;
        if (std::equal(rootParts.begin(), rootParts.end(), parts.begin())) {
            best = &mapping;
            bestDepth = rootParts.size();
        }
    }
    if (!best)
        return {};

    std::string windows = std::string(1, best->letter) + ":";
    if (bestDepth == parts.size())
        return windows + "\\";
    for (std::size_t i = bestDepth; i < parts.size(); ++i)
        windows += "\\" + parts[i];
    return windows;
}

} // namespace platform
