#include "platform/core/Descriptor.h"

#include "support/Sandbox.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

int openDescriptors()
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

} // namespace

// The copy a listing reads through is closed again, also when the descriptor it was made
// from is no folder and the listing cannot start.
TEST(FolderEntries, TheCopyItReadsThroughIsClosedWhetherOrNotTheListingStarts)
{
    test::Sandbox sandbox;
    test::Sandbox::writeFile(sandbox.root() + "/folder/entry", "");
    const struct
    {
        std::string path;
        bool valid;
        int error;
    } cases[] = {
        {sandbox.root() + "/folder", true, 0},
        {sandbox.root() + "/folder/entry", false, ENOTDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const OwnedFd fd(::open(c.path.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(fd.valid());
        const int before = openDescriptors();
        {
            errno = 0;
            FolderEntries entries(fd.get());
            ASSERT_EQ(entries.valid(), c.valid);
            if (c.valid) {
                const dirent* entry = entries.next();
                ASSERT_NE(entry, nullptr);
                EXPECT_STREQ(entry->d_name, "entry");
                EXPECT_EQ(entries.next(), nullptr);
            } else {
                EXPECT_EQ(errno, c.error);
            }
        }
        EXPECT_EQ(openDescriptors(), before);
    }
}
