#include "platform/core/Service.h"
#include "platform/drives/Drives.h"
#include "platform/settings/SettingsLock.h"
#include "runtime/Application.h"
#include "runtime/OwnWindows.h"
#include "support/FakeDrives.h"
#include "support/FakeProcesses.h"
#include "support/FakeShell.h"
#include "support/FormFixture.h"
#include "support/ScopedFake.h"

#include <QTimer>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const char* const TempWarning = "Can't delete temp files as no seperate temp folder";

// The scanner's settings when a file of its scan was handed to the shell.
struct Seen
{
    std::string file;
    std::string mask;
    TScanOptions options;
    bool recursive;
    std::string dir;
    bool operator==(const Seen&) const = default;
};

void PrintTo(const Seen& seen, std::ostream* out)
{
    *out << seen.file << " [" << seen.mask << "|" << int(seen.options) << "|" << seen.recursive
         << "|" << seen.dir << "]";
}

class CollectRubbishTest : public test::FormFixture
{
protected:
    // Only "C Drive" ticked.
    TForm1& window() { return startWithNoActions(); }
    void file(const std::string& native, std::size_t size = 1)
    {
        test::Sandbox::writeFile(native, std::string(size, 'x'));
        age(native);
    }
    // The stages that empty a folder whole leave what was used lately.
    static void age(const std::string& native) { ASSERT_TRUE(test::Sandbox::age(native)); }
    std::string tmp(const std::string& name) const { return sandbox->tmp() + "/" + name; }
    std::string c(const std::string& name) const { return sandbox->driveC() + "/" + name; }
    // The Windows name of a native path through the drive for "/" alone.
    static std::string throughRoot(const std::string& native)
    {
        std::string name = "Z:" + native;
        std::replace(name.begin(), name.end(), '/', '\\');
        return name;
    }
    void recordScannerSettings(TForm1& f, std::vector<Seen>& seen)
    {
        shell.onRequest = [&f, &seen](const platform::SHFILEOPSTRUCTA& request) {
            const TFilesScanner& s = f.FilesScanner1;
            seen.push_back({test::FakeShell::entries(request.pFrom).at(0), s.FileMask,
                            s.ScanOptions, s.Recursive, s.ScanDir});
        };
    }
    bool endedCollected(const TForm1& f) const
    {
        return f.Label3DBorder1->text() == "Rubbish Collected" && f.Collected && !f.Collecting &&
               f.BitBtn1->isEnabled() && f.BitBtn2->text() == "Close";
    }
    bool endedStopped(const TForm1& f) const
    {
        return f.Label3DBorder1->text() == "Collection Stopped" && !f.Collected && !f.Collecting &&
               f.BitBtn1->isEnabled() && f.BitBtn2->text() == "Close";
    }

    test::ScopedFake<test::FakeShell> shell;
    test::ScopedFake<test::FakeProcesses> processes;
};

} // namespace

