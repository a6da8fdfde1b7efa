#include "app/CollectionPreview.h"
#include "platform/drives/Drives.h"
#include "runtime/IniFile.h"
#include "support/FormFixture.h"
#include "support/Sandbox.h"

#include <QProcess>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// Each row as `ls --quoting-style=escape` shows the name in a UTF-8 locale.
TEST(EscapedPath, NamesAreEscapedAsLsEscapesThem)
{
    const std::pair<std::string, std::string> rows[] = {
        {"/plain/name.tmp", "/plain/name.tmp"},
        {"/a b", "/a\\ b"},
        {"/tab\there", "/tab\\there"},
        {"/nl\nx", "/nl\\nx"},
        {"/back\\slash", "/back\\\\slash"},
        {"/bel\a/bs\b/cr\r/vt\v/ff\f", "/bel\\a/bs\\b/cr\\r/vt\\v/ff\\f"},
        {"/caf\xc3\xa9", "/caf\xc3\xa9"},
        {"/wide\xe4\xb8\xad", "/wide\xe4\xb8\xad"},
        {"/bad\xff", "/bad\\377"},
        {"/cut\xc3", "/cut\\303"},
        {"/overlong\xc0\xaf", "/overlong\\300\\257"},
        {"/c1\xc2\x85", "/c1\\302\\205"},
        {"/ctl\x01/esc\x1b/del\x7f", "/ctl\\001/esc\\033/del\\177"},
        {"/q\"'$x?*#~=:", "/q\"'$x?*#~=:"},
    };
    for (const auto& [path, escaped] : rows)
        EXPECT_EQ(escapedPath(path), escaped) << escaped;
}

