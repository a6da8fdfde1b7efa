#pragma once

#include "platform/settings/ProfileDocument.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct ProfileEntry
{
    std::string section;
    std::string key;
    std::string value;
    // When set, the text written is merge(the key's value in the file as it is then, or
    // nullopt, value): decided while the file is held, so that another program's change
    // since the file was read is seen.
    std::function<std::string(const std::optional<std::string>& current, const std::string& value)>
        merge = {};
};

// Private-profile (INI) files in the Windows directory. fileName is always a bare file name
// ("vorlax.ini").
class ProfileService
{
public:
    virtual ~ProfileService() = default;
    virtual std::string getString(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, const std::string& fileName) = 0;
    virtual bool writeString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& fileName) = 0;
    virtual bool fileExists(const std::string& fileName) = 0;
    // The whole text; nothing when it cannot be read, with the reason in errno (ENOENT
    // when missing).
    virtual std::optional<std::string> readFile(const std::string& fileName) = 0;
    // Sets every entry, in order, in the file as it is on disk now, and replaces the file in
    // one step. false with errno when refused; the file is then unchanged.
    virtual bool writeEntries(const std::string& fileName,
                              const std::vector<ProfileEntry>& entries) = 0;

    static std::unique_ptr<ProfileService> createDefault();
};

// fileName: a bare file name ("vorlax.ini"), placed in the Windows directory
// (windowsDirectoryNative()). Returns defaultValue, less its trailing blanks, when the file,
// the section or the key is missing.
std::string GetPrivateProfileStringA(const std::string& section, const std::string& key,
                                     const std::string& defaultValue, const std::string& fileName);
// Writes (adds or replaces) one key. false when the system refuses the write (errno tells
// why); the file is then unchanged. A name that is not a bare file name, an empty section or
// key, or a text that would break the line structure is refused with EINVAL.
bool WritePrivateProfileStringA(const std::string& section, const std::string& key,
                                const std::string& value, const std::string& fileName);

// Whether anything at all is there (a file, a folder, a link, dangling or not), looked for
// exactly where the calls above read and write. Only a name the system says is not there
// counts as missing: what cannot be looked at may be the user's file.
bool profileFileExists(const std::string& fileName);
std::optional<std::string> readProfileFile(const std::string& fileName);
bool writeProfileEntries(const std::string& fileName, const std::vector<ProfileEntry>& entries);

// The value of a key of a parsed file, with GetPrivateProfileStringA's rules for what is
// missing.
std::string profileString(const ProfileDocument& document, const std::string& section,
                          const std::string& key, const std::string& defaultValue);

} // namespace platform
