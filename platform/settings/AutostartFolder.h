#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The desktop's autostart folder as the string values of the Run key: the value NAME is
// the desktop entry NAME.desktop, and its data, a Windows command line, is the entry's
// Exec line with the program given by its native path.
class AutostartFolder
{
public:
    explicit AutostartFolder(std::string folder);

    // $XDG_CONFIG_HOME/autostart, or ~/.config/autostart.
    static std::string defaultFolder();
    const std::string& folder() const { return m_folder; }

    // The command line of an enabled entry; nothing when there is no entry, it is no
    // desktop entry, or the desktop has disabled it.
    std::optional<std::string> read(const std::string& name) const;
    // Writes the entry whole or leaves the old one; a registry error code. An existing entry
    // gets only a new Exec line (and is enabled again), its other lines untouched; when it
    // already starts that command it is not written at all. ERROR_INVALID_PARAMETER for a
    // command line whose program part is empty.
    long write(const std::string& name, const std::string& commandLine) const;
    // ERROR_FILE_NOT_FOUND when there is no enabled entry of that name.
    long remove(const std::string& name) const;

    // A value name that can be a file name.
    static bool isValidName(const std::string& name);

    // Windows command line <-> native argument list. The program is a quoted first word,
    // else the longest run of words that names an existing file, else the first word.
    // Nothing when the program lies on a drive that is not mapped; an empty list when the
    // program part is empty (an empty text, or one that starts with a blank).
    static std::optional<std::vector<std::string>> nativeCommand(const std::string& commandLine);
    static std::string windowsCommand(const std::vector<std::string>& arguments);

    // The Exec value as the desktop entry holds it, quoting and escaping included.
    static std::string execValue(const std::vector<std::string>& arguments);
    static std::vector<std::string> execArguments(const std::string& value);

private:
    // The existing file for the name (any case), else the file a write would create.
    std::string entryPath(const std::string& name) const;

    std::string m_folder;
};

} // namespace platform
