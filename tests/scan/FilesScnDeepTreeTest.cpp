#include "scan/FilesScn.h"

#include "platform/Files.h"
#include "platform/PosixFiles.h"
#include "platform/Service.h"
#include "support/Sandbox.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;

namespace {

constexpr int Levels = 150;
// 150 levels of 40-byte names make a path well beyond PATH_MAX.
const std::string LevelName(40, 'n');

// Builds the levels one below the other, each with one file, relative to the level
// above, as no path reaches the bottom.
void buildDeepTree(const std::string& top)
{
    ::mkdir(top.c_str(), 0755);
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int level = 0; level < Levels; ++level) {
        const std::string file = "f" + std::to_string(level) + ".txt";
        const int out = ::openat(fd, file.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(out, 0);
        ::close(out);
        ASSERT_EQ(::mkdirat(fd, LevelName.c_str(), 0755), 0);
        const int inner = ::openat(fd, LevelName.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(inner, 0);
        fd = inner;
    }
    ::close(fd);
}

// Removes a tree whose paths are too long for path calls.
void removeTree(int parent, const char* name)
{
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        ::unlinkat(parent, name, 0);
        return;
    }
    DIR* dir = ::fdopendir(fd);
    std::vector<std::pair<std::string, bool>> entries;
    while (dirent* entry = ::readdir(dir)) {
        const std::string entryName = entry->d_name;
        if (entryName != "." && entryName != "..")
            entries.emplace_back(entryName, entry->d_type == DT_DIR);
    }
    for (const auto& [entryName, isDir] : entries) {
        if (isDir)
            removeTree(fd, entryName.c_str());
        else
            ::unlinkat(fd, entryName.c_str(), 0);
    }
    ::closedir(dir);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

// The whole tree with the window's settings; the longest folder text seen.
struct Scanned
{
    int folders = 0;
    int files = 0;
    std::size_t longest = 0;
};

Scanned scanDeep()
{
    Scanned scanned;
    TFilesScanner scanner;
    scanner.ProcessMsg = false;
    scanner.ScanOptions = soSpecifiedDir;
    scanner.ScanDir = "C:\\deep";
    scanner.FileMask = "*.txt";
    scanner.OnProcess = [&scanned](TFilesScan*, const std::string& Dir, int, std::int64_t) {
        ++scanned.folders;
        scanned.longest = std::max(scanned.longest, Dir.size());
    };
    scanner.Execute();
    scanned.files = scanner.FilesList().Count();
    return scanned;
}

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
    void SetUp() override { buildDeepTree(sandbox.driveC() + "/deep"); }
    void TearDown() override
    {
        const int c = ::open(sandbox.driveC().c_str(), O_RDONLY | O_DIRECTORY);
        removeTree(c, "deep");
        ::close(c);
    }

    test::Sandbox sandbox;
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
