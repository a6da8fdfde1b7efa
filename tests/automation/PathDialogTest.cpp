#include "automation/PathDialog.h"

#include "platform/core/Service.h"
#include "runtime/Errors.h"
#include "runtime/FolderBrowser.h"
#include "runtime/MessageBoxes.h"
#include "support/FakeFolderBrowser.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>

namespace fs = std::filesystem;
using platform::BFFM_SETSELECTIONA;
using platform::BFFM_SETSTATUSTEXTA;
using Message = test::FakeFolderBrowser::Message;

namespace {

constexpr std::uintptr_t AllBits = ~std::uintptr_t{0};

class PathDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directories(sandbox.driveC() + "/work");
        previousFolder = fs::current_path();
        fs::current_path(sandbox.driveC() + "/work");
        previousInterceptor =
            runtime::setMessageInterceptor([this](const runtime::MessageRequest& request) {
                shownMessages.push_back(request.text);
                return runtime::ModalResult::Ok;
            });
    }
    void TearDown() override
    {
        runtime::setMessageInterceptor(previousInterceptor);
        fs::current_path(previousFolder);
    }

    test::Sandbox sandbox;
    test::ScopedFake<test::FakeFolderBrowser> browser;
    TPathDialog dialog;
    std::vector<std::string> shownMessages;
    fs::path previousFolder;
    runtime::MessageInterceptor previousInterceptor;
};

} // namespace

TEST_F(PathDialogTest, DirectoryLosesOneTrailingBackslashAndEmptyMeansTheCurrentFolder)
{
    const struct
    {
        std::string value;
        std::string stored;
    } table[] = {
        {"C:\\cache\\", "C:\\cache"}, {"C:\\", "C:"},   {"C:\\a\\\\", "C:\\a\\"},
        {"C:\\a", "C:\\a"},           {"", "C:\\work"}, {"\\", ""},
    };
    for (const auto& row : table) {
        dialog.setDirectory(row.value);
        EXPECT_EQ(dialog.Directory(), row.stored) << row.value;
    }
    // With no dialog open nothing is sent anywhere.
    dialog.setShowStatus(true);
    dialog.setStatusText("Looking");
    EXPECT_EQ(dialog.StatusText(), "Looking");
    EXPECT_TRUE(browser.messages.empty());
}

TEST_F(PathDialogTest, OpeningSelectsTheDirectoryAndShowsTheStatusBeforeOnShow)
{
    const struct
    {
        std::string directory;
        bool showStatus;
        unsigned flags;
        std::vector<Message> sent;
        std::string storedAfterCancel;
    } table[] = {
        {"C:\\cache\\",
         true,
         5,
         {{0x5a17, BFFM_SETSELECTIONA, AllBits, "C:\\cache"},
          {0x5a17, BFFM_SETSTATUSTEXTA, 0, "Looking"}},
         "C:\\cache"},
        // First use: the current folder, kept even though the user cancels.
        {"", false, 1, {{0x5a17, BFFM_SETSELECTIONA, AllBits, "C:\\work"}}, "C:\\work"},
    };
    for (const auto& row : table) {
        TPathDialog picker;
        picker.setTitle("Choose the cache folder");
        picker.setShowStatus(row.showStatus);
        picker.setStatusText("Looking");
        if (!row.directory.empty())
            picker.setDirectory(row.directory);
        std::size_t sentBeforeShow = 0;
        int shows = 0;
        picker.OnShow = [&](TPathDialog* Sender) {
            EXPECT_EQ(Sender, &picker);
            sentBeforeShow = browser.messages.size();
            ++shows;
        };
        browser.messages.clear();
        EXPECT_FALSE(picker.Execute());
        EXPECT_EQ(browser.flags, row.flags);
        EXPECT_EQ(browser.title, "Choose the cache folder");
        EXPECT_EQ(browser.root, std::optional<std::string>(""));
        EXPECT_EQ(browser.messages, row.sent);
        EXPECT_EQ(shows, 1);
        EXPECT_EQ(sentBeforeShow, row.sent.size());
        EXPECT_EQ(picker.Directory(), row.storedAfterCancel);
    }
}

