#include "runtime/Application.h"
#include "runtime/Dates.h"
#include "support/DefaultSettings.h"
#include "support/FakeDesktop.h"
#include "support/FakeProfile.h"
#include "support/FormFixture.h"
#include "support/ScopedFake.h"

#include "platform/core/Service.h"
#include "platform/settings/Profile.h"

#include <QTimer>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace fs = std::filesystem;

using runtime::encodeDate;
using runtime::ModalResult;

namespace {

std::string dateText(runtime::TDate date)
{
    int y = 0, m = 0, d = 0;
    runtime::decodeDate(date, y, m, d);
    char text[16];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", y, m, d);
    return text;
}

class MainFormTest : public test::FormFixture
{
protected:
    std::string savedDate() const
    {
        const std::string text = settings();
        const auto at = text.find("Date=");
        return at == std::string::npos ? "" : text.substr(at + 5, 10);
    }
    std::string desktopEntry() const { return sandbox->autostartDir() + "/Vorlax.desktop"; }
};

const runtime::TDate Today = encodeDate(2026, 12, 8);

} // namespace

TEST_F(MainFormTest, WindowAndControlsHoldTheirStoredValues)
{
    TForm1& f = start();
    EXPECT_EQ(f.windowTitle(), "Vorlax 1.2");
    EXPECT_EQ(f.size(), QSize(394, 241));
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(f.windowFlags() & Qt::WindowCloseButtonHint);

    struct Expected
    {
        QWidget* control;
        QRect bounds;
    };
    const Expected table[] = {
        {f.GradLabel1, {24, 4, 120, 21}},      {f.Image1, {4, 28, 160, 120}},
        {f.Bevel3, {172, 4, 209, 145}},        {f.ListBox1, {176, 8, 201, 137}},
        {f.Label3DBorder1, {4, 156, 377, 21}}, {f.Label3DBorder2, {4, 184, 169, 21}},
        {f.BitBtn1, {180, 184, 117, 25}},      {f.BitBtn2, {304, 184, 75, 25}},
        {f.CheckBox10, {4, 12, 69, 17}},       {f.CheckBox11, {64, 12, 69, 17}},
        {f.CheckBox12, {124, 12, 65, 17}},     {f.CheckBox13, {184, 12, 65, 17}},
        {f.Bevel1, {4, 40, 185, 137}},         {f.CheckBox3, {12, 48, 97, 17}},
        {f.CheckBox4, {12, 68, 129, 17}},      {f.CheckBox1, {12, 88, 149, 17}},
        {f.CheckBox5, {12, 108, 165, 17}},     {f.Edit4, {12, 144, 149, 21}},
        {f.SpeedButton1, {164, 144, 21, 21}},  {f.Bevel2, {196, 40, 185, 137}},
        {f.CheckBox6, {240, 56, 97, 17}},      {f.CheckBox7, {240, 72, 97, 17}},
        {f.Edit2, {232, 116, 33, 21}},         {f.CheckBox8, {272, 120, 97, 17}},
        {f.Edit3, {232, 140, 33, 21}},         {f.CheckBox9, {272, 144, 97, 17}},
        {f.CheckBox2, {8, 188, 45, 17}},       {f.RadioButton1, {60, 188, 77, 17}},
        {f.RadioButton2, {140, 188, 57, 17}},  {f.RadioButton3, {200, 188, 93, 17}},
        {f.RadioButton4, {292, 188, 93, 17}},
    };
    for (const auto& row : table)
        EXPECT_EQ(row.control->geometry(), row.bounds) << row.control->metaObject()->className();
    // Captions keep their place and grow to show their whole text.
    for (QLabel* caption : {f.Label6, f.Label14}) {
        EXPECT_EQ(caption->pos(), caption == f.Label6 ? QPoint(12, 128) : QPoint(232, 96));
        EXPECT_GE(caption->width(), caption->fontMetrics().horizontalAdvance(caption->text()));
    }
    EXPECT_EQ(f.Label6->text(), "Internet Cache Folder");
    EXPECT_EQ(f.Label14->text(), "User Selected types");

    EXPECT_EQ(f.BitBtn1->text(), "Collect Rubbish Now");
    EXPECT_EQ(f.BitBtn2->text(), "Close");
    EXPECT_EQ(f.Edit2->text(), "*.~??");
    EXPECT_EQ(f.Edit3->text(), "*.ZIP");
    EXPECT_EQ(f.CheckBox1->text(), "Delete all Temporary Files");
    EXPECT_TRUE(f.CheckBox8->isChecked());
    EXPECT_FALSE(f.CheckBox9->isChecked());
    EXPECT_TRUE(f.RadioButton1->isChecked());
    EXPECT_TRUE(f.RichEdit1->isReadOnly());
    EXPECT_EQ(f.RichEdit1->palette().color(QPalette::Base), QColor(160, 210, 230));
    const QStringList about = f.RichEdit1->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(about.size(), 32);
    EXPECT_EQ(about[0], "Welcome to VORLAX");
    EXPECT_EQ(about[9], "option - great, but where does all that junk come from. ");
    EXPECT_EQ(about[29], "At Last - a wash and brushup for your harddrive.");
    EXPECT_EQ(about[30], QString(18, QLatin1Char(' ')));
    EXPECT_TRUE(f.Timer1->isActive());
    EXPECT_EQ(f.Timer1->interval(), 100);

    // The Configure tab order.
    QWidget* chain[] = {f.CheckBox1,    f.CheckBox3,    f.CheckBox4,    f.CheckBox5,
                        f.CheckBox6,    f.CheckBox7,    f.CheckBox8,    f.CheckBox9,
                        f.Edit2,        f.Edit3,        f.CheckBox10,   f.CheckBox11,
                        f.CheckBox12,   f.CheckBox13,   f.RadioButton1, f.RadioButton2,
                        f.RadioButton3, f.RadioButton4, f.Edit4,        f.CheckBox2};
    auto nextTabStop = [](QWidget* widget) {
        do
            widget = widget->nextInFocusChain();
        while (!(widget->focusPolicy() & Qt::TabFocus));
        return widget;
    };
    for (std::size_t i = 1; i < std::size(chain); ++i)
        EXPECT_EQ(nextTabStop(chain[i - 1]), chain[i]) << i;
    // And no other stop on the tab: the folder button is reached by the mouse only.
    std::vector<QWidget*> stops;
    QWidget* widget = f.CheckBox1;
    do {
        if (widget->parentWidget() == f.CheckBox1->parentWidget())
            stops.push_back(widget);
        widget = nextTabStop(widget);
    } while (widget != f.CheckBox1 && stops.size() <= std::size(chain));
    EXPECT_EQ(stops, std::vector<QWidget*>(std::begin(chain), std::end(chain)));
}

