#pragma once

#include "platform/core/Service.h"
#include "platform/settings/Registry.h"
#include "platform/system/System.h"
#include "support/FakeDrives.h"
#include "support/ScopedFake.h"

#include <map>
#include <memory>
#include <set>
#include <string>

namespace test {

// The answers of another machine: its version, memory, names, environment and screen.
class FakeSystem : public platform::SystemService
{
public:
    using Interface = platform::SystemService;
    bool version(platform::OSVERSIONINFOA& info) override;
    platform::MEMORYSTATUSEX memoryStatus() override { return memory; }
    std::string computerName() override { return computer; }
    std::string userName() override { return user; }
    std::string environmentBlock() override { return environment; }
    int screenDepth() override { return depth; }

    // Platform code, major, minor, build and service-pack text.
    void setVersion(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor,
                    std::uint32_t build, const std::string& servicePack = "");

    bool versionKnown = true;
    platform::OSVERSIONINFOA versionInfo;
    platform::MEMORYSTATUSEX memory;
    std::string computer = "FAKEBOX";
    std::string user = "fakeuser";
    std::string environment = std::string("PATH=C:\\WINDOWS\0\0", 18);
    int depth = 24;
};

// Keys and string values held in memory; key paths and value names compare without
// regard to case, as the registry's do. With real set, keys and values are the real
// registry's and only the refusals are the fake's.
class FakeRegistry : public platform::RegistryService
{
public:
    using Interface = platform::RegistryService;
    long openKey(platform::HKEY root, const std::string& path) override;
    long createKey(platform::HKEY root, const std::string& path) override;
    long queryValue(platform::HKEY root, const std::string& path, const std::string& name,
                    std::uint32_t& type, std::string& data) override;
    long setValue(platform::HKEY root, const std::string& path, const std::string& name,
                  std::uint32_t type, const std::string& data) override;
    long deleteValue(platform::HKEY root, const std::string& path,
                     const std::string& name) override;

    // A value under HKEY_LOCAL_MACHINE, a string unless told; its key is made too.
    void set(const std::string& path, const std::string& name, const std::string& data,
             std::uint32_t type = platform::REG_SZ);
    // The value's data; empty when there is none.
    std::string get(const std::string& path, const std::string& name) const;
    // The value's type and data; null when there is none.
    const std::pair<std::uint32_t, std::string>* find(const std::string& path,
                                                      const std::string& name) const;

    std::set<std::string> keys;
    std::map<std::string, std::pair<std::uint32_t, std::string>> values;
    int writes = 0;
    int reads = 0;
    // Every call of any kind.
    int calls = 0;
    bool refuseWrites = false;
    bool refuseDeletes = false;
    std::unique_ptr<platform::RegistryService> real;
};

// A made-up machine: its system, registry and drives stand in for the real ones while the
// object lives.
struct FakeMachine
{
    ScopedFake<FakeSystem> system;
    ScopedFake<FakeRegistry> registry;
    ScopedFake<FakeDrives> drives;
};

} // namespace test
