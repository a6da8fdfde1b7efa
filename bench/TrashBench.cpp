// The move to the trash, one shell request per file and the pump when due, as a collection
// makes them, against gio trash and trash-put, each on its own identical set of files in the same
// filesystem, each with its own home trash.
//
//   vorlax_trash_bench WORK_FOLDER [FILES [UNDONE]]
//
// Then a recorded collection of UNDONE files (100,000 unless given) is put back as a whole,
// and the cost per file put back is set against the collection's own.
//
// Runs in WORK_FOLDER (the caller removes it) and prints the cost per file, the ratios, and
// what every move does at the least, on a set of its own: an info file written and linked in,
// and the file renamed into the trash. That is the floor of the cost per file.

#include "platform/collection/CollectionRecord.h"
#include "platform/collection/CollectionUndo.h"
#include "platform/files/PathWalk.h"
#include "platform/shell/Shell.h"
#include "runtime/Application.h"
#include "runtime/ShellDialogs.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "vorlax_trash_bench: %s\n", what.c_str());
    std::exit(1);
}

// A small file each, as the rubbish a collection finds mostly is.
void writeFiles(const std::string& folder, int count)
{
    std::filesystem::create_directories(folder);
    for (int k = 0; k < count; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "/file%05d.tmp", k);
        const int fd = ::open((folder + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0 || ::write(fd, "rubbish rubbish\n", 16) != 16)
            fail("cannot write " + folder + name);
        ::close(fd);
    }
}

int entriesIn(const std::string& folder)
{
    int count = 0;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* entry = ::readdir(dir))
            count += entry->d_name[0] != '.';
        ::closedir(dir);
    }
    return count;
}

// A set of files and the data folder whose Trash receives them.
struct Set
{
    std::string files;
    std::string dataHome;
};

Set prepare(const std::string& root, const char* tool, int count)
{
    Set set{root + "/" + tool + "/files", root + "/" + tool + "/data"};
    writeFiles(set.files, count);
    std::filesystem::create_directories(set.dataHome);
    return set;
}

void check(const Set& set, int count, const char* tool)
{
    const int trashed = entriesIn(set.dataHome + "/Trash/files");
    const int left = entriesIn(set.files);
    if (trashed != count || left != 0)
        fail(std::string(tool) + " trashed " + std::to_string(trashed) + " of " +
             std::to_string(count) + " files, " + std::to_string(left) + " left");
}

