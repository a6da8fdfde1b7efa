#pragma once

#include <cstdint>

// Kind of a drive; each ordinal is the system's drive-type code (0 unknown, 1 no root
// directory, 2 removable ... 6 RAM disk), so a code converts by value.
enum TDrvType : std::uint8_t {
    dtNotDetermined,
    dtNonExistent,
    dtRemoveable,
    dtFixed,
    dtRemote,
    dtCDROM,
    dtRamDrive
};
