#include "scan/FilesScn.h"

#include "platform/core/Service.h"
#include "platform/drives/Drives.h"
#include "platform/drives/MountTable.h"
#include "platform/files/PosixFiles.h"
#include "support/FakeDrives.h"
#include "support/FakeFiles.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace platform;
namespace fs = std::filesystem;

namespace {

// Logs folders entered ("P:") and entries added ("A:") in one sequence.
class LoggingScan : public TFilesScan
{
public:
    LoggingScan()
    {
        ProcessMsg = false;
        OnProcess = [this](TFilesScan*, const std::string& Dir, int, std::int64_t) {
            log.push_back("P:" + Dir);
        };
        OnChanged = [this](TFilesScan*, int count, std::int64_t size) {
            changed.push_back(std::to_string(count) + "/" + std::to_string(size));
        };
    }
    void AddFile(const std::string& Folder, const TSearchRec& Entry) override
    {
        log.push_back("A:" + JoinPath(Folder, Entry.Name));
        if (throwOnAdd)
            throw std::runtime_error("add");
    }
    std::vector<std::string> entered() const { return only('P'); }
    std::vector<std::string> added() const { return only('A'); }
    std::vector<std::string> only(char kind) const
    {
        std::vector<std::string> result;
        for (const auto& line : log) {
            if (line[0] == kind)
                result.push_back(line.substr(2));
        }
        return result;
    }

    std::vector<std::string> log;
    std::vector<std::string> changed;
    bool throwOnAdd = false;
};

std::vector<std::string> sorted(std::vector<std::string> items)
{
    std::sort(items.begin(), items.end());
    return items;
}

class FilesScanTest : public ::testing::Test
{
protected:
    test::Sandbox sandbox;
    std::string c = sandbox.driveC();

    void write(const std::string& relative, const std::string& content = "")
    {
        test::Sandbox::writeFile(c + "/" + relative, content);
    }
    // C:\t with files, folders, a hidden and a read-only file, links and a FIFO.
    void makeTree()
    {
        write("t/a.tmp", "aaaa");
        write("t/sub/b.tmp", "bb");
        write("t/sub/deeper/c.tmp", "c");
        write("t/sub/deeper/keep.txt");
        write("t/sub.tmp/d.tmp", "ddd");
        write("t/.hidden.tmp", "h");
        write("t/ro.tmp", "r");
        ::chmod((c + "/t/ro.tmp").c_str(), 0444);
        fs::create_symlink("a.tmp", c + "/t/link.tmp");
        fs::create_symlink("..", c + "/t/sub/up.tmp");
        ::mkfifo((c + "/t/pipe.tmp").c_str(), 0644);
    }
};

} // namespace

TEST(FilesScanJoinPath, OneBackslashBetweenAndNothingForNoFolder)
{
    EXPECT_EQ(TFilesScan::JoinPath("", "x"), "");
    EXPECT_EQ(TFilesScan::JoinPath("C:", "x"), "C:\\x");
    EXPECT_EQ(TFilesScan::JoinPath("C:\\", "x"), "C:\\x");
    EXPECT_EQ(TFilesScan::JoinPath("C:\\TEMP", ""), "C:\\TEMP\\");
}

