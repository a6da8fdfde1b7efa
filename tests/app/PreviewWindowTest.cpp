#include "platform/core/Service.h"
#include "platform/drives/Drives.h"
#include "support/FakeShell.h"
#include "support/FormFixture.h"
#include "support/ScopedFake.h"
#include "widgets/PreviewDialog.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class PreviewWindowTest : public test::FormFixture
{
protected:
    // The window with only "Delete all Temporary Files" ticked.
    TForm1& window()
    {
        TForm1& f = startWithNoActions();
        f.CheckBox1->setChecked(true);
        return f;
    }
    std::string tmpFile(const std::string& name, std::size_t size)
    {
        const std::string path = sandbox->tmp() + "/" + name;
        test::Sandbox::writeFile(path, std::string(size, 'x'));
        EXPECT_TRUE(test::Sandbox::age(path));
        return platform::toWindowsPath(path);
    }
    void contextMenu(QWidget* target, QContextMenuEvent::Reason reason)
    {
        QContextMenuEvent event(reason, QPoint(2, 2), target->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(target, &event);
    }
    test::ScopedFake<test::FakeShell> shell;
};

} // namespace

// The caption names the file handed over, in its Windows form, with the amount that
// includes it; the end shows the Part's captions.
TEST_F(PreviewWindowTest, TheCaptionsFollowTheFilesAsTheyAreMoved)
{
    const std::string first = tmpFile("a.dat", 3000);
    tmpFile("b.dat", 5000);
    TForm1& f = window();
    std::vector<std::pair<QString, QString>> seen;
    shell.onRequest = [&f, &seen](const platform::SHFILEOPSTRUCTA&) {
        seen.emplace_back(f.Label3DBorder1->text(), f.Label3DBorder2->text());
    };
    f.CollectRubbish();
    ASSERT_EQ(seen.size(), 2u);
    const bool aFirst = test::FakeShell::entries(shell.requests[0].pFrom).at(0) == first;
    EXPECT_EQ(seen[0].first.toStdString(), test::FakeShell::entries(shell.requests[0].pFrom).at(0));
    EXPECT_EQ(seen[0].second, aFirst ? QStringLiteral("2 Kb") : QStringLiteral("4 Kb"));
    EXPECT_EQ(f.Label3DBorder1->text(), QStringLiteral("Rubbish Collected"));
    EXPECT_EQ(f.Label3DBorder2->text(), QStringLiteral("7 Kb"));
}

// A right-click or the menu key on the Main tab opens the menu; the window's own record
// entries are wired, and without a handler they stay disabled; the Configure tab has no
// such menu.
TEST_F(PreviewWindowTest, TheMainTabHasTheMenuAndItsEntries)
{
    TForm1& f = window();
    f.show();
    // A first start opens on the Configure tab.
    f.TabbedNotebook1->setActivePage(QStringLiteral("Main"));
    EXPECT_TRUE(f.BitBtn1->toolTip().contains(QStringLiteral("right-click")));
    const QList<QAction*> items = f.PopupMenu1->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text(), QStringLiteral("Preview Collection..."));
    EXPECT_EQ(items[1]->text(), QStringLiteral("Last Collection..."));
    EXPECT_EQ(items[2]->text(), QStringLiteral("Put Last Collection Back"));

    if (const char* shot = std::getenv("VORLAX_SCREENSHOT")) {
        contextMenu(f.ListBox1->viewport(), QContextMenuEvent::Mouse);
        QEventLoop settle;
        QTimer::singleShot(300, &settle, &QEventLoop::quit);
        settle.exec();
        f.screen()->grabWindow(0).save(QString::fromLocal8Bit(shot));
        f.PopupMenu1->hide();
    }
    EXPECT_TRUE(f.OnLastCollection);
    EXPECT_TRUE(f.OnPutLastCollectionBack);
    f.OnLastCollection = nullptr;
    f.OnPutLastCollectionBack = nullptr;
    contextMenu(f.ListBox1->viewport(), QContextMenuEvent::Mouse);
    EXPECT_TRUE(f.PopupMenu1->isVisible());
    EXPECT_TRUE(items[0]->isEnabled());
    EXPECT_FALSE(items[1]->isEnabled());
    EXPECT_FALSE(items[2]->isEnabled());
    f.PopupMenu1->hide();

    int shown = 0;
    f.OnLastCollection = [&shown] { ++shown; };
    contextMenu(f.BitBtn1, QContextMenuEvent::Keyboard);
    EXPECT_TRUE(f.PopupMenu1->isVisible());
    EXPECT_TRUE(items[1]->isEnabled());
    EXPECT_FALSE(items[2]->isEnabled());
    items[1]->trigger();
    EXPECT_EQ(shown, 1);
    f.PopupMenu1->hide();

    f.TabbedNotebook1->setActivePage(QStringLiteral("Configure"));
    contextMenu(f.CheckBox1, QContextMenuEvent::Mouse);
    EXPECT_FALSE(f.PopupMenu1->isVisible());
}

// The dialog lists what the run would take with stage, path and size, sorts by size as a
// number, and moves nothing.
TEST_F(PreviewWindowTest, PreviewCollectionListsWhatTheRunWouldTake)
{
    const std::string small = tmpFile("small.dat", 900);
    const std::string big = tmpFile("big.dat", 10000);
    const std::string middle = tmpFile("middle.dat", 2000);
    TForm1& f = window();
    f.PreviewCollectionItem->trigger();
    EXPECT_TRUE(shell.requests.empty());
    auto* dialog = f.findChild<PreviewDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->fileCount(), 3);
    EXPECT_EQ(dialog->totalBytes(), 12900);
    EXPECT_FALSE(dialog->stopButton()->isEnabled());
    QTreeWidget* list = dialog->list();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("Temporary folder"));
    list->sortItems(2, Qt::AscendingOrder);
    EXPECT_EQ(list->topLevelItem(0)->text(1).toStdString(), small);
    EXPECT_EQ(list->topLevelItem(1)->text(1).toStdString(), middle);
    EXPECT_EQ(list->topLevelItem(2)->text(1).toStdString(), big);
    EXPECT_EQ(PreviewDialog::totalText(3, 12900),
              QStringLiteral("Total: 3 files, 12 Kb (12.6 KiB)"));
    // The window's own run is untouched: nothing collected, the boxes as they were.
    EXPECT_FALSE(f.Collected);
    EXPECT_TRUE(f.CheckBox1->isChecked());
    dialog->reject();
}
