#include "scan/FilesScn.h"

#include "platform/core/Service.h"
#include "platform/files/Files.h"
#include "platform/files/PosixFiles.h"
#include "support/FakeFiles.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

using namespace platform;

namespace {

constexpr int Levels = 150;
// 150 levels of 40-byte names make a path well beyond PATH_MAX.
const std::string LevelName(40, 'n');
// One call per level, as the scanner once made at some 300 bytes of stack each, would
// need more than the 8 MB stack a process starts with.
constexpr int StackLevels = 40000;

// Builds the levels one below the other, each with one file, relative to the level
// above, as no path reaches the bottom.
void buildDeepTree(const std::string& top, int levels, const std::string& name)
{
    ::mkdir(top.c_str(), 0755);
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int level = 0; level < levels; ++level) {
        const std::string file = "f" + std::to_string(level) + ".txt";
        const int out = ::openat(fd, file.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(out, 0);
        ::close(out);
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        const int inner = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(inner, 0);
        fd = inner;
    }
    ::close(fd);
}

// Empties the open folder of everything but folders; the name of one folder left, or
// nothing.
std::string removeFilesOf(int folder)
{
    DIR* dir = ::fdopendir(::openat(folder, ".", O_RDONLY | O_DIRECTORY));
    if (!dir)
        return {};
    std::string sub;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && ::unlinkat(folder, name.c_str(), 0) != 0 &&
            errno == EISDIR && sub.empty())
            sub = name;
    }
    ::closedir(dir);
    return sub;
}

// Removes a tree whose paths are too long for path calls and which is too deep for a call
// per level: one folder open at a time, and back up through "..".
void removeTree(int parent, const char* name)
{
    int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        ::unlinkat(parent, name, 0);
        return;
    }
    std::vector<std::string> below;
    for (;;) {
        std::string sub = removeFilesOf(fd);
        const int inner =
            sub.empty() ? -1 : ::openat(fd, sub.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (inner >= 0) {
            ::close(fd);
            fd = inner;
            below.push_back(std::move(sub));
            continue;
        }
        if (below.empty())
            break;
        const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = up;
        // What cannot be removed stays for the sandbox to try.
        if (fd < 0 || ::unlinkat(fd, below.back().c_str(), AT_REMOVEDIR) != 0)
            break;
        below.pop_back();
    }
    if (fd >= 0)
        ::close(fd);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

void removeTree(const std::string& parent, const char* name)
{
    const int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY);
    removeTree(fd, name);
    ::close(fd);
}

bool inMemory(const std::string& folder)
{
    struct statfs status = {};
    return ::statfs(folder.c_str(), &status) == 0 && status.f_type == TMPFS_MAGIC;
}

// A folder for a tree of tens of thousands of levels: the sandbox's when it lies in
// memory, else one of its own in /dev/shm, removed with all it holds, as a disk may take
// milliseconds to remove each level.
class MemoryFolder
{
public:
    explicit MemoryFolder(const std::string& sandboxFolder) : m_path(sandboxFolder)
    {
        std::string own = "/dev/shm/vorlax-test-XXXXXX";
        if (!inMemory(m_path) && inMemory("/dev/shm") && ::mkdtemp(own.data()))
            m_path = m_own = own;
    }
    ~MemoryFolder()
    {
        if (!m_own.empty())
            removeTree("/dev/shm", m_own.c_str() + m_own.rfind('/') + 1);
    }
    MemoryFolder(const MemoryFolder&) = delete;
    MemoryFolder& operator=(const MemoryFolder&) = delete;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    std::string m_own;
};

// What a scan of the tree saw; the longest folder text.
struct Scanned
{
    int folders = 0;
    int files = 0;
    std::size_t longest = 0;
};

// The tree with the window's settings.
Scanned scanDeep(TFilesScan& scanner)
{
    Scanned scanned;
    scanner.ProcessMsg = false;
    scanner.ScanOptions = soSpecifiedDir;
    scanner.ScanDir = "C:\\deep";
    scanner.FileMask = "*.txt";
    scanner.OnProcess = [&scanned](TFilesScan*, const std::string& Dir, int, std::int64_t) {
        ++scanned.folders;
        scanned.longest = std::max(scanned.longest, Dir.size());
    };
    scanner.Execute();
    scanned.files = scanner.FilesCount();
    return scanned;
}

Scanned scanDeep()
{
    TFilesScanner scanner;
    Scanned scanned = scanDeep(scanner);
    scanned.files = scanner.FilesList().Count();
    return scanned;
}

// Keeps the folder of one file rather than a record of each, which on a chain this deep
// would hold a path per level.
class FolderOfFile : public TFilesScan
{
public:
    explicit FolderOfFile(std::string name) : m_name(std::move(name)) {}

    std::string folder;

protected:
    void AddFile(const std::string& Folder, const TSearchRec& Entry) override
    {
        if (Entry.Name == m_name)
            folder = Folder;
    }

private:
    std::string m_name;
};