TEST_F(CollectRubbishTest, StagesRunInOrderWithTheirScannerSettings)
{
    file(tmp("t.dat"), 600);
    file(c("cache/c.dat"), 700);
    file(c("a.bak"), 800);
    file(c("sub/keep.txt"));
    TForm1& f = window();
    for (QCheckBox* box : {f.CheckBox1, f.CheckBox5, f.CheckBox6, f.CheckBox4, f.CheckBox7})
        box->setChecked(true);
    f.Edit4->setText(QStringLiteral("C:\\cache\\"));
    std::vector<Seen> seen;
    recordScannerSettings(f, seen);
    f.CollectRubbish();

    const std::string temp = platform::toWindowsPath(sandbox->tmp());
    const std::vector<Seen> expected = {
        {temp + "\\t.dat", "*", soSpecifiedDir, true, temp},
        {"C:\\cache\\c.dat", "*", soSpecifiedDir, true, "C:\\cache"},
        {"C:\\a.bak", "*.bak, *.chk, *.tmp", soSpecifiedDisk, true, "C:\\"},
    };
    EXPECT_EQ(seen, expected);
    for (const auto& request : shell.requests) {
        EXPECT_EQ(request.wFunc, platform::FO_DELETE);
        EXPECT_EQ(request.fFlags, 0x0054);
        EXPECT_EQ(request.pTo, std::string(2, '\0'));
        EXPECT_EQ(request.hwnd, runtime::windowHandle(&f));
    }
    EXPECT_TRUE(processes.started.empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(endedCollected(f));
    EXPECT_EQ(f.CollectedBytes, 2100);
    EXPECT_EQ(f.Label3DBorder2->text(), "2 Kb");
}

TEST_F(CollectRubbishTest, DiskCheckerGetsEverySelectedFixedDrive)
{
    const struct
    {
        bool checker;
        bool c;
        bool d;
        unsigned cType;
        const char* command; // nullptr: not started
    } cases[] = {
        {true, true, true, platform::DRIVE_FIXED, "SCANDSKW.EXE C: D:  /n"},
        {true, true, false, platform::DRIVE_FIXED, "SCANDSKW.EXE C:  /n"},
        {true, true, false, platform::DRIVE_REMOVABLE, nullptr},
        {true, false, false, platform::DRIVE_FIXED, nullptr},
        {false, true, true, platform::DRIVE_FIXED, nullptr},
    };
    for (const auto& row : cases) {
        test::ScopedFake<test::FakeDrives> drives(
            {{'C', sandbox->driveC(), row.cType},
             {'D', sandbox->root() + "/d", platform::DRIVE_FIXED}});
        TForm1& f = window();
        f.CheckBox3->setChecked(row.checker);
        f.CheckBox10->setChecked(row.c);
        f.CheckBox11->setChecked(row.d);
        processes.started.clear();
        bool waited = false;
        processes.whileRunning = [&f, &waited](const std::string&) { waited = f.ExecFile1.Wait(); };
        f.CollectRubbish();
        if (row.command) {
            ASSERT_EQ(processes.started.size(), 1u) << row.command;
            EXPECT_EQ(processes.started[0].substr(0, std::strlen(row.command)), row.command);
            EXPECT_EQ(f.ExecFile1.CommandLine(), row.command);
            EXPECT_TRUE(waited);
        } else {
            EXPECT_TRUE(processes.started.empty()) << row.c << row.d;
        }
        EXPECT_TRUE(endedCollected(f));
    }
}

TEST_F(CollectRubbishTest, EachDriveIsSearchedWithTheTickedMasks)
{
    for (const char* name : {"a.bak", "a.chk", "a.tmp", "a.~ab", "a.ZIP", "a.txt"})
        file(c(name));
    const struct
    {
        std::vector<int> boxes; // of CheckBox4, 6, 7, 8, 9
        const char* edit2;
        const char* mask; // nullptr: the drive is not searched
        std::size_t files;
    } cases[] = {
        {{4}, "*.~??", "*.chk", 1},
        {{6, 8}, "", "*.bak, ", 1},
        {{4, 6, 7, 8, 9}, "*.~??", "*.bak, *.chk, *.tmp, *.~??, *.ZIP", 5},
        {{}, "*.~??", nullptr, 0},
    };
    for (const auto& row : cases) {
        TForm1& f = window();
        const std::map<int, QCheckBox*> boxes = {{4, f.CheckBox4},
                                                 {6, f.CheckBox6},
                                                 {7, f.CheckBox7},
                                                 {8, f.CheckBox8},
                                                 {9, f.CheckBox9}};
        for (int k : row.boxes)
            boxes.at(k)->setChecked(true);
        f.Edit2->setText(QString::fromLatin1(row.edit2));
        shell.requests.clear();
        std::vector<Seen> seen;
        recordScannerSettings(f, seen);
        f.FilesScanner1.FileMask = "untouched";
        f.CollectRubbish();
        EXPECT_EQ(seen.size(), row.files) << row.boxes.size();
        for (const auto& one : seen)
            EXPECT_EQ(one.mask, row.mask);
        if (!row.mask) {
            EXPECT_EQ(f.FilesScanner1.FileMask, "untouched");
        }
        EXPECT_TRUE(endedCollected(f));
    }
}

TEST_F(CollectRubbishTest, StopAtEachStopPoint)
{
    const struct
    {
        const char* where;
        std::function<void(TForm1&)> arrange;
        std::size_t requests;
        const char* amount;
    } cases[] = {
        {"after the disk checker",
         [this](TForm1& f) {
             f.CheckBox3->setChecked(true);
             processes.whileRunning = [&f](const std::string&) { f.BitBtn2->click(); };
         },
         0, "0 Kb"},
        {"during a scan",
         [](TForm1& f) {
             auto shown = f.FilesScanner1.OnProcess;
             f.FilesScanner1.OnProcess = [&f, shown](TFilesScan* s, const std::string& dir,
                                                     int count, std::int64_t size) {
                 shown(s, dir, count, size);
                 f.BitBtn2->click();
             };
         },
         0, "0 Kb"},
        {"after a file",
         [this](TForm1& f) { shell.onRequest = [&f](auto&) { f.BitBtn2->click(); }; }, 1, "2 Kb"},
        // An amount left from before is no part of the run's.
        {"at the first message",
         [](TForm1& f) {
             f.CollectedBytes = 5000;
             QTimer::singleShot(0, &f, [&f] {
                 EXPECT_EQ(f.BitBtn2->text(), "Stop");
                 f.BitBtn2->click();
                 EXPECT_EQ(f.BitBtn2->text(), "Close");
             });
         },
         0, "0 Kb"},
    };
    for (const auto& row : cases) {
        for (const char* name : {"one/x.dat", "one/y.dat", "two/z.dat"})
            file(tmp(name), 2048);
        TForm1& f = window();
        f.CheckBox1->setChecked(true);
        f.CheckBox6->setChecked(true);
        shell.requests.clear();
        shell.onRequest = nullptr;
        processes.whileRunning = nullptr;
        row.arrange(f);
        f.CollectRubbish();
        EXPECT_EQ(shell.requests.size(), row.requests) << row.where;
        EXPECT_TRUE(endedStopped(f)) << row.where;
        EXPECT_EQ(f.Label3DBorder2->text(), row.amount) << row.where;
        EXPECT_TRUE(f.CheckBox1->isChecked()) << row.where;
        // A second press of "Close" ends the program.
        EXPECT_FALSE(runtime::terminated()) << row.where;
        f.BitBtn2->click();
        EXPECT_TRUE(runtime::terminated()) << row.where;
    }
}

TEST_F(CollectRubbishTest, TemporaryFolderThatIsNoTemporaryFolderIsLeftAlone)
{
    fs::create_symlink(sandbox->windir(), sandbox->root() + "/windows-too");
    const std::string cases[] = {sandbox->home(),    sandbox->driveC(),
                                 sandbox->windir(),  sandbox->root() + "/windows-too",
                                 sandbox->root(),    "/etc",
                                 sandbox->dataHome()};
    const std::string holdingTrash = platform::toWindowsPath(sandbox->dataHome());
    shell.trash = [holdingTrash](const std::string& folder) { return folder == holdingTrash; };
    file(c("a.bak"));
    for (const auto& temp : cases) {
        if (temp.starts_with(sandbox->root()))
            file(temp + "/rubbish.dat");
        sandbox->setEnv("TMPDIR", temp);
        TForm1& f = window();
        f.CheckBox1->setChecked(true);
        f.CheckBox6->setChecked(true);
        shell.requests.clear();
        f.CollectRubbish();
        ASSERT_EQ(messages.size(), 1u) << temp;
        EXPECT_EQ(messages[0].type, runtime::MessageType::Warning);
        EXPECT_EQ(messages[0].text, TempWarning);
        EXPECT_FALSE(f.CheckBox1->isChecked()) << temp;
        // The drive stage still runs.
        EXPECT_EQ(shell.sources(), std::vector<std::string>{"C:\\a.bak"}) << temp;
        EXPECT_TRUE(endedCollected(f));
    }
}

TEST_F(CollectRubbishTest, CacheFolderThatIsNoCacheIsLeftAlone)
{
    file(c("cache/x.dat"));
    file(c("box/y.dat"));
    file(sandbox->root() + "/elsewhere/z.dat");
    const std::string elsewhere = platform::toWindowsPath(sandbox->root() + "/elsewhere");
    const std::string sameAsC = throughRoot(sandbox->driveC());
    const std::string cacheOnC = throughRoot(sandbox->driveC() + "/cache");
    shell.trash = [](const std::string& folder) { return folder == "C:\\box"; };
    fs::create_symlink(sandbox->home(), sandbox->driveC() + "/home-too");
    const struct
    {
        std::string typed;
        std::string refused; // empty: emptied
    } cases[] = {
        {"C:\\", "C:"},
        {elsewhere + "\\", elsewhere},
        {"C:\\box", "C:\\box"},
        {sameAsC + "\\", sameAsC},
        {"C:\\home-too", "C:\\home-too"},
        {cacheOnC + "\\", ""},
    };
    for (const auto& row : cases) {
        TForm1& f = window();
        f.CheckBox5->setChecked(true);
        f.Edit4->setText(QString::fromStdString(row.typed));
        shell.requests.clear();
        f.CollectRubbish();
        if (row.refused.empty()) {
            EXPECT_TRUE(messages.empty()) << row.typed;
            EXPECT_TRUE(f.CheckBox5->isChecked());
            EXPECT_EQ(shell.sources(), std::vector<std::string>{cacheOnC + "\\x.dat"});
        } else {
            ASSERT_EQ(messages.size(), 1u) << row.typed;
            EXPECT_EQ(messages[0].type, runtime::MessageType::Warning);
            EXPECT_EQ(messages[0].text, "Can't delete cache files from " + row.refused);
            EXPECT_FALSE(f.CheckBox5->isChecked()) << row.typed;
            EXPECT_TRUE(shell.requests.empty()) << row.typed;
        }
        EXPECT_TRUE(endedCollected(f));
    }
}

TEST_F(CollectRubbishTest, OnlyFilesTheShellCanNameAndMayTakeAreHandedOver)
{
    for (const char* name : {"x;y.bak", "st*r.bak", "q?.bak", "ok.bak", "theirs.bak"})
        file(c(name), 1000);
    shell.collectable = [](const std::string& path) { return path != "C:\\theirs.bak"; };
    TForm1& f = window();
    f.CheckBox6->setChecked(true);
    f.CollectRubbish();
    EXPECT_EQ(shell.sources(), std::vector<std::string>{"C:\\ok.bak"});
    EXPECT_EQ(f.CollectedBytes, 1000);
    EXPECT_TRUE(endedCollected(f));
}

TEST_F(CollectRubbishTest, AFileWrittenBeforeItsTurnStays)
{
    file(tmp("a.dat"));
    file(tmp("b.dat"));
    TForm1& f = window();
    f.CheckBox1->setChecked(true);
    // The first request writes to the other file, as a program still using it would.
    shell.onRequest = [this](const platform::SHFILEOPSTRUCTA& request) {
        const bool first = test::FakeShell::entries(request.pFrom).at(0).ends_with("a.dat");
        test::Sandbox::writeFile(tmp(first ? "b.dat" : "a.dat"), "written");
    };
    f.CollectRubbish();
    EXPECT_EQ(shell.requests.size(), 1u);
    EXPECT_TRUE(endedCollected(f));
}

TEST_F(CollectRubbishTest, InvalidMaskLeavesTheRunUntilStop)
{
    file(c("a.bak"));
    TForm1& f = window();
    f.CheckBox8->setChecked(true);
    f.Edit2->setText(QStringLiteral("[x"));
    f.BitBtn1->click();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].type, runtime::MessageType::Error);
    EXPECT_EQ(messages[1].text, "'[x' is an invalid mask at (3)");
    EXPECT_TRUE(shell.requests.empty());
    EXPECT_TRUE(f.Collecting);
    EXPECT_EQ(f.BitBtn2->text(), "Stop");
    EXPECT_FALSE(f.BitBtn1->isEnabled());
    EXPECT_TRUE(f.Label3DBorder2->text().isEmpty());

    f.BitBtn2->click();
    EXPECT_FALSE(f.Collecting);
    EXPECT_EQ(f.BitBtn2->text(), "Close");
    EXPECT_TRUE(f.BitBtn1->isEnabled());
    EXPECT_FALSE(runtime::terminated());
}

