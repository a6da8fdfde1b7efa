#include "app/MainForm.h"

#include "app/CollectionFilter.h"
#include "app/CollectionPlan.h"
#include "app/CollectionPreview.h"
#include "app/LastCollection.h"
#include "app/Wmiscio.h"
#include "platform/files/Folders.h"
#include "platform/files/PathWalk.h"
#include "runtime/Application.h"
#include "runtime/Errors.h"
#include "runtime/IniFile.h"
#include "runtime/MessageBoxes.h"
#include "runtime/OwnWindows.h"
#include "sysinfo/DriveList.h"
#include "widgets/PreviewDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QPointer>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <algorithm>
#include <cerrno>
#include <iostream>
#include <vector>

namespace {

using Reach = platform::CollectionRules::Reach;

const char* const WelcomeText = "Welcome to your Vorlax Rubbish Collector\r\n"
                                "\r\n"
                                "Please set your options on the Configure Page\r\n"
                                "\r\n"
                                "You may change these settings any time by running Vorlax\r\n"
                                "These settings will be saved and used by the auto run function\r\n"
                                "at the selected date interval.\r\n";

const char* const ErrorDialogTitle = "Error Deleting File";

const char* const UnchosenSettingsText = "Open Vorlax once to choose what it collects.";
const char* const OtherCollectionText =
    "Another Vorlax is collecting with these settings; this start ends without collecting.";
const char* const OtherCollectionBoxText =
    "Another Vorlax is collecting with these settings. Try again when it has finished.";

} // namespace

TForm1::TForm1(int paramCount, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      FileOperation1([this] { return runtime::windowHandle(this); }), m_paramCount(paramCount)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Vorlax 1.2"));
    buildControls();

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);

    FilesScanner1.FileMask = "*";
    FilesScanner1.Attributes = {faArchive};
    FilesScanner1.UpdateList = true;
    FilesScanner1.ScanOptions = soSpecifiedDir;
    FilesScanner1.ScanDir = "C:\\";
    FilesScanner1.ProcessMsg = true;
    FilesScanner1.Recursive = true;
    FilesScanner1.setSorted(soUnsort);
    FilesScanner1.OnProcess = [this](TFilesScan* Sender, const std::string& Dir, int FilesCount,
                                     std::int64_t FilesSize) {
        FilesScanner1Process(Sender, Dir, FilesCount, FilesSize);
    };

    FileOperation1.setOperation(foDelete);
    FileOperation1.setFlags({fofAllowUndo, fofNoConfirmation, fofSilent});
    FileOperation1.OnProgress = [this](TFileOperation*, const std::string& File) {
        showFileMoved(File);
    };

    TarnwickAutostart1.setAppName("Vorlax");
    TarnwickAutostart1.setParameters("/a");
    runtime::guarded([this] { TarnwickAutostart1.setAutostart(true); });
    // An error in a snapshot is shown like any other; the window still opens.
    runtime::guarded([this] { SystemInfo1.emplace(); });
    runtime::guarded([this] { QXSysInfo1.emplace(); });

    connectHandlers();
    captureSettings();
    Timer1->start();
#if QT_CONFIG(sessionmanager)
    // The session is ending: what the window holds is saved now, whatever comes next.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] {
        if (m_saveAllowed)
            runtime::guarded([this] { SaveSettings(); });
    });
#endif
    // A signal during an unattended collection in FormCreate must stop it too.
    runtime::setSignalHandler([this] { requestExit(); });
    runtime::guarded([this] { FormCreate(this); });
}

TForm1::~TForm1()
{
    runtime::setSignalHandler({});
    runtime::setExitHook({});
    Timer1->stop();
    runtime::guarded([this] { FormDestroy(this); });
}