TEST_F(MainFormTest, BannerPictureAndStatusPanelsHoldTheirStoredValues)
{
    TForm1& f = start();
    const TGradLabel& banner = *f.GradLabel1;
    EXPECT_EQ(banner.Caption(), "VORLAX 1.2");
    EXPECT_EQ(banner.font().family(), "Arial");
    EXPECT_EQ(banner.font().pixelSize(), 19);
    EXPECT_TRUE(banner.font().bold());
    EXPECT_EQ(banner.TxType(), TyHGradient);
    EXPECT_EQ(banner.StartColor(), runtime::clNavy);
    EXPECT_EQ(banner.EndColor(), runtime::clPurple);
    EXPECT_EQ(banner.BorderColor(), runtime::clNavy);
    EXPECT_TRUE(banner.Shadow());
    EXPECT_EQ(banner.ShadowColor(), runtime::clBtnShadow);
    EXPECT_EQ(banner.ShadowDeep(), 1);

    EXPECT_EQ(f.Image1->grab().toImage().convertToFormat(QImage::Format_RGB32),
              rubbishPicture().convertToFormat(QImage::Format_RGB32));

    for (const TLabel3DBorder* status : {f.Label3DBorder1, f.Label3DBorder2}) {
        EXPECT_EQ(status->BorderStyle(), bsHeavy);
        EXPECT_EQ(status->Alignment(), taCenter);
        EXPECT_EQ(status->Color(), runtime::clAqua);
        EXPECT_FALSE(status->ParentColor());
        EXPECT_TRUE(status->Caption().isEmpty());
    }
    EXPECT_EQ(f.Label3DBorder1->HorisontalAlign(), haCenter);
    EXPECT_EQ(f.Label3DBorder2->HorisontalAlign(), haTop);
}

