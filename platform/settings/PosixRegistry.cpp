#include "platform/core/AsciiCase.h"
#include "platform/core/FileStorage.h"
#include "platform/drives/Drives.h"
#include "platform/files/Folders.h"
#include "platform/settings/AutostartFolder.h"
#include "platform/settings/Registry.h"
#include "platform/settings/RegistryHive.h"
#include "platform/settings/SettingsLock.h"
#include "platform/system/System.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

const std::string runKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// Values with a natural source on this system, answered while the hive holds none.
struct NaturalValue
{
    const char* key;
    const char* name;
    std::string (*source)();
};

std::string fullName()
{
    const passwd* user = ::getpwuid(::getuid());
    if (!user || !user->pw_gecos)
        return {};
    const std::string gecos = user->pw_gecos;
    return gecos.substr(0, gecos.find(','));
}

std::string computerName()
{
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0)
        return {};
    return name.data();
}

std::string loginName()
{
    if (const passwd* user = ::getpwuid(::geteuid()))
        return user->pw_name ? user->pw_name : "";
    const char* name = std::getenv("USER");
    return name ? name : "";
}

std::string productName()
{
    return osReleaseValue("PRETTY_NAME");
}

std::string bootDir()
{
    struct stat info;
    if (::stat("/boot", &info) != 0 || !S_ISDIR(info.st_mode))
        return {};
    return toWindowsPath("/boot");
}

const char* const versionKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char* const versionKeyNt = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char* const setupKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup";
const char* const controlKey = "System\\CurrentControlSet\\Control";
const char* const computerNameKey =
    "System\\CurrentControlSet\\Control\\ComputerName\\ComputerName";

const NaturalValue naturalValues[] = {
    {versionKey, "RegisteredOwner", fullName},
    {versionKey, "ProductName", productName},
    {versionKey, "ProductId", machineId},
    {versionKeyNt, "RegisteredOwner", fullName},
    {versionKeyNt, "ProductName", productName},
    {versionKeyNt, "ProductId", machineId},
    {setupKey, "BootDir", bootDir},
    {controlKey, "Current User", loginName},
    {computerNameKey, "ComputerName", computerName},
};

// Keys that always exist under HKEY_LOCAL_MACHINE, with every key above them.
const char* const builtinKeys[] = {versionKeyNt, setupKey, computerNameKey,
                                   "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"};

bool isBuiltinKey(HKEY root, const std::string& path)
{
    if (root != HKEY_LOCAL_MACHINE)
        return false;
    for (const std::string key : builtinKeys) {
        if (key.size() >= path.size() && equalsIgnoringCase(key.substr(0, path.size()), path) &&
            (key.size() == path.size() || path.empty() || key[path.size()] == '\\'))
            return true;
    }
    return false;
}

std::optional<std::string> naturalValue(HKEY root, const std::string& path, const std::string& name)
{
    if (root != HKEY_LOCAL_MACHINE)
        return std::nullopt;
    for (const auto& value : naturalValues) {
        if (equalsIgnoringCase(path, value.key) && equalsIgnoringCase(name, value.name)) {
            std::string data = value.source();
            return data.empty() ? std::nullopt : std::optional<std::string>(data);
        }
    }
    return std::nullopt;
}

bool isRunKey(HKEY root, const std::string& path)
{
    return root == HKEY_LOCAL_MACHINE && equalsIgnoringCase(path, runKey);
}