void TForm1::connectHandlers()
{
    auto handle = [this](auto method) {
        return [this, method] { runtime::guarded([this, method] { (this->*method)(this); }); };
    };
    connect(BitBtn1, &QPushButton::clicked, this, handle(&TForm1::BitBtn1Click));
    connect(BitBtn2, &QPushButton::clicked, this, handle(&TForm1::BitBtn2Click));
    connect(SpeedButton1, &QToolButton::clicked, this, handle(&TForm1::SpeedButton1Click));
    connect(CheckBox2, &QCheckBox::toggled, this, handle(&TForm1::CheckBox2Click));
    connect(Timer1, &QTimer::timeout, this, handle(&TForm1::Timer1Timer));
    OnLastCollection = [this] { LastCollectionClick(this); };
    OnPutLastCollectionBack = [this] { PutLastCollectionBackClick(this); };
    for (QCheckBox* box :
         {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7, CheckBox8,
          CheckBox9, CheckBox10, CheckBox11, CheckBox12, CheckBox13})
        connect(box, &QCheckBox::toggled, this, &TForm1::captureSettings);
    for (QLineEdit* edit : {Edit2, Edit3, Edit4})
        connect(edit, &QLineEdit::textChanged, this, &TForm1::captureSettings);
    for (TRadioButton* button : radioButtons()) {
        connect(button, &QRadioButton::toggled, this, &TForm1::captureSettings);
        connect(button, &QRadioButton::toggled, this, [this, button](bool selected) {
            runtime::guarded([this, button, selected] {
                if (!selected)
                    return;
                for (TRadioButton* other : radioButtons()) {
                    if (other != button)
                        other->setChecked(false);
                }
            });
        });
    }
}

std::array<QCheckBox*, 4> TForm1::driveBoxes() const
{
    return {CheckBox10, CheckBox11, CheckBox12, CheckBox13};
}

std::array<TRadioButton*, 4> TForm1::radioButtons() const
{
    return {RadioButton1, RadioButton2, RadioButton3, RadioButton4};
}

void TForm1::closeEvent(QCloseEvent* event)
{
    runtime::guarded([this] { requestExit(); });
    event->accept();
}

void TForm1::requestExit()
{
    if (m_stopPreview)
        m_stopPreview();
    // A running collection stops first, as "Stop" would, so nothing goes on unseen.
    if (Collecting)
        BitBtn2Click(this);
    runtime::terminate();
}

std::string TForm1::amountText() const
{
    return kilobytesText(static_cast<std::uint64_t>(CollectedBytes));
}

void TForm1::FormCreate(QObject*)
{
    Collected = false;
    runtime::setDateConventions('-', "dd-mm-yyyy");
    QPalette palette = RichEdit1->palette();
    palette.setColor(QPalette::Base, QColor(160, 210, 230));
    RichEdit1->setPalette(palette);
    UpdateDriveBoxes();
    TabbedNotebook1->setActivePage(QStringLiteral("Main"));
    FillSystemSummary();

    // Looked for where it is read and written, so a Windows folder too long to name can
    // never make a start overwrite an existing file with defaults. Anything there that
    // cannot be read is an error, not a file of defaults.
    if (runtime::IniFile(SettingsFile).exists()) {
        // Held from before the load until after the save, so that of two unattended starts
        // at once only one can find the date due and collect.
        std::optional<platform::SettingsLock> hold;
        if (m_paramCount > 0) {
            hold.emplace(platform::SettingsHold::Collection);
            if (hold->error() == EWOULDBLOCK) {
                std::cerr << OtherCollectionText << std::endl;
                runtime::terminate();
                return;
            }
        }
        LoadSettings();
        if (m_paramCount > 0) {
            if (runtime::today() >= NextRunDate) {
                m_collectionHold = std::move(hold);
                AutoRun = true;
                runtime::processMessages();
                // A termination signal handled just now ends the program, not a run.
                if (!runtime::terminated())
                    CollectRubbish();
            }
            runtime::terminate();
        }
    } else {
        // Without a display nobody sees the defaults: saving them would have a later
        // unattended start collect with settings nobody chose.
        if (!runtime::isHeadless())
            allowSave();
        runtime::messageDlg(WelcomeText, runtime::MessageType::Information, runtime::ButtonOk);
        if (runtime::isHeadless())
            std::cerr << UnchosenSettingsText << std::endl;
        TabbedNotebook1->setActivePage(QStringLiteral("Configure"));
    }
}

