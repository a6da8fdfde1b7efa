#include "scan/FileOp.h"

#include "platform/core/Service.h"
#include "support/FakeShell.h"
#include "support/ScopedFake.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

using FileOpTest = test::FakeFixture<test::FakeShell>;

TEST_F(FileOpTest, ListsAreSplitAtSemicolonsAndClosedByTwoNuls)
{
    const struct
    {
        std::string from;
        std::string sent;
        std::vector<std::string> paths;
    } cases[] = {
        {"C:\\a.tmp", "C:\\a.tmp\0\0"s, {"C:\\a.tmp"}},
        {"C:\\a.tmp;C:\\b.tmp", "C:\\a.tmp\0C:\\b.tmp\0\0"s, {"C:\\a.tmp", "C:\\b.tmp"}},
        {"C:\\a ; C:\\b", "C:\\a \0 C:\\b\0\0"s, {"C:\\a ", " C:\\b"}},
        {";C:\\a.tmp", "\0C:\\a.tmp\0\0"s, {}},
        {"C:\\a;;C:\\b", "C:\\a\0\0C:\\b\0\0"s, {"C:\\a"}},
        {"", "\0\0"s, {}},
    };
    TFileOperation operation;
    for (const auto& row : cases) {
        fake.requests.clear();
        operation.setFilesFrom(row.from);
        operation.setFilesTo(row.from);
        EXPECT_TRUE(operation.Execute());
        ASSERT_EQ(fake.requests.size(), 1u);
        EXPECT_EQ(fake.requests[0].pFrom, row.sent) << row.from;
        EXPECT_EQ(fake.requests[0].pTo, row.sent) << row.from;
        EXPECT_EQ(test::FakeShell::entries(fake.requests[0].pFrom), row.paths) << row.from;
    }
}

TEST_F(FileOpTest, OperationsAndFlagsBecomeTheShellsCodes)
{
    const std::pair<TFileOp, unsigned> codes[] = {
        {foCopy, platform::FO_COPY}, {foDelete, 3}, {foMove, 1}, {foRename, 4}};
    TFileOperation operation;
    EXPECT_EQ(operation.Operation(), foCopy);
    for (const auto& [op, code] : codes) {
        operation.setOperation(op);
        operation.Execute();
        EXPECT_EQ(fake.requests.back().wFunc, code);
    }

    const std::pair<TFileOpFlag, std::uint16_t> flags[] = {
        {fofAllowUndo, 0x40},         {fofConfirmMouse, 0x02},   {fofFilesOnly, 0x80},
        {fofMultiDestFiles, 0x01},    {fofNoConfirmation, 0x10}, {fofNoConfirmMkDir, 0x200},
        {fofRenameOnCollision, 0x08}, {fofSilent, 0x04},         {fofSimpleProgress, 0x100}};
    for (const auto& [flag, word] : flags)
        EXPECT_EQ(TFileOperation::FlagWord({flag}), word) << int(flag);
    EXPECT_EQ(TFileOperation::FlagWord({fofAllowUndo, fofNoConfirmation, fofSilent}), 0x0054);
    EXPECT_EQ(sizeof(TFileOpFlags), 2u);

    operation.setFlags({fofAllowUndo, fofNoConfirmation, fofSilent});
    operation.setProgressTitle("Tidying");
    operation.Execute();
    EXPECT_EQ(fake.requests.back().fFlags, 0x0054);
    EXPECT_EQ(fake.requests.back().lpszProgressTitle, "Tidying");
    // Without an owning form the request goes out with the application's handle.
    EXPECT_EQ(fake.requests.back().hwnd, 0u);
}

TEST_F(FileOpTest, ResultOwnerActiveAndTheUnwritableProperties)
{
    TFileOperation operation([] { return platform::HWND{77}; });
    const std::vector<std::string> about = {"Component: TFileOperation", "Version: 1.1", "YO!"};
    EXPECT_EQ(operation.About(), about);
    operation.setAbout({"other"});
    EXPECT_EQ(operation.About(), about);

    fake.result = 1117;
    fake.aborted = true;
    EXPECT_FALSE(operation.Execute());
    EXPECT_TRUE(operation.OperationAborted());
    EXPECT_EQ(fake.requests.back().hwnd, 77u);
    operation.setOperationAborted(false);
    EXPECT_TRUE(operation.OperationAborted());

    fake.result = 0;
    fake.aborted = false;
    operation.setActive(true);
    EXPECT_FALSE(operation.Active());
    EXPECT_EQ(fake.requests.size(), 2u);
    EXPECT_FALSE(operation.OperationAborted());
    operation.setActive(false);
    EXPECT_EQ(fake.requests.size(), 2u);
}
