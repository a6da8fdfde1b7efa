#include "app/LastCollection.h"

#include "app/CollectionCommands.h"
#include "app/RunReport.h"
#include "runtime/MessageBoxes.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

std::optional<platform::CollectionRecord> newestRecord()
{
    for (const std::string& path : platform::recordPaths()) {
        if (auto record = platform::readRecord(path))
            return record;
    }
    return std::nullopt;
}

const char* whereText(platform::Whereabouts where)
{
    switch (where) {
    case platform::Whereabouts::InTrash:
        return "in the trash";
    case platform::Whereabouts::Back:
        return "back";
    case platform::Whereabouts::Gone:
        return "gone";
    }
    return "";
}

// Asks, puts the run back and tells the outcome; whether it was done.
bool confirmAndPutBack(const platform::CollectionRecord& record, int files)
{
    const std::string time = platform::recordTime(record.started);
    const auto answer = runtime::messageDlg(
        "Put the " + std::to_string(files) + " files of the collection of " + time +
            " back where they were?",
        runtime::MessageType::Confirmation, runtime::ButtonYes | runtime::ButtonNo);
    if (answer != runtime::ModalResult::Yes)
        return false;
    const UndoReport report = undoCollectionAt(time);
    runtime::messageDlg(report.text,
                        report.status == 0 ? runtime::MessageType::Information
                                           : runtime::MessageType::Warning,
                        runtime::ButtonOk);
    return true;
}

int inTrash(const platform::CollectionRecord& record)
{
    int count = 0;
    for (const auto& file : record.files)
        count += platform::whereabouts(file) == platform::Whereabouts::InTrash;
    return count;
}

} // namespace

TLastCollectionDialog::TLastCollectionDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Last Collection"));
    resize(640, 400);
    auto* layout = new QVBoxLayout(this);
    Summary = new QLabel(this);
    layout->addWidget(Summary);
    Files = new QTreeWidget(this);
    Files->setRootIsDecorated(false);
    // The names tell the files apart; the folders in front are mostly the same.
    Files->setTextElideMode(Qt::ElideMiddle);
    Files->setHeaderLabels(
        {QStringLiteral("Path"), QStringLiteral("Size"), QStringLiteral("Where it is now")});
    Files->setSortingEnabled(true);
    Files->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    layout->addWidget(Files);
    auto* buttons = new QDialogButtonBox(this);
    PutBack = buttons->addButton(QStringLiteral("Put Back"), QDialogButtonBox::ActionRole);
    CloseButton = buttons->addButton(QDialogButtonBox::Close);
    layout->addWidget(buttons);
    connect(PutBack, &QPushButton::clicked, this, &TLastCollectionDialog::PutBackClick);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
    fill();
}

void TLastCollectionDialog::fill()
{
    m_record = newestRecord();
    Files->clear();
    if (!m_record) {
        Summary->setText(QStringLiteral("No collection has been recorded yet."));
        PutBack->setEnabled(false);
        return;
    }
    int files = 0;
    int trashed = 0;
    std::uint64_t bytes = 0;
    QList<QTreeWidgetItem*> items;
    for (const auto& file : m_record->files) {
        const auto where = platform::whereabouts(file);
        if (!platform::movedByRun(file, where))
            continue;
        ++files;
        trashed += where == platform::Whereabouts::InTrash;
        bytes += file.entry.size;
        auto* item = new QTreeWidgetItem;
        item->setText(0, QString::fromStdString(file.entry.original));
        item->setData(1, Qt::DisplayRole, QVariant::fromValue<qulonglong>(file.entry.size));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(2, QString::fromLatin1(whereText(where)));
        items.append(item);
    }
    Files->addTopLevelItems(items);
    Files->sortByColumn(0, Qt::AscendingOrder);
    Files->resizeColumnToContents(1);
    Files->resizeColumnToContents(2);
    Summary->setText(QString::fromStdString(
        "Started " + platform::recordTime(m_record->started) + ": " + std::to_string(files) +
        (files == 1 ? " file, " : " files, ") + kilobytesText(bytes) + ", " +
        std::to_string(trashed) + " still in the trash."));
    PutBack->setEnabled(trashed > 0);
}

void TLastCollectionDialog::PutBackClick()
{
    if (m_record && confirmAndPutBack(*m_record, inTrash(*m_record)))
        fill();
}

void putLastCollectionBack()
{
    const auto record = newestRecord();
    if (!record) {
        runtime::messageDlg("No collection has been recorded yet.",
                            runtime::MessageType::Information, runtime::ButtonOk);
        return;
    }
    const int trashed = inTrash(*record);
    if (trashed == 0) {
        runtime::messageDlg("Every file of the collection of " +
                                platform::recordTime(record->started) +
                                " is out of the trash already.",
                            runtime::MessageType::Information, runtime::ButtonOk);
        return;
    }
    confirmAndPutBack(*record, trashed);
}
