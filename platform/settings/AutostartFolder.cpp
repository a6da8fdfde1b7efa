#include "platform/settings/AutostartFolder.h"

#include "platform/core/AsciiCase.h"
#include "platform/core/FileStorage.h"
#include "platform/core/KeyFile.h"
#include "platform/core/PathText.h"
#include "platform/drives/Drives.h"
#include "platform/files/Folders.h"
#include "platform/settings/Registry.h"
#include "platform/settings/RegistryHive.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <glib.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace fs = std::filesystem;

namespace {

const std::string suffix = ".desktop";

bool isRegularFile(const std::string& nativePath)
{
    struct stat info;
    return !nativePath.empty() && ::stat(nativePath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Words of a Windows command-line tail: blanks part them, double quotes hold them together.
std::vector<std::string> splitWindowsArguments(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (isBlank(c) && !quoted) {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

// The escapes every string value of a desktop entry may carry.
std::string escapeString(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    // Leading blanks would be taken for the space around "=".
    if (!out.empty() && out[0] == ' ')
        out.replace(0, 1, "\\s");
    return out;
}

std::string unescapeString(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[i + 1]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            // Not a string escape: left for the Exec quoting rules.
            out += text[i];
            continue;
        }
        ++i;
    }
    return out;
}

bool needsQuotes(const std::string& argument)
{
    static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    return argument.empty() || argument.find_first_of(reserved) != std::string::npos;
}

std::string quoteArgument(const std::string& argument)
{
    const bool quote = needsQuotes(argument);
    std::string out = quote ? "\"" : "";
    for (const char c : argument) {
        if (c == '%')
            out += '%';
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            out += '\\';
        out += c;
    }
    return quote ? out + '"' : out;
}

const std::string mainGroup = "Desktop Entry";

// Desktops disable an entry of the user's with either key.
bool disables(const KeyFileDocument::Entry& entry)
{
    return (entry.key == "Hidden" && equalsIgnoringCase(entry.value, "true")) ||
           (entry.key == "X-GNOME-Autostart-enabled" && equalsIgnoringCase(entry.value, "false"));
}

struct DesktopEntry
{
    bool found = false;
    bool disabled = false;
    std::optional<std::string> exec;
};

DesktopEntry parseEntry(const std::string& text)
{
    const KeyFileDocument document(freedesktopSyntax, text);
    DesktopEntry entry;
    entry.found = document.hasGroup(mainGroup);
    for (const auto& line : document.entries(mainGroup))
        entry.disabled = entry.disabled || disables(line);
    entry.exec = document.value(mainGroup, "Exec");
    return entry;
}

// The entry with its Exec line set, its TryExec (if it has one) naming the new program, and
// any switch that disabled it turned back on; every other line stays as it was, byte for
// byte, so keys a desktop or the user added (a delay, an icon, translations) survive.
// Nothing when the text has no main group to edit.
std::optional<std::string> editedEntry(const std::string& text, const std::string& exec,
                                       const std::string& tryExec)
{
    KeyFileDocument document(freedesktopSyntax, text);
    if (!document.hasGroup(mainGroup))
        return std::nullopt;
    for (const auto& line : document.entries(mainGroup)) {
        if (disables(line))
            document.replaceEntry(line.line, line.key, line.key == "Hidden" ? "false" : "true");
    }
    // A stale one would make the desktop skip the entry as if the program were gone.
    if (document.value(mainGroup, "TryExec"))
        document.setValue(mainGroup, "TryExec", tryExec);
    document.setValue(mainGroup, "Exec", exec);
    return document.text();
}

std::optional<std::string> readEntryText(const std::string& path,
                                         off_t limit = std::numeric_limits<off_t>::max())
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > limit)
        return std::nullopt;
    return readWholeFile(path);
}

// A value a desktop can show: UTF-8 without control characters.
bool isShowable(const std::string& value)
{
    return g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr) &&
           std::none_of(value.begin(), value.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// The lines a new entry shows the program with, as its menu entry shows it: the icon and
// the description of the entry a desktop finds for the program's file name. Without one,
// the icon is named after the program, as installed programs name theirs.
std::string presentationLines(const std::string& program)
{
    const std::string name = program.substr(program.rfind('/') + 1);
    if (name.empty())
        return {};
    for (const auto& folder : dataFoldersNative()) {
        // A menu entry is a few kilobytes, translations and all.
        const auto text = readEntryText(folder + "/applications/" + name + suffix, 1 << 20);
        if (!text)
            continue;
        const KeyFileDocument menu(freedesktopSyntax, *text);
        if (!menu.hasGroup(mainGroup))
            continue;
        // Both are strings already escaped as the file holds them.
        const auto comment = menu.value(mainGroup, "Comment");
        const auto icon = menu.value(mainGroup, "Icon");
        const bool hasComment = comment && !comment->empty() && isShowable(*comment);
        const bool hasIcon = icon && !icon->empty() && isShowable(*icon);
        return (hasComment ? "Comment=" + *comment + "\n" : "") +
               "Icon=" + (hasIcon ? *icon : escapeString(name)) + "\n";
    }
    return "Icon=" + escapeString(name) + "\n";
}

std::optional<DesktopEntry> readEntry(const std::string& path)
{
    const auto text = readEntryText(path);
    if (!text)
        return std::nullopt;
    DesktopEntry entry = parseEntry(*text);
    if (!entry.found || entry.disabled)
        return std::nullopt;
    return entry;
}

} // namespace

AutostartFolder::AutostartFolder(std::string folder) : m_folder(std::move(folder)) {}

std::string AutostartFolder::defaultFolder()
{
    return configHomeNative() + "/autostart";
}

bool AutostartFolder::isValidName(const std::string& name)
{
    return !name.empty() && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string AutostartFolder::entryPath(const std::string& name) const
{
    const std::string exact = m_folder + '/' + name + suffix;
    struct stat info;
    if (::lstat(exact.c_str(), &info) == 0)
        return exact;
    std::error_code ec;
    for (auto it = fs::directory_iterator(m_folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (file.size() == name.size() + suffix.size() && file.ends_with(suffix) &&
            equalsIgnoringCase(file.substr(0, name.size()), name))
            return it->path().string();
    }
    return exact;
}

std::optional<std::string> AutostartFolder::read(const std::string& name) const
{
    if (!isValidName(name))
        return std::nullopt;
    const auto entry = readEntry(entryPath(name));
    if (!entry)
        return std::nullopt;
    if (!entry->exec)
        return std::string();
    return windowsCommand(execArguments(*entry->exec));
}

long AutostartFolder::write(const std::string& name, const std::string& commandLine) const
{
    if (!isValidName(name))
        return ERROR_INVALID_PARAMETER;
    const auto arguments = nativeCommand(commandLine);
    if (!arguments)
        return ERROR_PATH_NOT_FOUND;
    // An entry that starts nothing, or only its arguments, is no registration.
    if (arguments->empty() || arguments->front().empty())
        return ERROR_INVALID_PARAMETER;
    const std::string path = entryPath(name);
    const std::string exec = execValue(*arguments);
    const std::string tryExec = escapeString(arguments->front());
    if (const auto old = readEntryText(path)) {
        const DesktopEntry entry = parseEntry(*old);
        if (entry.found && !entry.disabled && entry.exec &&
            execArguments(*entry.exec) == *arguments)
            return ERROR_SUCCESS;
        if (const auto edited = editedEntry(*old, exec, tryExec))
            return registryErrorFromErrno(writeFileAtomically(path, *edited));
    }
    std::error_code ec;
    fs::create_directories(m_folder, ec);
    if (ec)
        return registryErrorFromErrno(ec.value());
    // TryExec lets a desktop pass over the entry once the program is removed.
    const std::string text = "[Desktop Entry]\nType=Application\nName=" + escapeString(name) +
                             "\n" + presentationLines(arguments->front()) + "TryExec=" + tryExec +
                             "\nExec=" + exec + "\n";
    return registryErrorFromErrno(writeFileAtomically(path, text));
}

long AutostartFolder::remove(const std::string& name) const
{
    if (!isValidName(name))
        return ERROR_FILE_NOT_FOUND;
    const std::string path = entryPath(name);
    if (!readEntry(path))
        return ERROR_FILE_NOT_FOUND;
    return ::unlink(path.c_str()) == 0 ? ERROR_SUCCESS : registryErrorFromErrno(errno);
}

std::optional<std::vector<std::string>>
AutostartFolder::nativeCommand(const std::string& commandLine)
{
    // A command that starts with a blank has an empty program part: what follows are the
    // arguments of nothing, not a program.
    if (commandLine.empty() || isBlank(commandLine[0]))
        return std::vector<std::string>();
    const std::string& text = commandLine;

    std::string program;
    std::size_t rest = std::string::npos;
    if (text[0] == '"') {
        const auto close = text.find('"', 1);
        program = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        rest = close == std::string::npos ? text.size() : close + 1;
    } else {
        std::vector<std::size_t> ends;
        for (std::size_t i = 1; i < text.size(); ++i) {
            if (isBlank(text[i]))
                ends.push_back(i);
        }
        ends.push_back(text.size());
        for (auto end = ends.rbegin(); end != ends.rend(); ++end) {
            if (isRegularFile(toNativePath(text.substr(0, *end)))) {
                rest = *end;
                break;
            }
        }
        if (rest == std::string::npos)
            rest = std::min(text.find_first_of(" \t"), text.size());
        program = text.substr(0, rest);
    }

    if (isFullyQualified(program)) {
        program = toNativePath(program);
        if (program.empty())
            return std::nullopt;
    }
    std::vector<std::string> arguments{program};
    for (auto& word : splitWindowsArguments(text.substr(rest)))
        arguments.push_back(std::move(word));
    return arguments;
}

std::string AutostartFolder::windowsCommand(const std::vector<std::string>& arguments)
{
    if (arguments.empty())
        return {};
    std::string command = arguments[0];
    if (!command.empty() && command[0] == '/') {
        const std::string windows = toWindowsPath(command);
        if (!windows.empty())
            command = windows;
    }
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool quote = argument.empty() || argument.find_first_of(" \t") != std::string::npos;
        command += ' ';
        command += quote ? '"' + argument + '"' : argument;
    }
    return command;
}

std::string AutostartFolder::execValue(const std::vector<std::string>& arguments)
{
    std::string line;
    for (const auto& argument : arguments) {
        if (!line.empty())
            line += ' ';
        line += quoteArgument(argument);
    }
    return escapeString(line);
}

std::vector<std::string> AutostartFolder::execArguments(const std::string& value)
{
    const std::string line = unescapeString(value);
    std::vector<std::string> arguments;
    std::string argument;
    bool inArgument = false;
    bool quoted = false;
    bool onlyFieldCodes = true;
    auto finish = [&] {
        // A bare field code (%f, %U ...) stands for files an autostart never passes.
        if (inArgument && !(onlyFieldCodes && argument.empty()))
            arguments.push_back(argument);
        argument.clear();
        inArgument = false;
        onlyFieldCodes = true;
    };
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '\\' && i + 1 < line.size() &&
            std::string("\"`$\\").find(line[i + 1]) != std::string::npos) {
            argument += line[++i];
            onlyFieldCodes = false;
        } else if (c == '"') {
            quoted = !quoted;
            inArgument = true;
            onlyFieldCodes = false;
        } else if (!quoted && isBlank(c)) {
            finish();
        } else if (c == '%' && i + 1 < line.size()) {
            inArgument = true;
            if (line[++i] == '%') {
                argument += '%';
                onlyFieldCodes = false;
            }
        } else {
            argument += c;
            inArgument = true;
            onlyFieldCodes = false;
        }
    }
    finish();
    return arguments;
}

} // namespace platform
