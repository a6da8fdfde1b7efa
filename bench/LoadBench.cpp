// Loading the registry hive and the settings file against wc -l reading the same file, in
// one run.
//
//   vorlax_load_bench WORK_FOLDER [MEGABYTES ...]
//
// Writes hives of the given sizes (1, 4 and 16 MB by default) in three shapes into the
// Windows directory WORK_FOLDER/windir: one value whose hex data
// goes on over continued lines, many keys of one value each, and one key of many values.
// Each load is a value query through the installed registry service, which reads and
// parses the whole file. Then settings files of 1, 16 and 100 MB (the window's keys among
// many sections of filler): the load reads the window's keys as the start-up does, the
// save writes them all as the exit does. Prints the best of three, the time per megabyte
// and the ratio to wc -l. Times are processor times (user and system), so that other work
// on a shared machine does not show as growth. The caller removes the folder.

#include "platform/core/Service.h"
#include "platform/files/Folders.h"
#include "platform/settings/Registry.h"
#include "runtime/IniFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int Repetitions = 3;
const std::string BenchKey = "SOFTWARE\\Vorlax\\Bench";

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "vorlax_load_bench: %s\n", what.c_str());
    std::exit(1);
}

double seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

double processorSeconds(const rusage& usage)
{
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double processorSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return processorSeconds(usage);
}

struct Hive
{
    std::string text;
    std::string key; // where the value looked up lives
    std::string name;
    std::size_t size; // of its data
};

// REGEDIT writes 25 bytes to a continued line.
Hive longValue(std::size_t bytes)
{
    Hive hive{"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" + BenchKey + "]\n\"Blob\"=hex:", BenchKey, "Blob",
              0};
    hive.text.reserve(bytes + 100);
    char item[4];
    while (hive.text.size() < bytes) {
        for (int k = 0; k < 25; ++k, ++hive.size) {
            std::snprintf(item, sizeof item, k ? ",%02x" : "%02x",
                          static_cast<unsigned>(hive.size & 0xff));
            hive.text += item;
        }
        hive.text += ",\\\n  ";
    }
    hive.text += "00\n";
    ++hive.size;
    return hive;
}

Hive manyKeys(std::size_t bytes)
{
    Hive hive{"REGEDIT4\n\n", {}, "Name", 0};
    hive.text.reserve(bytes + 100);
    for (int k = 0; hive.text.size() < bytes; ++k) {
        hive.key = BenchKey + "\\Key" + std::to_string(k);
        hive.text += "[HKEY_LOCAL_MACHINE\\" + hive.key + "]\n\"Name\"=\"Value " +
                     std::to_string(k) + "\"\n\n";
        hive.size = 6 + std::to_string(k).size();
    }
    return hive;
}

Hive manyValues(std::size_t bytes)
{
    Hive hive{"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" + BenchKey + "]\n", BenchKey, {}, 0};
    hive.text.reserve(bytes + 100);
    for (int k = 0; hive.text.size() < bytes; ++k) {
        hive.name = "Value" + std::to_string(k);
        hive.text += '"' + hive.name + "\"=dword:" + std::to_string(10000000 + k) + '\n';
        hive.size = 4;
    }
    return hive;
}

void writeFile(const std::string& path, const std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
        std::fclose(file) != 0)
        fail("cannot write " + path);
}

double timeLoad(const Hive& hive)
{
    std::uint32_t type = 0;
    std::string data;
    const double start = processorSeconds();
    const long status = platform::Service<platform::RegistryService>::instance().queryValue(
        platform::HKEY_LOCAL_MACHINE, hive.key, hive.name, type, data);
    const double spent = processorSeconds() - start;
    if (status != platform::ERROR_SUCCESS || data.size() != hive.size)
        fail("the hive did not give back " + hive.key + "\\" + hive.name);
    return spent;
}

double timeWc(const std::string& path)
{
    std::vector<std::string> args = {"wc", "-l", path};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    if (posix_spawnp(&child, "wc", &actions, nullptr, argv.data(), environ) != 0)
        fail("cannot start wc");
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("wc failed");
    return processorSeconds(usage);
}

template <class Time> double best(Time time)
{
    double fastest = time();
    for (int k = 1; k < Repetitions; ++k)
        fastest = std::min(fastest, time());
    return fastest;
}

