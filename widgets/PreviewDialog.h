#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QList>
#include <cstdint>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// A list of what a collection would take: stage, path and size in sortable columns, the
// total below, the folder being searched and a Stop of its own. Rows are added as they are
// found and shown in batches, so a search of a whole disk keeps the dialog responsive.
class PreviewDialog : public QDialog
{
    Q_OBJECT
public:
    explicit PreviewDialog(QWidget* parent = nullptr);
    ~PreviewDialog() override;

    void addFile(const QString& stage, const QString& path, std::int64_t size);
    // The folder being searched.
    void setSearching(const QString& folder);
    // A refusal the run would make; shown, not acted on.
    void addNote(const QString& text);
    // The search is over: every row shown, sorting on, Stop disabled, and why it ended.
    void finish(const QString& outcome);

    int fileCount() const { return m_files; }
    std::int64_t totalBytes() const { return m_bytes; }
    QTreeWidget* list() const { return m_list; }
    QPushButton* stopButton() const { return m_stop; }
    // Whether Stop was pressed or the dialog closed.
    bool stopRequested() const { return m_stopRequested; }

    // "12 files, 34 Kb (34.5 KiB)".
    static QString totalText(int files, std::int64_t bytes);

signals:
    void stopClicked();

protected:
    void done(int result) override;

private:
    void flush();
    void requestStop();

    QTreeWidget* m_list;
    QLabel* m_searching;
    QLabel* m_notes;
    QLabel* m_total;
    QPushButton* m_stop;
    QPushButton* m_close;
    QList<QTreeWidgetItem*> m_pending;
    QElapsedTimer m_lastFlush;
    int m_files = 0;
    std::int64_t m_bytes = 0;
    bool m_stopRequested = false;
};