// An open-file limit that leaves only a few descriptors free.
rlim_t tightLimit()
{
    std::set<int> open;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        open.insert(std::atoi(entry.path().filename().c_str()));
    int free = 0;
    int limit = 0;
    while (free < 6) {
        if (!open.count(limit))
            ++free;
        ++limit;
    }
    return static_cast<rlim_t>(limit);
}

class DeepTree : public ::testing::Test
{
protected:
    void SetUp() override { buildDeepTree(sandbox.driveC() + "/deep", Levels, LevelName); }
    void TearDown() override { removeTree(sandbox.driveC(), "deep"); }

    test::Sandbox sandbox;
};

class RealTreeDeeperThanTheStack : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sandbox.setDrives("C:=" + place.path() + "@fixed");
        buildDeepTree(place.path() + "/deep", StackLevels, "d");
    }
    void TearDown() override { removeTree(place.path(), "deep"); }

    test::Sandbox sandbox;
    MemoryFolder place{sandbox.driveC()};
};

} // namespace

TEST_F(DeepTree, IsSearchedWholeWithTwoFolderDescriptors)
{
    PosixFiles files;
    files.setOpenFolderBudget(2);
    ScopedService<FileService> scoped(files);
    const Scanned scanned = scanDeep();
    EXPECT_EQ(scanned.folders, Levels + 1);
    EXPECT_EQ(scanned.files, Levels);
    EXPECT_GT(scanned.longest, static_cast<std::size_t>(PATH_MAX));
    EXPECT_EQ(files.openFolderCount(), 0u);

    // The bottom folder named by its whole path is found too.
    std::string bottom = "C:\\deep";
    for (int level = 0; level < Levels; ++level)
        bottom += "\\" + LevelName;
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(bottom + "\\*", data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::string(data.cFileName), ".");
    FindClose(handle);
}

TEST_F(DeepTree, IsSearchedWholeBelowTheOpenFileLimit)
{
    const rlim_t limit = tightLimit();
    ASSERT_LT(limit, static_cast<rlim_t>(Levels));
    auto scanLimited = [limit] {
        const rlimit lowered{limit, limit};
        if (::setrlimit(RLIMIT_NOFILE, &lowered) != 0)
            std::_Exit(3);
        PosixFiles files;
        ScopedService<FileService> scoped(files);
        const Scanned scanned = scanDeep();
        std::_Exit(scanned.folders == Levels + 1 && scanned.files == Levels ? 0 : 1);
    };
    EXPECT_EXIT(scanLimited(), ::testing::ExitedWithCode(0), "");
}

TEST_F(DeepTree, IsSearchedWholeWhenDescriptorsRunOut)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' own checks fail once no descriptor is free";
#endif
    // The search service was made with a budget of 64 folders under a higher limit.
    PosixFiles files;
    ScopedService<FileService> scoped(files);
    const rlim_t limit = tightLimit();
    auto scanLimited = [limit] {
        const rlimit lowered{limit, limit};
        if (::setrlimit(RLIMIT_NOFILE, &lowered) != 0)
            std::_Exit(3);
        const Scanned scanned = scanDeep();
        std::_Exit(scanned.folders == Levels + 1 && scanned.files == Levels ? 0 : 1);
    };
    EXPECT_EXIT(scanLimited(), ::testing::ExitedWithCode(0), "");
}

TEST(DeeperThanTheStack, IsSearchedWholeToTheDeepestFile)
{
    // One call per level would need far more than the 8 MB stack a process starts with.
    constexpr int Depth = 100000;
    test::ScopedFake<test::FolderChain> chain(Depth);
    FolderOfFile scanner("f" + std::to_string(Depth) + ".txt");
    const Scanned scanned = scanDeep(scanner);
    EXPECT_EQ(scanned.folders, Depth + 1);
    EXPECT_EQ(scanned.files, Depth + 1);
    std::string bottom = "C:\\deep";
    for (int level = 0; level < Depth; ++level)
        bottom += "\\d";
    EXPECT_EQ(scanner.folder.size(), bottom.size());
    EXPECT_TRUE(scanner.folder == bottom);
    EXPECT_EQ(chain.open, 0);
}

TEST_F(RealTreeDeeperThanTheStack, IsSearchedWholeToTheDeepestFile)
{
    PosixFiles files;
    ScopedService<FileService> scoped(files);
    FolderOfFile scanner("f" + std::to_string(StackLevels - 1) + ".txt");
    const Scanned scanned = scanDeep(scanner);
    EXPECT_EQ(scanned.folders, StackLevels + 1);
    EXPECT_EQ(scanned.files, StackLevels);
    // The last file lies one level above the empty bottom folder.
    std::string bottom = "C:\\deep";
    for (int level = 1; level < StackLevels; ++level)
        bottom += "\\d";
    EXPECT_EQ(scanner.folder.size(), bottom.size());
    EXPECT_TRUE(scanner.folder == bottom);
    EXPECT_EQ(files.openFolderCount(), 0u);
}
