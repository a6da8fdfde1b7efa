// The drive stage of a collection as the window runs it, against GNU find and fd on the
// same generated tree, in one run.
//
//   vorlax_drive_bench WORK_FOLDER
//
// Builds a tree of 200,000 entries in WORK_FOLDER, maps C: to it, and times TForm1's
// CollectRubbish with only "C Drive" and the mask boxes ticked (the progress caption set
// for every folder, the window on the offscreen platform), against find with the same
// masks and fdfind with them as one regular expression, and the preview of the same
// collection (what `vorlax --preview` runs) against the drive stage. Only a handful of files
// match, so the search is what is timed; they go to a shell that only counts them. Then the
// tree grows to 1,000,000 entries and everything is timed again: the time per entry should
// not grow with the tree.
//
// Last, 100,000 files of the large tree are turned into rubbish and a real collection, in a
// process of its own, moves them to the home trash with its record: its peak memory is
// printed beside the size of that record. The caller removes the folder.

#include "ToolRun.h"
#include "app/CollectionPreview.h"
#include "app/MainForm.h"
#include "platform/core/Service.h"
#include "platform/shell/Shell.h"
#include "runtime/MessageBoxes.h"
#include "runtime/OwnWindows.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Repetitions = 5;
// Top folders of 49 subfolders each, 49 files in every folder: 2,500 entries per top folder.
// 80 of them make 200,000 entries; 400, 1,000,000: a home of a person who keeps things.
constexpr int SubFolders = 49;
constexpr int FilesPerFolder = 49;
constexpr int SmallTree = 80;
constexpr int LargeTree = 400;
// The rubbish of the collection whose memory is measured, in the large tree.
constexpr int CollectedFiles = 100000;

// The files the masks match, put in a few places of the tree.
const char* const Rubbish[] = {"old.bak",   "FILE0001.CHK", "setup.tmp",
                               "draft.~ab", "Notes.BAK",    "cache.Tmp"};

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "vorlax_drive_bench: %s\n", what.c_str());
    std::exit(1);
}

// Takes every request and deletes nothing, so the tree stays for the next run.
class CountingShell : public platform::ShellService
{
public:
    int fileOperation(platform::SHFILEOPSTRUCTA&) override
    {
        ++requests;
        return 0;
    }
    std::uintptr_t findExecutable(const std::string&, const std::string&, std::string&) override
    {
        return platform::SE_ERR_NOASSOC;
    }
    bool isCollectable(const std::string&) override { return true; }
    bool holdsTrash(const std::string&) override { return false; }

    int requests = 0;
};

void makeFolder(const std::string& folder)
{
    if (::mkdir(folder.c_str(), 0755) != 0)
        fail("cannot create " + folder);
}