TEST_F(MainFormTest, FirstStartGreetsAndWritesANewFileInOrder)
{
    TForm1& f = start();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].type, runtime::MessageType::Information);
    EXPECT_EQ(messages[0].text, "Welcome to your Vorlax Rubbish Collector\r\n\r\n"
                                "Please set your options on the Configure Page\r\n\r\n"
                                "You may change these settings any time by running Vorlax\r\n"
                                "These settings will be saved and used by the auto run function\r\n"
                                "at the selected date interval.\r\n");
    EXPECT_EQ(f.TabbedNotebook1->activePage(), "Configure");
    EXPECT_FALSE(runtime::terminated());
    exit();
    EXPECT_EQ(settings(), test::FirstSavedSettings);

    // The next start turns the zero date into tomorrow.
    runtime::overrideToday(Today);
    start();
    EXPECT_TRUE(messages.size() == 1u);
    EXPECT_EQ(form->NextRunDate, Today + 1);
    EXPECT_EQ(form->TabbedNotebook1->activePage(), "Main");
}

TEST_F(MainFormTest, LoadingReadsFlagsWithTheirDefaults)
{
    writeSettings("[Actions]\r\nDelBAK=0x1\r\nDelTMP=2\r\nDelCHK=yes\r\nRunScanDisk=0\r\n"
                  "DelUser1=1\r\nCache=   \r\nDelCache=1\r\nFrequency2=1\r\nFrequency4=1\r\n"
                  "[User]\r\nUser1=*.old\r\n");
    TForm1& f = start();
    EXPECT_TRUE(f.CheckBox6->isChecked());  // 0x1
    EXPECT_FALSE(f.CheckBox7->isChecked()); // 2
    EXPECT_TRUE(f.CheckBox4->isChecked());  // unconvertible: read default 1
    EXPECT_FALSE(f.CheckBox3->isChecked());
    EXPECT_TRUE(f.CheckBox1->isChecked()); // absent: read default 1
    EXPECT_TRUE(f.CheckBox8->isChecked());
    EXPECT_FALSE(f.CheckBox9->isChecked()); // absent: read default 0
    EXPECT_FALSE(f.CheckBox5->isChecked()); // blank cache folder
    EXPECT_EQ(f.Edit2->text(), "*.old");
    EXPECT_EQ(f.Edit3->text(), "");
    EXPECT_FALSE(f.CheckBox10->isChecked()); // visible box, absent key: 0
    // Several frequencies: the last one read wins.
    EXPECT_FALSE(f.RadioButton1->isChecked());
    EXPECT_FALSE(f.RadioButton2->isChecked());
    EXPECT_TRUE(f.RadioButton4->isChecked());
}

TEST_F(MainFormTest, RadioButtonsMayAllBeClear)
{
    TForm1& f = start();
    f.RadioButton3->setChecked(true);
    EXPECT_FALSE(f.RadioButton1->isChecked());
    EXPECT_TRUE(f.RadioButton3->isChecked());
    f.RadioButton3->setChecked(false);
    EXPECT_FALSE(f.RadioButton1->isChecked() || f.RadioButton2->isChecked() ||
                 f.RadioButton3->isChecked() || f.RadioButton4->isChecked());
    // A click selects, and clicking the selected button keeps it selected.
    f.RadioButton2->click();
    f.RadioButton2->click();
    EXPECT_TRUE(f.RadioButton2->isChecked());
}

// A start with the settings given: by hand, with a run, or unattended with a parameter.
struct ScheduleRow
{
    const char* name;
    std::string settings;
    int paramCount;
    bool collected;
    // The next date after the exit, from today; none when it is not looked at.
    std::optional<int> saved;
    std::function<void(TForm1&)> more;
};

class MainFormSchedule : public MainFormTest, public ::testing::WithParamInterface<ScheduleRow>
{
};

TEST_P(MainFormSchedule, StartsAsTheRowSays)
{
    const ScheduleRow& row = GetParam();
    runtime::overrideToday(Today);
    writeSettings(row.settings);
    TForm1& f = start(row.paramCount);
    if (row.paramCount == 0)
        f.CollectRubbish();
    EXPECT_EQ(f.Collected, row.collected);
    row.more(f);
    exit();
    if (row.saved) {
        EXPECT_EQ(savedDate(), dateText(Today + *row.saved));
    }
}

