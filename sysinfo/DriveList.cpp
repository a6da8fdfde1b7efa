#include "sysinfo/DriveList.h"

#include "platform/drives/Drives.h"

TDriveList::TDriveList()
{
    Refresh();
}

void TDriveList::Refresh()
{
    m_count = 0;
    m_list.clear();
    // Each root is followed by a zero; the size the system asks for adds one more.
    const std::string roots = platform::GetLogicalDriveStringsA();
    const std::size_t size = roots.empty() ? 0 : roots.size() + 1;
    if (size == 0)
        return;
    m_list = roots;
    for (std::size_t i = 0; i < size - 1; ++i) {
        if (m_list[i] == '\0') {
            m_list[i] = ',';
            ++m_count;
        }
    }
}

int TDriveList::Count()
{
    Refresh();
    return m_count;
}

std::string TDriveList::Drive(int index)
{
    if (index >= Count())
        return "error";
    std::string rest = m_list;
    for (int i = 0; i < index; ++i) {
        const auto comma = rest.find(',');
        if (comma != std::string::npos)
            rest.erase(0, comma + 1);
    }
    const auto comma = rest.find(',');
    if (comma != std::string::npos)
        rest.resize(comma);
    return rest;
}

TDrvType TDriveList::DriveType(int index)
{
    const unsigned code = platform::GetDriveTypeA(Drive(index));
    if (code == platform::DRIVE_NO_ROOT_DIR || code > platform::DRIVE_RAMDISK)
        return dtNonExistent;
    return static_cast<TDrvType>(code);
}