void TForm1::FormDestroy(QObject*)
{
    if (m_saveAllowed)
        SaveSettings();
}

void TForm1::UpdateDriveBoxes()
{
    // Each box follows its own letter, so a machine without A: or with a gap in its
    // letters still shows the right boxes.
    TDriveList list;
    const auto boxes = driveBoxes();
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        const std::string root = driveOfSlot(k) + "\\";
        bool fixed = false;
        const int count = list.Count();
        for (int i = 0; i < count && !fixed; ++i)
            fixed = list.Drive(i) == root && list.DriveType(i) == dtFixed;
        boxes[k]->setVisible(fixed);
    }
}

void TForm1::FillSystemSummary()
{
    const auto shortText = &TQXSysInfo::shortText;
    ListBox1->clear();
    if (!QXSysInfo1)
        return;
    TQXDriveDefs& drive = QXSysInfo1->DriveInfo();
    std::vector<std::string> lines = {
        "Current User: " + QXSysInfo1->CurrentUser(),
        shortText("Platform: " + QXSysInfo1->Platform()),
        shortText("Reg Organization: " + QXSysInfo1->RegOrganization()),
        shortText("Reg Owner: " + QXSysInfo1->RegOwner()),
        shortText("Computer Name: " + QXSysInfo1->ComputerName()),
        "Physical Memory: " + std::to_string(QXSysInfo1->MemTotalPhys()),
        shortText("Boot Dir: " + QXSysInfo1->BootDir()),
    };
    for (const char letter : {'C', 'D', 'E', 'F', 'G'}) {
        const std::string designator = std::string(1, letter) + ":";
        drive.setDrive(designator);
        lines.push_back("File System: " + designator + " " + drive.FileSystem());
        lines.push_back("Free Space: " + std::to_string(drive.FreeSpace()));
    }
    for (const auto& line : lines)
        ListBox1->addItem(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
}

bool TForm1::pumpAndContinue()
{
    runtime::processMessages();
    return Collecting;
}

void TForm1::CollectRubbish()
{
    // A run inside a run would empty the found-file list the outer one is walking.
    if (m_runActive)
        return;
    // One collection at a time for these settings, in this program or another.
    std::optional<platform::SettingsLock> hold;
    if (!m_collectionHold) {
        hold.emplace(platform::SettingsHold::Collection);
        if (hold->error() == EWOULDBLOCK) {
            runtime::messageDlg(OtherCollectionBoxText, runtime::MessageType::Information,
                                runtime::ButtonOk);
            return;
        }
    }
    m_runActive = true;
    const auto runEnd = qScopeGuard([this] { m_runActive = false; });
    // Every file the run moves is recorded, so the run can be put back as a whole.
    platform::CollectionRecorder recorder;
    m_report.clear();
    // What an earlier run killed halfway through a copy left in the trash goes first, so
    // that runs killed again and again never fill the disk.
    platform::tidyTrash();
    // Without a display the run's own line is all a scheduler's log or mail shows of it.
    const auto reportLine = qScopeGuard([this] {
        const std::string line = m_report.line(amountText());
        if (runtime::isHeadless() && !line.empty())
            std::cout << line << std::endl;
    });

    show();
    repaint();
    BitBtn1->setEnabled(false);
    if (AutoRun)
        runtime::processMessages();
    Collecting = true;
    BitBtn2->setText(QStringLiteral("Stop"));
    CollectedBytes = 0;
    m_captionClock.invalidate();
    SelectedDrives.fill(std::string());

    const auto boxes = driveBoxes();
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        if (boxes[k]->isChecked() && !boxes[k]->isHidden())
            SelectedDrives[k] = driveOfSlot(k);
    }
    const TCollectionPlan plan = planCollection(collectionSettings());

    if (!plan.diskChecker.empty()) {
        ExecFile1.setCommandLine(plan.diskChecker);
        ExecFile1.setWait(true);
        ExecFile1.Execute();
    }
    if (!pumpAndContinue()) {
        finishStopped();
        return;
    }

    for (const TCollectionStep& step : plan.steps) {
        if (step.kind == TCollectionStep::Kind::Refusal) {
            runtime::messageDlg(step.warning, runtime::MessageType::Warning, runtime::ButtonOk);
            // Cleared, so that the refusal is saved with the settings.
            settingsBox(step.box)->setChecked(false);
        } else if (!collectFrom(step.FileMask, step.ScanOptions, step.ScanDir, step.reach)) {
            return;
        }
    }

    Label3DBorder1->setText(QStringLiteral("Rubbish Collected"));
    Label3DBorder2->setText(QString::fromStdString(amountText()));
    Collecting = false;
    AutoRun = false;
    Collected = true;
    BitBtn2->setText(QStringLiteral("Close"));
    BitBtn1->setEnabled(true);
    FillSystemSummary();
}