std::string due(const std::string& actions, int day)
{
    return actions + "[NextDate]\r\nDate=" + dateText(Today + day) + "\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    MainForm, MainFormSchedule,
    ::testing::ValuesIn(std::vector<ScheduleRow>{
        {"NoFrequencyMeansTheDateNeverAdvances", due("", 0), 1, true, 0,
         [](TForm1& f) {
             EXPECT_FALSE(f.RadioButton1->isChecked() || f.RadioButton2->isChecked() ||
                          f.RadioButton3->isChecked() || f.RadioButton4->isChecked());
         }},
        {"UnattendedStartBeforeTheDueDateOnlyRewritesTheDate",
         due("[Actions]\r\nFrequency3=1\r\n", 1), 1, false, 1,
         [](TForm1& f) {
             EXPECT_TRUE(runtime::terminated());
             EXPECT_TRUE(f.Label3DBorder1->text().isEmpty());
         }},
        {"UnattendedStartOnTheDueDateCollectsAndAdvances", due("[Actions]\r\nFrequency3=1\r\n", 0),
         1, true, 7,
         [](TForm1& f) {
             EXPECT_TRUE(runtime::terminated());
             EXPECT_FALSE(f.Collecting);
             EXPECT_FALSE(f.AutoRun);
             EXPECT_TRUE(f.BitBtn1->isEnabled());
             EXPECT_EQ(f.Label3DBorder1->text(), "Rubbish Collected");
             EXPECT_EQ(f.Label3DBorder2->text(), "0 Kb");
             EXPECT_EQ(f.BitBtn2->text(), "Close");
         }},
        // A missed date becomes tomorrow, so the late start does not collect.
        {"MissedDate", due("", -3), 1, false, std::nullopt,
         [](TForm1& f) { EXPECT_EQ(f.NextRunDate, Today + 1); }},
        // An empty date counts as today.
        {"EmptyDate", "[NextDate]\r\nDate=\r\n", 1, true, std::nullopt, [](TForm1&) {}},
        {"CompletedRunBeforeTheDueDateKeepsTheDate", due("[Actions]\r\nAutoStart=0\r\n", 2), 0,
         true, 2, [](TForm1&) {}},
    }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainFormTest, AnyParameterTextIsUnattendedButOnlyWithASettingsFile)
{
    runtime::overrideToday(Today);
    start(1);
    EXPECT_FALSE(runtime::terminated());
    EXPECT_EQ(form->TabbedNotebook1->activePage(), "Configure");
}

TEST_F(MainFormTest, InvalidStoredDateIsShownAndKeepsTheWindowOpen)
{
    runtime::overrideToday(Today);
    writeSettings("[User]\r\nUser1=*.x\r\n[NextDate]\r\nDate=someday\r\n");
    TForm1& f = start(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].type, runtime::MessageType::Error);
    EXPECT_EQ(messages[0].text, "'someday' is not a valid date");
    EXPECT_FALSE(runtime::terminated());
    EXPECT_FALSE(f.Collected);
    EXPECT_EQ(f.Edit2->text(), "*.x"); // loaded before the date
    EXPECT_EQ(f.NextRunDate, 0);
    EXPECT_EQ(f.TabbedNotebook1->activePage(), "Main");
    // Every key was read, so the exit saves, with what the user changed.
    f.Edit3->setText(QStringLiteral("*.y"));
    exit();
    EXPECT_EQ(savedDate(), "1899/12/30");
    EXPECT_NE(settings().find("User1=*.x\r\n"), std::string::npos);
    EXPECT_NE(settings().find("User2=*.y\r\n"), std::string::npos);
}

