#pragma once

#include "sysinfo/QXDrive.h"

#include <string>

// The logical drives present at the moment of each call, by zero-based position.
class TDriveList
{
public:
    TDriveList();

    // Rebuilds the list text ("A:\,C:\,D:\,") and the count.
    void Refresh();
    // Rebuilds the list first.
    int Count();
    // The root path at the position, such as "C:\"; "error" when the position is not
    // below Count. A position of 0 or less gives the first drive.
    std::string Drive(int index);
    TDrvType DriveType(int index);

private:
    int m_count = 0;
    std::string m_list;
};