double timeCommand(const Set& set, const std::string& command)
{
    ::setenv("XDG_DATA_HOME", set.dataHome.c_str(), 1);
    const std::string line = "cd '" + set.files + "' && " + command;
    const auto start = Clock::now();
    const int status = std::system(line.c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (status != 0)
        fail("failed: " + command);
    return seconds;
}

double timeShell(const Set& set, const std::string& windowsFolder, int count)
{
    ::setenv("XDG_DATA_HOME", set.dataHome.c_str(), 1);
    const platform::KeptWalk walk;
    const auto start = Clock::now();
    for (int k = 0; k < count; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "\\file%05d.tmp", k);
        platform::SHFILEOPSTRUCTA request;
        request.wFunc = platform::FO_DELETE;
        request.pFrom = windowsFolder + name + std::string(2, '\0');
        request.pTo = std::string(2, '\0');
        request.fFlags = 0x0054;
        if (!platform::isCollectable(windowsFolder + name))
            fail("not collectable: " + windowsFolder + name);
        platform::SHFileOperationA(request);
        runtime::processMessagesWhenDue();
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// What every move does at the least, on a set of its own like the others: an info file
// written unnamed and linked into info/, and the file renamed from its folder into files/.
double timeFloor(const Set& set, int count)
{
    const std::string trash = set.dataHome + "/Trash";
    std::filesystem::create_directories(trash + "/files");
    std::filesystem::create_directories(trash + "/info");
    const int folder = ::open(set.files.c_str(), O_PATH | O_DIRECTORY);
    const int files = ::open((trash + "/files").c_str(), O_PATH | O_DIRECTORY);
    const int info = ::open((trash + "/info").c_str(), O_PATH | O_DIRECTORY);
    if (folder < 0 || files < 0 || info < 0)
        fail("cannot open the floor's folders");
    const std::string text =
        "[Trash Info]\nPath=/a/path/file00000.tmp\nDeletionDate=2026-01-01T00:00:00\n";
    const auto start = Clock::now();
    for (int k = 0; k < count; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "file%05d.tmp", k);
        const int fd = ::openat(info, ".", O_TMPFILE | O_WRONLY, 0600);
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
            ::linkat(AT_FDCWD, self.c_str(), info, (name + std::string(".trashinfo")).c_str(),
                     AT_SYMLINK_FOLLOW) != 0 ||
            ::close(fd) != 0)
            fail("cannot write the info of " + std::string(name));
        if (::renameat(folder, name, files, name) != 0)
            fail("cannot rename " + std::string(name));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(folder);
    ::close(files);
    ::close(info);
    return seconds;
}

void compare(const std::string& root, int count)
{
    ::setenv("VORLAX_DRIVES", ("C:=" + root + "@fixed").c_str(), 1);
    const Set ours = prepare(root, "vorlax", count);
    const Set gio = prepare(root, "gio", count);
    const Set trashCli = prepare(root, "trash-put", count);
    const Set floor = prepare(root, "floor", count);

    const double gioTime = timeCommand(gio, "ls | xargs gio trash --");
    const double trashPutTime = timeCommand(trashCli, "trash-put -- *");
    const double ourTime = timeShell(ours, "C:\\vorlax\\files", count);
    check(gio, count, "gio trash");
    check(trashCli, count, "trash-put");
    check(ours, count, "SHFileOperationA");
    const double floorTime = timeFloor(floor, count);
    check(floor, count, "the floor");

    auto perFile = [](double seconds, int files) { return seconds * 1e6 / files; };
    std::printf("%d files in %s, one home trash each:\n", count, root.c_str());
    std::printf("  checks, move, pump        %9.1f us per file\n", perFile(ourTime, count));
    std::printf("  gio trash (one process)   %9.1f us per file\n", perFile(gioTime, count));
    std::printf("  trash-put (one process)   %9.1f us per file\n", perFile(trashPutTime, count));
    std::printf("  info linked in, file moved %8.1f us, the floor of ours\n",
                perFile(floorTime, count));
    std::printf("  ratio ours/gio            %9.2f  (aim: at most 0.5)\n", ourTime / gioTime);
    std::printf("  ratio ours/trash-put      %9.2f\n", ourTime / trashPutTime);
    std::printf("  ratio ours/floor          %9.2f  (aim: at most 1.3)\n", ourTime / floorTime);
    std::printf("  ratio floor/gio           %9.2f  (what no move can do better than)\n",
                floorTime / gioTime);
    std::fflush(stdout);
}

void compareUndo(const std::string& root, int count)
{
    ::setenv("VORLAX_DRIVES", ("C:=" + root + "@fixed").c_str(), 1);
    const Set set = prepare(root, "undo", count);
    std::string recordPath;
    double collectTime = 0;
    {
        platform::CollectionRecorder recorder;
        collectTime = timeShell(set, "C:\\undo\\files", count);
        recordPath = recorder.path();
    }
    check(set, count, "the recorded collection");
    const auto start = Clock::now();
    const auto record = platform::readRecord(recordPath);
    if (!record)
        fail("cannot read the record " + recordPath);
    const auto outcome = platform::undoCollection(*record);
    const double undoTime = std::chrono::duration<double>(Clock::now() - start).count();
    if (static_cast<int>(outcome.putBack.size()) != count || entriesIn(set.files) != count ||
        entriesIn(set.dataHome + "/Trash/files") != 0 ||
        entriesIn(set.dataHome + "/Trash/info") != 0)
        fail("the undo put back " + std::to_string(outcome.putBack.size()) + " of " +
             std::to_string(count) + " files");

    auto perFile = [count](double seconds) { return seconds * 1e6 / count; };
    std::printf("%d files collected with their record, then put back as a whole:\n", count);
    std::printf("  collection                %9.1f us per file\n", perFile(collectTime));
    std::printf("  putting back              %9.1f us per file\n", perFile(undoTime));
    std::printf("  ratio put back/collection %9.2f  (aim: at most 1.5)\n", undoTime / collectTime);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4)
        fail("usage: vorlax_trash_bench WORK_FOLDER [FILES [UNDONE]]");
    const std::string work = argv[1];
    const int count = argc >= 3 ? std::atoi(argv[2]) : 5000;
    const int undone = argc == 4 ? std::atoi(argv[3]) : 100000;
    if (count <= 0 || undone <= 0)
        fail("the number of files must be positive");
    for (const char* tool : {"gio", "trash-put", "xargs"}) {
        if (std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) != 0)
            fail(std::string(tool) + " is needed (scripts/install-deps installs it)");
    }
    QApplication app(argc, argv);
    runtime::installShellDialogs();

    compare(work, count);
    compareUndo(work, undone);
    return 0;
}
