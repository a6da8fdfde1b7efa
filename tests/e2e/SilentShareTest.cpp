#include "support/SilentShare.h"
#include "support/LocalDate.h"
#include "support/ProgramRun.h"
#include "support/Sandbox.h"

#include <QProcess>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

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

std::string mountTable()
{
    std::ifstream in("/proc/self/mountinfo");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A due run over a temporary folder that holds an application's FUSE mount and a home
// (drive C:) that holds a dead network share, neither of which ever answers, beside
// rubbish of their own. Drive C: is mapped by the user, or is the home by default, when
// the shares get drive letters of their own.
class SilentShareRun : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        if (!tempShare.mounted() || !homeShare.mounted())
            GTEST_SKIP() << "no right to mount a FUSE filesystem";
        if (GetParam())
            sandbox.setDrives("C:=" + sandbox.home() + "@fixed");
        else
            sandbox.setEnv("VORLAX_DRIVES", std::nullopt);
        for (const std::string& path : rubbish)
            plantOld(path);
        test::Sandbox::writeFile(keep, "keep");
    }

    void writeSettings() const
    {
        test::Sandbox::writeFile(sandbox.iniPath(),
                                 "[Drives]\r\nDrive0=1\r\n[Actions]\r\nAutoStart=0\r\n"
                                 "RunScanDisk=0\r\nDelCHK=0\r\nDelTempFiles=1\r\nDelCache=0\r\n"
                                 "DelBAK=1\r\nDelTMP=1\r\nFrequency1=1\r\n"
                                 "[NextDate]\r\nDate=" +
                                     test::localDateText(0) + "\r\n");
    }

    // Untouched for ten days, as rubbish is.
    static void plantOld(const std::string& path)
    {
        test::Sandbox::writeFile(path, "rubbish");
        const timespec old[2] = {{std::time(nullptr) - 10 * 86400, 0},
                                 {std::time(nullptr) - 10 * 86400, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0) << path;
    }

    std::string savedDate() const
    {
        const std::string text = test::Sandbox::readFile(sandbox.iniPath());
        const auto at = text.find("Date=");
        return at == std::string::npos ? "" : text.substr(at + 5, 10);
    }

    void expectSharesStillMounted() const
    {
        const std::string table = mountTable();
        for (const std::string& share : {tempFolder, homeFolder})
            EXPECT_NE(table.find(" " + share + " "), std::string::npos) << share;
    }

    test::Sandbox sandbox;
    std::string tempFolder = sandbox.tmp() + "/.mount_AppXYZ";
    std::string homeFolder = sandbox.home() + "/remote";
    test::SilentShare tempShare{tempFolder};
    test::SilentShare homeShare{homeFolder};
    const std::vector<std::string> rubbish = {sandbox.tmp() + "/session.dat",
                                              sandbox.tmp() + "/build/obj.o",
                                              sandbox.home() + "/docs/report.bak"};
    const std::string keep = sandbox.home() + "/docs/report.txt";
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

TEST_P(SilentShareRun, DueRunEndsAndTakesTheOtherRubbish)
{
    writeSettings();
    const test::Outcome outcome =
        test::runProgram({QStringLiteral("/a")}, test::programEnvironment(false), 60000);
    ASSERT_TRUE(outcome.finished) << "a share held the run";
    EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
    EXPECT_EQ(savedDate(), test::localDateText(1)) << outcome.errors;
    for (const std::string& path : rubbish) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << path;
        const std::string trashed =
            sandbox.dataHome() + "/Trash/files/" + fs::path(path).filename().string();
        EXPECT_EQ(test::Sandbox::readFile(trashed), "rubbish") << path;
    }
    EXPECT_EQ(test::Sandbox::readFile(keep), "keep");
    expectSharesStillMounted();
}

// The signal comes once the run has passed the temporary folder's mount and is moving its
// files: it may still be at them, at the home's share, or done, and must end in order
// whichever it is.
TEST_P(SilentShareRun, SigtermDuringTheRunEndsItInOrder)
{
    writeSettings();
    std::vector<std::string> many;
    for (int i = 0; i < 2000; ++i)
        many.push_back(sandbox.tmp() + "/many/f" + std::to_string(i));
    for (const std::string& path : many)
        plantOld(path);
    const std::string trash = sandbox.dataHome() + "/Trash/files/";

    QProcess vorlax;
    test::startProgram(vorlax, {QStringLiteral("/a")}, test::programEnvironment(false));
    ASSERT_TRUE(vorlax.waitForStarted());
    const auto moving = [&] {
        std::error_code ec;
        return fs::exists(trash, ec) && !fs::is_empty(trash, ec);
    };
    for (int i = 0; i < 3000 && !moving() && vorlax.state() == QProcess::Running; ++i)
        vorlax.waitForFinished(10);
    ::kill(static_cast<pid_t>(vorlax.processId()), SIGTERM);
    const bool ended = vorlax.waitForFinished(10000);
    if (!ended) {
        vorlax.kill();
        vorlax.waitForFinished();
    }
    ASSERT_TRUE(ended) << "SIGTERM did not end the run";
    EXPECT_EQ(vorlax.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(vorlax.exitCode(), 0) << vorlax.readAllStandardError().toStdString();
    EXPECT_NE(test::Sandbox::readFile(sandbox.iniPath()).find("\r\nDrive0=1\r\n"),
              std::string::npos);
    // A stopped run is not counted: it stays due.
    const bool counted = savedDate() == test::localDateText(1);
    EXPECT_TRUE(counted || savedDate() == test::localDateText(0)) << savedDate();
    if (fs::exists(rubbish.back())) {
        EXPECT_FALSE(counted) << "a run stopped before its drives was counted";
    }
    int left = 0;
    for (const std::string& path : many) {
        const std::string trashed = trash + fs::path(path).filename().string();
        left += fs::exists(path);
        // In its place or whole in the trash, never both or neither.
        EXPECT_NE(fs::exists(path), fs::exists(trashed)) << path;
        EXPECT_EQ(test::Sandbox::readFile(fs::exists(path) ? path : trashed), "rubbish") << path;
    }
    if (counted) {
        EXPECT_EQ(left, 0);
    }
    expectSharesStillMounted();
}

INSTANTIATE_TEST_SUITE_P(Drives, SilentShareRun, ::testing::Values(true, false),
                         [](const auto& info) {
                             return info.param ? "HomeMappedByTheUser" : "FromTheMountTable";
                         });