TEST_F(MainFormTest, StartedByHandAfterACompletedRunAdvancesBySelectedInterval)
{
    runtime::overrideToday(Today);
    writeSettings("[Actions]\r\nFrequency4=1\r\n[NextDate]\r\nDate=" + dateText(Today) + "\r\n");
    TForm1& f = start();
    answer = ModalResult::No;
    f.BitBtn1->click();
    EXPECT_EQ(f.TabbedNotebook1->activePage(), "Configure");
    EXPECT_FALSE(f.Collected);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Collect Rubbish with these Settings");
    EXPECT_EQ(messages[0].type, runtime::MessageType::Confirmation);

    answer = ModalResult::Cancel; // closed by its title bar: not "No"
    f.BitBtn1->click();
    EXPECT_EQ(f.TabbedNotebook1->activePage(), "Main");
    EXPECT_TRUE(f.Collected);
    exit();
    EXPECT_EQ(savedDate(), dateText(Today + 30));
}

TEST_F(MainFormTest, FilesScannerHasItsStoredValuesAndStopEndsItsScan)
{
    TForm1& f = start();
    TFilesScanner& scanner = f.FilesScanner1;
    EXPECT_EQ(scanner.FileMask, "*");
    EXPECT_EQ(scanner.Attributes, TFileAttributes{faArchive});
    EXPECT_TRUE(scanner.UpdateList);
    EXPECT_EQ(scanner.ScanOptions, soSpecifiedDir);
    EXPECT_EQ(scanner.ScanDir, "C:\\");
    EXPECT_TRUE(scanner.ProcessMsg);
    EXPECT_TRUE(scanner.Recursive);
    EXPECT_EQ(scanner.Sorted(), soUnsort);

    // A scan of a collection shows its folder and ends at "Stop", which the pump runs.
    for (int i = 0; i < 1000; ++i)
        test::Sandbox::writeFile(sandbox->driveC() + "/many/f" + std::to_string(i), "x");
    f.Collecting = true;
    f.BitBtn2->setText(QStringLiteral("Stop"));
    scanner.ScanDir = "C:\\many";
    QTimer::singleShot(0, &f, [&f] { f.BitBtn2->click(); });
    scanner.Execute();
    EXPECT_LT(scanner.FilesList().Count(), 1000);
    EXPECT_FALSE(f.Collecting);
    EXPECT_EQ(f.BitBtn2->text(), "Close");
    EXPECT_EQ(f.Label3DBorder1->text(), "C:\\many");
}

TEST_F(MainFormTest, DriveBoxesFollowTheirOwnLetters)
{
    const std::string r = sandbox->root();
    for (const char* d : {"/a", "/c", "/d", "/e", "/f"})
        test::Sandbox::writeFile(r + d + "/.keep", "");
    // No A:, and D: is removable: C: and E: show.
    sandbox->setDrives("C:=" + r + "/c@fixed;D:=" + r + "/d@removable;E:=" + r + "/e@fixed");
    writeSettings("[Drives]\r\nDrive0=1\r\nDrive1=1\r\nDrive2=1\r\nDrive3=1\r\n");
    TForm1& f = start();
    EXPECT_FALSE(f.CheckBox10->isHidden());
    EXPECT_TRUE(f.CheckBox11->isHidden());
    EXPECT_FALSE(f.CheckBox12->isHidden());
    EXPECT_TRUE(f.CheckBox13->isHidden());
    // Hidden boxes are not loaded, but saved with their state.
    EXPECT_TRUE(f.CheckBox10->isChecked());
    EXPECT_FALSE(f.CheckBox11->isChecked());
    EXPECT_TRUE(f.CheckBox12->isChecked());
    f.CollectRubbish();
    EXPECT_EQ(f.SelectedDrives[0], "C:");
    EXPECT_EQ(f.SelectedDrives[1], "");
    EXPECT_EQ(f.SelectedDrives[2], "E:");
    EXPECT_EQ(f.SelectedDrives[3], "");
    exit();
    EXPECT_NE(settings().find("Drive1=0\r\n"), std::string::npos);

    // A mapped letter whose folder is missing is no fixed disk.
    sandbox->setDrives("C:=" + r + "/missing@fixed;F:=" + r + "/f");
    start();
    EXPECT_TRUE(form->CheckBox10->isHidden());
    EXPECT_FALSE(form->CheckBox13->isHidden());
}