TEST(StageSummary, FilesTheWindowsAmountAndAHumanUnit)
{
    const struct
    {
        const char* stage;
        int files;
        std::int64_t bytes;
        const char* line;
    } rows[] = {
        {"Temporary folder", 0, 0, "Temporary folder: 0 files, 0 Kb (0 bytes)"},
        {"Cache folder", 1, 1023, "Cache folder: 1 file, 0 Kb (1023 bytes)"},
        {"Drive C:", 2, 1536, "Drive C: 2 files, 1 Kb (1.5 KiB)"},
        {"Total", 7, 5 * 1024 * 1024 + 512 * 1024, "Total: 7 files, 5632 Kb (5.5 MiB)"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(stageSummary(row.stage, row.files, row.bytes), row.line);
}

class PreviewRun : public ::testing::Test
{
protected:
    struct Result
    {
        int status;
        std::string out;
        std::string err;
    };
    Result preview(bool nul = false)
    {
        std::ostringstream out;
        std::ostringstream err;
        const int status = runPreview(nul, out, err);
        return {status, out.str(), err.str()};
    }
    std::string file(const std::string& path, std::size_t size = 10)
    {
        test::Sandbox::writeFile(path, std::string(size, 'x'));
        EXPECT_TRUE(test::Sandbox::age(path));
        return path;
    }
    void settings(const std::string& actions, const std::string& user = "")
    {
        test::Sandbox::writeFile(sandbox.iniPath(),
                                 "[Drives]\r\nDrive0=1\r\n[Actions]\r\nRunScanDisk=0\r\n"
                                 "AutoStart=1\r\nDelCHK=0\r\nDelTMP=0\r\n" +
                                     actions + "[User]\r\n" + user);
    }
    test::Sandbox sandbox;
};

TEST_F(PreviewRun, ExitStatusesAndWhatTheyWrite)
{
    file(sandbox.driveC() + "/old.bak");
    const struct
    {
        const char* what;
        std::function<void()> arrange;
        int status;
        std::string out;
        std::string err;
    } rows[] = {
        {"no settings", [] {}, 0, "", "Open Vorlax once to choose what it collects.\n"},
        {"unreadable settings", [this] { fs::create_directory(sandbox.iniPath()); }, 2, "",
         "Unable to read vorlax.ini\n"},
        {"invalid mask",
         [this] {
             fs::remove(sandbox.iniPath());
             settings("DelTempFiles=0\r\nDelBAK=1\r\nDelUser1=1\r\n", "User1=x[a\r\n");
         },
         1, "Total: 0 files, 0 Kb (0 bytes)\n", "'x[a' is an invalid mask at (4)\n"},
        {"a mask that takes every file",
         [this] { settings("DelTempFiles=0\r\nDelBAK=1\r\nDelUser1=1\r\n", "User1=*.*\r\n"); }, 0,
         sandbox.driveC() + "/old.bak\nDrive C: 1 file, 0 Kb (10 bytes)\n"
                            "Total: 1 file, 0 Kb (10 bytes)\n",
         "'*.*' would take every file\n"},
    };
    for (const auto& row : rows) {
        row.arrange();
        const auto before = sandbox.snapshot();
        const std::string ini = fs::is_regular_file(sandbox.iniPath())
                                    ? test::Sandbox::readFile(sandbox.iniPath())
                                    : "";
        const Result result = preview();
        EXPECT_EQ(result.status, row.status) << row.what;
        EXPECT_EQ(result.out, row.out) << row.what;
        EXPECT_EQ(result.err, row.err) << row.what;
        // The refusal is told, never saved; nothing else is written either.
        EXPECT_EQ(sandbox.snapshot(), before) << row.what;
        if (!ini.empty()) {
            EXPECT_EQ(test::Sandbox::readFile(sandbox.iniPath()), ini) << row.what;
        }
    }
    EXPECT_FALSE(fs::exists(sandbox.windir() + "/vorlax.lock"));
}

// The run's last checks stand: a file held open, one used lately in a folder emptied whole
// and another user's are left out, and a file two stages reach is listed once, by the
// first, as the run would have moved it by the second.
TEST_F(PreviewRun, TheRunsOwnChecksDecideAndEachFileIsListedOnce)
{
    sandbox.setDrives("C:=" + sandbox.root() + "@fixed");
    settings("DelTempFiles=1\r\nDelBAK=1\r\nDelTMP=1\r\nDelCache=1\r\nCache=C:\\cache\\\r\n");
    const std::string old = file(sandbox.tmp() + "/old.tmp", 2048);
    test::Sandbox::writeFile(sandbox.tmp() + "/fresh.dat", "new");
    const std::string cached = file(sandbox.root() + "/cache/entry", 100);
    const std::string held = file(sandbox.root() + "/docs/held.bak");
    const std::string spaced = file(sandbox.root() + "/docs/two words.bak");
    if (::geteuid() == 0) {
        file(sandbox.root() + "/docs/others.bak");
        ASSERT_EQ(::chown((sandbox.root() + "/docs/others.bak").c_str(), 65534, 65534), 0);
    }
    QProcess holder;
    holder.setStandardInputFile(QString::fromStdString(held));
    holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(holder.waitForStarted());

    const Result result = preview();
    const Result nul = preview(true);
    holder.kill();
    holder.waitForFinished();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, old + "\n" + cached + "\n" + sandbox.root() +
                              "/docs/two\\ words.bak\n"
                              "Temporary folder: 1 file, 2 Kb (2.0 KiB)\n"
                              "Cache folder: 1 file, 0 Kb (100 bytes)\n"
                              "Drive C: 1 file, 0 Kb (10 bytes)\n"
                              "Total: 3 files, 2 Kb (2.1 KiB)\n");
    EXPECT_EQ(result.err, "");

    // With --null each path goes as it is and the summaries go to standard error.
    EXPECT_EQ(nul.out, old + '\0' + cached + '\0' + spaced + '\0');
    EXPECT_NE(nul.err.find("Total: 3 files"), std::string::npos);
}

class WindowSettings : public test::FormFixture
{
};

// The file reader and the window read the same keys with the same defaults, so a preview
// from the command line plans what the window's run would.
TEST_F(WindowSettings, TheFileReadsAsTheWindowLoadsIt)
{
    sandbox->setDrives("C:=" + sandbox->driveC() + "@fixed;D:=" + sandbox->root() +
                       "/d@removable;E:=" + sandbox->root() + "@fixed");
    const std::string texts[] = {
        "[Actions]\r\nAutoStart=0\r\n",
        "[Drives]\r\nDrive0=1\r\nDrive1=1\r\nDrive2=1\r\n[Actions]\r\nAutoStart=0\r\n"
        "RunScanDisk=0\r\nDelCHK=0\r\nDelTempFiles=0\r\nDelCache=1\r\nCache=  \r\n"
        "DelBAK=0\r\nDelTMP=0\r\nDelUser1=1\r\nDelUser2=1\r\n[User]\r\nUser1=*.o\r\n"
        "User2=a b\r\n",
        "[Drives]\r\nDrive0=0\r\n[Actions]\r\nAutoStart=0\r\nCache=C:\\c\\\r\nDelCache=0x1\r\n"
        "DelUser1=2\r\n",
    };
    for (const std::string& text : texts) {
        writeSettings(text);
        TForm1& f = start();
        const std::array<bool, 4> fixed = {!f.CheckBox10->isHidden(), !f.CheckBox11->isHidden(),
                                           !f.CheckBox12->isHidden(), !f.CheckBox13->isHidden()};
        EXPECT_EQ(fixed, (std::array<bool, 4>{true, false, true, false}));
        const runtime::MemIniFile ini("vorlax.ini");
        EXPECT_TRUE(readCollectionSettings(ini, fixed) == f.collectionSettings()) << text;
        form.reset();
    }
}

} // namespace
