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

void FakeDrives::setTypes(const std::map<char, unsigned>& types)
{
    map.clear();
    for (const auto& [letter, type] : types)
        map.push_back({letter, std::string("/drive/") + letter, type});
}

} // namespace test