TEST_F(MainFormTest, AutoBoxKeepsTheAutostartEntryInStep)
{
    // A file without "AutoStart" ticks the box, which registers the program.
    writeSettings("[Actions]\r\nDelBAK=1\r\n");
    TForm1& f = start();
    EXPECT_TRUE(f.CheckBox2->isChecked());
    ASSERT_TRUE(test::Sandbox::exists(desktopEntry()));
    const std::string entry = test::Sandbox::readFile(desktopEntry());
    EXPECT_NE(entry.find("[Desktop Entry]"), std::string::npos);
    EXPECT_NE(entry.find(" /a"), std::string::npos);
    EXPECT_EQ(f.TarnwickAutostart1.autostart(), true);

    f.CheckBox2->click();
    EXPECT_FALSE(test::Sandbox::exists(desktopEntry()));
    f.CheckBox2->click();
    EXPECT_TRUE(test::Sandbox::exists(desktopEntry()));
    exit();
    EXPECT_NE(settings().find("AutoStart=1\r\n"), std::string::npos);
}

TEST_F(MainFormTest, BlockedAutostartFolderKeepsTheUsersKeys)
{
    runtime::overrideToday(Today);
    const std::string stored = "; mine\r\n[Actions]\r\nAutoStart=1\r\nDelBAK=0\r\nFrequency3=1\r\n"
                               "[User]\r\nUser1=*.mine\r\n[NextDate]\r\nDate=" +
                               dateText(Today) + "\r\n";
    const std::function<void()> blockers[] = {
        [this] { test::Sandbox::writeFile(sandbox->autostartDir(), "not a folder"); },
        [this] { fs::create_symlink(sandbox->root() + "/gone", sandbox->autostartDir()); },
    };
    for (const auto& block : blockers) {
        fs::remove_all(sandbox->autostartDir());
        block();
        writeSettings(stored);
        messages.clear();
        TForm1& f = start(1);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, "Failed to set data for 'Vorlax'");
        // Every key was read, and the due run did not start.
        EXPECT_FALSE(f.CheckBox6->isChecked());
        EXPECT_EQ(f.editText(f.Edit2), "*.mine");
        EXPECT_TRUE(f.RadioButton3->isChecked());
        EXPECT_EQ(f.NextRunDate, Today);
        EXPECT_TRUE(f.Label3DBorder1->text().isEmpty());
        EXPECT_FALSE(runtime::terminated());
        exit();
        const std::string saved = settings();
        for (const char* kept : {"; mine\r\n", "DelBAK=0\r\n", "User1=*.mine\r\n",
                                 "Frequency3=1\r\n", "AutoStart=1\r\n"})
            EXPECT_NE(saved.find(kept), std::string::npos) << kept;
        EXPECT_EQ(savedDate(), dateText(Today));
    }
}

TEST_F(MainFormTest, TerminationBeforeTheUnattendedRunStartsNoRun)
{
    runtime::overrideToday(Today);
    writeSettings("[Actions]\r\nAutoStart=0\r\n[NextDate]\r\nDate=" + dateText(Today) + "\r\n");
    // What a signal that arrived during start-up does once messages are processed.
    QTimer::singleShot(0, [] { runtime::terminate(); });
    TForm1& f = start(1);
    EXPECT_FALSE(f.Collected);
    EXPECT_TRUE(f.Label3DBorder1->text().isEmpty());
    EXPECT_TRUE(runtime::terminated());
    exit();
    EXPECT_EQ(savedDate(), dateText(Today));
}

TEST_F(MainFormTest, SettingsThatCannotBeReadAreNeitherLoadedNorOverwritten)
{
    runtime::overrideToday(Today);
    fs::create_directory(sandbox->iniPath());
    TForm1& f = start(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].type, runtime::MessageType::Error);
    EXPECT_EQ(messages[0].text, "Unable to read vorlax.ini");
    EXPECT_FALSE(f.settingsSaveAllowed());
    EXPECT_FALSE(f.CheckBox2->isChecked());
    EXPECT_TRUE(f.Label3DBorder1->text().isEmpty());
    EXPECT_FALSE(runtime::terminated());
    runtime::runExitHook();
    exit();
    EXPECT_TRUE(fs::is_directory(sandbox->iniPath()));
    EXPECT_TRUE(fs::is_empty(sandbox->iniPath()));
    EXPECT_FALSE(test::Sandbox::exists(desktopEntry()));
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(MainFormTest, TheExitHookSavesWhatTheWindowLastHeld)
{
    writeSettings("[Actions]\r\nAutoStart=0\r\n");
    TForm1& f = start();
    f.Edit2->setText(QStringLiteral("*.hook"));
    f.CheckBox6->setChecked(false);
    f.RadioButton4->click();
    // What runs when the toolkit ends the process itself.
    runtime::runExitHook();
    const std::string saved = settings();
    for (const char* kept : {"User1=*.hook\r\n", "DelBAK=0\r\n", "Frequency4=1\r\n"})
        EXPECT_NE(saved.find(kept), std::string::npos) << kept;
}

