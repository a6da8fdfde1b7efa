#include "support/ShellFixture.h"

#include <vector>

using namespace platform;
using namespace std::string_literals;

namespace {

class ShellProgress : public test::ShellFixture
{
};

} // namespace

// Each entry is told before it is handled, a wildcard's matches one by one, and an entry
// that fails is told as well: a caption then shows what the request is working on.
TEST_F(ShellProgress, EveryEntryIsToldBeforeItIsHandled)
{
    for (const char* name : {"w/a.tmp", "w/b.tmp", "w/keep.txt", "w/x.bak"})
        test::Sandbox::writeFile(c(name), name);
    SHFILEOPSTRUCTA operation;
    operation.wFunc = FO_DELETE;
    operation.pFrom = "C:\\w\\x.bak\0C:\\w\\*.tmp\0C:\\w\\gone.bak\0\0"s;
    operation.fFlags = FOF_NOCONFIRMATION | FOF_ALLOWUNDO;
    std::vector<std::pair<std::string, bool>> told;
    operation.progress = [&](const std::string& path) {
        std::string native = path.substr(2);
        for (char& ch : native)
            ch = ch == '\\' ? '/' : ch;
        told.emplace_back(path, test::Sandbox::exists(sandbox.driveC() + native));
    };
    EXPECT_NE(SHFileOperationA(operation), 0);

    ASSERT_EQ(told.size(), 4u);
    EXPECT_EQ(told[0], std::make_pair("C:\\w\\x.bak"s, true));
    // Matches come in the folder's order; both are there still when told.
    EXPECT_TRUE((told[1].first == "C:\\w\\a.tmp" && told[2].first == "C:\\w\\b.tmp") ||
                (told[1].first == "C:\\w\\b.tmp" && told[2].first == "C:\\w\\a.tmp"));
    EXPECT_TRUE(told[1].second && told[2].second);
    EXPECT_EQ(told[3], std::make_pair("C:\\w\\gone.bak"s, false));
    EXPECT_TRUE(test::Sandbox::exists(c("w/keep.txt")));
    EXPECT_FALSE(test::Sandbox::exists(c("w/a.tmp")));
}
