#pragma once

#include "app/CollectionPlan.h"
#include "app/RunReport.h"
#include "automation/Execfile.h"
#include "automation/PathDialog.h"
#include "automation/SendKeys.h"
#include "automation/tarnwickAutostart.h"
#include "platform/collection/CollectionRules.h"
#include "platform/settings/SettingsLock.h"
#include "runtime/Dates.h"
#include "scan/FileOp.h"
#include "scan/FilesScn.h"
#include "sysinfo/QXSysInfo.h"
#include "sysinfo/SystemInfo.h"
#include "widgets/Gradlabl.h"
#include "widgets/Label3dB.h"
#include "widgets/RecycleBinPicture.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

// A radio button that a click only ever selects; the window clears the others itself,
// because all four of the frequency group may be clear.
class TRadioButton : public QRadioButton
{
    Q_OBJECT
public:
    TRadioButton(const QString& caption, QWidget* parent);

protected:
    void nextCheckState() override;
};

// The tabbed notebook, whose pages are selected by name.
class TTabbedNotebook : public QTabWidget
{
    Q_OBJECT
public:
    using QTabWidget::QTabWidget;
    void setActivePage(const QString& name);
    QString activePage() const;
};

// What the window last held of the settings, kept outside the widgets so that they can be
// saved when the toolkit ends the process on its own (a lost display) and no widget may be
// touched any more.
struct TSettingsValues : TCollectionSettings
{
    bool AutoStart = false;
    std::array<bool, 4> Frequency{};
};

class TForm1 : public QWidget
{
    Q_OBJECT
public:
    // Builds every control and component with its stored values, then runs FormCreate.
    // paramCount is the number of command-line parameters.
    explicit TForm1(int paramCount, QWidget* parent = nullptr);
    // Runs FormDestroy, which saves the settings.
    ~TForm1() override;

    void FormCreate(QObject* Sender);
    void FormDestroy(QObject* Sender);
    void UpdateDriveBoxes();
    // The seventeen lines of the Main tab's summary, from QXSysInfo1 and its drive object.
    void FillSystemSummary();
    void LoadSettings();
    void SaveSettings();
    // Whether an exit may write vorlax.ini: once every key of it was read, or when there was
    // none to read. Until then the window holds defaults, not the user's settings.
    bool settingsSaveAllowed() const { return m_saveAllowed; }
    void CollectRubbish();
    // What a collection started now would read of the Configure tab.
    TCollectionSettings collectionSettings() const;

    // "Preview Collection..." of the Main tab's menu: what a collection started now would
    // move, listed in a dialog as the search goes, moving nothing.
    void PreviewCollection();

    void BitBtn1Click(QObject* Sender);
    void BitBtn2Click(QObject* Sender);
    void SpeedButton1Click(QObject* Sender);
    void CheckBox2Click(QObject* Sender);
    void FilesScanner1Process(TFilesScan* Sender, const std::string& Dir, int FilesCount,
                              std::int64_t FilesSize);
    void Timer1Timer(QObject* Sender);
    // The Main tab's menu: the newest recorded run in a dialog, and putting it back.
    void LastCollectionClick(QObject* Sender);
    void PutLastCollectionBackClick(QObject* Sender);
    // While the found files are handed over: the file being moved in the status caption
    // and the amount so far, at most every CaptionIntervalMs.
    void showFileMoved(const std::string& File);
    static constexpr int CaptionIntervalMs = 100;

    // The close box and the termination signals: stop a running collection, then end.
    void requestExit();

    // An edit's text as bytes, and setting it from bytes.
    std::string editText(const QLineEdit* edit) const;
    void setEditText(QLineEdit* edit, const std::string& text);

    // The amount collected as the window shows it: whole kilobytes and " Kb".
    std::string amountText() const;