TEST_F(MainFormTest, OneLoadReadsTheFileOnceAndOneSaveWritesItOnce)
{
    test::ScopedFake<test::FakeProfile> counting;
    counting.real = platform::ProfileService::createDefault();
    writeSettings("[Actions]\r\nAutoStart=0\r\nDelBAK=0\r\n");
    TForm1& f = start();
    EXPECT_FALSE(f.CheckBox6->isChecked());
    EXPECT_EQ(counting.reads, 1);
    exit();
    EXPECT_EQ(counting.writes, 1);
    EXPECT_EQ(counting.reads, 1);
    EXPECT_EQ(counting.perKey, 0);
    EXPECT_NE(settings().find("DelBAK=0\r\n"), std::string::npos);
}

TEST_F(MainFormTest, ASaveKeepsWhatChangedOnDiskSinceTheLoad)
{
    writeSettings("[Actions]\r\nAutoStart=0\r\n");
    TForm1& f = start();
    f.Edit2->setText(QStringLiteral("*.new"));
    // Edited by hand, or by another copy, while the window was open.
    writeSettings("[Actions]\r\nAutoStart=0\r\n[Extra]\r\nKept=yes\r\n");
    exit();
    const std::string saved = settings();
    EXPECT_NE(saved.find("[Extra]\r\nKept=yes\r\n"), std::string::npos);
    EXPECT_NE(saved.find("User1=*.new\r\n"), std::string::npos);

    // A file written with LF line ends keeps them.
    writeSettings("; LF only\n[Actions]\nAutoStart=0\n");
    start();
    exit();
    EXPECT_EQ(settings().find('\r'), std::string::npos);
    EXPECT_NE(settings().find("\n[NextDate]\nDate="), std::string::npos);
}

TEST_F(MainFormTest, RefusedSettingsWriteIsReported)
{
    writeSettings("[Actions]\r\nAutoStart=0\r\n");
    start();
    // The file turns into a folder behind the program's back.
    std::remove(sandbox->iniPath().c_str());
    test::Sandbox::writeFile(sandbox->iniPath() + "/blocker", "");
    exit();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].type, runtime::MessageType::Error);
    EXPECT_EQ(messages[0].text, "Unable to write to vorlax.ini");
}

TEST_F(MainFormTest, ClosingTheWindowDuringARunStopsItAndEnds)
{
    TForm1& f = start();
    QTimer::singleShot(0, &f, [&f] { f.close(); });
    f.CollectRubbish();
    EXPECT_EQ(f.Label3DBorder1->text(), "Collection Stopped");
    EXPECT_TRUE(runtime::terminated());
}

TEST_F(MainFormTest, HiddenCDriveBoxIsSavedWithItsWindowDefault)
{
    sandbox->setDrives("C:=" + sandbox->root() + "/nowhere@fixed");
    writeSettings("[Actions]\r\nAutoStart=0\r\n[Drives]\r\nDrive0=0\r\n");
    TForm1& f = start();
    EXPECT_TRUE(f.CheckBox10->isHidden());
    EXPECT_TRUE(f.CheckBox10->isChecked());
    exit();
    EXPECT_NE(settings().find("Drive0=1\r\n"), std::string::npos);
}