TEST_F(PathDialogTest, OnSelectGetsEachPathAndMaySteerTheStatusLine)
{
    dialog.setDirectory("C:\\a");
    dialog.setShowStatus(true);
    std::vector<std::string> selected;
    dialog.OnSelect = [&](TPathDialog* Sender, const std::string& Path) {
        selected.push_back(Path);
        Sender->setStatusText(Path);
    };
    browser.selections = {"C:\\a\\b", ""};
    browser.answer = platform::ITEMIDLIST{"C:\\"};
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(selected, (std::vector<std::string>{"C:\\a\\b", ""}));
    ASSERT_EQ(browser.messages.size(), 4u);
    EXPECT_EQ(browser.messages[2], (Message{0x5a17, BFFM_SETSTATUSTEXTA, 0, "C:\\a\\b"}));
    EXPECT_EQ(browser.messages[3], (Message{0x5a17, BFFM_SETSTATUSTEXTA, 0, ""}));
    // The chosen folder as the shell gives it: a drive root keeps its backslash.
    EXPECT_EQ(dialog.Directory(), "C:\\");
    // Closed: setters only store again.
    dialog.setDirectory("C:\\b");
    EXPECT_EQ(browser.messages.size(), 4u);
}

TEST_F(PathDialogTest, HandlerErrorsNeverLeaveTheDialog)
{
    browser.selections = {"C:\\a", "C:\\b", "C:\\c"};
    browser.answer = platform::ITEMIDLIST{"C:\\c"};
    std::vector<std::string> selected;
    dialog.OnSelect = [&](TPathDialog*, const std::string& Path) {
        selected.push_back(Path);
        if (Path == "C:\\a")
            throw runtime::Exception("Cannot use C:\\a");
        if (Path == "C:\\b")
            throw std::logic_error("dropped");
    };
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(selected, (std::vector<std::string>{"C:\\a", "C:\\b", "C:\\c"}));
    EXPECT_EQ(shownMessages, std::vector<std::string>{"Cannot use C:\\a"});
    EXPECT_EQ(dialog.Directory(), "C:\\c");
}

TEST_F(PathDialogTest, OnlyAConfirmedFolderWithAPathChangesDirectory)
{
    const struct
    {
        std::optional<platform::ITEMIDLIST> answer;
        bool result;
        std::string directory;
    } table[] = {
        {std::nullopt, false, "C:\\old"},
        {platform::ITEMIDLIST{""}, false, "C:\\old"},
        {platform::ITEMIDLIST{"C:\\new"}, true, "C:\\new"},
    };
    for (const auto& row : table) {
        dialog.setDirectory("C:\\old\\");
        browser.answer = row.answer;
        EXPECT_EQ(dialog.Execute(), row.result);
        EXPECT_EQ(dialog.Directory(), row.directory);
    }
}

TEST_F(PathDialogTest, TheDesktopRootIsTheDesktopFolderAndNothingShowsWithoutIt)
{
    dialog.setRootItem(riDesktop);
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(browser.shown, 0);

    test::Sandbox::writeFile(sandbox.configHome() + "/user-dirs.dirs",
                             "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
    fs::create_directories(sandbox.home() + "/Bureau");
    sandbox.setDrives("C:=" + sandbox.driveC() + ";H:=" + sandbox.home());
    browser.answer = platform::ITEMIDLIST{"H:\\Bureau"};
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(browser.shown, 1);
    EXPECT_EQ(browser.root, std::optional<std::string>("H:\\Bureau"));
}

namespace {

// Accepts the application's modal dialog once the loop runs again; cancels it when OK is
// disabled.
void acceptWhenShown()
{
    QTimer::singleShot(0, [] {
        auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(open, nullptr);
        auto* buttons = open->findChild<QDialogButtonBox*>();
        ASSERT_NE(buttons, nullptr);
        QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
        if (ok->isEnabled())
            ok->click();
        else
            buttons->button(QDialogButtonBox::Cancel)->click();
    });
}

} // namespace

TEST_F(PathDialogTest, TheRuntimeBrowserReturnsTheFolderItWasAskedToSelect)
{
    fs::create_directories(sandbox.driveC() + "/cache/pages");
    runtime::FolderBrowser real;
    platform::ScopedService<platform::FolderBrowser> onScreen(real);
    const struct
    {
        std::string directory;
        bool result;
        std::string chosen;
    } table[] = {
        {"C:\\cache\\pages", true, "C:\\cache\\pages"},
        {"C:\\", true, "C:\\"},
        // Nothing to select: the computer stays selected, and it has no path.
        {"C:\\missing", false, "C:\\missing"},
    };
    for (const auto& row : table) {
        dialog.setDirectory(row.directory);
        dialog.OnShow = [](TPathDialog*) { acceptWhenShown(); };
        EXPECT_EQ(dialog.Execute(), row.result) << row.directory;
        EXPECT_EQ(dialog.Directory(), row.chosen);
    }
}
