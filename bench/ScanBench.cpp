// The files scanner against GNU find on the same generated tree, in one run.
//
//   vorlax_bench WORK_FOLDER
//
// Builds a tree of 400,000 entries in WORK_FOLDER (nested so that 50,000, 100,000,
// 200,000 and 400,000 of them are one folder each), then prints the times, the ratio
// scanner/find, the growth per entry, the memory of a found-file list of one million
// records and the cost of the message pump. The caller removes the folder.

#include "ToolRun.h"
#include "runtime/Application.h"
#include "scan/FilesScn.h"

#include <QApplication>
#include <QLabel>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <malloc.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

const char* const WindowMasks = "*.bak, *.chk, *.tmp, *.~??, *.ZIP";
constexpr int Repetitions = 5;

// One unit: 50 folders of 49 subfolders each (2,500 folders), 19 files in every folder:
// 50,000 entries.
constexpr int TopFolders = 50;
constexpr int SubFolders = 49;
constexpr int FilesPerFolder = 19;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "vorlax_bench: %s\n", what.c_str());
    std::exit(1);
}

class TreeWriter
{
public:
    // Files are links to one empty file per unit, made in the seed folder: a tree with
    // fresh inodes for every file takes minutes to write on a filesystem that has just
    // freed many of them, and a scan reads directory entries, not inodes.
    explicit TreeWriter(std::string seeds) : m_seeds(std::move(seeds)) {}

    int rubbish = 0;
    int entries = 0;

