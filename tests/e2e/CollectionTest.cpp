#include "support/LocalDate.h"
#include "support/ProgramRun.h"
#include "support/Sandbox.h"

#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string dateText(int offsetDays)
{
    return test::localDateText(offsetDays);
}

// Bytes no text tool would keep intact: NULs, CRs and high bytes.
std::string binaryContent(const std::string& seed)
{
    std::string content = seed + '\0' + "\r\n";
    for (int i = 0; i < 3000; ++i)
        content += static_cast<char>((i * 7 + static_cast<int>(seed.size())) & 0xff);
    return content;
}

using Run = test::Outcome;

Run runTool(const QString& program, const QStringList& arguments, const std::string& cwd,
            const QByteArray& input = {})
{
    return test::runCommand(program, arguments, QProcessEnvironment::systemEnvironment(), 60000,
                            cwd, input);
}

bool commandSucceeds(const QStringList& command)
{
    return runTool(command.front(), command.mid(1), "/").exitCode == 0;
}

// The original paths of everything trash-list shows under one folder.
std::set<std::string> trashedUnder(const std::string& folder)
{
    std::set<std::string> paths;
    const Run list = runTool(QStringLiteral("trash-list"), {}, "/");
    std::istringstream lines(list.output);
    for (std::string line; std::getline(lines, line);) {
        // "2026-12-08 21:30:00 /path"
        if (line.size() > 20 && line.compare(20, folder.size() + 1, folder + "/") == 0)
            paths.insert(line.substr(20));
    }
    return paths;
}

// Restores, one by one, everything trashed from below the folder.
int restoreAllUnder(const std::string& folder)
{
    int restored = 0;
    for (int i = 0; i < 100; ++i) {
        const Run run = runTool(QStringLiteral("trash-restore"), {}, folder, "0\n");
        if (run.output.find("No files trashed") != std::string::npos || run.exitCode != 0)
            break;
        ++restored;
    }
    return restored;
}

// A whole collection as a user sets it up: rubbish in the temporary folder, the cache
// folder and two drives (D: on a filesystem of its own where the machine allows a
// mount), beside files that must stay.
class CollectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("trash-list")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("trash-restore")).isEmpty())
            GTEST_SKIP() << "needs trash-list and trash-restore (package trash-cli)";
        driveD = sandbox.root() + "/d";
        fs::create_directories(driveD);
        // A disk filesystem of its own keeps its own trash; where no loop mount is allowed,
        // D: is a folder of the home's disk and shares its trash.
        const std::string image = sandbox.root() + "/d.img";
        if (::geteuid() == 0 &&
            commandSucceeds({QStringLiteral("truncate"), QStringLiteral("-s"),
                             QStringLiteral("32M"), QString::fromStdString(image)}) &&
            commandSucceeds({QStringLiteral("mkfs.ext4"), QStringLiteral("-q"),
                             QStringLiteral("-F"), QString::fromStdString(image)}) &&
            commandSucceeds({QStringLiteral("mount"), QStringLiteral("-o"), QStringLiteral("loop"),
                             QString::fromStdString(image), QString::fromStdString(driveD)}))
            mounted = true;
        sandbox.setDrives("C:=" + sandbox.driveC() + "@fixed;D:=" + driveD + "@fixed");
    }

    void TearDown() override
    {
        if (held.state() != QProcess::NotRunning) {
            held.kill();
            held.waitForFinished();
        }
        if (mounted)
            commandSucceeds(
                {QStringLiteral("umount"), QStringLiteral("-l"), QString::fromStdString(driveD)});
    }

    void writeSettings() const
    {
        test::Sandbox::writeFile(sandbox.iniPath(),
                                 "[Drives]\r\nDrive0=1\r\nDrive1=1\r\n"
                                 "[Actions]\r\nCache=C:\\cache\\\r\nAutoStart=0\r\n"
                                 "RunScanDisk=0\r\nDelCHK=1\r\nDelTempFiles=1\r\nDelCache=1\r\n"
                                 "DelBAK=1\r\nDelTMP=1\r\nDelUser1=1\r\nDelUser2=0\r\n"
                                 "Frequency1=1\r\nFrequency2=0\r\n"
                                 "[User]\r\nUser1=*.~??\r\n"
                                 "[NextDate]\r\nDate=" +
                                     dateText(0) + "\r\n");
    }

    std::string file(const std::string& path)
    {
        test::Sandbox::writeFile(path, binaryContent(path));
        age(path);
        return path;
    }
    // Two days old: the folders a run empties whole keep what was used within a day.
    static void age(const std::string& path)
    {
        const timespec old[2] = {{std::time(nullptr) - 2 * 86400, 0},
                                 {std::time(nullptr) - 2 * 86400, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0) << path;
    }

    // Rubbish in every place a run looks; returns the paths that must go.
    std::set<std::string> plantRubbish()
    {
        const std::string c = sandbox.driveC();
        return {file(sandbox.tmp() + "/session.dat"),
                file(sandbox.tmp() + "/build/obj.o"),
                file(c + "/cache/entry1"),
                file(c + "/cache/d/entry2"),
                file(c + "/docs/report.bak"),
                file(c + "/docs/disk.CHK"),
                file(c + "/docs/draft.~01"),
                file(driveD + "/projects/scratch.tmp"),
                file(driveD + "/projects/old.bak")};
    }

    // Files and entries that match the masks but must stay, and the others.
    std::set<std::string> plantKeepers()
    {
        const std::string docs = sandbox.driveC() + "/docs";
        std::set<std::string> keep = {file(docs + "/keep.txt"), file(docs + "/a"),
                                      file(docs + "/a;b.tmp"), file(driveD + "/projects/main.c"),
                                      file(docs + "/held.tmp")};
        fs::create_symlink("keep.txt", docs + "/link.tmp");
        EXPECT_EQ(::mkfifo((docs + "/pipe.tmp").c_str(), 0600), 0);
        const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string socketPath = docs + "/sock.tmp";
        if (socketPath.size() < sizeof address.sun_path) {
            socketPath.copy(address.sun_path, socketPath.size());
            EXPECT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        }
        ::close(socket);
        if (::geteuid() == 0) {
            keep.insert(file(docs + "/others.tmp"));
            EXPECT_EQ(::chown((docs + "/others.tmp").c_str(), 65534, 65534), 0);
        }
        // Another program has this one open, as a running program holds its temporary.
        held.setStandardInputFile(QString::fromStdString(docs + "/held.tmp"));
        held.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        EXPECT_TRUE(held.waitForStarted());
        return keep;
    }

    test::Outcome runUnattended()
    {
        return test::runProgram({QStringLiteral("/a")}, test::programEnvironment(false), 60000);
    }

    std::string savedDate() const
    {
        const std::string text = test::Sandbox::readFile(sandbox.iniPath());
        const auto at = text.find("Date=");
        return at == std::string::npos ? "" : text.substr(at + 5, 10);
    }

    test::Sandbox sandbox;
    std::string driveD;
    bool mounted = false;
    QProcess held;
};

} // namespace

