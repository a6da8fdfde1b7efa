#pragma once

#include "platform/collection/CollectionRecord.h"

#include <QDialog>
#include <optional>

class QLabel;
class QPushButton;
class QTreeWidget;

// The newest recorded collection, each file with its size and where it is now, and a
// "Put Back" that does what vorlax --undo does for that run, after a Yes.
class TLastCollectionDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TLastCollectionDialog(QWidget* parent = nullptr);

    void fill();
    void PutBackClick();

    QLabel* Summary;
    QTreeWidget* Files;
    QPushButton* PutBack;
    QPushButton* CloseButton;

private:
    std::optional<platform::CollectionRecord> m_record;
};

// The menu's "Put Last Collection Back": the newest run back after a Yes, and what came of
// it in a box.
void putLastCollectionBack();
