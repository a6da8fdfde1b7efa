#include "app/MainForm.h"

#include "runtime/Application.h"

#include <QStyledItemDelegate>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

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

void TForm1::buildControls()
{
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
