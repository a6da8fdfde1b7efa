#pragma once

#include "platform/settings/Profile.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace test {

// Profile calls recorded and counted. Writes fail with ENOSPC and the rest answers as set
// here, unless real is set: then every call goes on to it.
class FakeProfile : public platform::ProfileService
{
public:
    using Interface = platform::ProfileService;

    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& fileName) override;
    bool writeString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& fileName) override;
    bool fileExists(const std::string& fileName) override;
    std::optional<std::string> readFile(const std::string& fileName) override;
    bool writeEntries(const std::string& fileName,
                      const std::vector<platform::ProfileEntry>& entries) override;

    // What getString answers (the default when none), whether files exist, and what a
    // read finds (none fails with EIO).
    std::optional<std::string> answer;
    bool exists = false;
    std::optional<std::string> content;
    std::unique_ptr<platform::ProfileService> real;

    // Every call as "get s/k/default/file", "write s/k/v/file", "exists file", "read
    // file" or "entries count/file".
    std::vector<std::string> calls;
    // Every value written, as "s/k=v in file", and every file asked about.
    std::vector<std::string> written;
    std::vector<std::string> asked;
    int reads = 0;
    int writes = 0;
    // Calls for a single key.
    int perKey = 0;
};

} // namespace test