TEST_F(CollectRubbishTest, CollectRubbishNowStaysDisabledForTheWholeRun)
{
    file(c("a.bak"));
    TForm1& f = window();
    f.CheckBox6->setChecked(true);
    bool enabledDuringRequest = true;
    shell.onRequest = [&f, &enabledDuringRequest](auto&) {
        enabledDuringRequest = f.BitBtn1->isEnabled();
    };
    f.BitBtn1->click();
    EXPECT_FALSE(enabledDuringRequest);
    EXPECT_TRUE(endedCollected(f));

    // Stopped while the run waits for the disk checker: no second run can start inside it.
    f.CheckBox3->setChecked(true);
    messages.clear();
    shell.requests.clear();
    f.Label3DBorder1->setText({});
    int depth = 0;
    processes.whileRunning = [&f, &depth](const std::string&) {
        if (depth++ > 0)
            return; // a nested run, which must not be
        EXPECT_FALSE(f.BitBtn1->isEnabled());
        f.BitBtn2->click();
        EXPECT_EQ(f.BitBtn2->text(), "Close");
        EXPECT_FALSE(f.BitBtn1->isEnabled());
        f.BitBtn1->click();
        f.CollectRubbish();
        EXPECT_FALSE(f.Collecting);
        EXPECT_TRUE(f.Label3DBorder1->text().isEmpty());
    };
    f.BitBtn1->click();
    EXPECT_EQ(messages.size(), 1u); // the one confirmation
    EXPECT_EQ(processes.started.size(), 1u);
    EXPECT_TRUE(shell.requests.empty());
    EXPECT_EQ(f.Label3DBorder1->text(), "Collection Stopped");
    EXPECT_TRUE(f.BitBtn1->isEnabled());
}

