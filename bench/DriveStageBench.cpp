// The drive stage of a collection as the window runs it, against GNU find and fd on the
// same generated tree, in one run.
//
//   vorlax_drive_bench WORK_FOLDER
//
// Builds a tree of 500,000 entries in WORK_FOLDER, maps C: to it, and times TForm1's
// CollectRubbish with only "C Drive" and the mask boxes ticked (the progress caption set
// for every folder, the window on the offscreen platform), against find with the same
// masks and fdfind with them as one regular expression, and the preview of the same
// collection (what `vorlax --preview` runs) against the drive stage. Only a handful of files match,
// so the search is what is timed; they go to a shell that only counts them. The caller removes the
// folder.

#include "ToolRun.h"
#include "app/CollectionPreview.h"
#include "app/MainForm.h"
#include "platform/Service.h"
#include "platform/Shell.h"
#include "runtime/MessageBoxes.h"
#include "runtime/OwnWindows.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
// 200 folders of 49 subfolders each (10,000 folders), 49 files in every folder: 500,000
// entries, a home of a person who keeps things.
constexpr int TopFolders = 200;
constexpr int SubFolders = 49;
constexpr int FilesPerFolder = 49;

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
// seconds. Returns the number of entries below root.
int writeTree(const std::string& root, const std::string& seeds)
{
    static const char* const plain[] = {
        "IMG_%04u.JPG",  "document-%u.pdf", "notes%u.txt",      "index%u.html",
        "style.%u.css",  "libfoo%u.so.1",   "Makefile%u",       "README%u.md",
        "data_%05u.csv", "photo %u.jpeg",   "backup-%u.tar.gz", "main%u.cpp",
        ".config%u",     "report%u.tmpx",   "old%u.bak.gz",     "chk%u",
        "temp%u.tm",     "page%u.php",      "draft%u.~abc",     "archive%u.zipx"};
    std::string seed;
    std::mt19937 random(20261208);
    int entries = 0;
    int placed = 0;
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
    for (int top = 0; top < TopFolders; ++top) {
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

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        fail("usage: vorlax_drive_bench WORK_FOLDER");
    const std::string work = argv[1];
    const std::string drive = work + "/c";
    makeFolder(drive);
    ::setenv("VORLAX_DRIVES", (("C:=" + drive) + "@fixed").c_str(), 1);
    QApplication app(argc, argv);
    runtime::installWindowService();
    runtime::setMessageInterceptor(
        [](const runtime::MessageRequest&) { return runtime::ModalResult::Yes; });
    CountingShell shell;
    platform::ScopedService<platform::ShellService> shellScope(shell);

    std::printf("Generating the tree ...\n");
    std::fflush(stdout);
    makeFolder(work + "/seeds");
    const int entries = writeTree(drive, work + "/seeds");

    TForm1 form(0);
    for (QCheckBox* box : {form.CheckBox1, form.CheckBox3, form.CheckBox5, form.CheckBox9,
                           form.CheckBox11, form.CheckBox12, form.CheckBox13})
        box->setChecked(false);
    for (QCheckBox* box :
         {form.CheckBox10, form.CheckBox4, form.CheckBox6, form.CheckBox7, form.CheckBox8})
        box->setChecked(true);
    form.Edit2->setText(QStringLiteral("*.~??"));
    if (form.CheckBox10->isHidden())
        fail("drive C: is not a fixed disk");

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
    const bool haveFd = timeTool(fd, times, fdFound);
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

    const Times window = median(windowTimes);
    const Times findTime = median(findTimes);
    std::printf("\nTree: %d entries on C:, %d of them rubbish for \"%s\"\n", entries, expected,
                "*.bak, *.chk, *.tmp, *.~??");
    std::printf("Drive stage, warm cache, median of %d runs:      wall      processor\n",
                Repetitions);
    const auto row = [](const char* name, const Times& t, int found) {
        std::printf("  %-28s %8.1f ms %8.1f ms  (%d files)\n", name, t.wall * 1e3, t.cpu * 1e3,
                    found);
    };
    row("TForm1::CollectRubbish", window, windowFound);
    const Times previewTime = median(previewTimes);
    row("TCollectionPreview", previewTime, previewFound);
    row("find -type f -iname ...", findTime, findFound);
    const auto ratio = [](const char* name, const Times& a, const Times& b, const char* aim) {
        std::printf("  %-28s %8.2f    %8.2f     (aim: %s)\n", name, a.wall / b.wall, a.cpu / b.cpu,
                    aim);
    };
    ratio("ratio preview/drive stage", previewTime, window, "1.20 or less");
    if (haveFd) {
        const Times fdTime = median(fdTimes);
        row("fdfind -j1 -u -t f REGEX", fdTime, fdFound);
        ratio("ratio window/find", window, findTime, "0.80 or less");
        ratio("ratio window/fdfind", window, fdTime, "1.00 or less");
    } else {
        ratio("ratio window/find", window, findTime, "0.80 or less");
        std::printf("  fdfind: not installed (package fd-find)\n");
    }
    return 0;
}