TEST_F(CollectionTest, ExactlyTheRubbishGoesToTheTrashAndRestoresWhole)
{
    writeSettings();
    const std::set<std::string> rubbish = plantRubbish();
    const std::set<std::string> keep = plantKeepers();

    const test::Outcome outcome = runUnattended();
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
    // The file in use was refused with the shell's error, and the run went on.
    EXPECT_NE(outcome.errors.find("Error Deleting File"), std::string::npos) << outcome.errors;
    EXPECT_EQ(savedDate(), dateText(1));

    const std::set<std::string> trashed = trashedUnder(sandbox.root());
    EXPECT_EQ(trashed, rubbish) << outcome.errors;
    // Its line tells what the trash shows: the files moved, the one in use, and the amount
    // of everything handed over.
    std::size_t handed = binaryContent(sandbox.driveC() + "/docs/held.tmp").size();
    for (const std::string& path : rubbish)
        handed += binaryContent(path).size();
    EXPECT_EQ(outcome.output, std::to_string(trashed.size()) +
                                  " files moved to the trash, 1 could not be moved (The file is "
                                  "in use by another program.), " +
                                  std::to_string(handed / 1024) + " Kb\n");
    for (const std::string& path : rubbish)
        EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << path;
    for (const std::string& path : keep)
        EXPECT_EQ(test::Sandbox::readFile(path), binaryContent(path)) << path;
    const std::string docs = sandbox.driveC() + "/docs";
    EXPECT_TRUE(fs::is_symlink(docs + "/link.tmp"));
    EXPECT_TRUE(fs::is_fifo(docs + "/pipe.tmp"));
    EXPECT_TRUE(fs::is_socket(docs + "/sock.tmp"));

    // A second run on the due date leaves the trash itself alone.
    writeSettings();
    const test::Outcome again = runUnattended();
    EXPECT_EQ(again.exitCode, 0) << again.errors;
    EXPECT_EQ(trashedUnder(sandbox.root()), rubbish);
    if (mounted) {
        EXPECT_TRUE(
            fs::exists(driveD + "/.Trash-" + std::to_string(::geteuid()) + "/files/old.bak"));
    }

    const int restored = restoreAllUnder(sandbox.root());
    EXPECT_EQ(restored, static_cast<int>(rubbish.size()));
    for (const std::string& path : rubbish)
        EXPECT_EQ(test::Sandbox::readFile(path), binaryContent(path)) << path;
}

