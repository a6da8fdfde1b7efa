#include "support/SilentShare.h"
#include "support/ProgramRun.h"
#include "support/Sandbox.h"

#include <gtest/gtest.h>

namespace {

// A start with a drive on a share that stopped answering, mapped by the user or found in
// the mount table.
class SilentShareStart : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        if (!share.mounted())
            GTEST_SKIP() << "no right to mount a FUSE filesystem";
        test::Sandbox::writeFile(sandbox.iniPath(), "[NextDate]\r\nDate=2999/01/01\r\n");
        if (GetParam())
            sandbox.setDrives("C:=" + sandbox.driveC() + "@fixed;D:=" + folder);
        else
            sandbox.setEnv("VORLAX_DRIVES", std::nullopt);
    }

    test::Sandbox sandbox;
    std::string folder = sandbox.root() + "/share";
    test::SilentShare share{folder};
};

} // namespace

TEST_P(SilentShareStart, UnattendedStartEndsAndSaves)
{
    const test::Outcome outcome =
        test::runProgram({QStringLiteral("/a")}, test::programEnvironment(false), 20000);
    ASSERT_TRUE(outcome.finished) << "the share held the program";
    EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
    EXPECT_NE(test::Sandbox::readFile(sandbox.iniPath()).find("[Drives]"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Drives, SilentShareStart, ::testing::Values(true, false),
                         [](const auto& info) {
                             return info.param ? "MappedByTheUser" : "FromTheMountTable";
                         });