TEST_F(FilesScanTest, DepthFirstWithAnAcceptedFolderBeforeItsContents)
{
    makeTree();
    LoggingScan scan;
    scan.Attributes = {};
    scan.ScanOptions = soSpecifiedDir;
    scan.ScanDir = "C:\\t";
    scan.Execute();
    // Every folder recorded is entered right after, and all of it comes before the next
    // entry of its parent.
    const auto& log = scan.log;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const std::string folder = log[i].substr(2);
        std::string native = c + "/" + folder.substr(3);
        std::replace(native.begin(), native.end(), '\\', '/');
        if (log[i][0] != 'A' || !fs::is_directory(fs::symlink_status(native)))
            continue;
        ASSERT_LT(i + 1, log.size());
        EXPECT_EQ(log[i + 1], "P:" + folder);
        std::size_t end = i + 2;
        while (end < log.size() && log[end].compare(2, folder.size() + 1, folder + "\\") == 0)
            ++end;
        for (std::size_t j = end; j < log.size(); ++j)
            EXPECT_NE(log[j].compare(2, folder.size() + 1, folder + "\\"), 0) << log[j];
    }
    EXPECT_EQ(
        sorted(scan.entered()),
        (std::vector<std::string>{"C:\\t", "C:\\t\\sub", "C:\\t\\sub.tmp", "C:\\t\\sub\\deeper"}));
    // Links (also the one back up) are entries of their own, never entered.
    EXPECT_EQ(scan.added().size(), 13u);
    EXPECT_EQ(scan.changed, std::vector<std::string>{"13/12"});
}

TEST_F(FilesScanTest, AttributesMustAllBePresent)
{
    makeTree();
    auto found = [](TFileAttributes attributes, const std::string& mask = "*") {
        LoggingScan scan;
        scan.Attributes = attributes;
        scan.FileMask = mask;
        scan.ScanOptions = soSpecifiedDir;
        scan.ScanDir = "C:\\t\\";
        scan.Execute();
        return sorted(scan.added());
    };
    using Names = std::vector<std::string>;
    // Files only: no folders, links or FIFOs, whatever their names.
    EXPECT_EQ(found({faArchive}, "*.tmp"),
              (Names{"C:\\t\\.hidden.tmp", "C:\\t\\a.tmp", "C:\\t\\ro.tmp", "C:\\t\\sub.tmp\\d.tmp",
                     "C:\\t\\sub\\b.tmp", "C:\\t\\sub\\deeper\\c.tmp"}));
    EXPECT_EQ(found({faReadOnly, faArchive}), Names{"C:\\t\\ro.tmp"});
    EXPECT_EQ(found({faHidden}), Names{"C:\\t\\.hidden.tmp"});
    EXPECT_EQ(found({faSysFile}, "*.tmp"),
              (Names{"C:\\t\\link.tmp", "C:\\t\\pipe.tmp", "C:\\t\\sub\\up.tmp"}));
    EXPECT_EQ(found({faDirectory}), (Names{"C:\\t\\sub", "C:\\t\\sub.tmp", "C:\\t\\sub\\deeper"}));
    EXPECT_EQ(found({faVolumeID}), Names{});
}

TEST_F(FilesScanTest, TheFolderTextIsPassedAsReachedAndRootRecordsEndInABackslash)
{
    write("root.tmp", "12345");
    write("WINDOWS/w.tmp");
    for (const std::string dir : {"C:\\", "C:"}) {
        TFilesScanner scanner;
        std::vector<std::string> entered;
        scanner.OnProcess = [&](TFilesScan*, const std::string& Dir, int, std::int64_t) {
            entered.push_back(Dir);
        };
        scanner.ScanOptions = soSpecifiedDir;
        scanner.ScanDir = dir;
        scanner.FileMask = "root.tmp";
        scanner.Execute();
        ASSERT_EQ(entered.size(), 2u);
        EXPECT_EQ(entered[0], dir);
        EXPECT_EQ(entered[1], (dir == "C:" ? "C:\\" : dir) + "WINDOWS");
        ASSERT_EQ(scanner.FilesList().Count(), 1);
        EXPECT_EQ(scanner.FilesList().Items(0)->Path(), dir == "C:" ? "C:\\" : dir);
        EXPECT_EQ(scanner.FilesList().Items(0)->Size(), 5);
    }
    // A disk scan searches the whole drive named at the front.
    TFilesScanner disk;
    disk.ScanOptions = soSpecifiedDisk;
    disk.ScanDir = "C:\\WINDOWS";
    disk.FileMask = "*.tmp";
    disk.Execute();
    EXPECT_EQ(disk.FilesCount(), 2);
}