TEST_F(CollectionTest, FilesThatCannotBeTrashedStillEndTheRunNormally)
{
    if (!mounted)
        GTEST_SKIP() << "needs a filesystem of its own to make read-only";
    writeSettings();
    const std::string stuck = file(driveD + "/projects/stuck.tmp");
    const std::string taken = file(sandbox.driveC() + "/docs/taken.bak");
    ASSERT_TRUE(commandSucceeds({QStringLiteral("mount"), QStringLiteral("-o"),
                                 QStringLiteral("remount,ro"), QString::fromStdString(driveD)}));

    const test::Outcome outcome = runUnattended();
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
    EXPECT_NE(outcome.errors.find("Error Deleting File"), std::string::npos);
    EXPECT_NE(outcome.errors.find("stuck.tmp"), std::string::npos) << outcome.errors;
    EXPECT_EQ(test::Sandbox::readFile(stuck), binaryContent(stuck));
    EXPECT_FALSE(fs::exists(taken));
    // The date moves on only at the normal end of a run.
    EXPECT_EQ(savedDate(), dateText(1));
}

// Killed at any moment, a run leaves every file where it was or in the trash with its
// information; nothing is half there.
TEST_F(CollectionTest, KillAtAnyMomentLosesNothing)
{
    constexpr int files = 2000;
    constexpr int kills = 12;
    std::vector<std::string> originals;
    for (int i = 0; i < files; ++i)
        originals.push_back(file(sandbox.tmp() + "/f" + std::to_string(i / 100) + "/n" +
                                 std::to_string(i) + ".tmp"));
    const std::string trash = sandbox.dataHome() + "/Trash";
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delayMs(0, 1500);
    int trashedTotal = 0;

    for (int round = 0; round < kills; ++round) {
        writeSettings();
        QProcess program;
        test::startProgram(program, {QStringLiteral("/a")}, test::programEnvironment(false));
        ASSERT_TRUE(program.waitForStarted());
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        ::kill(static_cast<pid_t>(program.processId()), SIGKILL);
        program.waitForFinished();

        // Every entry of the trash has whole information naming where it came from.
        std::map<std::string, std::string> trashedFrom; // original -> trashed name
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(trash + "/files", ec)) {
            const std::string name = entry.path().filename().string();
            const std::string info =
                test::Sandbox::readFile(trash + "/info/" + name + ".trashinfo");
            const auto path = info.find("\nPath=");
            ASSERT_EQ(info.rfind("[Trash Info]\n", 0), 0u) << name;
            ASSERT_NE(path, std::string::npos) << name;
            ASSERT_NE(info.find("\nDeletionDate="), std::string::npos) << name;
            const auto end = info.find('\n', path + 1);
            ASSERT_NE(end, std::string::npos) << "cut short: " << name;
            trashedFrom[info.substr(path + 6, end - path - 6)] = name;
        }
        for (const std::string& original : originals) {
            const bool inPlace = fs::exists(original);
            const bool inTrash = trashedFrom.count(original) > 0;
            ASSERT_NE(inPlace, inTrash) << original << " after kill " << round;
            const std::string where =
                inPlace ? original : trash + "/files/" + trashedFrom[original];
            ASSERT_EQ(test::Sandbox::readFile(where), binaryContent(original)) << where;
            // Read just now, it would count as in use in the next round.
            if (inPlace)
                age(original);
        }
        trashedTotal = static_cast<int>(trashedFrom.size());
    }
    std::cout << kills << " kills, " << trashedTotal << " of " << files
              << " files in the trash at the end\n";
}

// The information of an entry is never seen part-written: the program is killed at its
// first write to a file that bears the name of the entry's information, if it ever
// writes to one.
TEST_F(CollectionTest, KilledWhileNamingATrashedFileLeavesNoPartOfItsInformation)
{
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty() || !commandSucceeds({strace, QStringLiteral("-o"),
                                              QStringLiteral("/dev/null"), QStringLiteral("true")}))
        GTEST_SKIP() << "needs strace, allowed to trace";
    writeSettings();
    const std::string victim = file(sandbox.driveC() + "/docs/only.bak");
    const std::string real = fs::canonical(sandbox.root()).string();
    const std::string trash = real + "/home/.local/share/Trash";
    const std::string info = trash + "/info/only.bak.trashinfo";

    QProcess program;
    program.setProcessEnvironment(test::programEnvironment(false));
    program.start(strace,
                  {QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-o"),
                   QStringLiteral("/dev/null"), QStringLiteral("-P"), QString::fromStdString(info),
                   QStringLiteral("-e"), QStringLiteral("trace=write"), QStringLiteral("-e"),
                   QStringLiteral("inject=write:signal=KILL"), QStringLiteral(VORLAX_BINARY),
                   QStringLiteral("/a")});
    ASSERT_TRUE(program.waitForFinished(60000));

    const bool inPlace = fs::exists(victim);
    EXPECT_NE(inPlace, fs::exists(trash + "/files/only.bak"));
    if (fs::exists(info)) {
        const std::string text = test::Sandbox::readFile(info);
        const std::string head = "[Trash Info]\nPath=" + real + "/c/docs/only.bak\nDeletionDate=";
        EXPECT_EQ(text.rfind(head, 0), 0u) << text;
        EXPECT_TRUE(std::regex_match(text.substr(std::min(head.size(), text.size())),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\n)")))
            << text;
    } else {
        EXPECT_TRUE(inPlace);
    }
}

