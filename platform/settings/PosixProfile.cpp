#include "platform/core/FileStorage.h"
#include "platform/files/Folders.h"
#include "platform/settings/Profile.h"
#include "platform/settings/ProfileDocument.h"
#include "platform/settings/SettingsLock.h"

#include <cerrno>
#include <sys/stat.h>

namespace platform {

namespace {

bool isBareFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

class PosixProfile : public ProfileService
{
public:
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& fileName) override
    {
        const bool named = isBareFileName(fileName) && !section.empty() && !key.empty();
        auto text = named ? readWholeFile(pathOf(fileName)) : std::nullopt;
        return profileString(ProfileDocument(std::move(text).value_or(std::string())), section, key,
                             defaultValue);
    }

    bool writeString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& fileName) override
    {
        return writeEntries(fileName, {ProfileEntry{section, key, value}});
    }

    bool writeEntries(const std::string& fileName,
                      const std::vector<ProfileEntry>& entries) override
    {
        bool valid = isBareFileName(fileName);
        for (const ProfileEntry& entry : entries)
            valid = valid && ProfileDocument::isValidEntry(entry.section, entry.key, entry.value);
        if (!valid) {
            errno = EINVAL;
            return false;
        }
        // Read, change and replace as one step, also for other programs writing the same
        // file. Without locks on the filesystem the write still goes ahead.
        const SettingsLock lock(SettingsHold::Write);
        if (!lock.held() && lock.error() != ENOLCK) {
            errno = lock.error();
            return false;
        }
        const std::string target = pathOf(fileName);
        // Only writers holding this lock make these, so any still there were left by a
        // writer that was killed.
        removeStaleTemporaries(target);
        int readError = 0;
        auto text = readWholeFile(target, &readError);
        const bool existed = text.has_value();
        if (!existed && readError != ENOENT) {
            errno = readError;
            return false;
        }
        ProfileDocument document(std::move(text).value_or(std::string()));
        for (const ProfileEntry& entry : entries) {
            std::string value = entry.value;
            if (entry.merge) {
                std::string merged = entry.merge(document.value(entry.section, entry.key), value);
                if (ProfileDocument::isValidEntry(entry.section, entry.key, merged))
                    value = std::move(merged);
            }
            document.setValue(entry.section, entry.key, value);
        }
        const std::string changed = document.text();
        if (existed && changed == document.originalText())
            return true;
        errno = writeFileAtomically(target, changed);
        return errno == 0;
    }

    bool fileExists(const std::string& fileName) override
    {
        if (!isBareFileName(fileName))
            return false;
        struct stat info
        {
        };
        return ::lstat(pathOf(fileName).c_str(), &info) == 0 ||
               (errno != ENOENT && errno != ENOTDIR);
    }

    std::optional<std::string> readFile(const std::string& fileName) override
    {
        if (!isBareFileName(fileName)) {
            errno = ENOENT;
            return std::nullopt;
        }
        int error = 0;
        auto text = readWholeFile(pathOf(fileName), &error);
        if (!text)
            errno = error;
        return text;
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
    return std::make_unique<PosixProfile>();
}

} // namespace platform
