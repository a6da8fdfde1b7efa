#include "widgets/PreviewDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int FlushIntervalMs = 100;
constexpr int SizeColumn = 2;

// Sizes sort by their value, not their text.
class FileItem : public QTreeWidgetItem
{
public:
    FileItem(const QString& stage, const QString& path, std::int64_t size)
        : QTreeWidgetItem({stage, path, QLocale::system().toString(static_cast<qlonglong>(size))}),
          m_size(size)
    {
        setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    }
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (column == SizeColumn)
            return m_size < static_cast<const FileItem&>(other).m_size;
        return QTreeWidgetItem::operator<(other);
    }

private:
    std::int64_t m_size;
};

} // namespace

PreviewDialog::PreviewDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Preview Collection"));
    setObjectName(QStringLiteral("PreviewDialog"));
    resize(640, 400);
    auto* layout = new QVBoxLayout(this);
    m_list = new QTreeWidget(this);
    m_list->setHeaderLabels(
        {QStringLiteral("Stage"), QStringLiteral("Path"), QStringLiteral("Size")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAlternatingRowColors(true);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_list->setColumnWidth(0, fontMetrics().horizontalAdvance(QStringLiteral("Temporary folder")) +
                                  16);
    // The file's name matters most, then the top of its path.
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setSortingEnabled(true);
    m_list->sortByColumn(-1, Qt::AscendingOrder); // in the order found until asked
    m_searching = new QLabel(this);
    m_searching->setTextFormat(Qt::PlainText);
    m_searching->setMinimumWidth(100);
    m_notes = new QLabel(this);
    m_notes->setTextFormat(Qt::PlainText);
    m_notes->setWordWrap(true);
    m_notes->hide();
    m_total = new QLabel(totalText(0, 0), this);
    auto* buttons = new QDialogButtonBox(this);
    m_stop = buttons->addButton(QStringLiteral("Stop"), QDialogButtonBox::ActionRole);
    m_close = buttons->addButton(QDialogButtonBox::Close);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_notes);
    layout->addWidget(m_searching);
    layout->addWidget(m_total);
    layout->addWidget(buttons);
    connect(m_stop, &QPushButton::clicked, this, &PreviewDialog::requestStop);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    m_lastFlush.start();
}

PreviewDialog::~PreviewDialog()
{
    qDeleteAll(m_pending);
}

QString PreviewDialog::totalText(int files, std::int64_t bytes)
{
    return QStringLiteral("Total: %1 %2, %3 Kb (%4)")
        .arg(files)
        .arg(files == 1 ? QStringLiteral("file") : QStringLiteral("files"))
        .arg(bytes / 1024)
        .arg(QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeIecFormat));
}

void PreviewDialog::addFile(const QString& stage, const QString& path, std::int64_t size)
{
    m_pending.append(new FileItem(stage, path, size));
    ++m_files;
    m_bytes += size;
    if (m_lastFlush.elapsed() >= FlushIntervalMs)
        flush();
}

void PreviewDialog::setSearching(const QString& folder)
{
    if (m_lastFlush.elapsed() < FlushIntervalMs)
        return;
    m_searching->setText(fontMetrics().elidedText(folder, Qt::ElideMiddle, m_searching->width()));
    flush();
}

void PreviewDialog::addNote(const QString& text)
{
    m_notes->setText(m_notes->text().isEmpty() ? text : m_notes->text() + '\n' + text);
    m_notes->show();
}

void PreviewDialog::flush()
{
    m_lastFlush.start();
    if (!m_pending.isEmpty()) {
        m_list->addTopLevelItems(m_pending);
        m_pending.clear();
    }
    m_total->setText(totalText(m_files, m_bytes));
}

void PreviewDialog::finish(const QString& outcome)
{
    flush();
    m_searching->setText(outcome);
    m_stop->setEnabled(false);
    m_close->setFocus();
}

void PreviewDialog::requestStop()
{
    if (m_stopRequested)
        return;
    m_stopRequested = true;
    m_stop->setEnabled(false);
    emit stopClicked();
}

void PreviewDialog::done(int result)
{
    // Closing while the search runs ends the search too.
    requestStop();
    QDialog::done(result);
}