// Two unattended starts at once (the autostart entry and the timer): while one collects,
// the other ends at once, collecting and saving nothing, and the first collects it all.
// The first is held in its disk checker until the second has ended.
TEST_F(CollectionTest, OfTwoStartsAtOnceOneCollectsAndTheOtherEnds)
{
    const std::string bin = sandbox.root() + "/bin";
    const std::string started = sandbox.root() + "/checker-started";
    const std::string go = sandbox.root() + "/checker-go";
    test::Sandbox::writeFile(bin + "/scandskw", "#!/bin/sh\n: > '" + started + "'\nwhile [ ! -e '" +
                                                    go + "' ]; do sleep 0.05; done\n");
    fs::permissions(bin + "/scandskw", fs::perms::owner_all);
    std::set<std::string> rubbish;
    for (int i = 0; i < 200; ++i)
        rubbish.insert(file(sandbox.tmp() + "/f" + std::to_string(i / 50) + "/n" +
                            std::to_string(i) + ".tmp"));
    writeSettings();
    std::string ini = test::Sandbox::readFile(sandbox.iniPath());
    ini.replace(ini.find("RunScanDisk=0"), 13, "RunScanDisk=1");
    test::Sandbox::writeFile(sandbox.iniPath(), ini);
    QProcessEnvironment env = test::programEnvironment(false);
    env.insert(QStringLiteral("PATH"), QString::fromStdString(bin) + QStringLiteral(":") +
                                           env.value(QStringLiteral("PATH")));

    QProcess first;
    test::startProgram(first, {QStringLiteral("/a")}, env);
    for (int k = 0; k < 600 && !fs::exists(started); ++k)
        first.waitForFinished(100);
    ASSERT_TRUE(fs::exists(started)) << first.readAllStandardError().toStdString();
    const test::Outcome second = test::runProgram({QStringLiteral("/a")}, env);
    EXPECT_EQ(test::Sandbox::readFile(sandbox.iniPath()), ini);
    test::Sandbox::writeFile(go, "");
    ASSERT_TRUE(first.waitForFinished(60000));

    EXPECT_EQ(second.exitCode, 0);
    EXPECT_NE(second.errors.find("Another Vorlax is collecting with these settings"),
              std::string::npos)
        << second.errors;
    EXPECT_EQ(second.output, "");
    EXPECT_EQ(first.exitCode(), 0);
    std::size_t bytes = 0;
    for (const std::string& path : rubbish)
        bytes += binaryContent(path).size();
    EXPECT_EQ(first.readAllStandardOutput().toStdString(),
              std::to_string(rubbish.size()) + " files moved to the trash, " +
                  std::to_string(bytes / 1024) + " Kb\n");
    EXPECT_EQ(trashedUnder(sandbox.root()), rubbish);
    EXPECT_EQ(savedDate(), dateText(1));
}