TEST_F(CollectRubbishTest, AmountIsShownInWholeKilobytes)
{
    const struct
    {
        std::vector<std::uintmax_t> sizes;
        std::int64_t bytes;
        const char* shown;
    } cases[] = {
        {{1023}, 1023, "0 Kb"},
        {{1024, 512}, 1536, "1 Kb"},
        {{3ULL << 30, 1024}, (3LL << 30) + 1024, "3145729 Kb"},
    };
    int n = 0;
    for (const auto& row : cases) {
        fs::remove_all(sandbox->tmp());
        for (const auto size : row.sizes) {
            const std::string name = tmp("f" + std::to_string(n++));
            file(name, 0);
            fs::resize_file(name, size); // sparse: no disk space taken
            age(name);
        }
        TForm1& f = window();
        f.CheckBox1->setChecked(true);
        f.CollectRubbish();
        EXPECT_EQ(f.CollectedBytes, row.bytes);
        EXPECT_EQ(f.Label3DBorder2->text(), row.shown);
    }
    TForm1& f = *form;
    const std::pair<std::int64_t, const char*> texts[] = {
        {0, "0 Kb"}, {1023, "0 Kb"}, {1536, "1 Kb"}, {3LL << 30, "3145728 Kb"}};
    for (const auto& [bytes, text] : texts) {
        f.CollectedBytes = bytes;
        EXPECT_EQ(f.amountText(), text);
    }
    // A scan shows its folder and the amount so far.
    f.CollectedBytes = 2048;
    f.FilesScanner1Process(&f.FilesScanner1, "C:\\Some Folder", 3, 999999);
    EXPECT_EQ(f.Label3DBorder1->text(), "C:\\Some Folder");
    EXPECT_EQ(f.Label3DBorder2->text(), "2 Kb");
}

