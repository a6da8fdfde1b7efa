#pragma once

#include "platform/core/ErrorCodes.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

using HKEY = std::uintptr_t;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001, HKEY_LOCAL_MACHINE = 0x80000002;

inline constexpr std::uint32_t REG_NONE = 0, REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3,
                               REG_DWORD = 4;

// The stored values, addressed by a predefined root and a key path below it. Paths come
// normalised: components joined by a single "\", no leading or trailing "\", never empty
// components. Keys and value names compare without regard to ASCII case.
class RegistryService
{
public:
    virtual ~RegistryService() = default;

    // ERROR_SUCCESS when the key exists (the empty path is the root itself).
    virtual long openKey(HKEY root, const std::string& path) = 0;
    // Creates the key and its parents when missing.
    virtual long createKey(HKEY root, const std::string& path) = 0;
    virtual long queryValue(HKEY root, const std::string& path, const std::string& name,
                            std::uint32_t& type, std::string& data) = 0;
    virtual long setValue(HKEY root, const std::string& path, const std::string& name,
                          std::uint32_t type, const std::string& data) = 0;
    // ERROR_FILE_NOT_FOUND when there is no such value.
    virtual long deleteValue(HKEY root, const std::string& path, const std::string& name) = 0;

    static std::unique_ptr<RegistryService> createDefault();
};

// Opens subKey below key (a predefined root or an open key), creating it when missing.
long RegCreateKeyExA(HKEY root, const std::string& subKey, HKEY& result);
long RegOpenKeyExA(HKEY root, const std::string& subKey, HKEY& result);
// String data comes without its terminating zero; a REG_DWORD is four little-endian bytes.
long RegQueryValueExA(HKEY key, const std::string& valueName, std::uint32_t& type,
                      std::string& data);
// String data ends at its first zero character, as every reader of it would see it.
long RegSetValueExA(HKEY key, const std::string& valueName, std::uint32_t type,
                    const std::string& data);
long RegDeleteValueA(HKEY key, const std::string& valueName);
long RegCloseKey(HKEY key);

// The registry's code for a failed file operation of the layer (an errno value; 0 is
// ERROR_SUCCESS).
long registryErrorFromErrno(int error);

} // namespace platform