namespace {

struct Kept
{
    std::string content;
    fs::perms mode;
    std::int64_t modifiedNs;
};

Kept keptOf(const std::string& path)
{
    struct stat status = {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return {test::Sandbox::readFile(path), fs::status(path).permissions(),
            static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

// Read just now, a file counts as used; only its access time goes back, so it stays the
// file that was put back.
void ageAccess(const std::string& path)
{
    const timespec times[2] = {{std::time(nullptr) - 2 * 86400, 0}, {0, UTIME_OMIT}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// The info files of every trash the run could use.
std::set<std::string> infoFiles(const std::vector<std::string>& trashes)
{
    std::set<std::string> names;
    for (const std::string& trash : trashes) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(trash + "/info", ec))
            names.insert(entry.path().string());
    }
    return names;
}

test::Outcome runVorlax(const QStringList& arguments)
{
    return test::runProgram(arguments, test::programEnvironment(false), 60000);
}

} // namespace

TEST_F(CollectionTest, UndoPutsTheWholeRunBackAndLaterRunsLeaveIt)
{
    writeSettings();
    const std::set<std::string> rubbish = plantRubbish();
    fs::permissions(sandbox.driveC() + "/docs/report.bak", fs::perms(0640));
    std::map<std::string, Kept> before;
    for (const std::string& path : rubbish) {
        before[path] = keptOf(path);
        ageAccess(path);
    }
    const std::vector<std::string> trashes = {sandbox.dataHome() + "/Trash",
                                              driveD + "/.Trash-" + std::to_string(::geteuid())};
    const std::set<std::string> infoBefore = infoFiles(trashes);

    ASSERT_EQ(runUnattended().exitCode, 0);
    const std::string records = sandbox.stateHome() + "/vorlax/collections";
    EXPECT_EQ(fs::status(records).permissions(), fs::perms(0700));
    int recordCount = 0;
    for (const auto& entry : fs::directory_iterator(records)) {
        ++recordCount;
        EXPECT_EQ(entry.status().permissions(), fs::perms(0600)) << entry.path();
    }
    EXPECT_EQ(recordCount, 1);
    const test::Outcome listed = runVorlax({QStringLiteral("--collections")});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_TRUE(std::regex_search(
        listed.output, std::regex(R"(\n\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d +)" +
                                  std::to_string(rubbish.size()) + R"( +\d+ Kb +9 +0\n)")))
        << listed.output;

    const test::Outcome undo = runVorlax({QStringLiteral("--undo")});
    EXPECT_EQ(undo.exitCode, 0) << undo.output << undo.errors;
    for (const std::string& path : rubbish) {
        const Kept now = keptOf(path);
        EXPECT_EQ(now.content, before[path].content) << path;
        EXPECT_EQ(now.mode, before[path].mode) << path;
        EXPECT_EQ(now.modifiedNs, before[path].modifiedNs) << path;
        EXPECT_NE(undo.output.find("put back: " + fs::canonical(path).string() + "\n"),
                  std::string::npos)
            << undo.output;
    }
    EXPECT_EQ(infoFiles(trashes), infoBefore);
    EXPECT_TRUE(trashedUnder(sandbox.root()).empty());
    EXPECT_TRUE(trashedUnder(driveD).empty());
    if (!QStandardPaths::findExecutable(QStringLiteral("gio")).isEmpty()) {
        const auto gio = runTool(QStringLiteral("gio"),
                                 {QStringLiteral("trash"), QStringLiteral("--list")}, "/");
        for (const std::string& path : rubbish)
            EXPECT_EQ(gio.output.find(fs::canonical(path).string()), std::string::npos)
                << gio.output;
    }

    // A second undo finds nothing to do and changes nothing.
    const auto snapshot = sandbox.snapshot();
    const test::Outcome again = runVorlax({QStringLiteral("--undo")});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_NE(again.output.find("No recorded collection has files in the trash"), std::string::npos)
        << again.output;
    EXPECT_EQ(sandbox.snapshot(), snapshot);
    EXPECT_TRUE(std::regex_search(runVorlax({QStringLiteral("--collections")}).output,
                                  std::regex(R"( 0 +9\n)")));

    // What was put back is no rubbish for the next run, even where a run empties a folder
    // whole.
    for (const std::string& path : rubbish)
        ageAccess(path);
    writeSettings();
    EXPECT_EQ(runUnattended().exitCode, 0);
    for (const std::string& path : rubbish)
        EXPECT_EQ(test::Sandbox::readFile(path), before[path].content) << path;
    EXPECT_TRUE(trashedUnder(sandbox.root()).empty());
}

TEST_F(CollectionTest, UndoLeavesAFileMadeAgainAtItsPlace)
{
    writeSettings();
    const std::set<std::string> rubbish = plantRubbish();
    ASSERT_EQ(runUnattended().exitCode, 0);
    const std::string again = sandbox.driveC() + "/docs/report.bak";
    test::Sandbox::writeFile(again, "written again");
    // A folder gone meanwhile is made again.
    fs::remove(sandbox.driveC() + "/cache/d");

    const test::Outcome undo = runVorlax({QStringLiteral("--undo")});
    EXPECT_EQ(undo.exitCode, 1);
    EXPECT_NE(undo.output.find("left in the trash: " + fs::canonical(again).string() +
                               ": Another file is at its place now"),
              std::string::npos)
        << undo.output;
    EXPECT_EQ(test::Sandbox::readFile(again), "written again");
    EXPECT_EQ(trashedUnder(sandbox.root()), std::set<std::string>{fs::canonical(again).string()});
    for (const std::string& path : rubbish) {
        if (path != again) {
            EXPECT_EQ(test::Sandbox::readFile(path), binaryContent(path)) << path;
        }
    }
    EXPECT_EQ(fs::status(sandbox.driveC() + "/cache/d").permissions(),
              fs::perms(0777) & ~fs::perms(::umask(022)));
}

// Killed at any moment of a run of thousands of files, then killed again while putting
// it back: the next undo puts back every file the run moved, each once.
TEST_F(CollectionTest, KilledRunsAndUndosPutEverythingBack)
{
    const char* roundsText = std::getenv("VORLAX_KILL_ROUNDS");
    const int rounds = roundsText ? std::atoi(roundsText) : 6;
    constexpr int files = 1500;
    const std::string trash = sandbox.dataHome() + "/Trash";
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> runDelayMs(0, 1500);
    std::uniform_int_distribution<int> undoDelayMs(0, 300);
    int movedTotal = 0;
    for (int round = 0; round < rounds; ++round) {
        // Files put back are kept aside: every round has files of its own.
        std::vector<std::string> originals;
        for (int i = 0; i < files; ++i)
            originals.push_back(file(sandbox.tmp() + "/r" + std::to_string(round) + "/f" +
                                     std::to_string(i / 100) + "/n" + std::to_string(i)));
        writeSettings();
        auto killAfter = [](const QStringList& arguments, int delayMs) {
            QProcess program;
            test::startProgram(program, arguments, test::programEnvironment(false));
            program.waitForStarted();
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            ::kill(static_cast<pid_t>(program.processId()), SIGKILL);
            program.waitForFinished();
        };
        killAfter({QStringLiteral("/a")}, runDelayMs(random));
        std::error_code ec;
        const auto inTrash =
            std::distance(fs::directory_iterator(trash + "/files", ec), fs::directory_iterator());
        movedTotal += static_cast<int>(inTrash);
        killAfter({QStringLiteral("--undo")}, undoDelayMs(random));
        const test::Outcome undo = runVorlax({QStringLiteral("--undo")});
        ASSERT_EQ(undo.exitCode, 0) << undo.output << undo.errors;
        for (const std::string& original : originals) {
            ASSERT_EQ(test::Sandbox::readFile(original), binaryContent(original))
                << original << " in round " << round;
        }
        ASSERT_EQ(
            std::distance(fs::directory_iterator(trash + "/files", ec), fs::directory_iterator()),
            0)
            << "round " << round;
        ASSERT_EQ(
            std::distance(fs::directory_iterator(trash + "/info", ec), fs::directory_iterator()), 0)
            << "round " << round;
        // So the next round's search is no longer than this one's.
        fs::remove_all(sandbox.tmp() + "/r" + std::to_string(round));
    }
    std::cout << rounds << " killed runs and undos, " << movedTotal
              << " files moved by them, all back\n";
}

namespace {

// Bytes of the given size that differ with the path and from page to page.
std::string sizedContent(const std::string& seed, std::size_t size)
{
    std::string content(size, '\0');
    const std::size_t start = std::hash<std::string>{}(seed);
    for (std::size_t k = 0; k < size; ++k)
        content[k] = static_cast<char>((start + k * 131 + k / 4093) & 0xff);
    return content;
}

// A temporary folder that is a tmpfs of its own, as several distributions make /tmp: its
// files go to the home trash by a copy.
class MemoryTemporaryFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("trash-list")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("trash-restore")).isEmpty())
            GTEST_SKIP() << "needs trash-list and trash-restore (package trash-cli)";
        if (::geteuid() != 0 ||
            !commandSucceeds({QStringLiteral("mount"), QStringLiteral("-t"),
                              QStringLiteral("tmpfs"), QStringLiteral("-o"),
                              QStringLiteral("size=512m"), QStringLiteral("vorlaxtmp"),
                              QString::fromStdString(sandbox.tmp())}))
            GTEST_SKIP() << "no tmpfs mount allowed here";
        mounted = true;
        sandbox.setDrives("C:=" + sandbox.driveC() + "@fixed");
    }
    void TearDown() override
    {
        if (mounted)
            commandSucceeds({QStringLiteral("umount"), QStringLiteral("-l"),
                             QString::fromStdString(sandbox.tmp())});
    }

