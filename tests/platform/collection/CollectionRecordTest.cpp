#include "platform/collection/CollectionRecord.h"
#include "platform/collection/CollectionUndo.h"
#include "platform/shell/Trash.h"
#include "support/Sandbox.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

class CollectionRecordTest : public ::testing::Test
{
protected:
    std::string file(const std::string& name, const std::string& content = "rubbish")
    {
        const std::string path = fs::canonical(sandbox.driveC()).string() + "/" + name;
        test::Sandbox::writeFile(path, content);
        return path;
    }
    std::vector<std::string> records() const
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(collectionsFolder(), ec))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::Sandbox sandbox;
};

} // namespace

TEST_F(CollectionRecordTest, ARunThatMovesNothingLeavesNoRecordAndTheOldestGoFirst)
{
    {
        CollectionRecorder recorder;
    }
    EXPECT_TRUE(records().empty());

    fs::create_directories(collectionsFolder());
    for (int k = 0; k < RecordsKept; ++k)
        test::Sandbox::writeFile(collectionsFolder() + "/" + std::string(11, '0') +
                                     std::to_string(k % 10) + "-" + std::to_string(k) + ".record",
                                 "vorlax collection record 1\t" + std::to_string(k) + "\n");
    const std::string moved = file("old.tmp");
    std::optional<CollectionRecorder> recorder(std::in_place);
    ASSERT_FALSE(moveToTrash(moved));
    const auto names = records();
    ASSERT_EQ(names.size(), static_cast<std::size_t>(RecordsKept));
    EXPECT_EQ(names.front(), "000000000000-10.record"); // "-0" went, the oldest
    const std::string path = recorder->path();
    EXPECT_EQ(collectionsFolder() + "/" + names.back(), path);

    // While the run lives the line after its last move waits; the entry in the trash tells.
    auto record = readRecord(path);
    ASSERT_TRUE(record);
    ASSERT_EQ(record->files.size(), 1u);
    EXPECT_EQ(record->files[0].entry.original, moved);
    EXPECT_EQ(whereabouts(record->files[0]), Whereabouts::InTrash);
    EXPECT_TRUE(movedByRun(record->files[0], Whereabouts::InTrash));
    recorder.reset();
    record = readRecord(path);
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->files[0].moved);
}

// Only the entry the run made goes back, and only to the place its information names.
TEST_F(CollectionRecordTest, AnEntryNoLongerTheRunsStaysInTheTrash)
{
    const std::string swapped = file("swapped.tmp");
    const std::string renamed = file("renamed.tmp");
    const std::string fine = file("fine.tmp");
    std::string path;
    {
        CollectionRecorder recorder;
        for (const auto& each : {swapped, renamed, fine})
            ASSERT_FALSE(moveToTrash(each));
        path = recorder.path();
    }
    const std::string trash = homeTrashFolder();
    // Kept elsewhere, so that its inode number is not given to the one swapped in.
    fs::rename(trash + "/files/swapped.tmp", sandbox.root() + "/aside");
    test::Sandbox::writeFile(trash + "/files/swapped.tmp", "someone else's");
    test::Sandbox::writeFile(trash + "/info/renamed.tmp.trashinfo",
                             "[Trash Info]\nPath=/elsewhere\nDeletionDate=2026-01-01T00:00:00\n");

    const auto record = readRecord(path);
    ASSERT_TRUE(record);
    const UndoOutcome outcome = undoCollection(*record);
    EXPECT_EQ(outcome.putBack, std::vector<std::string>{fine});
    ASSERT_EQ(outcome.left.size(), 2u);
    EXPECT_EQ(outcome.left[0].first, swapped);
    EXPECT_NE(outcome.left[0].second.find("no longer in the trash"), std::string::npos);
    EXPECT_EQ(outcome.left[1].first, renamed);
    EXPECT_NE(outcome.left[1].second.find("no longer names"), std::string::npos);
    EXPECT_FALSE(fs::exists(swapped));
    EXPECT_FALSE(fs::exists(renamed));
    EXPECT_EQ(test::Sandbox::readFile(fine), "rubbish");
    EXPECT_FALSE(fs::exists(trash + "/info/fine.tmp.trashinfo"));

    // Put back, it is kept aside while it is the same file.
    const auto kept = keptAsideFiles();
    EXPECT_TRUE(kept->keeps(fine, "fine.tmp"));
    test::Sandbox::writeFile(fine, "changed");
    struct stat status = {};
    ::lstat(fine.c_str(), &status);
    const timespec later[2] = {{0, UTIME_OMIT}, {status.st_mtim.tv_sec + 5, 0}};
    ::utimensat(AT_FDCWD, fine.c_str(), later, 0);
    EXPECT_FALSE(keptAsideFiles()->keeps(fine, "fine.tmp"));
}

// An undo killed after a copy back was put in place leaves the entry beside it: the next
// undo removes the entry only while the file at the place is the copy it noted, and takes
// the temporary of a copy killed halfway.
TEST_F(CollectionRecordTest, AKilledCopyBackIsFinishedOnlyForTheCopyItNoted)
{
    const std::string copied = file("copied.tmp", "copied back");
    const std::string replaced = file("replaced.tmp", "was copied back");
    std::string path;
    {
        CollectionRecorder recorder;
        for (const auto& each : {copied, replaced})
            ASSERT_FALSE(moveToTrash(each));
        path = recorder.path();
    }
    const std::string trash = homeTrashFolder();
    auto record = readRecord(path);
    ASSERT_TRUE(record);
    for (const RecordedFile& each : record->files) {
        const std::string name = fs::path(each.entry.original).filename().string();
        fs::copy_file(trash + "/files/" + name, each.entry.original);
        struct stat status = {};
        ASSERT_EQ(::lstat(each.entry.original.c_str(), &status), 0);
        ASSERT_TRUE(notePutBack(path, each.index, identityOf(status)));
    }
    // Another file in place of the copy noted: its entry stays.
    test::Sandbox::writeFile(replaced + ".new", "someone's own");
    fs::rename(replaced + ".new", replaced);
    const std::string temporary =
        fs::path(copied).parent_path().string() + "/.vorlax-back-copied.tmp";
    test::Sandbox::writeFile(temporary, "half");

    record = readRecord(path);
    ASSERT_TRUE(record);
    const UndoOutcome outcome = undoCollection(*record);
    EXPECT_EQ(outcome.alreadyBack, 1);
    EXPECT_EQ(test::Sandbox::readFile(copied), "copied back");
    EXPECT_FALSE(fs::exists(trash + "/files/copied.tmp"));
    EXPECT_FALSE(fs::exists(trash + "/info/copied.tmp.trashinfo"));
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_EQ(test::Sandbox::readFile(replaced), "someone's own");
    EXPECT_EQ(test::Sandbox::readFile(trash + "/files/replaced.tmp"), "was copied back");
    EXPECT_TRUE(fs::exists(trash + "/info/replaced.tmp.trashinfo"));
}