    // Main tab
    TTabbedNotebook* TabbedNotebook1;
    TGradLabel* GradLabel1;
    RecycleBinPicture* Image1;
    QFrame* Bevel3;
    QListWidget* ListBox1;
    TLabel3DBorder* Label3DBorder1;
    TLabel3DBorder* Label3DBorder2;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    // The Main tab's menu, opened by a right-click or the menu key there.
    QMenu* PopupMenu1;
    QAction* PreviewCollectionItem;
    QAction* LastCollectionItem;
    QAction* PutLastCollectionBackItem;
    // What "Last Collection..." and "Put Last Collection Back" do; each entry is enabled
    // only while its handler is set and no collection runs.
    std::function<void()> OnLastCollection;
    std::function<void()> OnPutLastCollectionBack;
    // Configure tab
    QCheckBox* CheckBox10;
    QCheckBox* CheckBox11;
    QCheckBox* CheckBox12;
    QCheckBox* CheckBox13;
    QFrame* Bevel1;
    QCheckBox* CheckBox3;
    QCheckBox* CheckBox4;
    QCheckBox* CheckBox1;
    QCheckBox* CheckBox5;
    QLabel* Label6;
    QLineEdit* Edit4;
    QToolButton* SpeedButton1;
    QFrame* Bevel2;
    QCheckBox* CheckBox6;
    QCheckBox* CheckBox7;
    QLabel* Label14;
    QLineEdit* Edit2;
    QCheckBox* CheckBox8;
    QLineEdit* Edit3;
    QCheckBox* CheckBox9;
    QCheckBox* CheckBox2;
    TRadioButton* RadioButton1;
    TRadioButton* RadioButton2;
    TRadioButton* RadioButton3;
    TRadioButton* RadioButton4;
    // About tab
    QTextEdit* RichEdit1;
    // Components
    QTimer* Timer1;
    TTarnwickAutostart TarnwickAutostart1;
    TFilesScanner FilesScanner1;
    TFileOperation FileOperation1;
    TExecFile ExecFile1;
    TSendKey SendKey1;
    TPathDialog PathDialog1{this};
    // Missing when their creation raised an error (a registry value of the wrong type).
    std::optional<TSystemInfo> SystemInfo1;
    std::optional<TQXSysInfo> QXSysInfo1;

    bool Collecting = false;
    bool AutoRun = false;
    bool Collected = false;
    std::int64_t CollectedBytes = 0;
    std::array<std::string, 4> SelectedDrives;
    runtime::TDate NextRunDate = 0;

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    static constexpr const char* SettingsFile = "vorlax.ini";

    // The three tabs and the Main tab's menu, laid out as the window always was.
    void buildControls();
    void buildMainPage(QWidget* page);
    void buildMainMenu();
    void buildConfigurePage(QWidget* page);
    void buildAboutPage(QWidget* page);
    void connectHandlers();
    std::array<QCheckBox*, 4> driveBoxes() const;
    std::array<TRadioButton*, 4> radioButtons() const;
    void allowSave();
    // The Configure tab's boxes and texts as they stand.
    TSettingsValues boxSettings() const;
    // Copies the controls' settings into m_values.
    void captureSettings();
    // Writes m_values, NextRunDate and Collected to vorlax.ini; touches no widget.
    void writeSettings();
    // Ends a run as stopped.
    void finishStopped();
    // Lets the window process its messages, then tells whether the run may go on.
    bool pumpAndContinue();
    // One scan and the deletion of what it found; false when the run finished as stopped.
    bool collectFrom(const std::string& mask, TScanOptions options, const std::string& dir,
                     platform::CollectionRules::Reach reach);
    // The box of the Configure tab that a refusal of the run clears.
    QCheckBox* settingsBox(TSettingsBox box) const;

    int m_paramCount;
    // CollectRubbish is on the stack: a stop request then leaves "Collect Rubbish Now"
    // disabled until the run has returned.
    bool m_runActive = false;
    // Timer1Timer is sending keys: the sender pumps between them, and a tick meanwhile
    // must not start a second round into the same dialog.
    bool m_sendingKeys = false;
    bool m_saveAllowed = false;
    TSettingsValues m_values;
    // What the shell did with each file of the current run.
    TRunReport m_report;
    // Held by an unattended start that collects, from before the load until after the save.
    std::optional<platform::SettingsLock> m_collectionHold;
    std::map<const QLineEdit*, std::string> m_loadedTexts;
    // Stops the preview whose dialog is open; empty while none runs.
    std::function<void()> m_stopPreview;
    // Since the captions last showed a file being moved; invalid before the first.
    QElapsedTimer m_captionClock;
};