// Every file is a link to an empty seed, one seed for each top folder (a file takes only so
// many links): a scan reads directory entries, not inodes, and the tree is written in
// seconds. Adds the top folders from first up to end; returns the number of entries added.
int writeTree(const std::string& root, const std::string& seeds, int first, int end)
{
    static const char* const plain[] = {
        "IMG_%04u.JPG",  "document-%u.pdf", "notes%u.txt",      "index%u.html",
        "style.%u.css",  "libfoo%u.so.1",   "Makefile%u",       "README%u.md",
        "data_%05u.csv", "photo %u.jpeg",   "backup-%u.tar.gz", "main%u.cpp",
        ".config%u",     "report%u.tmpx",   "old%u.bak.gz",     "chk%u",
        "temp%u.tm",     "page%u.php",      "draft%u.~abc",     "archive%u.zipx"};
    std::string seed;
    static std::mt19937 random(20261208);
    static int placed = 0;
    int entries = 0;
    const auto writeFiles = [&](const std::string& folder, int count) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            fail("cannot open " + folder);
        for (int k = 0; k < count; ++k) {
            char name[64];
            std::snprintf(name, sizeof name, plain[random() % 20], static_cast<unsigned>(k));
            if (::linkat(AT_FDCWD, seed.c_str(), fd, name, 0) != 0)
                fail("cannot create " + folder + "/" + name);
            ++entries;
        }
        ::close(fd);
    };
    for (int top = first; top < end; ++top) {
        seed = seeds + "/seed" + std::to_string(top);
        const int seedFd = ::open(seed.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (seedFd < 0)
            fail("cannot create " + seed);
        ::close(seedFd);
        const std::string topFolder = root + "/dir" + std::to_string(top);
        makeFolder(topFolder);
        ++entries;
        writeFiles(topFolder, FilesPerFolder);
        for (int sub = 0; sub < SubFolders; ++sub) {
            const std::string subFolder = topFolder + "/sub" + std::to_string(sub);
            makeFolder(subFolder);
            ++entries;
            // One of the handful of rubbish files in every thirteenth top folder.
            const bool rubbish = sub == 7 && top % 13 == 0 && placed < 6;
            writeFiles(subFolder, FilesPerFolder - (rubbish ? 1 : 0));
            if (rubbish) {
                const std::string path = subFolder + "/" + Rubbish[placed++];
                if (::link(seed.c_str(), path.c_str()) != 0)
                    fail("cannot create " + path);
                ++entries;
            }
        }
    }
    return entries;
}

// Wall-clock and processor time of one run; on a machine shared with other work the
// processor time is the steadier of the two.
struct Times
{
    double wall = 0;
    double cpu = 0;
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// VmHWM of this process.
long peakResidentKb()
{
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return 0;
    char line[256];
    long peak = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmHWM: %ld kB", &peak) == 1)
            break;
    }
    std::fclose(status);
    return peak;
}