QCheckBox* TForm1::settingsBox(TSettingsBox box) const
{
    switch (box) {
    case TSettingsBox::TempFiles:
        return CheckBox1;
    case TSettingsBox::Cache:
        return CheckBox5;
    case TSettingsBox::User1:
        return CheckBox8;
    case TSettingsBox::User2:
        break;
    }
    return CheckBox9;
}

bool TForm1::collectFrom(const std::string& mask, TScanOptions options, const std::string& dir,
                         platform::CollectionRules::Reach reach)
{
    // What the running system and the user still need stays, whatever the mask says.
    TCollectionFilter filter(reach, dir);
    FilesScanner1.Filter = &filter;
    const auto filterEnd = qScopeGuard([this] { FilesScanner1.Filter = nullptr; });
    FilesScanner1.FileMask = mask;
    FilesScanner1.ScanOptions = options;
    FilesScanner1.Recursive = true;
    FilesScanner1.ScanDir = dir;
    FilesScanner1.Execute();
    if (!pumpAndContinue()) {
        finishStopped();
        return false;
    }

    const TFilesList& found = FilesScanner1.FilesList();
    const int count = found.Count();
    // The folders of the files stay open while their files move.
    const platform::KeptWalk walk;
    for (int index = 0; index < count; ++index) {
        FileOperation1.setOperation(foDelete);
        FileOperation1.setFlags({fofAllowUndo, fofNoConfirmation, fofSilent});
        const TFileObject* file = found.Items(index);
        const std::string fullName = file->Path() + file->Name();
        // A request names its files in a list split at ";", and the shell reads "*" and "?"
        // as wildcards: such a name could take other files with it. Another user's file,
        // or one inside a trash, is not ours to take.
        if (fullName.find_first_of(";*?") == std::string::npos &&
            platform::isCollectable(fullName) && !filter.rules.usedLately(fullName)) {
            CollectedBytes += file->Size();
            FileOperation1.setFilesFrom(fullName);
            bool moved = false;
            try {
                moved = FileOperation1.Execute();
            } catch (...) {
                // A file that cannot be taken stays where it is; the run goes on.
            }
            if (moved)
                m_report.moved();
            else
                m_report.refused(FileOperation1.FailureReason());
        }
        // A pass of the toolkit's loop after every file would cost as much as the move; the
        // captions change no more often than this.
        runtime::processMessagesWhenDue(CaptionIntervalMs);
        if (!Collecting) {
            finishStopped();
            return false;
        }
    }
    return true;
}

void TForm1::finishStopped()
{
    m_report.stopped();
    Label3DBorder1->setText(QStringLiteral("Collection Stopped"));
    Label3DBorder2->setText(QString::fromStdString(amountText()));
    Collecting = false;
    BitBtn2->setText(QStringLiteral("Close"));
    BitBtn1->setEnabled(true);
}