    // A unit's files get names like a home folder's; about 4% are rubbish for the
    // window's masks, in mixed case, and some more only look like it.
    void writeUnit(const std::string& folder)
    {
        m_seed = m_seeds + "/seed" + std::to_string(m_units++);
        const int seed = ::open(m_seed.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (seed < 0)
            fail("cannot create " + m_seed);
        ::close(seed);
        makeFolder(folder);
        for (int top = 0; top < TopFolders; ++top) {
            const std::string topFolder = folder + "/" + folderName(top);
            makeFolder(topFolder);
            writeFiles(topFolder);
            for (int sub = 0; sub < SubFolders; ++sub) {
                const std::string subFolder = topFolder + "/" + folderName(sub + 100);
                makeFolder(subFolder);
                writeFiles(subFolder);
            }
        }
    }

    void makeFolder(const std::string& folder)
    {
        if (::mkdir(folder.c_str(), 0755) != 0)
            fail("cannot create " + folder);
        ++entries;
    }

private:
    std::string m_seeds;
    std::string m_seed;
    int m_units = 0;
    std::mt19937 m_random{20240229};

    std::string folderName(int k)
    {
        static const char* const stems[] = {"src",   "Documents", "photos-2019",   "node_modules",
                                            "build", ".cache",    "Projekt Alpha", "lib"};
        return stems[m_random() % 8] + std::string("_") + std::to_string(k);
    }

    void writeFiles(const std::string& folder)
    {
        static const char* const plain[] = {
            "IMG_%04u.JPG",     "document-%u.pdf", "notes%u.txt", "index%u.html",  "style.%u.css",
            "libfoo%u.so.1",    "Makefile%u",      "README%u.md", "data_%05u.csv", "photo %u.jpeg",
            "backup-%u.tar.gz", "main%u.cpp",      ".config%u",   "report%u.tmpx", "draft%u.~abc",
            "old%u.bak.gz",     "archive%u.zipx",  "chk%u",       "temp%u.tm",     "page%u.php"};
        static const char* const junk[] = {".bak", ".BAK", ".chk", ".CHK", ".tmp",
                                           ".Tmp", ".~ab", ".~1$", ".zip", ".ZIP"};
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            fail("cannot open " + folder);
        for (int k = 0; k < FilesPerFolder; ++k) {
            const unsigned pick = m_random();
            char name[64];
            std::snprintf(name, sizeof name, plain[pick % 20], static_cast<unsigned>(k));
            std::string file = name;
            if (pick % 100 < 4) {
                file = "file" + std::to_string(k) + junk[(pick >> 8) % 10];
                ++rubbish;
            }
            if (::linkat(AT_FDCWD, m_seed.c_str(), fd, file.c_str(), 0) != 0)
                fail("cannot create " + folder + "/" + file);
            ++entries;
        }
        ::close(fd);
    }
};

struct Level
{
    const char* name;
    std::string native;
    std::string windows;
    int entries = 0;
    int rubbish = 0;
};

// t400/t200/t100/t50: each level holds the one below and as much again beside it.
std::vector<Level> writeTree(const std::string& root, const std::string& seeds)
{
    std::vector<Level> levels = {
        {"50,000", "", ""}, {"100,000", "", ""}, {"200,000", "", ""}, {"400,000", "", ""}};
    TreeWriter writer(seeds);
    std::string native = root;
    std::string windows = "C:";
    for (int k = 3; k >= 0; --k) {
        const std::string name = 't' + std::to_string(50 << k);
        native.append(1, '/').append(name);
        windows.append(1, '\\').append(name);
        levels[static_cast<std::size_t>(k)].native = native;
        levels[static_cast<std::size_t>(k)].windows = windows;
    }
    // The innermost level first, then outwards, so each level's count includes the ones
    // inside it.
    for (int k = 3; k >= 1; --k)
        writer.makeFolder(levels[static_cast<std::size_t>(k)].native);
    writer.writeUnit(levels[0].native);
    levels[0].entries = writer.entries;
    levels[0].rubbish = writer.rubbish;
    for (std::size_t k = 1; k < levels.size(); ++k) {
        const std::string beside = levels[k].native + "/beside";
        writer.makeFolder(beside);
        for (int unit = 0; unit < (1 << (k - 1)); ++unit)
            writer.writeUnit(beside + "/unit" + std::to_string(unit));
        levels[k].entries = writer.entries;
        levels[k].rubbish = writer.rubbish;
    }
    // Each level's own folder is no entry of its scan.
    for (std::size_t k = 0; k < levels.size(); ++k)
        levels[k].entries -= static_cast<int>(4 - k);
    return levels;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The window's settings for FilesScanner1 with the drive masks of a collection.
double timeScanner(const std::string& folder, int& found, QLabel* progress = nullptr)
{
    TFilesScanner scanner;
    scanner.Attributes = {faArchive};
    scanner.UpdateList = true;
    scanner.ScanOptions = soSpecifiedDir;
    scanner.ProcessMsg = true;
    scanner.Recursive = true;
    scanner.FileMask = WindowMasks;
    scanner.ScanDir = folder;
    if (progress) {
        scanner.OnProcess = [progress](TFilesScan*, const std::string& Dir, int, std::int64_t) {
            progress->setText(QString::fromStdString(Dir));
        };
    }
    const auto start = Clock::now();
    scanner.Execute();
    const double seconds = secondsSince(start);
    found = scanner.FilesList().Count();
    return seconds;
}

// find's own matching, printing every path; the count is of the lines it wrote.
double timeFind(const std::string& folder, int& found)
{
    std::vector<std::string> args = {
        "find", folder,   "-type", "f",  "(",      "-iname", "*.bak", "-o",     "-iname", "*.chk",
        "-o",   "-iname", "*.tmp", "-o", "-iname", "*.~??",  "-o",    "-iname", "*.zip",  ")"};
    const bench::ToolRun run = bench::runTool(args);
    if (!run.started)
        fail("cannot start find");
    if (!run.succeeded)
        fail("find failed");
    found = run.lines;
    return run.wallSeconds;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::size_t heapInUse()
{
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Heap bytes a found-file list takes for one million records: 20 files to a folder,
// names like the tree's.
double bytesPerRecord(bool withNames)
{
    constexpr int Records = 1000000;
    const std::size_t before = heapInUse();
    {
        TFilesList list;
        std::shared_ptr<const std::string> folder;
        for (int k = 0; k < Records; ++k) {
            if (k % 20 == 0) {
                folder = std::make_shared<const std::string>(
                    "C:\\Users\\someone\\Documents\\photos-2019_" + std::to_string(k / 20) + "\\");
            }
            std::string name;
            if (withNames)
                name = "IMG_" + std::to_string(k) + (k % 2 ? ".tmp" : ".backup-copy.bak");
            list.Add(std::make_unique<TFileObject>(std::move(name), folder, k, 0x20, 0));
        }
        folder.reset();
        const std::size_t after = heapInUse();
        return static_cast<double>(after - before) / Records;
    }
}

double nanosecondsPerCall(void (*pump)(), int calls)
{
    const auto start = Clock::now();
    for (int k = 0; k < calls; ++k)
        pump();
    return secondsSince(start) * 1e9 / calls;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        fail("usage: vorlax_bench WORK_FOLDER");
    const std::string work = argv[1];
    const std::string drive = work + "/c";
    const std::string seeds = work + "/seeds";
    if (::mkdir(drive.c_str(), 0755) != 0 || ::mkdir(seeds.c_str(), 0755) != 0)
        fail("cannot create the folders in " + work);
    ::setenv("VORLAX_DRIVES", ("C:=" + drive + "@fixed").c_str(), 1);
    QApplication app(argc, argv);

    std::printf("Generating the tree ...\n");
    std::fflush(stdout);
    const auto levels = writeTree(drive, seeds);

    // Both tools warm once, then take turns.
    const Level& main = levels[2];
    int scanned = 0;
    int findFound = 0;
    timeScanner(main.windows, scanned);
    timeFind(main.native, findFound);
    std::vector<double> scannerTimes;
    std::vector<double> findTimes;
    for (int k = 0; k < Repetitions; ++k) {
        scannerTimes.push_back(timeScanner(main.windows, scanned));
        findTimes.push_back(timeFind(main.native, findFound));
    }
    if (scanned != findFound || scanned != main.rubbish)
        fail("the scanner found " + std::to_string(scanned) + " files, find " +
             std::to_string(findFound) + ", the tree holds " + std::to_string(main.rubbish));
    const double scannerTime = median(scannerTimes);
    const double findTime = median(findTimes);
    std::printf("\nTree: %d entries in %s, %d of them rubbish for \"%s\"\n", main.entries,
                main.windows.c_str(), main.rubbish, WindowMasks);
    std::printf("Warm cache, median of %d runs:\n", Repetitions);
    std::printf("  TFilesScanner::Execute  %8.1f ms  (%d files)\n", scannerTime * 1e3, scanned);
    std::printf("  find -type f -iname ... %8.1f ms  (%d files)\n", findTime * 1e3, findFound);
    std::printf("  ratio scanner/find      %8.2f\n", scannerTime / findTime);

    // The window's own progress handler on top: a caption set for every folder.
    QLabel caption;
    std::vector<double> withCaption;
    for (int k = 0; k < 3; ++k)
        withCaption.push_back(timeScanner(main.windows, scanned, &caption));
    std::printf("  with a progress caption %8.1f ms  (ratio %.2f)\n", median(withCaption) * 1e3,
                median(withCaption) / findTime);

    // The best of three: growth is about the work done, not about what else the machine does.
    std::printf("\nGrowth (scanner, best of 3):\n");
    double first = 0;
    double worst = 0;
    for (const auto& level : levels) {
        std::vector<double> times;
        timeScanner(level.windows, scanned);
        for (int k = 0; k < 3; ++k)
            times.push_back(timeScanner(level.windows, scanned));
        if (scanned != level.rubbish)
            fail("the scanner found " + std::to_string(scanned) + " files in " + level.windows);
        const double best = *std::min_element(times.begin(), times.end());
        const double perEntry = best * 1e9 / level.entries;
        if (first == 0)
            first = perEntry;
        worst = std::max(worst, perEntry / first);
        std::printf("  %-8s entries %8.1f ms  %6.1f ns per entry\n", level.name, best * 1e3,
                    perEntry);
    }
    std::printf("  largest time per entry against 50,000: x%.2f (%s)\n", worst,
                worst < 1.5 ? "linear" : "NOT LINEAR");

    std::printf("\nFound-file list of 1,000,000 records (heap in use):\n");
    const double withNames = bytesPerRecord(true);
    const double withoutNames = bytesPerRecord(false);
    std::printf("  with names like the tree's  %6.1f bytes per record\n", withNames);
    std::printf("  beyond the name             %6.1f bytes per record\n", withoutNames);

    std::printf("\nMessage pump with nothing pending:\n");
    std::printf("  processMessages         %8.1f ns per call\n",
                nanosecondsPerCall(runtime::processMessages, 100000));
    std::printf("  processMessagesWhenDue  %8.1f ns per call\n",
                nanosecondsPerCall([] { runtime::processMessagesWhenDue(); }, 10000000));
    return 0;
}
