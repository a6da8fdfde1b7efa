#include "platform/files/PathWalk.h"
#include "platform/shell/Trash.h"
#include "support/ShellFixture.h"

#include <dirent.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

class PathWalk : public test::ShellFixture
{
protected:
    // Device and inode of the folder a walk reached, and the path it resolved.
    static std::pair<std::pair<dev_t, ino_t>, std::string> reached(int folder,
                                                                   const std::string& resolved)
    {
        struct stat status = {};
        EXPECT_EQ(::fstat(folder, &status), 0);
        return {{status.st_dev, status.st_ino}, resolved};
    }

    static int openDescriptors()
    {
        int count = 0;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
            (void)entry;
            ++count;
        }
        return count;
    }
};

} // namespace

// A kept walk that starts from what the last one left open reaches what a walk from "/"
// reaches, whichever way the paths go from one to the next.
TEST_F(PathWalk, AKeptWalkReachesWhatAWalkFromTheTopReaches)
{
    for (const char* folder : {"a/b/c", "a/b/d", "a/e", "f", "a/b/c/g"})
        fs::create_directories(c(folder));
    fs::create_directory_symlink(c("a/b"), c("link"));
    const char* paths[] = {"a/b/c/x",  "a/b/c/y", "a/b/d/x", "a/x",   "a/b/c/g/x", "f/x",
                           "link/c/x", "a/b/c/x", "x",       "a/e/x", "a/b/../e/x"};
    const KeptWalk walk;
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        FileFailure failure;
        const auto kept = walkToParent(c(path), failure);
        const auto fresh = openParent(c(path), failure);
        ASSERT_TRUE(kept && fresh) << failure.reason;
        EXPECT_EQ(kept->name, fresh->name);
        EXPECT_EQ(reached(kept->folder.get(), kept->folder.resolvedPath),
                  reached(fresh->folder.get(), fresh->resolvedPath));
    }
}

// Whatever a run kept open goes when it ends, the descriptors of its info files too.
TEST_F(PathWalk, ARunLeavesNoDescriptorOpen)
{
    for (int k = 0; k < 150; ++k)
        test::Sandbox::writeFile(
            c("dir" + std::to_string(k % 7) + "/" + std::to_string(k) + ".tmp"), "x");
    moveToTrash(c("dir0/0.tmp")); // the home trash made, and kept, outside the count
    const int before = openDescriptors();
    {
        const KeptWalk walk;
        for (int k = 1; k < 150; ++k) {
            const std::string path =
                c("dir" + std::to_string(k % 7) + "/" + std::to_string(k) + ".tmp");
            ASSERT_TRUE(lookAt(path));
            ASSERT_FALSE(moveToTrash(path));
        }
    }
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(
        std::distance(fs::directory_iterator(homeTrash() + "/info"), fs::directory_iterator()),
        150);
}
