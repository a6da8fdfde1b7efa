#include "support/Sandbox.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace test {

namespace {

std::optional<std::string> getEnv(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

std::string makeTempRoot()
{
    std::string base = fs::temp_directory_path().string() + "/vorlax-test-XXXXXX";
    if (!mkdtemp(base.data()))
        throw std::runtime_error("cannot create a sandbox folder");
    return base;
}

} // namespace

Sandbox::Sandbox() : m_root(makeTempRoot())
{
    for (const auto& dir : {windir(), home(), dataHome(), configHome(), tmp(), driveC()})
        fs::create_directories(dir);
    setEnv("VORLAX_WINDIR", windir());
    setEnv("HOME", home());
    setEnv("XDG_DATA_HOME", dataHome());
    setEnv("XDG_CONFIG_HOME", configHome());
    setEnv("XDG_STATE_HOME", stateHome());
    setEnv("TMPDIR", tmp());
    setDrives("C:=" + driveC() + "@fixed");
}

Sandbox::~Sandbox()
{
    for (const auto& [name, value] : m_saved) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    std::error_code ec;
    // Undo read-only folders a test may have made, so the tree can be removed.
    for (auto it = fs::recursive_directory_iterator(m_root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(m_root, ec);
}

void Sandbox::setDrives(const std::string& map)
{
    setEnv("VORLAX_DRIVES", map);
}

void Sandbox::setEnv(const std::string& name, const std::optional<std::string>& value)
{
    if (!m_saved.count(name))
        m_saved[name] = getEnv(name);
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

std::map<std::string, std::string> Sandbox::snapshot() const
{
    std::map<std::string, std::string> entries;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(m_root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        struct stat status = {};
        if (::lstat(it->path().c_str(), &status) != 0)
            continue;
        entries[it->path().string()] =
            std::to_string(status.st_mode) + " " + std::to_string(status.st_ino) + " " +
            std::to_string(status.st_size) + " " + std::to_string(status.st_mtim.tv_sec) + "." +
            std::to_string(status.st_mtim.tv_nsec);
    }
    return entries;
}

void Sandbox::writeFile(const std::string& path, const std::string& content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string Sandbox::readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Sandbox::exists(const std::string& path)
{
    return fs::exists(fs::symlink_status(path));
}

bool Sandbox::age(const std::string& path, int days)
{
    const std::time_t then = std::time(nullptr) - days * 86400;
    const timespec times[2] = {{then, 0}, {then, 0}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

void installProcessSandbox()
{
    static Sandbox processSandbox;
    (void)processSandbox;
}

} // namespace test