double cpuSeconds(const rusage& usage)
{
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Times timeWindow(TForm1& form, CountingShell& shell, int& found)
{
    shell.requests = 0;
    rusage before{};
    rusage after{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    form.CollectRubbish();
    const double wall = secondsSince(start);
    ::getrusage(RUSAGE_SELF, &after);
    found = shell.requests;
    if (form.Label3DBorder1->text() != QStringLiteral("Rubbish Collected"))
        fail("the collection did not run to its end");
    return {wall, cpuSeconds(after) - cpuSeconds(before)};
}

Times timePreview(TForm1& form, int& found)
{
    rusage before{};
    rusage after{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    TCollectionPreview preview(planCollection(form.collectionSettings()));
    found = 0;
    preview.OnFile = [&found](const TPreviewFile&) { ++found; };
    preview.Execute();
    const double wall = secondsSince(start);
    ::getrusage(RUSAGE_SELF, &after);
    return {wall, cpuSeconds(after) - cpuSeconds(before)};
}

// Runs a tool with its output counted in lines; false when it cannot be started.
bool timeTool(const std::vector<std::string>& args, Times& times, int& found)
{
    const bench::ToolRun run = bench::runTool(args);
    if (!run.started)
        return false;
    if (!run.succeeded)
        fail(args[0] + " failed");
    times = {run.wallSeconds, run.cpuSeconds};
    found = run.lines;
    return true;
}

// Each measure on its own.
Times median(std::vector<Times> values)
{
    const auto middle = [&values](double Times::*measure) {
        std::vector<double> list;
        for (const auto& t : values)
            list.push_back(t.*measure);
        std::sort(list.begin(), list.end());
        return list[list.size() / 2];
    };
    return {middle(&Times::wall), middle(&Times::cpu)};
}

// Turns plain files into rubbish, a few in every folder, until there are count more: each
// its own new file, as rubbish is, and the tree keeps its number of entries.
void makeRubbish(const std::string& root, int count)
{
    int made = 0;
    const auto visit = [&](const std::string& folder, auto& self) -> void {
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            fail("cannot read " + folder);
        std::vector<std::string> files;
        std::vector<std::string> folders;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (entry->d_type == DT_DIR && name != "." && name != "..")
                folders.push_back(name);
            else if (entry->d_type == DT_REG && files.size() < 5 &&
                     std::find(std::begin(Rubbish), std::end(Rubbish), name) == std::end(Rubbish))
                files.push_back(name);
        }
        ::closedir(dir);
        for (const std::string& name : files) {
            if (made == count)
                return;
            char rubbish[32];
            std::snprintf(rubbish, sizeof rubbish, "/rubbish%06d.tmp", made);
            const int fd = ::open((folder + rubbish).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd < 0 || ::unlink((folder + "/" + name).c_str()) != 0)
                fail("cannot turn " + folder + "/" + name + " into rubbish");
            ::close(fd);
            ++made;
        }
        for (const std::string& name : folders)
            self(folder + "/" + name, self);
    };
    visit(root, visit);
    if (made != count)
        fail("the tree holds too few files for " + std::to_string(count) + " rubbish files");
}

int entriesIn(const std::string& folder)
{
    int count = 0;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            count += entry->d_name[0] != '.';
        ::closedir(dir);
    }
    return count;
}

// Only "C Drive" and the mask boxes, with the masks of a typical setup.
void tickDriveStage(TForm1& form)
{
    for (QCheckBox* box : {form.CheckBox1, form.CheckBox3, form.CheckBox5, form.CheckBox9,
                           form.CheckBox11, form.CheckBox12, form.CheckBox13})
        box->setChecked(false);
    for (QCheckBox* box :
         {form.CheckBox10, form.CheckBox4, form.CheckBox6, form.CheckBox7, form.CheckBox8})
        box->setChecked(true);
    form.Edit2->setText(QStringLiteral("*.~??"));
    if (form.CheckBox10->isHidden())
        fail("drive C: is not a fixed disk");
}

// The real collection, run in a process of its own so that its peak memory is its own.
// Writes the peak memory of the process before it started, in kilobytes.
int collectForReal(QApplication& app)
{
    runtime::installWindowService();
    runtime::setMessageInterceptor(
        [](const runtime::MessageRequest&) { return runtime::ModalResult::Yes; });
    TForm1 form(0);
    tickDriveStage(form);
    app.processEvents();
    std::printf("%ld\n", peakResidentKb());
    std::fflush(stdout);
    form.CollectRubbish();
    if (form.Label3DBorder1->text() != QStringLiteral("Rubbish Collected"))
        fail("the real collection did not run to its end");
    return 0;
}

struct Measures
{
    int entries = 0;
    Times window;
    Times preview;
    Times find;
    Times fd;
};

Measures measure(TForm1& form, CountingShell& shell, const std::string& drive, int entries,
                 bool haveFd)
{
    const std::vector<std::string> find = {"find",   drive,   "-xdev", "-type",  "f",     "(",
                                           "-iname", "*.bak", "-o",    "-iname", "*.chk", "-o",
                                           "-iname", "*.tmp", "-o",    "-iname", "*.~??", ")"};
    const std::vector<std::string> fd = {
        "fdfind", "-j1", "-u", "-t", "f", "(?i)\\.(bak|chk|tmp|~..)$", drive};

    int windowFound = 0;
    int previewFound = 0;
    int findFound = 0;
    int fdFound = 0;
    Times times;
    // Each warms once, then they take turns.
    timeWindow(form, shell, windowFound);
    timeTool(find, times, findFound);
    if (haveFd)
        timeTool(fd, times, fdFound);
    timePreview(form, previewFound);
    std::vector<Times> windowTimes;
    std::vector<Times> previewTimes;
    std::vector<Times> findTimes;
    std::vector<Times> fdTimes;
    for (int k = 0; k < Repetitions; ++k) {
        windowTimes.push_back(timeWindow(form, shell, windowFound));
        previewTimes.push_back(timePreview(form, previewFound));
        timeTool(find, times, findFound);
        findTimes.push_back(times);
        if (haveFd) {
            timeTool(fd, times, fdFound);
            fdTimes.push_back(times);
        }
    }
    const int expected = static_cast<int>(std::size(Rubbish));
    if (windowFound != expected || previewFound != expected || findFound != expected ||
        (haveFd && fdFound != expected))
        fail("found: window " + std::to_string(windowFound) + ", preview " +
             std::to_string(previewFound) + ", find " + std::to_string(findFound) + ", fdfind " +
             std::to_string(fdFound) + "; the tree holds " + std::to_string(expected));

    Measures measures;
    measures.entries = entries;
    measures.window = median(windowTimes);
    measures.preview = median(previewTimes);
    measures.find = median(findTimes);
    if (haveFd)
        measures.fd = median(fdTimes);

    std::printf("\nTree: %d entries on C:, %d of them rubbish for \"%s\"\n", entries, expected,
                "*.bak, *.chk, *.tmp, *.~??");
    std::printf(
        "Drive stage, warm cache, median of %d runs:      wall      processor   per entry\n",
        Repetitions);
    const auto row = [entries](const char* name, const Times& t, int found) {
        std::printf("  %-28s %8.1f ms %8.1f ms %7.0f ns  (%d files)\n", name, t.wall * 1e3,
                    t.cpu * 1e3, t.wall * 1e9 / entries, found);
    };
    const auto ratio = [](const char* name, double wall, double cpu, const char* aim) {
        std::printf("  %-28s %8.2f    %8.2f     (aim: %s)\n", name, wall, cpu, aim);
    };
    const auto ratioOf = [&ratio](const char* name, const Times& a, const Times& b,
                                  const char* aim) {
        ratio(name, a.wall / b.wall, a.cpu / b.cpu, aim);
    };
    row("TForm1::CollectRubbish", measures.window, windowFound);
    row("TCollectionPreview", measures.preview, previewFound);
    row("find -type f -iname ...", measures.find, findFound);
    if (haveFd)
        row("fdfind -j1 -u -t f REGEX", measures.fd, fdFound);
    ratioOf("ratio preview/drive stage", measures.preview, measures.window, "1.20 or less");
    ratioOf("ratio window/find", measures.window, measures.find, "0.50 or less");
    if (haveFd)
        ratioOf("ratio window/fdfind", measures.window, measures.fd, "1.00 or less");
    else
        std::printf("  fdfind: not installed (package fd-find)\n");
    std::fflush(stdout);
    return measures;
}

// The time per entry of the large tree against the small one's.
void compareSizes(const Measures& small, const Measures& large, bool haveFd)
{
    std::printf("\nTime per entry, %d entries against %d:   wall   processor\n", large.entries,
                small.entries);
    const auto growth = [&](const char* name, Times Measures::*measure, const char* aim) {
        const Times& a = large.*measure;
        const Times& b = small.*measure;
        const auto perEntry = [](double seconds, int entries) { return seconds / entries; };
        std::printf("  %-28s %8.2f    %8.2f     (aim: %s)\n", name,
                    perEntry(a.wall, large.entries) / perEntry(b.wall, small.entries),
                    perEntry(a.cpu, large.entries) / perEntry(b.cpu, small.entries), aim);
    };
    growth("TForm1::CollectRubbish", &Measures::window, "flat, 1.10 or less");
    growth("TCollectionPreview", &Measures::preview, "flat, 1.10 or less");
    growth("find -type f -iname ...", &Measures::find, "for comparison");
    if (haveFd)
        growth("fdfind -j1 -u -t f REGEX", &Measures::fd, "for comparison");
    std::fflush(stdout);
}

// The newest file of the folder, with its size; empty when there is none.
std::string newestFile(const std::string& folder, off_t& size)
{
    std::string newest;
    timespec newestTime{};
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            struct stat status = {};
            const std::string path = folder + "/" + entry->d_name;
            if (entry->d_name[0] == '.' || ::stat(path.c_str(), &status) != 0 ||
                !S_ISREG(status.st_mode))
                continue;
            const timespec& time = status.st_mtim;
            if (newest.empty() || time.tv_sec > newestTime.tv_sec ||
                (time.tv_sec == newestTime.tv_sec && time.tv_nsec > newestTime.tv_nsec)) {
                newest = path;
                newestTime = time;
                size = status.st_size;
            }
        }
        ::closedir(dir);
    }
    return newest;
}