// The hive file in the Windows directory; the Run key's string values in the autostart
// folder. Both are looked up again on every call, so they follow the environment.
class PosixRegistry : public RegistryService
{
public:
    long openKey(HKEY root, const std::string& path) override
    {
        if (path.empty() || isBuiltinKey(root, path))
            return ERROR_SUCCESS;
        std::optional<RegistryHive> hive = load();
        return hive && hive->keyExists(root, path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }

    long createKey(HKEY root, const std::string& path) override
    {
        if (openKey(root, path) == ERROR_SUCCESS)
            return ERROR_SUCCESS;
        return modifyHive([&](RegistryHive& hive) { return hive.createKey(root, path); });
    }

    long queryValue(HKEY root, const std::string& path, const std::string& name,
                    std::uint32_t& type, std::string& data) override
    {
        if (isRunKey(root, path)) {
            if (auto command = AutostartFolder(AutostartFolder::defaultFolder()).read(name)) {
                type = REG_SZ;
                data = *command;
                return ERROR_SUCCESS;
            }
        }
        if (const auto hive = load()) {
            if (const RegistryHive::Value* value = hive->value(root, path, name)) {
                type = value->type;
                data = value->data;
                return ERROR_SUCCESS;
            }
        }
        if (auto natural = naturalValue(root, path, name)) {
            type = REG_SZ;
            data = *natural;
            return ERROR_SUCCESS;
        }
        return ERROR_FILE_NOT_FOUND;
    }

    long setValue(HKEY root, const std::string& path, const std::string& name, std::uint32_t type,
                  const std::string& data) override
    {
        if (isRunKey(root, path)) {
            const AutostartFolder folder(AutostartFolder::defaultFolder());
            if (type == REG_SZ) {
                const long status = folder.write(name, data);
                if (status != ERROR_SUCCESS)
                    return status;
                // A value of another type by that name is replaced, not shadowed.
                return removeFromHive(root, path, name, nullptr);
            }
            const long status = folder.remove(name);
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                return status;
        }
        return modifyHive([&](RegistryHive& hive) {
            hive.setValue(root, path, name, type, data);
            return true;
        });
    }

    long deleteValue(HKEY root, const std::string& path, const std::string& name) override
    {
        bool removed = false;
        if (isRunKey(root, path)) {
            const long status = AutostartFolder(AutostartFolder::defaultFolder()).remove(name);
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                return status;
            removed = status == ERROR_SUCCESS;
        }
        bool removedFromHive = false;
        const long status = removeFromHive(root, path, name, &removedFromHive);
        if (status != ERROR_SUCCESS)
            return status;
        if (removed || removedFromHive)
            return ERROR_SUCCESS;
        // What the system itself provides cannot be taken away.
        return naturalValue(root, path, name) ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    }

private:
    static std::string hivePath() { return windowsDirectoryNative() + "/registry.reg"; }

    // A missing hive is an empty one; nothing when the file is there but cannot be read.
    static std::optional<RegistryHive> load(int* error = nullptr)
    {
        int readError = 0;
        if (const auto text = readWholeFile(hivePath(), &readError))
            return RegistryHive::fromText(*text);
        if (error)
            *error = readError == ENOENT ? 0 : readError;
        return readError == ENOENT ? std::optional<RegistryHive>(RegistryHive()) : std::nullopt;
    }

    // change returns whether it changed anything; the hive is written only then. A hive that
    // cannot be read is never overwritten.
    static long modifyHive(const std::function<bool(RegistryHive&)>& change)
    {
        const SettingsLock lock(SettingsHold::Write);
        if (!lock.held() && lock.error() != ENOLCK)
            return registryErrorFromErrno(lock.error());
        int error = 0;
        std::optional<RegistryHive> hive = load(&error);
        if (!hive)
            return registryErrorFromErrno(error);
        if (!change(*hive))
            return ERROR_SUCCESS;
        return registryErrorFromErrno(writeFileAtomically(hivePath(), hive->toText()));
    }

    static long removeFromHive(HKEY root, const std::string& path, const std::string& name,
                               bool* removed)
    {
        if (removed)
            *removed = false;
        // A hive that cannot be read holds nothing anyone can see.
        const auto hive = load();
        if (!hive || !hive->value(root, path, name))
            return ERROR_SUCCESS;
        return modifyHive([&](RegistryHive& current) {
            const bool done = current.removeValue(root, path, name);
            if (removed)
                *removed = done;
            return done;
        });
    }
};

} // namespace

std::unique_ptr<RegistryService> RegistryService::createDefault()
{
    return std::make_unique<PosixRegistry>();
}

} // namespace platform
