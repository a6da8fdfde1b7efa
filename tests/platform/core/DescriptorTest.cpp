#include "platform/core/Descriptor.h"

#include "support/Sandbox.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>

using namespace platform;

namespace {

// The descriptor the next open gets: any copy still open keeps it from being the same.
int nextDescriptor(int from)
{
    return OwnedFd(::fcntl(from, F_DUPFD_CLOEXEC, 0)).get();
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
    } cases[] = {
        {sandbox.root() + "/folder", true},
        {sandbox.root() + "/folder/entry", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const OwnedFd fd(::open(c.path.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(fd.valid());
        const int next = nextDescriptor(fd.get());
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
                EXPECT_EQ(errno, ENOTDIR);
            }
        }
        EXPECT_EQ(nextDescriptor(fd.get()), next);
    }
}