TEST_F(FilesScanTest, EmptyScanDirEmptyMaskAndNoRecursion)
{
    makeTree();
    LoggingScan scan;
    scan.ScanOptions = soSpecifiedDir;
    scan.ScanDir = "";
    scan.Execute();
    EXPECT_EQ(scan.log, std::vector<std::string>{"P:"});
    EXPECT_EQ(scan.changed, std::vector<std::string>{"0/0"});

    // No mask: nothing is accepted, every folder is still walked.
    scan.log.clear();
    scan.ScanDir = "C:\\t";
    scan.FileMask = "";
    scan.Execute();
    EXPECT_EQ(scan.entered().size(), 4u);
    EXPECT_TRUE(scan.added().empty());

    // Not recursive: subfolder entries are still tested.
    scan.log.clear();
    scan.FileMask = "sub*";
    scan.Attributes = {};
    scan.Recursive = false;
    scan.Execute();
    EXPECT_EQ(scan.entered(), std::vector<std::string>{"C:\\t"});
    EXPECT_EQ(sorted(scan.added()), (std::vector<std::string>{"C:\\t\\sub", "C:\\t\\sub.tmp"}));
}

TEST_F(FilesScanTest, ListCountsAndTheirResetBetweenScans)
{
    makeTree();
    TFilesScanner scanner;
    scanner.ProcessMsg = false;
    scanner.ScanOptions = soSpecifiedDir;
    scanner.ScanDir = "C:\\t";
    scanner.FileMask = "*.tmp";
    std::vector<std::string> changed;
    scanner.OnChanged = [&](TFilesScan* sender, int count, std::int64_t size) {
        EXPECT_EQ(sender, &scanner);
        changed.push_back(std::to_string(count) + "/" + std::to_string(size));
    };
    scanner.Execute();
    ASSERT_EQ(scanner.FilesList().Count(), 6);
    // Records of one folder share one folder text.
    const TFilesList& list = scanner.FilesList();
    std::set<const std::string*> texts;
    for (int i = 0; i < list.Count(); ++i)
        texts.insert(&list.Items(i)->Path());
    EXPECT_EQ(texts.size(), 4u);

    scanner.setSorted(soBySize);
    EXPECT_EQ(list.Items(0)->Name(), "a.tmp");
    scanner.setSorted(soBySize);
    EXPECT_EQ(changed, (std::vector<std::string>{"6/12", "6/12", "6/12"}));

    // Counted but not recorded; the earlier records are gone.
    scanner.UpdateList = false;
    scanner.FileMask = "a*";
    scanner.Execute();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(changed.back(), "1/4");
    scanner.setSorted(soByName); // nothing to show
    EXPECT_EQ(changed.size(), 4u);

    // A second scan holds only its own records and counts from 0.
    scanner.UpdateList = true;
    scanner.FileMask = "*.tmp";
    scanner.Stop(); // before Execute: no effect
    scanner.Execute();
    EXPECT_EQ(list.Count(), 6);
    EXPECT_EQ(changed.back(), "6/12");

    // An invalid mask: nothing searched, no OnChanged, the list and counters empty.
    scanner.FileMask = "*.bak, [abc";
    std::vector<std::string> entered;
    scanner.OnProcess = [&](TFilesScan*, const std::string& Dir, int, std::int64_t) {
        entered.push_back(Dir);
    };
    EXPECT_THROW(scanner.Execute(), EMaskException);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(scanner.FilesCount(), 0);
    EXPECT_EQ(scanner.FilesSize(), 0);
    EXPECT_TRUE(entered.empty());
    EXPECT_EQ(changed.size(), 5u);
}

