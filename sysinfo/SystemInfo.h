#pragma once

#include <cstdint>
#include <string>

// A snapshot, taken at creation, of the machine, its user and its memory.
class TSystemInfo
{
public:
    TSystemInfo();

    const std::string& ComputerName() const { return m_computerName; }
    const std::string& UserName() const { return m_userName; }
    const std::string& RegOwner() const { return m_regOwner; }
    const std::string& RegCompany() const { return m_regCompany; }
    // "4.0 (1381.Service Pack 6)"
    const std::string& OSVersion() const { return m_osVersion; }
    const std::string& OSPlatform() const { return m_osPlatform; }
    // "65012 Kb"
    const std::string& TotalPhys() const { return m_totalPhys; }
    const std::string& AvailPhys() const { return m_availPhys; }

private:
    std::string m_computerName;
    std::string m_userName;
    std::string m_regOwner;
    std::string m_regCompany;
    std::string m_osVersion;
    std::string m_osPlatform;
    std::string m_totalPhys;
    std::string m_availPhys;
    std::uint32_t m_platformId = 0;
};