    // Only the temporary folder is emptied.
    void writeSettings() const
    {
        test::Sandbox::writeFile(sandbox.iniPath(),
                                 "[Drives]\r\nDrive0=0\r\n"
                                 "[Actions]\r\nAutoStart=0\r\nRunScanDisk=0\r\nDelCHK=0\r\n"
                                 "DelTempFiles=1\r\nDelCache=0\r\nDelBAK=0\r\nDelTMP=0\r\n"
                                 "DelUser1=0\r\nDelUser2=0\r\nFrequency1=1\r\nFrequency2=0\r\n"
                                 "[NextDate]\r\nDate=" +
                                     dateText(0) + "\r\n");
    }

    // A file of the given size, made old as a user would, with touch -d.
    std::string oldFile(const std::string& path, std::size_t size)
    {
        test::Sandbox::writeFile(path, sizedContent(path, size));
        age(path);
        return path;
    }
    // The same without a process per file, for thousands of them.
    static void ageQuickly(const std::string& path)
    {
        const timespec old[2] = {{std::time(nullptr) - 3 * 86400, 0},
                                 {std::time(nullptr) - 3 * 86400, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0) << path;
    }
    static void age(const std::string& path)
    {
        EXPECT_TRUE(commandSucceeds({QStringLiteral("touch"), QStringLiteral("-d"),
                                     QStringLiteral("3 days ago"), QString::fromStdString(path)}))
            << path;
    }

    // Original path -> name in files/ of every entry of the home trash; every entry has its
    // whole information.
    std::multimap<std::string, std::string> homeEntries() const
    {
        std::multimap<std::string, std::string> entries;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(trash() + "/files", ec)) {
            const std::string name = entry.path().filename().string();
            const std::string info =
                test::Sandbox::readFile(trash() + "/info/" + name + ".trashinfo");
            const auto path = info.find("\nPath=");
            const auto end = path == std::string::npos ? path : info.find('\n', path + 1);
            EXPECT_TRUE(info.starts_with("[Trash Info]\n") && end != std::string::npos &&
                        info.find("\nDeletionDate=") != std::string::npos)
                << name << ": " << info;
            if (end != std::string::npos)
                entries.emplace(info.substr(path + 6, end - path - 6), name);
        }
        return entries;
    }
    // What lies at the top of the home trash besides its own folders, and information
    // whose entry is missing.
    std::vector<std::string> leftovers() const
    {
        std::vector<std::string> found;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(trash(), ec)) {
            const std::string name = entry.path().filename().string();
            if (name != "files" && name != "info" && name != "directorysizes")
                found.push_back(name);
        }
        for (const auto& entry : fs::directory_iterator(trash() + "/info", ec)) {
            const std::string name = entry.path().stem().string();
            if (!fs::exists(fs::symlink_status(trash() + "/files/" + name)))
                found.push_back("info/" + name);
        }
        return found;
    }
    std::string trash() const { return sandbox.dataHome() + "/Trash"; }

    test::Sandbox sandbox;
    bool mounted = false;
};

} // namespace

