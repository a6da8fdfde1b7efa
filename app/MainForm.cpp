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
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <exception>
#include <iostream>
#include <vector>

namespace {

// The summary's lines stand 13 pixels apart, whatever the style's font would ask for.
class SummaryItemDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), 13};
    }
};

using Reach = platform::CollectionRules::Reach;

const char* const SettingsFile = "vorlax.ini";

const char* const WelcomeText = "Welcome to your Vorlax Rubbish Collector\r\n"
                                "\r\n"
                                "Please set your options on the Configure Page\r\n"
                                "\r\n"
                                "You may change these settings any time by running Vorlax\r\n"
                                "These settings will be saved and used by the auto run function\r\n"
                                "at the selected date interval.\r\n";

const char* const AboutLines[] = {
    "Welcome to VORLAX",
    "",
    "There are many clever utilities on the market but often",
    "It's the simple requirements that get overlooked.",
    "",
    "All you want to be able to do is clear the rubbish off your",
    "hard disk and run the checks to make sure all is ok.",
    "",
    "Nearly all of today's software comes with an uninstall",
    "option - great, but where does all that junk come from. ",
    "",
    "Temp directories filled with unused files, internet files,",
    "Scandisk files etc etc.",
    "",
    "This is where VORLAX comes in.",
    "",
    "VORLAX will - at regular intervals - selected by you",
    "Run scandisk to check your Hard Drives, Empty your",
    "Temporary folders, Cleanup your internet files, Take",
    "Out your trash.",
    "",
    "For safety VORLAX will only move the files to the",
    "recycle bin - which will allow you to view all the",
    "deleted folders and files before you delete them.",
    "",
    "VORLAX will attempt to remove all selected file types,",
    "If an error occurs because a file is in use or restricted,",
    "VORLAX will auto close the error dialog and continue.",
    "",
    "At Last - a wash and brushup for your harddrive.",
    "                  ",
    "",
};

const char* const ErrorDialogTitle = "Error Deleting File";

const char* const UnchosenSettingsText = "Open Vorlax once to choose what it collects.";
const char* const OtherCollectionText =
    "Another Vorlax is collecting with these settings; this start ends without collecting.";
const char* const OtherCollectionBoxText =
    "Another Vorlax is collecting with these settings. Try again when it has finished.";

template <class Control> Control* place(Control* control, int left, int top, int width, int height)
{
    control->setGeometry(left, top, width, height);
    return control;
}

QCheckBox* checkBox(QWidget* page, const char* caption, bool ticked, int left, int top, int width,
                    int height)
{
    auto* box = place(new QCheckBox(QString::fromLatin1(caption), page), left, top, width, height);
    box->setChecked(ticked);
    return box;
}

// Captions size themselves to their text, as the layout's widths assume.
QLabel* label(QWidget* page, const char* caption, int left, int top, int width, int height)
{
    auto* control = place(new QLabel(QString::fromLatin1(caption), page), left, top, width, height);
    control->setMinimumWidth(width);
    control->adjustSize();
    return control;
}

QFrame* bevel(QWidget* page, int left, int top, int width, int height)
{
    auto* frame = place(new QFrame(page), left, top, width, height);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    return frame;
}

QLineEdit* edit(QWidget* page, const char* text, int left, int top, int width, int height)
{
    return place(new QLineEdit(QString::fromLatin1(text), page), left, top, width, height);
}

int flag(bool value)
{
    return value ? 1 : 0;
}

// The designator of drive box k: "C:" for the first.
std::string driveOfBox(std::size_t k)
{
    return std::string(1, static_cast<char>('C' + k)) + ":";
}

bool isBlank(const std::string& text)
{
    return text.find_first_not_of(' ') == std::string::npos;
}

} // namespace

TRadioButton::TRadioButton(const QString& caption, QWidget* parent) : QRadioButton(caption, parent)
{
    setAutoExclusive(false);
}

void TRadioButton::nextCheckState()
{
    setChecked(true);
}

void TTabbedNotebook::setActivePage(const QString& name)
{
    for (int i = 0; i < count(); ++i) {
        if (tabText(i) == name) {
            setCurrentIndex(i);
            return;
        }
    }
}

QString TTabbedNotebook::activePage() const
{
    return tabText(currentIndex());
}