TEST_F(FilesScanTest, AnErrorFromAHandlerLeavesWithEverySearchClosed)
{
    makeTree();
    test::ScopedFake<test::WatchedFiles> files;
    LoggingScan scan;
    scan.ScanOptions = soSpecifiedDir;
    scan.ScanDir = "C:\\t";
    scan.OnProcess = [](TFilesScan*, const std::string& Dir, int, std::int64_t) {
        if (Dir == "C:\\t\\sub\\deeper")
            throw std::runtime_error("process");
    };
    EXPECT_THROW(scan.Execute(), std::runtime_error);
    EXPECT_EQ(files.open, 0);
    scan.OnProcess = nullptr;
    scan.throwOnAdd = true;
    EXPECT_THROW(scan.Execute(), std::runtime_error);
    EXPECT_EQ(files.open, 0);
    EXPECT_TRUE(scan.changed.empty());
}

TEST_F(FilesScanTest, FoldersThatCannotBeSearchedGiveNothingAndNoError)
{
    makeTree();
    test::ScopedFake<test::WatchedFiles> files;
    files.refused.insert("C:\\t\\sub\\*.*");
    LoggingScan scan;
    scan.FileMask = "*.tmp";
    scan.ScanOptions = soSpecifiedDir;
    scan.ScanDir = "C:\\t";
    // This one vanishes just before it is searched.
    scan.OnProcess = [&](TFilesScan*, const std::string& Dir, int, std::int64_t) {
        scan.log.push_back("P:" + Dir);
        if (Dir == "C:\\t\\sub.tmp")
            fs::remove_all(c + "/t/sub.tmp");
    };
    scan.Execute();
    EXPECT_EQ(sorted(scan.added()),
              (std::vector<std::string>{"C:\\t\\.hidden.tmp", "C:\\t\\a.tmp", "C:\\t\\ro.tmp"}));
    EXPECT_EQ(scan.entered().size(), 3u);
    EXPECT_EQ(scan.changed, std::vector<std::string>{"3/6"});
}

TEST_F(FilesScanTest, AFolderThatMayNotBeReadGivesNothing)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not keep root out of a folder";
    makeTree();
    ::chmod((c + "/t/sub").c_str(), 0);
    LoggingScan scan;
    scan.FileMask = "*.tmp";
    scan.ScanOptions = soSpecifiedDir;
    scan.ScanDir = "C:\\t";
    scan.Execute();
    ::chmod((c + "/t/sub").c_str(), 0755);
    EXPECT_EQ(scan.added().size(), 4u);
}

namespace {

// A mount point as the kernel lists it, on the folder's own mount.
std::string mountLine(int id, const std::string& folder)
{
    struct statx status = {};
    EXPECT_EQ(::statx(AT_FDCWD, fs::path(folder).parent_path().c_str(), 0, STATX_MNT_ID, &status),
              0);
    std::string escaped;
    for (const char ch : fs::canonical(folder).string()) {
        if (ch == ' ')
            escaped += "\\040";
        else
            escaped += ch;
    }
    return std::to_string(id) + " " + std::to_string(status.stx_mnt_id) + " 0:99 / " + escaped +
           " rw shared:1 - fuse.sshfs silent rw\n";
}

} // namespace

TEST_F(FilesScanTest, MountPointsAreNeverEnteredAlsoWhenMountedDuringTheScan)
{
    makeTree();
    write("t/sub/with space/e.tmp");
    const std::string before = mountLine(9001, c + "/t/sub.tmp");
    std::shared_ptr<const MountTable> changed =
        std::make_shared<MountTable>(MountTable::fromMountInfo(before));
    PosixFiles files([&changed] { return std::exchange(changed, nullptr); });
    ScopedService<FileService> scoped(files);
    LoggingScan scan;
    const auto logFolder = scan.OnProcess;
    // Mounted when the scan enters the folder that holds the mount point.
    scan.OnProcess = [&](TFilesScan* sender, const std::string& folder, int count,
                         std::int64_t size) {
        logFolder(sender, folder, count, size);
        if (folder == "C:\\t\\sub")
            changed = std::make_shared<MountTable>(
                MountTable::fromMountInfo(before + mountLine(9002, c + "/t/sub/with space")));
    };
    scan.FileMask = "*.tmp";
    scan.ScanOptions = soSpecifiedDir;
    scan.ScanDir = "C:\\t";
    scan.Execute();
    EXPECT_EQ(sorted(scan.entered()),
              (std::vector<std::string>{"C:\\t", "C:\\t\\sub", "C:\\t\\sub\\deeper"}));
    EXPECT_EQ(sorted(scan.added()),
              (std::vector<std::string>{"C:\\t\\.hidden.tmp", "C:\\t\\a.tmp", "C:\\t\\ro.tmp",
                                        "C:\\t\\sub\\b.tmp", "C:\\t\\sub\\deeper\\c.tmp"}));
}

