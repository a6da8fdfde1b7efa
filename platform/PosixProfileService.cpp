#include "platform/FileStorage.h"
#include "platform/Folders.h"
#include "platform/Profile.h"
#include "platform/ProfileDocument.h"

#include <cerrno>
#include <sys/stat.h>

namespace platform {

namespace {

bool isBareFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

class PosixProfileService : public ProfileService
{
public:
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& fileName) override
    {
        std::string fallback = defaultValue;
        fallback.erase(fallback.find_last_not_of(" \t") + 1);
        if (!isBareFileName(fileName) || section.empty() || key.empty())
            return fallback;
        const auto text = readWholeFile(pathOf(fileName));
        if (!text)
            return fallback;
        return ProfileDocument(*text).value(section, key).value_or(fallback);
    }

    bool writeString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& fileName) override
    {
        if (!isBareFileName(fileName) || !ProfileDocument::isValidEntry(section, key, value)) {
            errno = EINVAL;
            return false;
        }
        // Read, change and replace as one step, also for other programs writing the same
        // file (the lock is per open folder, so it holds between threads too).
        const FolderLock folderLock(windowsDirectoryNative());
        const std::string target = pathOf(fileName);
        int readError = 0;
        auto text = readWholeFile(target, &readError);
        const bool existed = text.has_value();
        if (!existed && readError != ENOENT) {
            errno = readError;
            return false;
        }
        ProfileDocument document(existed ? *text : std::string());
        document.setValue(section, key, value);
        const std::string changed = document.text();
        if (existed && changed == *text)
            return true;
        errno = writeFileAtomically(target, changed);
        return errno == 0;
    }

    bool fileExists(const std::string& fileName) override
    {
        struct stat info
        {
        };
        return isBareFileName(fileName) && ::stat(pathOf(fileName).c_str(), &info) == 0 &&
               S_ISREG(info.st_mode);
    }

private:
    static std::string pathOf(const std::string& fileName)
    {
        return windowsDirectoryNative() + "/" + fileName;
    }
};

} // namespace

std::unique_ptr<ProfileService> ProfileService::createDefault()
{
    return std::make_unique<PosixProfileService>();
}

} // namespace platform
