#include "support/FakeDrives.h"

namespace test {

unsigned FakeDrives::driveType(const std::string& rootPath)
{
    asked.push_back(rootPath);
    const char letter = platform::driveLetterOfRoot(rootPath);
    for (const auto& mapping : map) {
        if (letter && mapping.letter == letter)
            return mapping.type;
    }
    return platform::DRIVE_NO_ROOT_DIR;
}

bool FakeDrives::volume(const std::string& rootPath, platform::VolumeFigures& figures)
{
    const auto found = volumes.find(platform::driveLetterOfRoot(rootPath));
    if (found == volumes.end())
        return false;
    figures = found->second;
    return true;
}

void FakeDrives::setTypes(const std::map<char, unsigned>& types)
{
    map.clear();
    for (const auto& [letter, type] : types)
        map.push_back({letter, std::string("/drive/") + letter, type});
}

} // namespace test