TEST_F(FilesScanTest, NamesKeepTheirBytesAndSizesTheirHighBits)
{
    const std::string latin1 = "caf\xe9.tmp";
    const std::string utf8 = "\xc3\xa9t\xc3\xa9.TMP";
    write("n/" + latin1);
    write("n/\xff\xfe/" + utf8);
    write("n/back\\slash.tmp");
    // A sparse file of 3 GiB: more than the low 32 bits hold.
    const int big = ::open((c + "/n/big.tmp").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(big, 0);
    ASSERT_EQ(::ftruncate(big, 3LL << 30), 0);
    ::close(big);
    TFilesScanner scanner;
    scanner.ProcessMsg = false;
    scanner.ScanOptions = soSpecifiedDir;
    scanner.ScanDir = "C:\\n";
    scanner.FileMask = "*.tmp";
    scanner.Execute();
    std::vector<std::string> paths;
    for (int i = 0; i < scanner.FilesList().Count(); ++i) {
        const TFileObject* item = scanner.FilesList().Items(i);
        paths.push_back(item->Path() + item->Name());
        if (item->Name() == "big.tmp") {
            EXPECT_EQ(item->Size(), 3LL << 30);
        }
    }
    EXPECT_EQ(sorted(paths), (std::vector<std::string>{"C:\\n\\big.tmp", "C:\\n\\" + latin1,
                                                       "C:\\n\\\xff\xfe\\" + utf8}));
    EXPECT_EQ(scanner.FilesSize(), 3LL << 30);
}

TEST_F(FilesScanTest, StopUnderGlobalStillReportsTheLaterDrives)
{
    test::ScopedFake<test::FakeDrives> drives;
    const std::string root = sandbox.root();
    for (const char* name : {"a", "b", "c", "d", "e", "f", "g", "h"})
        test::Sandbox::writeFile(root + "/drive-" + name + "/x.tmp", "x");
    drives.map = {
        {'A', root + "/drive-a", DRIVE_REMOVABLE},   {'B', root + "/drive-b", DRIVE_UNKNOWN},
        {'C', root + "/drive-c", DRIVE_FIXED},       {'D', root + "/drive-d", DRIVE_REMOTE},
        {'E', root + "/drive-e", DRIVE_CDROM},       {'F', root + "/drive-f", DRIVE_RAMDISK},
        {'G', root + "/drive-g", DRIVE_NO_ROOT_DIR}, {'H', root + "/drive-h", DRIVE_FIXED}};
    LoggingScan scan;
    scan.FileMask = "*.tmp";
    scan.Execute();
    EXPECT_EQ(scan.entered(), (std::vector<std::string>{"C:", "D:", "E:", "F:", "H:"}));
    EXPECT_EQ(scan.added(), (std::vector<std::string>{"C:\\x.tmp", "D:\\x.tmp", "E:\\x.tmp",
                                                      "F:\\x.tmp", "H:\\x.tmp"}));

    scan.log.clear();
    scan.changed.clear();
    scan.OnProcess = [&](TFilesScan* sender, const std::string& Dir, int, std::int64_t) {
        scan.log.push_back("P:" + Dir);
        sender->Stop();
    };
    scan.Execute();
    EXPECT_EQ(scan.log, (std::vector<std::string>{"P:C:", "P:D:", "P:E:", "P:F:", "P:H:"}));
    EXPECT_EQ(scan.changed, std::vector<std::string>{"0/0"});
}

TEST_F(FilesScanTest, AStopQueuedForTheMessageLoopEndsTheScan)
{
    for (int i = 0; i < 1000; ++i)
        write("many/f" + std::to_string(i) + ".tmp", "x");
    TFilesScanner scanner;
    scanner.ScanOptions = soSpecifiedDir;
    scanner.ScanDir = "C:\\many";
    int changed = -1;
    scanner.OnChanged = [&](TFilesScan*, int count, std::int64_t) { changed = count; };
    QTimer::singleShot(0, [&scanner] { scanner.Stop(); });
    scanner.Execute();
    EXPECT_GE(changed, 0);
    EXPECT_LT(changed, 1000);
    EXPECT_EQ(scanner.FilesList().Count(), changed);

    // Without the pump the same request waits until the scan is over.
    scanner.ProcessMsg = false;
    bool stopped = false;
    QTimer::singleShot(0, [&] {
        scanner.Stop();
        stopped = true;
    });
    scanner.Execute();
    EXPECT_EQ(changed, 1000);
    QCoreApplication::processEvents();
    EXPECT_TRUE(stopped);
}

TEST_F(FilesScanTest, TheSizeTotalWrapsInsteadOfOverflowing)
{
    // Sparse files this large are possible on a RAM disk.
    const std::uint64_t huge = (1ULL << 62) + 5;
    test::ScopedFake<test::SizedFiles> files({huge, huge, 7});
    TFilesScanner scanner;
    scanner.ProcessMsg = false;
    scanner.Recursive = false;
    scanner.ScanOptions = soSpecifiedDir;
    scanner.ScanDir = "C:\\";
    scanner.FileMask = "*.tmp";
    scanner.Execute();
    EXPECT_EQ(scanner.FilesCount(), 3);
    EXPECT_EQ(static_cast<std::uint64_t>(scanner.FilesSize()), 2 * huge + 7);
    ASSERT_EQ(scanner.FilesList().Count(), 3);
    EXPECT_EQ(static_cast<std::uint64_t>(scanner.FilesList().Items(1)->Size()), huge);
}

// Skips the folder "skip", refuses the name "named.tmp" and entries of 3 bytes.
class RecordingFilter : public TScanFilter
{
public:
    bool SkipsFolder(const std::string& Folder, const std::string& Name) override
    {
        asked.push_back(TFilesScan::JoinPath(Folder, Name));
        return Name == "skip";
    }
    bool RefusesName(const std::string&, const std::string& Name) override
    {
        return Name == "named.tmp";
    }
    bool RefusesEntry(const WIN32_FIND_DATAA& Entry) override { return Entry.nFileSize == 3; }
    std::vector<std::string> asked;
};

TEST_F(FilesScanTest, AFilterKeepsFoldersUnenteredAndEntriesUnaccepted)
{
    for (const char* file :
         {"t/a.tmp", "t/named.tmp", "t/big.tmp", "t/skip/in.tmp", "t/skip.tmp/in.tmp"})
        write(file, file[2] == 'b' ? "bbb" : "x");
    RecordingFilter filter;
    LoggingScan scan;
    scan.Attributes = {};
    scan.Filter = &filter;
    scan.ScanOptions = soSpecifiedDir;
    scan.ScanDir = "C:\\t";
    scan.Execute();
    EXPECT_EQ(sorted(scan.entered()), (std::vector<std::string>{"C:\\t", "C:\\t\\skip.tmp"}));
    // Only folders are asked whether they are skipped, each once; a skipped one is no entry.
    EXPECT_EQ(sorted(filter.asked), (std::vector<std::string>{"C:\\t\\skip", "C:\\t\\skip.tmp"}));
    EXPECT_EQ(sorted(scan.added()), (std::vector<std::string>{"C:\\t\\a.tmp", "C:\\t\\skip.tmp",
                                                              "C:\\t\\skip.tmp\\in.tmp"}));
}