TEST_F(CollectRubbishTest, FailedRequestsStillEndInRubbishCollected)
{
    file(tmp("a.dat"), 1024);
    file(tmp("b.dat"), 2048);
    shell.result = 1;
    shell.onRequest = [this](auto&) {
        if (shell.requests.size() == 2)
            throw std::runtime_error("refused");
    };
    TForm1& f = window();
    f.CheckBox1->setChecked(true);
    f.CollectRubbish();
    EXPECT_EQ(shell.requests.size(), 2u);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(endedCollected(f));
    EXPECT_EQ(f.Label3DBorder2->text(), "3 Kb");
}

// Without a display a run ends with one line of what the shell moved and refused, and the
// amount as the window shows it; a run with nothing to tell says nothing.
TEST_F(CollectRubbishTest, ARunWithoutADisplaySaysWhatTheShellDid)
{
    const char* const InUse = "The file is in use by another program.";
    const char* const Denied = "Access is denied.";
    const struct
    {
        const char* what;
        int files;
        std::map<std::size_t, const char*> refusals; // by request, from 1
        bool stopAfterFirst;
        const char* line;
    } rows[] = {
        {"all moved", 3, {}, false, "3 files moved to the trash, 3 Kb\n"},
        {"one refused",
         3,
         {{2, InUse}},
         false,
         "2 files moved to the trash, 1 could not be moved (The file is in use by another "
         "program.), 3 Kb\n"},
        {"refused for two reasons",
         3,
         {{1, Denied}, {2, InUse}, {3, Denied}},
         false,
         "0 files moved to the trash, 3 could not be moved (most often: Access is denied.), 3 "
         "Kb\n"},
        {"stopped", 3, {}, true, "1 file moved to the trash, 1 Kb, stopped\n"},
        {"nothing found", 0, {}, false, ""},
    };
    runtime::overrideHeadless(true);
    for (const auto& row : rows) {
        fs::remove_all(sandbox->tmp());
        fs::create_directories(sandbox->tmp());
        for (int k = 0; k < row.files; ++k)
            file(tmp("f" + std::to_string(k)), 1024);
        TForm1& f = window();
        f.CheckBox1->setChecked(true);
        shell.requests.clear();
        shell.onRequest = [&](auto&) {
            const auto refusal = row.refusals.find(shell.requests.size());
            shell.result = refusal == row.refusals.end() ? 0 : 1;
            shell.failureReason = shell.result ? refusal->second : "";
            if (row.stopAfterFirst)
                f.BitBtn2->click();
        };
        testing::internal::CaptureStdout();
        f.CollectRubbish();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), row.line) << row.what;
    }
}

// Another Vorlax collecting with the same settings: the button says so and starts nothing,
// and an unattended start ends at once without saving, leaving the saving to the other.
TEST_F(CollectRubbishTest, OneCollectionAtATimeForTheSameSettings)
{
    file(tmp("t.dat"));
    const std::string settingsText = "[Actions]\r\nAutoStart=0\r\n[NextDate]\r\nDate=\r\n";
    writeSettings(settingsText);
    const platform::SettingsLock other(platform::SettingsHold::Collection);
    ASSERT_TRUE(other.held());

    TForm1& f = window();
    f.CheckBox1->setChecked(true);
    f.CollectRubbish();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text,
              "Another Vorlax is collecting with these settings. Try again when it has finished.");
    EXPECT_TRUE(shell.requests.empty());
    EXPECT_TRUE(f.BitBtn1->isEnabled());
    exit();

    writeSettings(settingsText);
    testing::internal::CaptureStderr();
    start(1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Another Vorlax is collecting"),
              std::string::npos);
    EXPECT_TRUE(runtime::terminated());
    EXPECT_FALSE(form->Collected);
    exit();
    EXPECT_EQ(settings(), settingsText);
    EXPECT_TRUE(shell.requests.empty());
}
