#include "platform/core/Service.h"
#include "platform/files/Folders.h"
#include "runtime/OwnWindows.h"
#include "support/FakeFolderBrowser.h"
#include "support/FormFixture.h"
#include "support/ScopedFake.h"

#include <gtest/gtest.h>

namespace {

class CacheFolderButtonTest : public test::FormFixture
{
protected:
    test::ScopedFake<test::FakeFolderBrowser> browser;
};

} // namespace

TEST_F(CacheFolderButtonTest, AChosenFolderFillsTheCacheBoxAndCancelLeavesIt)
{
    const struct
    {
        std::optional<platform::ITEMIDLIST> answer;
        std::string edit;
    } table[] = {
        {platform::ITEMIDLIST{"C:\\cache"}, "C:\\cache"},
        {std::nullopt, "C:\\old"},
        {platform::ITEMIDLIST{"C:\\"}, "C:\\"},
    };
    TForm1& f = start();
    for (const auto& row : table) {
        f.setEditText(f.Edit4, "C:\\old");
        browser.answer = row.answer;
        f.SpeedButton1->click();
        EXPECT_EQ(f.editText(f.Edit4), row.edit);
    }
    EXPECT_EQ(browser.shown, 3);
    EXPECT_EQ(browser.flags, platform::BIF_RETURNONLYFSDIRS);
    EXPECT_EQ(browser.title, "");
    // Over the computer's drives, owned by the window; the box's text is never the start.
    EXPECT_EQ(browser.root, std::optional<std::string>(""));
    EXPECT_EQ(browser.owner, runtime::windowHandle(&f));
    // It opens on the folder chosen last, first on the current folder.
    std::vector<std::string> selected;
    for (const auto& message : browser.messages)
        selected.push_back(message.lParam);
    EXPECT_EQ(selected, (std::vector<std::string>{platform::GetCurrentDirectoryA(), "C:\\cache",
                                                  "C:\\cache"}));
}