void TForm1::PreviewCollection()
{
    if (m_runActive || m_stopPreview)
        return;
    TCollectionPreview preview(planCollection(collectionSettings()));
    QPointer<PreviewDialog> dialog = new PreviewDialog(this);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->show();
    preview.ProcessMsg = true;
    preview.OnFile = [&preview, &dialog](const TPreviewFile& file) {
        if (dialog)
            dialog->addFile(QString::fromStdString(preview.Plan().steps[file.step].stage),
                            QString::fromStdString(file.windowsPath), file.size);
    };
    preview.OnFolder = [&dialog](const std::string& folder) {
        if (dialog)
            dialog->setSearching(QString::fromStdString(folder));
    };
    preview.OnRefusal = [&dialog](const std::string& warning) {
        if (dialog)
            dialog->addNote(QString::fromStdString(warning) +
                            QStringLiteral(" (a collection would clear its box)"));
    };
    // The dialog outlives the preview: its Stop must not reach it once it has ended.
    const QMetaObject::Connection stopping =
        connect(dialog, &PreviewDialog::stopClicked, this, [&preview] { preview.Stop(); });
    m_stopPreview = [&preview] { preview.Stop(); };
    const auto previewEnd = qScopeGuard([this, stopping] {
        m_stopPreview = {};
        disconnect(stopping);
    });
    QString outcome;
    try {
        preview.Execute();
        outcome = preview.Stopped() ? QStringLiteral("Preview stopped: the list is not whole.")
                                    : QStringLiteral("A collection now would move these files.");
    } catch (const EMaskException& error) {
        outcome = QString::fromStdString(error.what());
    }
    if (!dialog)
        return;
    dialog->finish(outcome);
    if (dialog->isVisible())
        dialog->setAttribute(Qt::WA_DeleteOnClose);
    else
        dialog->deleteLater();
}

void TForm1::BitBtn1Click(QObject*)
{
    TabbedNotebook1->setActivePage(QStringLiteral("Configure"));
    const auto answer = runtime::messageDlg("Collect Rubbish with these Settings",
                                            runtime::MessageType::Confirmation,
                                            runtime::ButtonYes | runtime::ButtonNo);
    // A termination asked while the box was open ended it unanswered: start nothing then.
    if (runtime::terminated())
        return;
    if (answer != runtime::ModalResult::No) {
        TabbedNotebook1->setActivePage(QStringLiteral("Main"));
        CollectRubbish();
    }
}

void TForm1::BitBtn2Click(QObject*)
{
    if (!Collecting) {
        runtime::terminate();
        return;
    }
    AutoRun = false;
    Collecting = false;
    // A run still waiting for the disk checker or a shell request enables it as it ends;
    // one left by an error is over already.
    if (!m_runActive)
        BitBtn1->setEnabled(true);
    BitBtn2->setText(QStringLiteral("Close"));
    FilesScanner1.Stop();
}

void TForm1::SpeedButton1Click(QObject*)
{
    // Not given the edit's text: the dialog opens on the folder chosen last.
    if (PathDialog1.Execute())
        setEditText(Edit4, PathDialog1.Directory());
}

void TForm1::CheckBox2Click(QObject*)
{
    TarnwickAutostart1.setAutostart(CheckBox2->isChecked());
}

void TForm1::FilesScanner1Process(TFilesScan*, const std::string& Dir, int, std::int64_t)
{
    Label3DBorder1->setText(QString::fromStdString(Dir));
    Label3DBorder2->setText(QString::fromStdString(amountText()));
}

void TForm1::showFileMoved(const std::string& File)
{
    // Thousands of files a second may go: captions drawn for each would slow the move.
    if (m_captionClock.isValid() && m_captionClock.elapsed() < CaptionIntervalMs)
        return;
    m_captionClock.start();
    Label3DBorder1->setText(QString::fromStdString(File));
    Label3DBorder2->setText(QString::fromStdString(amountText()));
}

void TForm1::Timer1Timer(QObject*)
{
    // Only our own windows: the dialog is always our shell's, and another program's window
    // carrying the same words must never receive the keys.
    if (m_sendingKeys || !OwnWindowTitleExists(ErrorDialogTitle))
        return;
    SendKey1.TitleText = ErrorDialogTitle;
    SendKey1.Keys = " \r";
    SendKey1.OwnWindowsOnly = true;
    const QScopedValueRollback sending(m_sendingKeys, true);
    SendKey1.execute();
}

void TForm1::LastCollectionClick(QObject*)
{
    TLastCollectionDialog dialog(this);
    dialog.exec();
}

void TForm1::PutLastCollectionBackClick(QObject*)
{
    putLastCollectionBack();
}
