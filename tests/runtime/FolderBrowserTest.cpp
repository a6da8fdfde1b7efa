#include "runtime/FolderBrowser.h"

#include "platform/core/Service.h"
#include "runtime/OwnWindows.h"
#include "support/Sandbox.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using platform::BFFM_INITIALIZED;
using platform::BFFM_SELCHANGED;
using platform::BFFM_SETSELECTIONA;
using platform::BFFM_SETSTATUSTEXTA;
using platform::HWND;

namespace {

constexpr std::uintptr_t PathParameter = ~std::uintptr_t{0};

// What the callback saw, and what it does once the dialog is up.
struct Browsing
{
    std::vector<unsigned> messages;
    std::vector<std::string> selections;
    HWND dialog = 0;
    std::function<void(HWND)> initialized;
};

int callback(HWND window, unsigned message, const platform::ITEMIDLIST* item, void* data)
{
    auto* browsing = static_cast<Browsing*>(data);
    browsing->messages.push_back(message);
    if (message == BFFM_INITIALIZED) {
        browsing->dialog = window;
        if (browsing->initialized)
            browsing->initialized(window);
    } else if (message == BFFM_SELCHANGED) {
        browsing->selections.push_back(item ? item->path : "(none)");
    }
    return 0;
}

QDialog* openDialog()
{
    return qobject_cast<QDialog*>(QApplication::activeModalWidget());
}

QStringList childTexts(const QTreeWidgetItem* item)
{
    QStringList texts;
    for (int i = 0; i < item->childCount(); ++i)
        texts << item->child(i)->text(0);
    return texts;
}

class FolderBrowserTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* folder : {"/Beta/inner", "/alpha", "/.cache/pages"})
            fs::create_directories(sandbox.driveC() + folder);
        test::Sandbox::writeFile(sandbox.driveC() + "/file.txt", "x");
        fs::create_directory_symlink(sandbox.driveC() + "/alpha", sandbox.driveC() + "/link");
        fs::create_directories(sandbox.root() + "/d");
        sandbox.setDrives("C:=" + sandbox.driveC() + ";D:=" + sandbox.root() +
                          "/d;E:=" + sandbox.root() + "/absent");
        info.lpszTitle = "Choose the cache folder";
        info.ulFlags = platform::BIF_RETURNONLYFSDIRS | platform::BIF_STATUSTEXT;
        info.lpfn = callback;
        info.lParam = &browsing;
        info.pidlRoot = &computer;
    }

    // Runs the dialog; then, after the callback's own steps, check runs on the open
    // dialog and presses OK when it is enabled, else Cancel.
    platform::LPITEMIDLIST browse(std::function<void(QDialog*)> check)
    {
        auto steps = browsing.initialized;
        browsing.initialized = [steps, check](HWND window) {
            if (steps)
                steps(window);
            QTimer::singleShot(0, [check] {
                QDialog* dialog = openDialog();
                ASSERT_NE(dialog, nullptr);
                check(dialog);
                auto* buttons = dialog->findChild<QDialogButtonBox*>();
                QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
                (ok->isEnabled() ? ok : buttons->button(QDialogButtonBox::Cancel))->click();
            });
        };
        return browser.browse(info);
    }

    test::Sandbox sandbox;
    runtime::FolderBrowser browser;
    platform::ITEMIDLIST computer;
    platform::BROWSEINFOA info;
    Browsing browsing;
};

} // namespace

TEST_F(FolderBrowserTest, TheComputerHoldsTheDrivesAndFoldersHoldTheirSubfoldersOnly)
{
    QStringList drives, folders;
    QString title, status;
    QStringList inner;
    std::vector<QTreeWidgetItem::ChildIndicatorPolicy> marks;
    HWND handle = 0;
    bool okOnComputer = true;
    browsing.initialized = [&](HWND window) {
        okOnComputer =
            openDialog()->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled();
        browser.sendMessage(window, BFFM_SETSTATUSTEXTA, 0, "Looking");
        EXPECT_EQ(browser.sendMessage(window, BFFM_SETSELECTIONA, PathParameter, "C:\\alpha"), 1);
    };
    const auto chosen = browse([&](QDialog* dialog) {
        handle = runtime::windowHandle(dialog);
        auto* tree = dialog->findChild<QTreeWidget*>();
        const QTreeWidgetItem* top = tree->topLevelItem(0);
        drives = childTexts(top);
        QTreeWidgetItem* driveC = top->child(0);
        folders = childTexts(driveC);
        // Opening a folder reads its subfolders; one without any shows no mark to open it.
        QTreeWidgetItem* beta = driveC->child(2);
        marks = {beta->childIndicatorPolicy(), driveC->child(1)->childIndicatorPolicy()};
        beta->setExpanded(true);
        inner = childTexts(beta);
        title = dialog->findChild<QLabel*>(QStringLiteral("title"))->text();
        status = dialog->findChild<QLabel*>(QStringLiteral("status"))->text();
    });
    EXPECT_FALSE(okOnComputer);
    EXPECT_EQ(browsing.dialog, handle);
    // A letter whose folder is missing has no drive to show; Z: stands for "/".
    EXPECT_EQ(drives.join('|').toStdString(),
              "C: (" + sandbox.driveC() + ")|D: (" + sandbox.root() + "/d)|Z: (/)");
    // Hidden folders are there, files and links are not; letters sort without case.
    EXPECT_EQ(folders.join('|').toStdString(), ".cache|alpha|Beta");
    EXPECT_EQ(inner, QStringList{"inner"});
    EXPECT_EQ(marks, (std::vector{QTreeWidgetItem::ShowIndicator,
                                  QTreeWidgetItem::DontShowIndicatorWhenChildless}));
    EXPECT_EQ(title, QStringLiteral("Choose the cache folder"));
    EXPECT_EQ(status, QStringLiteral("Looking"));
    EXPECT_EQ(browsing.messages, (std::vector<unsigned>{BFFM_INITIALIZED, BFFM_SELCHANGED}));
    EXPECT_EQ(browsing.selections, std::vector<std::string>{"C:\\alpha"});
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->path, "C:\\alpha");
    EXPECT_EQ(info.pszDisplayName, "alpha");
}