void measureMemory(const std::string& work, const std::string& drive, int entries)
{
    std::printf("\nTurning %d files into rubbish ...\n", CollectedFiles);
    std::fflush(stdout);
    makeRubbish(drive, CollectedFiles);
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        fail("cannot find the bench program itself");
    self[length] = '\0';
    const bench::ToolRun run = bench::runTool({self, work, "--collect"});
    if (!run.started || !run.succeeded)
        fail("the real collection failed");
    // Its peak before the run, then the run's own line.
    const std::size_t lineEnd = run.output.find('\n');
    const long before = std::atol(run.output.c_str());
    const std::string report =
        lineEnd == std::string::npos ? std::string() : run.output.substr(lineEnd + 1);

    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    if (!dataHome || !stateHome)
        fail("XDG_DATA_HOME and XDG_STATE_HOME must point into the work folder (bench/run)");
    const int trashed = entriesIn(std::string(dataHome) + "/Trash/files");
    const int expected = CollectedFiles + static_cast<int>(std::size(Rubbish));
    if (trashed != expected)
        fail("the real collection moved " + std::to_string(trashed) + " of " +
             std::to_string(expected) + " files");
    off_t recordSize = 0;
    if (newestFile(std::string(stateHome) + "/vorlax/collections", recordSize).empty())
        fail("the real collection left no record");

    std::printf("A real collection of %d entries, %d files moved to the home trash:\n", entries,
                trashed);
    std::printf("  %s", report.c_str());
    std::printf("  time                         %8.1f s  (%.1f us per file moved)\n",
                run.wallSeconds, run.wallSeconds * 1e6 / trashed);
    std::printf("  peak memory (max RSS)        %8.1f MB  (%.1f MB before the run)\n",
                run.maxResidentKb / 1024.0, before / 1024.0);
    std::printf("  its record                   %8.1f MB  (%.0f bytes per file)\n",
                static_cast<double>(recordSize) / (1024.0 * 1024.0),
                static_cast<double>(recordSize) / trashed);
    std::printf("  peak memory less the start   %8.0f bytes per file moved\n",
                (run.maxResidentKb - before) * 1024.0 / trashed);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[2]) == "--collect") {
        QApplication app(argc, argv);
        return collectForReal(app);
    }
    if (argc != 2)
        fail("usage: vorlax_drive_bench WORK_FOLDER");
    const auto benchStart = Clock::now();
    const std::string work = argv[1];
    const std::string drive = work + "/c";
    makeFolder(drive);
    ::setenv("VORLAX_DRIVES", (("C:=" + drive) + "@fixed").c_str(), 1);
    QApplication app(argc, argv);
    runtime::installWindowService();
    runtime::setMessageInterceptor(
        [](const runtime::MessageRequest&) { return runtime::ModalResult::Yes; });
    Measures small;
    Measures large;
    int entries = 0;
    {
        CountingShell shell;
        platform::ScopedService<platform::ShellService> shellScope(shell);
        TForm1 form(0);
        tickDriveStage(form);
        const bool haveFd = bench::runTool({"fdfind", "--version"}).started;

        std::printf("Generating the trees ...\n");
        std::fflush(stdout);
        makeFolder(work + "/seeds");
        entries = writeTree(drive, work + "/seeds", 0, SmallTree);
        small = measure(form, shell, drive, entries, haveFd);
        entries += writeTree(drive, work + "/seeds", SmallTree, LargeTree);
        large = measure(form, shell, drive, entries, haveFd);
        compareSizes(small, large, haveFd);
    }
    measureMemory(work, drive, entries);
    std::printf("\nThe whole bench took %.0f s.\n", secondsSince(benchStart));
    return 0;
}
