#include "platform/AutostartFolder.h"

#include "platform/Drives.h"
#include "platform/FileStorage.h"
#include "platform/Folders.h"
#include "platform/Registry.h"
#include "platform/RegistryHive.h"

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace fs = std::filesystem;

namespace {

const std::string suffix = ".desktop";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isWindowsAbsolute(const std::string& path)
{
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

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

// One line of a desktop entry, its end kept so that an edit changes nothing else.
struct EntryLine
{
    std::string content; // without its line end
    std::string end;     // "\n", "\r\n", or empty for a last line without one
    bool inMainGroup = false;
    bool isKey = false;
    std::string key;
    std::string value;
};

std::vector<EntryLine> entryLines(const std::string& text)
{
    std::vector<EntryLine> lines;
    bool inMainGroup = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        EntryLine line;
        line.content = text.substr(start, end == std::string::npos ? end : end - start);
        line.end = end == std::string::npos ? "" : "\n";
        start = end == std::string::npos ? text.size() : end + 1;
        if (!line.content.empty() && line.content.back() == '\r') {
            line.content.pop_back();
            line.end = "\r" + line.end;
        }
        const std::string& content = line.content;
        if (!content.empty() && content[0] == '[')
            inMainGroup = content == "[Desktop Entry]";
        line.inMainGroup = inMainGroup;
        const auto equals = content.find('=');
        if (inMainGroup && !content.empty() && content[0] != '#' && content[0] != '[' &&
            equals != std::string::npos) {
            line.isKey = true;
            line.key = content.substr(0, equals);
            while (!line.key.empty() && isBlank(line.key.back()))
                line.key.pop_back();
            line.value = content.substr(equals + 1);
            line.value.erase(0, line.value.find_first_not_of(" \t"));
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// Desktops disable an entry of the user's with either key.
bool disables(const EntryLine& line)
{
    return (line.key == "Hidden" && equalsIgnoringCase(line.value, "true")) ||
           (line.key == "X-GNOME-Autostart-enabled" && equalsIgnoringCase(line.value, "false"));
}

struct DesktopEntry
{
    bool found = false;
    bool disabled = false;
    std::optional<std::string> exec;
};

DesktopEntry parseEntry(const std::string& text)
{
    DesktopEntry entry;
    for (const EntryLine& line : entryLines(text)) {
        entry.found = entry.found || line.inMainGroup;
        if (!line.isKey)
            continue;
        if (disables(line))
            entry.disabled = true;
        else if (line.key == "Exec")
            entry.exec = line.value;
    }
    return entry;
}

// The entry with its Exec line set and any switch that disabled it turned back on; every
// other line stays as it was, byte for byte, so keys a desktop or the user added (a delay,
// an icon, translations) survive. Nothing when the text has no main group to edit.
std::optional<std::string> editedEntry(const std::string& text, const std::string& exec)
{
    std::vector<EntryLine> lines = entryLines(text);
    std::optional<std::size_t> execLine;
    std::optional<std::size_t> lastOfMainGroup;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EntryLine& line = lines[i];
        if (!line.inMainGroup)
            continue;
        if (!line.content.empty())
            lastOfMainGroup = i;
        if (line.key == "Exec")
            execLine = i; // the last one counts, as it does when reading
        else if (disables(line))
            line.content = line.key == "Hidden" ? "Hidden=false" : line.key + "=true";
    }
    if (!lastOfMainGroup)
        return std::nullopt;
    if (execLine) {
        lines[*execLine].content = "Exec=" + exec;
    } else {
        EntryLine& before = lines[*lastOfMainGroup];
        const std::string end = before.end.empty() ? "\n" : before.end;
        before.end = end;
        EntryLine added;
        added.content = "Exec=" + exec;
        added.end = end;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*lastOfMainGroup) + 1, added);
    }
    std::string out;
    for (const EntryLine& line : lines)
        out += line.content + line.end;
    return out;
}

std::optional<std::string> readEntryText(const std::string& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return readWholeFile(path);
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
    if (const auto old = readEntryText(path)) {
        const DesktopEntry entry = parseEntry(*old);
        if (entry.found && !entry.disabled && entry.exec &&
            execArguments(*entry.exec) == *arguments)
            return ERROR_SUCCESS;
        if (const auto edited = editedEntry(*old, exec))
            return registryErrorFromErrno(writeFileAtomically(path, *edited));
    }
    std::error_code ec;
    fs::create_directories(m_folder, ec);
    if (ec)
        return registryErrorFromErrno(ec.value());
    const std::string text =
        "[Desktop Entry]\nType=Application\nName=" + escapeString(name) + "\nExec=" + exec + "\n";
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

    if (isWindowsAbsolute(program)) {
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
