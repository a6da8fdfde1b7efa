#pragma once

#include "platform/drives/Drives.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace test {

// A drive map held in memory, so a test decides which letters exist and what each
// reports. A mapped letter answers its own type as given (even DRIVE_UNKNOWN or a code
// no system uses); any other letter has no root directory.
class FakeDrives : public platform::DriveService
{
public:
    using Interface = platform::DriveService;
    FakeDrives() = default;
    explicit FakeDrives(std::vector<platform::DriveMapping> drives) : map(std::move(drives)) {}

    std::vector<platform::DriveMapping> driveMap() override { return map; }
    unsigned driveType(const std::string& rootPath) override;
    // The figures given for the letter in volumes; a letter without any has no medium.
    bool volume(const std::string& rootPath, platform::VolumeFigures& figures) override;

    // One drive for each letter, on a folder named after it ("/drive/C").
    void setTypes(const std::map<char, unsigned>& types);

    std::vector<platform::DriveMapping> map;
    std::map<char, platform::VolumeFigures> volumes;
    // Every root GetDriveTypeA passed on, in order.
    std::vector<std::string> asked;
};

} // namespace test
