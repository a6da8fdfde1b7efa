#pragma once

namespace test {

// vorlax.ini as the first save writes it from the window's defaults, byte for byte.
inline constexpr const char* FirstSavedSettings =
    "[Drives]\r\nDrive0=1\r\nDrive1=0\r\nDrive2=0\r\nDrive3=0\r\n"
    "[Actions]\r\nRunScanDisk=0\r\nDelCHK=1\r\nDelTempFiles=1\r\n"
    "DelCache=0\r\nDelBAK=1\r\nDelTMP=1\r\nDelUser1=1\r\nDelUser2=0\r\n"
    "Cache=\r\nAutoStart=0\r\nFrequency1=1\r\nFrequency2=0\r\n"
    "Frequency3=0\r\nFrequency4=0\r\n"
    "[User]\r\nUser1=*.~??\r\nUser2=*.ZIP\r\n"
    "[NextDate]\r\nDate=1899/12/30\r\n";

} // namespace test
