#include "app/LastCollection.h"
#include "platform/shell/Trash.h"
#include "runtime/MessageBoxes.h"
#include "support/Sandbox.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

// The dialog shows each file of the newest run where it is now, and "Put Back" asks first.
TEST(LastCollectionTest, ShowsWhereEachFileIsAndPutsBackOnlyAfterYes)
{
    test::Sandbox sandbox;
    const std::string c = fs::canonical(sandbox.driveC()).string();
    std::vector<std::string> paths;
    {
        platform::CollectionRecorder recorder;
        for (const char* name : {"a.bak", "b.tmp", "c.chk"}) {
            paths.push_back(c + "/" + name);
            test::Sandbox::writeFile(paths.back(), std::string(3000, 'x'));
            ASSERT_FALSE(platform::moveToTrash(paths.back()));
        }
    }
    // Emptied from the trash by hand meanwhile.
    fs::remove(platform::homeTrashFolder() + "/files/c.chk");

    std::vector<runtime::MessageRequest> asked;
    runtime::ModalResult answer = runtime::ModalResult::No;
    const auto previous = runtime::setMessageInterceptor([&](const runtime::MessageRequest& r) {
        asked.push_back(r);
        return r.type == runtime::MessageType::Confirmation ? answer : runtime::ModalResult::Ok;
    });
    TLastCollectionDialog dialog;
    auto rows = [&dialog] {
        std::vector<std::string> texts;
        for (int k = 0; k < dialog.Files->topLevelItemCount(); ++k) {
            const auto* item = dialog.Files->topLevelItem(k);
            texts.push_back(
                (item->text(0) + " " + item->text(1) + " " + item->text(2)).toStdString());
        }
        return texts;
    };
    EXPECT_EQ(rows(),
              (std::vector<std::string>{paths[0] + " 3000 in the trash",
                                        paths[1] + " 3000 in the trash", paths[2] + " 3000 gone"}));
    EXPECT_NE(dialog.Summary->text().toStdString().find("3 files, 8 Kb, 2 still in the trash"),
              std::string::npos);
    if (const char* shot = std::getenv("VORLAX_SCREENSHOT")) {
        dialog.show();
        dialog.grab().save(QString::fromLocal8Bit(shot));
    }

    dialog.PutBack->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].text.find("Put the 2 files"), std::string::npos) << asked[0].text;
    EXPECT_FALSE(fs::exists(paths[0]));

    answer = runtime::ModalResult::Yes;
    dialog.PutBack->click();
    EXPECT_TRUE(fs::exists(paths[0]));
    EXPECT_TRUE(fs::exists(paths[1]));
    EXPECT_EQ(rows()[0], paths[0] + " 3000 back");
    EXPECT_EQ(asked.back().type, runtime::MessageType::Warning); // the gone one
    EXPECT_FALSE(dialog.PutBack->isEnabled());
    runtime::setMessageInterceptor(previous);
}