TForm1::TForm1(int paramCount, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      FileOperation1([this] { return runtime::windowHandle(this); }), m_paramCount(paramCount)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Vorlax 1.2"));
    // The captions and the banner were laid out for Arial's widths. Where Arial itself is
    // missing, its metric twins keep every caption whole; a wider face would cut them.
    const QStringList arialTwins = {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                    QStringLiteral("Nimbus Sans"),
                                    QStringLiteral("DejaVu Sans Condensed")};
    QFont::insertSubstitutions(QStringLiteral("Arial"), arialTwins);
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               QStringList{QStringLiteral("Arial")} + arialTwins);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(394, 241);
    move(268, 148);

    TabbedNotebook1 = place(new TTabbedNotebook(this), 0, 0, 394, 241);
    auto* mainPage = new QWidget;
    auto* configurePage = new QWidget;
    auto* aboutPage = new QWidget;
    TabbedNotebook1->addTab(mainPage, QStringLiteral("Main"));
    TabbedNotebook1->addTab(configurePage, QStringLiteral("Configure"));
    TabbedNotebook1->addTab(aboutPage, QStringLiteral("About"));
    buildMainPage(mainPage);
    buildConfigurePage(configurePage);
    buildAboutPage(aboutPage);
    buildMainMenu();

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

void TForm1::buildMainPage(QWidget* page)
{
    GradLabel1 = place(new TGradLabel(page), 24, 4, 120, 21);
    GradLabel1->setCaption(QStringLiteral("VORLAX 1.2"));
    QFont banner(QStringLiteral("Arial"));
    banner.setPixelSize(19);
    banner.setBold(true);
    GradLabel1->setFont(banner);
    GradLabel1->setTxType(TyHGradient);
    GradLabel1->setStartColor(runtime::clNavy);
    GradLabel1->setEndColor(runtime::clPurple);
    GradLabel1->setBorderColor(runtime::clNavy);
    GradLabel1->setShadow(true);
    GradLabel1->setShadowColor(runtime::clBtnShadow);
    GradLabel1->setShadowDeep(1);
    Image1 = place(new RecycleBinPicture(page), 4, 28, 160, 120);
    Bevel3 = bevel(page, 172, 4, 209, 145);
    ListBox1 = place(new QListWidget(page), 176, 8, 201, 137);
    ListBox1->setFrameShape(QFrame::NoFrame);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new SummaryItemDelegate(ListBox1));
    Label3DBorder1 = place(new TLabel3DBorder(page), 4, 156, 377, 21);
    Label3DBorder1->setHorisontalAlign(haCenter);
    Label3DBorder2 = place(new TLabel3DBorder(page), 4, 184, 169, 21);
    for (TLabel3DBorder* status : {Label3DBorder1, Label3DBorder2}) {
        status->setBorderStyle(bsHeavy);
        status->setAlignment(taCenter);
        status->setColor(runtime::clAqua);
    }
    BitBtn1 =
        place(new QPushButton(QStringLiteral("Collect Rubbish Now"), page), 180, 184, 117, 25);
    BitBtn2 = place(new QPushButton(QStringLiteral("Close"), page), 304, 184, 75, 25);
    setTabOrder(BitBtn1, BitBtn2);
    BitBtn1->setToolTip(QStringLiteral("A right-click on this tab previews what it would collect"));
}

void TForm1::buildMainMenu()
{
    PopupMenu1 = new QMenu(this);
    PreviewCollectionItem = PopupMenu1->addAction(QStringLiteral("Preview Collection..."));
    LastCollectionItem = PopupMenu1->addAction(QStringLiteral("Last Collection..."));
    PutLastCollectionBackItem = PopupMenu1->addAction(QStringLiteral("Put Last Collection Back"));
    connect(PopupMenu1, &QMenu::aboutToShow, this, [this] {
        const bool idle = !m_runActive && !m_stopPreview;
        PreviewCollectionItem->setEnabled(idle);
        LastCollectionItem->setEnabled(idle && bool(OnLastCollection));
        PutLastCollectionBackItem->setEnabled(idle && bool(OnPutLastCollectionBack));
    });
    connect(PreviewCollectionItem, &QAction::triggered, this,
            [this] { runtime::guarded([this] { PreviewCollection(); }); });
    connect(LastCollectionItem, &QAction::triggered, this, [this] {
        if (OnLastCollection)
            runtime::guarded(OnLastCollection);
    });
    connect(PutLastCollectionBackItem, &QAction::triggered, this, [this] {
        if (OnPutLastCollectionBack)
            runtime::guarded(OnPutLastCollectionBack);
    });
}