TEST_F(MemoryTemporaryFolderTest, IsEmptiedRunAfterRunIntoTheHomeTrashAndRestoresWhole)
{
    const QString dbus = QStandardPaths::findExecutable(QStringLiteral("dbus-run-session"));
    std::map<std::string, std::string> taken; // path -> content
    for (int run = 1; run <= 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const std::string tmp = sandbox.tmp();
        const std::string tag = std::to_string(run);
        for (const std::string& path :
             {oldFile(tmp + "/run" + tag + ".dat", 5000 * run),
              oldFile(tmp + "/build" + tag + "/obj.o", 300000), oldFile(tmp + "/empty" + tag, 0)})
            taken[path] = sizedContent(path, fs::file_size(path));
        const std::string fresh = tmp + "/fresh" + tag + ".dat";
        test::Sandbox::writeFile(fresh, "in use");
        writeSettings();

        const test::Outcome outcome =
            test::runProgram({QStringLiteral("/a")}, test::programEnvironment(false), 60000);
        ASSERT_TRUE(outcome.finished);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
        EXPECT_EQ(outcome.errors.find("no seperate temp folder"), std::string::npos)
            << outcome.errors;
        EXPECT_NE(test::Sandbox::readFile(sandbox.iniPath()).find("DelTempFiles=1"),
                  std::string::npos);
        EXPECT_EQ(outcome.output.rfind("3 files moved to the trash", 0), 0u) << outcome.output;
        EXPECT_TRUE(fs::exists(fresh));
        EXPECT_FALSE(fs::exists(tmp + "/.Trash-" + std::to_string(::geteuid())));
        EXPECT_TRUE(leftovers().empty());

        std::set<std::string> expected;
        for (const auto& [path, content] : taken) {
            EXPECT_FALSE(fs::exists(path)) << path;
            expected.insert(path);
        }
        EXPECT_EQ(trashedUnder(tmp), expected);
        if (!dbus.isEmpty()) {
            const auto listed = runTool(dbus,
                                        {QStringLiteral("--"), QStringLiteral("gio"),
                                         QStringLiteral("trash"), QStringLiteral("--list")},
                                        "/");
            for (const auto& path : expected)
                EXPECT_NE(listed.output.find("\t" + path + "\n"), std::string::npos)
                    << path << " not shown by gio:\n"
                    << listed.output << listed.errors;
        }
    }
    EXPECT_EQ(restoreAllUnder(sandbox.tmp()), static_cast<int>(taken.size()));
    for (const auto& [path, content] : taken) {
        EXPECT_EQ(test::Sandbox::readFile(path), content) << path;
        struct stat status = {};
        ::stat(path.c_str(), &status);
        EXPECT_LT(status.st_mtime, std::time(nullptr) - 2 * 86400) << path;
    }
    if (dbus.isEmpty())
        GTEST_SKIP() << "the desktop's view of the trash was not asked: needs dbus-run-session";
}

