#pragma once

#include <map>
#include <optional>
#include <string>

namespace test {

// A private set of folders for one test: the Windows directory, home, the XDG folders,
// the temporary folder and drive C:. The environment points at them while the object
// lives and is restored afterwards, so no test touches the real user's files.
class Sandbox
{
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& root() const { return m_root; }
    std::string windir() const { return m_root + "/windir"; }
    std::string home() const { return m_root + "/home"; }
    std::string dataHome() const { return m_root + "/home/.local/share"; }
    std::string configHome() const { return m_root + "/home/.config"; }
    std::string stateHome() const { return m_root + "/home/.local/state"; }
    std::string autostartDir() const { return configHome() + "/autostart"; }
    std::string tmp() const { return m_root + "/tmp"; }
    std::string driveC() const { return m_root + "/c"; }
    std::string iniPath() const { return windir() + "/vorlax.ini"; }

    // Replaces VORLAX_DRIVES for the rest of the sandbox's life.
    void setDrives(const std::string& map);
    void setEnv(const std::string& name, const std::optional<std::string>& value);

    // Every entry below the root with its kind, mode, identity, size and times, so that
    // two snapshots differ when anything was created, removed, written or replaced.
    std::map<std::string, std::string> snapshot() const;

    static void writeFile(const std::string& path, const std::string& content);
    static std::string readFile(const std::string& path);
    static bool exists(const std::string& path);
    // Dates the entry itself days back, so that it counts as not used lately.
    static bool age(const std::string& path, int days = 2);

private:
    std::string m_root;
    std::map<std::string, std::optional<std::string>> m_saved;
};

// The whole-process sandbox set up by the test main before anything else runs.
void installProcessSandbox();

} // namespace test