void TForm1::contextMenuEvent(QContextMenuEvent* event)
{
    // Only the Main tab has the menu; the Configure tab's controls keep their own.
    if (TabbedNotebook1->currentIndex() != 0) {
        event->ignore();
        return;
    }
    PopupMenu1->popup(event->globalPos());
    event->accept();
}

void TForm1::buildConfigurePage(QWidget* page)
{
    CheckBox10 = checkBox(page, "C Drive", true, 4, 12, 69, 17);
    CheckBox11 = checkBox(page, "D Drive", false, 64, 12, 69, 17);
    CheckBox12 = checkBox(page, "E Drive", false, 124, 12, 65, 17);
    CheckBox13 = checkBox(page, "F Drive", false, 184, 12, 65, 17);
    Bevel1 = bevel(page, 4, 40, 185, 137);
    CheckBox3 = checkBox(page, "Run Scandisk", false, 12, 48, 97, 17);
    CheckBox4 = checkBox(page, "Delete CHK Files", true, 12, 68, 129, 17);
    CheckBox1 = checkBox(page, "Delete all Temporary Files", true, 12, 88, 149, 17);
    CheckBox5 = checkBox(page, "Delete Internet Cache Files", false, 12, 108, 165, 17);
    Label6 = label(page, "Internet Cache Folder", 12, 128, 102, 13);
    Edit4 = edit(page, "", 12, 144, 149, 21);
    SpeedButton1 = place(new QToolButton(page), 164, 144, 21, 21);
    SpeedButton1->setText(QStringLiteral("..."));
    // Not one of the twenty controls of the tab order.
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    Bevel2 = bevel(page, 196, 40, 185, 137);
    CheckBox6 = checkBox(page, "Delete *.BAK", true, 240, 56, 97, 17);
    CheckBox7 = checkBox(page, "Delete *.TMP", true, 240, 72, 97, 17);
    Label14 = label(page, "User Selected types", 232, 96, 95, 13);
    Edit2 = edit(page, "*.~??", 232, 116, 33, 21);
    CheckBox8 = checkBox(page, "Delete", true, 272, 120, 97, 17);
    Edit3 = edit(page, "*.ZIP", 232, 140, 33, 21);
    CheckBox9 = checkBox(page, "Delete", false, 272, 144, 97, 17);
    CheckBox2 = checkBox(page, "Auto", false, 8, 188, 45, 17);
    RadioButton1 = place(new TRadioButton(QStringLiteral("Every Day"), page), 60, 188, 77, 17);
    RadioButton2 = place(new TRadioButton(QStringLiteral("3 Days"), page), 140, 188, 57, 17);
    RadioButton3 = place(new TRadioButton(QStringLiteral("Once a Week"), page), 200, 188, 93, 17);
    RadioButton4 = place(new TRadioButton(QStringLiteral("Once a Month"), page), 292, 188, 93, 17);
    RadioButton1->setChecked(true);

    const QWidget* order[] = {CheckBox1,    CheckBox3,    CheckBox4,    CheckBox5,  CheckBox6,
                              CheckBox7,    CheckBox8,    CheckBox9,    Edit2,      Edit3,
                              CheckBox10,   CheckBox11,   CheckBox12,   CheckBox13, RadioButton1,
                              RadioButton2, RadioButton3, RadioButton4, Edit4,      CheckBox2};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
}

