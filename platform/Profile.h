#pragma once

#include <memory>
#include <string>

namespace platform {

// Private-profile (INI) files in the Windows directory.
class ProfileService
{
public:
    virtual ~ProfileService() = default;
    virtual std::string getString(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, const std::string& fileName) = 0;
    virtual bool writeString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& fileName) = 0;
    virtual bool fileExists(const std::string& fileName) = 0;

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
// Whether a regular file of that bare name is where the two calls above read and write it
// (a link to one counts); false for a folder, a FIFO or a name that is not a bare file name.
bool PrivateProfileFileExists(const std::string& fileName);

} // namespace platform
