#include "support/FakeProfile.h"

#include <cerrno>

namespace test {

std::string FakeProfile::getString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue, const std::string& fileName)
{
    ++perKey;
    calls.push_back("get " + section + "/" + key + "/" + defaultValue + "/" + fileName);
    if (real)
        return real->getString(section, key, defaultValue, fileName);
    return answer.value_or(defaultValue);
}

bool FakeProfile::writeString(const std::string& section, const std::string& key,
                              const std::string& value, const std::string& fileName)
{
    ++perKey;
    calls.push_back("write " + section + "/" + key + "/" + value + "/" + fileName);
    written.push_back(section + "/" + key + "=" + value + " in " + fileName);
    if (real)
        return real->writeString(section, key, value, fileName);
    errno = ENOSPC;
    return false;
}

bool FakeProfile::fileExists(const std::string& fileName)
{
    calls.push_back("exists " + fileName);
    asked.push_back(fileName);
    return real ? real->fileExists(fileName) : exists;
}

std::optional<std::string> FakeProfile::readFile(const std::string& fileName)
{
    ++reads;
    calls.push_back("read " + fileName);
    if (real)
        return real->readFile(fileName);
    if (!content)
        errno = EIO;
    return content;
}

bool FakeProfile::writeEntries(const std::string& fileName,
                               const std::vector<platform::ProfileEntry>& entries)
{
    ++writes;
    calls.push_back("entries " + std::to_string(entries.size()) + "/" + fileName);
    for (const auto& entry : entries)
        written.push_back(entry.section + "/" + entry.key + "=" + entry.value + " in " + fileName);
    if (real)
        return real->writeEntries(fileName, entries);
    errno = ENOSPC;
    return false;
}

} // namespace test