void TForm1::buildAboutPage(QWidget* page)
{
    RichEdit1 = new QTextEdit(page);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(RichEdit1);
    RichEdit1->setReadOnly(true);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QStringList lines;
    for (const char* line : AboutLines)
        lines << QString::fromLatin1(line);
    RichEdit1->setPlainText(lines.join(QLatin1Char('\n')));
    QTextCursor cursor(RichEdit1->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    cursor.mergeBlockFormat(centred);
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

void TForm1::setEditText(QLineEdit* edit, const std::string& text)
{
    edit->setText(QString::fromStdString(text));
    m_loadedTexts[edit] = text;
}

std::string TForm1::editText(const QLineEdit* edit) const
{
    // Bytes that are no UTF-8 cannot be shown as they are; unless the user changed the
    // text, give back what was loaded rather than the replacement characters.
    const auto loaded = m_loadedTexts.find(edit);
    if (loaded != m_loadedTexts.end() && edit->text() == QString::fromStdString(loaded->second))
        return loaded->second;
    return edit->text().toStdString();
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
        const std::string root = driveOfBox(k) + "\\";
        bool fixed = false;
        const int count = list.Count();
        for (int i = 0; i < count && !fixed; ++i)
            fixed = list.Drive(i) == root && list.DriveType(i) == dtFixed;
        boxes[k]->setVisible(fixed);
    }
}

void TForm1::FillSystemSummary()
{
    const auto shortText = [](std::string text) {
        if (text.size() > 255)
            text.resize(255);
        return text;
    };
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

void TForm1::LoadSettings()
{
    runtime::setDateConventions('/', "yyyy/mm/dd");
    runtime::MemIniFile ini(SettingsFile);
    // Gone since it was looked for: still not a file of defaults.
    if (!ini.exists())
        throw runtime::IniFileError(runtime::formatMessage("Unable to read %s", SettingsFile));
    const auto boxes = driveBoxes();
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        if (!boxes[k]->isHidden())
            boxes[k]->setChecked(ini.readInteger("Drives", "Drive" + std::to_string(k), 0) == 1);
    }
    setEditText(Edit4, ini.readString("Actions", "Cache", ""));
    // The handler runs as for a click. Its error is shown once every key is read: a load
    // cut short would leave window defaults in place of the user's keys, to be saved.
    std::exception_ptr autostartError;
    const bool autoStart = ini.readInteger("Actions", "AutoStart", 1) == 1;
    if (CheckBox2->isChecked() != autoStart) {
        const QSignalBlocker blocker(CheckBox2);
        CheckBox2->setChecked(autoStart);
        try {
            CheckBox2Click(this);
        } catch (...) {
            autostartError = std::current_exception();
        }
    }
    CheckBox3->setChecked(ini.readInteger("Actions", "RunScanDisk", 1) == 1);
    CheckBox4->setChecked(ini.readInteger("Actions", "DelCHK", 1) == 1);
    CheckBox1->setChecked(ini.readInteger("Actions", "DelTempFiles", 1) == 1);
    if (!isBlank(editText(Edit4)))
        CheckBox5->setChecked(ini.readInteger("Actions", "DelCache", 1) == 1);
    else
        CheckBox5->setChecked(false);
    CheckBox6->setChecked(ini.readInteger("Actions", "DelBAK", 1) == 1);
    CheckBox7->setChecked(ini.readInteger("Actions", "DelTMP", 1) == 1);
    CheckBox8->setChecked(ini.readInteger("Actions", "DelUser1", 0) == 1);
    CheckBox9->setChecked(ini.readInteger("Actions", "DelUser2", 0) == 1);
    setEditText(Edit2, ini.readString("User", "User1", ""));
    setEditText(Edit3, ini.readString("User", "User2", ""));
    const auto radios = radioButtons();
    for (std::size_t k = 0; k < radios.size(); ++k)
        radios[k]->setChecked(ini.readInteger("Actions", "Frequency" + std::to_string(k + 1), 0) ==
                              1);

    std::string dateText = ini.readString("NextDate", "Date", "");
    captureSettings();
    allowSave();
    if (dateText.empty())
        dateText = runtime::dateToStr(runtime::today());
    try {
        NextRunDate = runtime::strToDate(dateText);
    } catch (...) {
        if (autostartError)
            runtime::handleException(autostartError);
        throw;
    }
    if (runtime::today() > NextRunDate)
        NextRunDate = runtime::today() + 1;
    if (autostartError)
        std::rethrow_exception(autostartError);
}

void TForm1::allowSave()
{
    m_saveAllowed = true;
    // The toolkit ends the process itself when the display goes away (a log-out): save
    // then from what the window last held.
    runtime::setExitHook([this] {
        try {
            writeSettings();
        } catch (const std::exception& error) {
            std::cerr << error.what() << std::endl;
        }
    });
}

void TForm1::SaveSettings()
{
    captureSettings();
    writeSettings();
}

void TForm1::captureSettings()
{
    static_cast<TCollectionSettings&>(m_values) = boxSettings();
    m_values.AutoStart = CheckBox2->isChecked();
    const auto radios = radioButtons();
    for (std::size_t k = 0; k < radios.size(); ++k)
        m_values.Frequency[k] = radios[k]->isChecked();
}

void TForm1::writeSettings()
{
    runtime::setDateConventions('/', "yyyy/mm/dd");
    runtime::MemIniFile ini(SettingsFile);
    const TSettingsValues& v = m_values;
    for (std::size_t k = 0; k < v.Drives.size(); ++k)
        ini.writeInteger("Drives", "Drive" + std::to_string(k), flag(v.Drives[k]));
    ini.writeInteger("Actions", "RunScanDisk", flag(v.RunScanDisk));
    ini.writeInteger("Actions", "DelCHK", flag(v.DelCHK));
    ini.writeInteger("Actions", "DelTempFiles", flag(v.DelTempFiles));
    ini.writeInteger("Actions", "DelCache", flag(v.DelCache));
    ini.writeInteger("Actions", "DelBAK", flag(v.DelBAK));
    ini.writeInteger("Actions", "DelTMP", flag(v.DelTMP));
    ini.writeInteger("Actions", "DelUser1", flag(v.DelUser1));
    ini.writeInteger("Actions", "DelUser2", flag(v.DelUser2));
    ini.writeString("Actions", "Cache", v.Cache);
    ini.writeString("User", "User1", v.User1);
    ini.writeString("User", "User2", v.User2);
    ini.writeInteger("Actions", "AutoStart", flag(v.AutoStart));
    for (std::size_t k = 0; k < v.Frequency.size(); ++k)
        ini.writeInteger("Actions", "Frequency" + std::to_string(k + 1), flag(v.Frequency[k]));

    const runtime::TDate today = runtime::today();
    if (today >= NextRunDate && Collected) {
        const int intervals[] = {1, 3, 7, 30};
        for (std::size_t k = 0; k < v.Frequency.size(); ++k) {
            if (v.Frequency[k])
                NextRunDate = today + intervals[k];
        }
    }
    // A run of the timer may have moved the date on since this window read it, and an old
    // date would have the collection run again: a save keeps the later of the two.
    ini.writeMerged("NextDate", "Date", runtime::dateToStr(NextRunDate),
                    [this](const std::optional<std::string>& current, const std::string& value) {
                        if (!current)
                            return value;
                        try {
                            const runtime::TDate onDisk = runtime::strToDate(*current);
                            if (onDisk > NextRunDate) {
                                NextRunDate = onDisk;
                                return *current;
                            }
                        } catch (const runtime::Exception&) {
                        }
                        return value;
                    });
    ini.updateFile();
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
            SelectedDrives[k] = driveOfBox(k);
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

TCollectionSettings TForm1::boxSettings() const
{
    TCollectionSettings settings;
    const auto boxes = driveBoxes();
    for (std::size_t k = 0; k < boxes.size(); ++k)
        settings.Drives[k] = boxes[k]->isChecked();
    settings.RunScanDisk = CheckBox3->isChecked();
    settings.DelCHK = CheckBox4->isChecked();
    settings.DelTempFiles = CheckBox1->isChecked();
    settings.DelCache = CheckBox5->isChecked();
    settings.DelBAK = CheckBox6->isChecked();
    settings.DelTMP = CheckBox7->isChecked();
    settings.DelUser1 = CheckBox8->isChecked();
    settings.DelUser2 = CheckBox9->isChecked();
    settings.Cache = editText(Edit4);
    settings.User1 = editText(Edit2);
    settings.User2 = editText(Edit3);
    return settings;
}

TCollectionSettings TForm1::collectionSettings() const
{
    // A hidden box stands for no fixed disk: it is saved as ticked but never searched.
    TCollectionSettings settings = boxSettings();
    const auto boxes = driveBoxes();
    for (std::size_t k = 0; k < boxes.size(); ++k)
        settings.Drives[k] = settings.Drives[k] && !boxes[k]->isHidden();
    return settings;
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