// A folder's subfolders go in with one insertion, since the tree lays itself out after
// each: a hundred thousand of them took minutes. A folder replaced by a link since it was
// listed shows nothing inside, and cannot be chosen.
TEST_F(FolderBrowserTest, OpeningAFolderPutsItsSubfoldersInAtOnceAndNeverEntersALink)
{
    for (const char* folder : {"/many/a", "/many/b", "/many/c", "/swapped/x"})
        fs::create_directories(sandbox.driveC() + folder);
    int insertions = 0;
    QStringList many, swapped;
    bool stillOpen = false;
    browsing.initialized = [&](HWND window) {
        browser.sendMessage(window, BFFM_SETSELECTIONA, PathParameter, "C:\\many");
    };
    const auto chosen = browse([&](QDialog* dialog) {
        auto* tree = dialog->findChild<QTreeWidget*>();
        QTreeWidgetItem* manyItem = tree->currentItem();
        QTreeWidgetItem* swappedItem =
            manyItem->parent()->child(manyItem->parent()->childCount() - 1);
        fs::remove_all(sandbox.driveC() + "/swapped");
        fs::create_directory_symlink(sandbox.driveC() + "/Beta", sandbox.driveC() + "/swapped");
        QObject::connect(tree->model(), &QAbstractItemModel::rowsInserted, [&] { ++insertions; });
        manyItem->setExpanded(true);
        swappedItem->setExpanded(true);
        many = childTexts(manyItem);
        swapped = childTexts(swappedItem);
        // Nor is it handed back: OK leaves the dialog open on its parent.
        tree->setCurrentItem(swappedItem);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        stillOpen = dialog->isVisible();
    });
    EXPECT_EQ(many, (QStringList{"a", "b", "c"}));
    EXPECT_EQ(insertions, 1);
    EXPECT_TRUE(swapped.isEmpty()) << swapped.join('|').toStdString();
    EXPECT_TRUE(stillOpen);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->path, "C:\\");
}

TEST_F(FolderBrowserTest, SelectionByPathExpandsDownToTheFolder)
{
    const struct
    {
        std::string path;
        std::string chosen; // empty: nothing selectable, so Cancel
    } table[] = {
        {"C:", "C:\\"},
        {"c:/Beta//inner\\", "C:\\Beta\\inner"},
        {"C:\\beta\\INNER", "C:\\Beta\\inner"},
        {"C:\\.cache\\pages", "C:\\.cache\\pages"},
        {"C:\\link", ""},
        {"C:\\file.txt", ""},
        {"E:\\", ""},
        {"alpha", ""},
    };
    for (const auto& row : table) {
        browsing = {};
        info.lParam = &browsing;
        browsing.initialized = [&](HWND window) {
            browser.sendMessage(window, BFFM_SETSELECTIONA, PathParameter, row.path);
        };
        bool expanded = true;
        const auto chosen = browse([&](QDialog* dialog) {
            const QTreeWidgetItem* item = dialog->findChild<QTreeWidget*>()->currentItem();
            for (const QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent())
                expanded = expanded && parent->isExpanded();
        });
        EXPECT_TRUE(expanded) << row.path;
        EXPECT_EQ(chosen ? chosen->path : "", row.chosen) << row.path;
        // The first selection is reported even when the path found nothing.
        EXPECT_EQ(browsing.selections.size(), 1u) << row.path;
    }
}

TEST_F(FolderBrowserTest, AFolderRootKeepsTheTreeWithinIt)
{
    const platform::ITEMIDLIST beta{"C:\\Beta"};
    info.pidlRoot = &beta;
    info.ulFlags = platform::BIF_RETURNONLYFSDIRS;
    std::intptr_t outside = 1;
    browsing.initialized = [&](HWND window) {
        outside = browser.sendMessage(window, BFFM_SETSELECTIONA, PathParameter, "C:\\alpha");
        // No status line to set: nothing happens.
        browser.sendMessage(window, BFFM_SETSTATUSTEXTA, 0, "Looking");
    };
    QStringList top;
    bool hasStatus = true;
    const auto chosen = browse([&](QDialog* dialog) {
        auto* tree = dialog->findChild<QTreeWidget*>();
        top = {tree->topLevelItem(0)->text(0)};
        top << childTexts(tree->topLevelItem(0));
        hasStatus = dialog->findChild<QLabel*>(QStringLiteral("status")) != nullptr;
    });
    EXPECT_EQ(outside, 0);
    EXPECT_FALSE(hasStatus);
    EXPECT_EQ(top, (QStringList{"Beta", "inner"}));
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->path, "C:\\Beta");
    // Messages to a dialog that is gone reach nobody.
    EXPECT_EQ(browser.sendMessage(browsing.dialog, BFFM_SETSELECTIONA, PathParameter, "C:\\"), 0);
}
