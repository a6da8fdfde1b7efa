#include "platform/collection/CollectionRules.h"
#include "support/Sandbox.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>

using namespace platform;
namespace fs = std::filesystem;
using Reach = CollectionRules::Reach;

namespace {

// C: is the home folder, as by default; the temporary folder lies beside it.
class CollectionRulesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sandbox.setDrives("C:=" + sandbox.home() + "@fixed;T:=" + sandbox.tmp() + "@fixed");
        sandbox.setEnv("VORLAX_WINDIR", sandbox.configHome() + "/vorlax");
        sandbox.setEnv("VORLAX_TMPFILES_PATH", sandbox.root() + "/tmpfiles.d");
        for (const char* folder : {".ssh", ".config/vorlax", ".config/autostart", "docs/.ssh"})
            fs::create_directories(sandbox.home() + "/" + folder);
    }
    static FILETIME ago(std::int64_t seconds)
    {
        return fileTimeFromUnix(std::time(nullptr) - seconds, 0);
    }

    test::Sandbox sandbox;
};

} // namespace

TEST_F(CollectionRulesTest, EveryStageLeavesVersionControlSecretsAndItsOwnFolders)
{
    for (const Reach reach : {Reach::Masks, Reach::WholeFolder}) {
        CollectionRules rules(reach, "C:\\");
        for (const char* name : {".git", ".hg", ".svn", ".bzr", "_darcs", ".ssh"})
            EXPECT_TRUE(rules.skipsFolder("C:", name)) << name;
        EXPECT_TRUE(rules.skipsFolder("C:\\.config", "vorlax"));
        EXPECT_TRUE(rules.skipsFolder("C:\\.config", "autostart"));
        // The same name somewhere else is just a folder.
        EXPECT_FALSE(rules.skipsFolder("C:\\docs", ".ssh"));
        EXPECT_FALSE(rules.skipsFolder("C:", "docs"));
        EXPECT_TRUE(rules.keepsByName("C:\\worktree", ".git"));
        EXPECT_FALSE(rules.keepsByName("C:\\docs", "old.bak"));
        EXPECT_FALSE(rules.keepsEverything());
    }
    // Searched from inside one of them, nothing is taken.
    EXPECT_TRUE(CollectionRules(Reach::WholeFolder, "C:\\.ssh\\").keepsEverything());
    fs::create_directories(sandbox.home() + "/project/.git/refs");
    EXPECT_TRUE(CollectionRules(Reach::Masks, "C:\\project\\.git\\refs").keepsEverything());
}

TEST_F(CollectionRulesTest, OnlyAFolderEmptiedWholeKeepsWhatWasUsedWithinADay)
{
    CollectionRules masks(Reach::Masks, "T:\\");
    CollectionRules whole(Reach::WholeFolder, "T:\\");
    const struct
    {
        std::int64_t accessed; // seconds ago
        std::int64_t modified;
        bool kept;
    } rows[] = {
        {2 * 86400, 3 * 86400, false}, {86400 + 60, 86400 + 60, false}, {3600, 3 * 86400, true},
        {3 * 86400, 3600, true},       {3 * 86400, -3600, true}, // a time still to come
    };
    for (const auto& row : rows) {
        WIN32_FIND_DATAA entry;
        entry.ftLastAccessTime = ago(row.accessed);
        entry.ftLastWriteTime = ago(row.modified);
        EXPECT_EQ(whole.keepsByDetails(entry), row.kept) << row.accessed << " " << row.modified;
        EXPECT_FALSE(masks.keepsByDetails(entry));
    }
}

TEST_F(CollectionRulesTest, TmpfilesExclusionsKeepPathsAndXKeepsTheirContents)
{
    const std::string t = sandbox.tmp();
    test::Sandbox::writeFile(sandbox.root() + "/tmpfiles.d/keep.conf",
                             "x " + t + "/app-*\nX " + t + "/pinned\nx /elsewhere\n");
    CollectionRules rules(Reach::WholeFolder, "T:\\");
    EXPECT_TRUE(rules.skipsFolder("T:", "app-1"));
    EXPECT_TRUE(rules.keepsByName("T:", "app-2.sock"));
    EXPECT_FALSE(rules.skipsFolder("T:\\sub", "app-1"));
    // X: the folder itself stays, what is inside it may go.
    EXPECT_FALSE(rules.skipsFolder("T:", "pinned"));
    EXPECT_TRUE(rules.keepsByName("T:", "pinned"));
    EXPECT_FALSE(rules.keepsByName("T:\\pinned", "inside"));
    EXPECT_FALSE(CollectionRules(Reach::Masks, "T:\\").keepsByName("T:", "app-2.sock"));

    // An x line for the folder or one above it keeps it all.
    test::Sandbox::writeFile(sandbox.root() + "/tmpfiles.d/all.conf", "x " + sandbox.root() + "\n");
    EXPECT_TRUE(CollectionRules(Reach::WholeFolder, "T:\\").keepsEverything());
}