// Killed at random moments while it copies out of memory, a run loses nothing: each file
// is in place, or in place and whole in the trash, or whole in the trash only; no entry
// is ever part of a file. The next whole run leaves no temporary and no information
// without its entry.
TEST_F(MemoryTemporaryFolderTest, KillAtAnyMomentOfACopyLosesNothing)
{
    constexpr int kills = 30;
    std::map<std::string, std::string> originals; // path -> content
    for (int i = 0; i < 2000; ++i) {
        const std::string path =
            sandbox.tmp() + "/d" + std::to_string(i / 100) + "/f" + std::to_string(i) + ".dat";
        const std::size_t size = i % 250 == 0 ? (8 << 20) : 24 * 1024 + i;
        test::Sandbox::writeFile(path, sizedContent(path, size));
        ageQuickly(path);
        originals[path] = sizedContent(path, size);
    }
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delayMs(100, 500);
    int midway = 0;
    const auto check = [&](const std::string& when) {
        const auto entries = homeEntries();
        for (const auto& [original, name] : entries) {
            ASSERT_TRUE(originals.count(original)) << name << " from " << original;
            ASSERT_EQ(test::Sandbox::readFile(trash() + "/files/" + name), originals[original])
                << "a partial entry " << name << " " << when;
        }
        for (const auto& [path, content] : originals) {
            const bool inPlace = fs::exists(path);
            ASSERT_TRUE(inPlace || entries.count(path)) << path << " lost " << when;
            if (inPlace) {
                ASSERT_EQ(test::Sandbox::readFile(path), content) << path << " " << when;
                // Read by the copy, it would count as in use in the next round.
                ageQuickly(path);
            }
        }
    };
    for (int round = 0; round < kills; ++round) {
        writeSettings();
        QProcess program;
        test::startProgram(program, {QStringLiteral("/a")}, test::programEnvironment(false));
        ASSERT_TRUE(program.waitForStarted());
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        if (program.state() != QProcess::NotRunning)
            ++midway;
        ::kill(static_cast<pid_t>(program.processId()), SIGKILL);
        program.waitForFinished();
        check("after kill " + std::to_string(round));
        if (std::none_of(originals.begin(), originals.end(),
                         [](const auto& file) { return fs::exists(file.first); }))
            break;
    }
    // The whole run after the kills.
    writeSettings();
    const test::Outcome outcome =
        test::runProgram({QStringLiteral("/a")}, test::programEnvironment(false), 120000);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
    check("after the whole run");
    for (const auto& [path, content] : originals)
        EXPECT_FALSE(fs::exists(path)) << path;
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
    std::cout << midway << " kills during a run; " << homeEntries().size() << " entries for "
              << originals.size() << " files\n";
}

// Files copied out of memory come back by a copy: byte for byte, with their mode, times
// and holes; no temporary is left beside them and nothing of theirs in the trash. Undos
// killed at any moment of the copies lose nothing and leave nothing twice.
TEST_F(MemoryTemporaryFolderTest, UndoCopiesTheFilesBackEvenWhenKilled)
{
    std::map<std::string, Kept> before;
    std::vector<std::string> paths;
    for (int i = 0; i < 300; ++i) {
        const std::string path =
            sandbox.tmp() + "/d" + std::to_string(i / 50) + "/f" + std::to_string(i) + ".dat";
        test::Sandbox::writeFile(path, sizedContent(path, 64 * 1024 + i));
        paths.push_back(path);
    }
    const std::string sparse = sandbox.tmp() + "/sparse.img";
    {
        const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0640);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 64 << 20), 0);
        ASSERT_EQ(::pwrite(fd, "middle", 6, 32 << 20), 6);
        ::close(fd);
    }
    paths.push_back(sparse);
    fs::permissions(paths[7], fs::perms(0604));
    for (const std::string& path : paths) {
        ageQuickly(path);
        before[path] = keptOf(path);
        ageAccess(path);
    }
    writeSettings();
    const test::Outcome run =
        test::runProgram({QStringLiteral("/a")}, test::programEnvironment(false), 120000);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    ASSERT_EQ(homeEntries().size(), paths.size());

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delayMs(20, 400);
    int midway = 0;
    for (int round = 0; round < 8; ++round) {
        QProcess undo;
        test::startProgram(undo, {QStringLiteral("--undo")}, test::programEnvironment(false));
        ASSERT_TRUE(undo.waitForStarted());
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        if (undo.state() != QProcess::NotRunning)
            ++midway;
        ::kill(static_cast<pid_t>(undo.processId()), SIGKILL);
        undo.waitForFinished();
        const auto entries = homeEntries();
        for (const std::string& path : paths) {
            // Back whole, or still whole in the trash; never a part under its name.
            ASSERT_TRUE(fs::exists(path) || entries.count(path)) << path << " lost";
            if (fs::exists(path)) {
                ASSERT_EQ(test::Sandbox::readFile(path), before[path].content) << path;
            }
        }
    }
    std::cout << midway << " undos killed while running\n";
    const test::Outcome undo = runVorlax({QStringLiteral("--undo")});
    EXPECT_EQ(undo.exitCode, 0) << undo.output << undo.errors;
    for (const std::string& path : paths) {
        const Kept now = keptOf(path);
        EXPECT_EQ(now.content, before[path].content) << path;
        EXPECT_EQ(now.mode, before[path].mode) << path;
        EXPECT_EQ(now.modifiedNs, before[path].modifiedNs) << path;
    }
    struct stat status = {};
    ASSERT_EQ(::stat(sparse.c_str(), &status), 0);
    EXPECT_LT(status.st_blocks * 512, 1 << 20) << "the holes were filled";
    EXPECT_TRUE(homeEntries().empty());
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
    EXPECT_TRUE(trashedUnder(sandbox.tmp()).empty());
    for (const auto& entry : fs::recursive_directory_iterator(sandbox.tmp())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".vorlax-back-")) << entry.path();
    }
}