const char* const SettingsKeys[][2] = {
    {"Drives", "Drive0"},       {"Drives", "Drive1"},      {"Drives", "Drive2"},
    {"Drives", "Drive3"},       {"Actions", "Cache"},      {"Actions", "AutoStart"},
    {"Actions", "RunScanDisk"}, {"Actions", "DelCHK"},     {"Actions", "DelTempFiles"},
    {"Actions", "DelCache"},    {"Actions", "DelBAK"},     {"Actions", "DelTMP"},
    {"Actions", "DelUser1"},    {"Actions", "DelUser2"},   {"User", "User1"},
    {"User", "User2"},          {"Actions", "Frequency1"}, {"Actions", "Frequency2"},
    {"Actions", "Frequency3"},  {"Actions", "Frequency4"}, {"NextDate", "Date"},
};

// The window's keys, half before and half after a file's worth of other sections.
std::string settingsText(std::size_t bytes)
{
    std::string text = "[Actions]\r\nAutoStart=0\r\nDelBAK=0\r\n";
    text.reserve(bytes + 200);
    for (int k = 0; text.size() < bytes; ++k)
        text += "[Other" + std::to_string(k) + "]\r\nKey" + std::to_string(k) +
                "=a value of some length\r\n";
    return text + "[User]\r\nUser1=*.zz\r\n[NextDate]\r\nDate=2030/01/01\r\n";
}

double timeSettingsLoad()
{
    const double start = processorSeconds();
    runtime::MemIniFile ini("vorlax.ini");
    std::size_t read = 0;
    for (const auto& key : SettingsKeys)
        read += ini.readString(key[0], key[1], "").size();
    const double spent = processorSeconds() - start;
    if (read == 0)
        fail("the settings file gave nothing back");
    return spent;
}

double timeSettingsSave()
{
    const double start = processorSeconds();
    // Another value each time, so that every save replaces the file.
    static int round = 0;
    const std::string value = std::to_string(++round % 2);
    runtime::MemIniFile ini("vorlax.ini");
    for (const auto& key : SettingsKeys)
        ini.writeString(key[0], key[1], value);
    ini.updateFile();
    return processorSeconds() - start;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        fail("usage: vorlax_load_bench WORK_FOLDER [MEGABYTES ...]");
    // Its own folder always: the files written here replace whatever has their names.
    ::setenv("VORLAX_WINDIR", (std::string(argv[1]) + "/windir").c_str(), 1);
    std::vector<double> sizes;
    for (int k = 2; k < argc; ++k)
        sizes.push_back(std::atof(argv[k]));
    if (sizes.empty())
        sizes = {1, 4, 16};
    const std::string path = platform::windowsDirectoryNative() + "/registry.reg";

    const struct
    {
        const char* name;
        Hive (*make)(std::size_t);
    } shapes[] = {{"one continued value", longValue},
                  {"many keys", manyKeys},
                  {"many values in a key", manyValues}};
    std::printf("Hive load (a value query), best of %d:\n", Repetitions);
    for (const auto& shape : shapes) {
        std::printf("  %s\n", shape.name);
        double first = 0;
        double worst = 0;
        for (const double megabytes : sizes) {
            const Hive hive = shape.make(static_cast<std::size_t>(megabytes * 1024 * 1024));
            writeFile(path, hive.text);
            const double load = best([&] { return timeLoad(hive); });
            const double wc = best([&] { return timeWc(path); });
            const double perMegabyte = load / (static_cast<double>(hive.text.size()) / 1048576);
            if (first == 0)
                first = perMegabyte;
            worst = std::max(worst, perMegabyte / first);
            std::printf("    %6.1f MB %9.1f ms  %7.1f ms per MB  ratio to wc -l %6.1f\n",
                        static_cast<double>(hive.text.size()) / 1048576, load * 1e3,
                        perMegabyte * 1e3, load / wc);
            std::fflush(stdout);
        }
        // Read in one pass, the time per megabyte stays flat but for the caches a large hive
        // outgrows; a quadratic read makes it grow with the size.
        if (sizes.size() > 1)
            std::printf("    largest time per MB against the smallest: x%.2f (quadratic: x%.0f)\n",
                        worst, sizes.back() / sizes.front());
    }
    std::printf("Settings file, best of %d:\n", Repetitions);
    const std::string settings = platform::windowsDirectoryNative() + "/vorlax.ini";
    for (const double megabytes : {1.0, 16.0, 100.0}) {
        writeFile(settings, settingsText(static_cast<std::size_t>(megabytes * 1024 * 1024)));
        const double load = best(timeSettingsLoad);
        const double save = best(timeSettingsSave);
        const double wc = best([&] { return timeWc(settings); });
        std::printf("    %6.1f MB  load %7.1f ms  save %7.1f ms  load to wc -l %5.1f\n", megabytes,
                    load * 1e3, save * 1e3, load / wc);
        std::fflush(stdout);
    }
    return 0;
}