TEST_F(MainFormTest, TextsThatAreNoUtf8ComeBackAsTheyWere)
{
    const std::string latin1Folder = "C:\\Caf\xe9";
    writeSettings("[Actions]\r\nAutoStart=0\r\nCache=" + latin1Folder +
                  "\r\n[User]\r\nUser1=*.\xff\r\n");
    TForm1& f = start();
    EXPECT_EQ(f.editText(f.Edit4), latin1Folder);
    exit();
    EXPECT_NE(settings().find("Cache=" + latin1Folder + "\r\n"), std::string::npos);
    EXPECT_NE(settings().find("User1=*.\xff\r\n"), std::string::npos);

    // Text the user typed is kept as typed.
    start();
    form->Edit4->setText(QStringLiteral("C:\\Neu"));
    exit();
    EXPECT_NE(settings().find("Cache=C:\\Neu\r\n"), std::string::npos);
}

TEST_F(MainFormTest, SignalDuringTheConfirmationStartsNothing)
{
    TForm1& f = start();
    answer = ModalResult::Cancel;
    runtime::setMessageInterceptor([&f](const runtime::MessageRequest&) {
        f.requestExit(); // what SIGTERM does while the box is open
        return ModalResult::Cancel;
    });
    f.BitBtn1->click();
    EXPECT_FALSE(f.Collected);
    EXPECT_TRUE(f.Label3DBorder1->text().isEmpty());
    EXPECT_TRUE(runtime::terminated());
}

TEST_F(MainFormTest, SettingsInAFolderTooLongToNameAreStillLoadedNotOverwritten)
{
    const std::string longFolder = sandbox->root() + "/" + std::string(120, 'w') + "/" +
                                   std::string(120, 'x') + "/" + std::string(40, 'y');
    sandbox->setEnv("VORLAX_WINDIR", longFolder);
    test::Sandbox::writeFile(longFolder + "/vorlax.ini",
                             "[Actions]\r\nAutoStart=0\r\nDelBAK=0\r\n[User]\r\nUser1=*.mine\r\n");
    TForm1& f = start();
    EXPECT_TRUE(messages.empty()); // no welcome: the file was found
    EXPECT_FALSE(f.CheckBox6->isChecked());
    exit();
    const std::string saved = test::Sandbox::readFile(longFolder + "/vorlax.ini");
    EXPECT_NE(saved.find("User1=*.mine\r\n"), std::string::npos);
    EXPECT_NE(saved.find("DelBAK=0\r\n"), std::string::npos);
}

TEST_F(MainFormTest, TimerTypesSpaceAndEnterIntoItsOwnErrorDialogOnly)
{
    test::ScopedFake<test::FakeWindows> windows;
    test::ScopedFake<test::FakeKeyboard> keyboard;
    TForm1& f = start();
    windows.titles = {"error deleting file - a web page", "Vorlax"};
    windows.foreign = {1};
    f.Timer1Timer(nullptr);
    EXPECT_TRUE(keyboard.events.empty());
    EXPECT_TRUE(windows.raised.empty());

    windows.titles.push_back("ERROR DELETING FILE");
    // A tick while the keys are being sent starts no second round.
    keyboard.onEvent = [&](const test::KeyEvent&) { f.Timer1Timer(nullptr); };
    f.Timer1Timer(nullptr);
    EXPECT_EQ(windows.raised, std::vector<platform::HWND>{3});
    ASSERT_EQ(keyboard.events.size(), 4u);
    EXPECT_EQ(keyboard.events[0].virtualKey, 0x20);
    EXPECT_EQ(keyboard.events[2].virtualKey, 0x0D);
}

// A window left open across a timer's run must not write its older date back, or the
// collection would run again; a date on disk that is earlier, or no date, is replaced.
TEST_F(MainFormTest, ASaveNeverMovesTheDateBack)
{
    runtime::overrideToday(Today);
    const struct
    {
        std::string meanwhile; // the date on disk when the window saves
        runtime::TDate saved;
    } rows[] = {
        {dateText(Today + 7), Today + 7},
        {dateText(Today), Today + 1},
        {"never", Today + 1},
        {"", Today + 1},
    };
    for (const auto& row : rows) {
        writeSettings("[Actions]\r\nAutoStart=0\r\n[NextDate]\r\nDate=" + dateText(Today + 1) +
                      "\r\n");
        start();
        writeSettings("[Actions]\r\nAutoStart=0\r\n[NextDate]\r\nDate=" + row.meanwhile + "\r\n");
        exit();
        EXPECT_EQ(savedDate(), dateText(row.saved)) << row.meanwhile;
    }
}
