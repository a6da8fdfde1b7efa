#include "runtime/ShellDialogs.h"
#include "platform/core/Service.h"
#include "runtime/MessageBoxes.h"
#include "support/Sandbox.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <vector>

using namespace runtime;
using namespace std::string_literals;

TEST(ShellDialogsTest, RequestsAskAndReportThroughTheToolkitsBoxesWithTheirOwnTitles)
{
    test::Sandbox sandbox;
    test::Sandbox::writeFile(sandbox.driveC() + "/a.tmp", "x");
    ShellDialogs boxes;
    platform::ScopedService<platform::ShellDialogs> scope(boxes);
    std::vector<MessageRequest> shown;
    const auto previous = setMessageInterceptor([&shown](const MessageRequest& request) {
        shown.push_back(request);
        // Yes for the missing file, which then fails; No for the next one.
        if (request.type != MessageType::Confirmation)
            return ModalResult::Ok;
        return shown.size() == 1 ? ModalResult::Yes : ModalResult::No;
    });

    platform::SHFILEOPSTRUCTA request;
    request.wFunc = platform::FO_DELETE;
    request.pFrom = "C:\\missing.tmp\0C:\\a.tmp\0\0"s;
    request.fFlags = platform::FOF_ALLOWUNDO;
    EXPECT_NE(platform::SHFileOperationA(request), 0);
    EXPECT_TRUE(request.fAnyOperationsAborted);
    setMessageInterceptor(previous);

    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].type, MessageType::Confirmation);
    EXPECT_EQ(shown[0].title, "Confirm File Delete");
    EXPECT_EQ(shown[0].buttons, ButtonYes | ButtonNo);
    EXPECT_EQ(shown[1].type, MessageType::Error);
    EXPECT_EQ(shown[1].title, "Error Deleting File");
    EXPECT_EQ(shown[1].text,
              "Could not move C:\\missing.tmp to the trash: The system cannot find the file "
              "specified.");
    EXPECT_EQ(shown[1].buttons, ButtonOk);
    EXPECT_EQ(shown[2].text, "Are you sure you want to send 'a.tmp' to the Recycle Bin?");
    EXPECT_TRUE(test::Sandbox::exists(sandbox.driveC() + "/a.tmp"));
}

TEST(ShellDialogsTest, TheErrorBoxHasItsTitleAndOneOkThatEnterPresses)
{
    QString title;
    QList<QAbstractButton*> buttons;
    QPushButton* preferred = nullptr;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        buttons = box->buttons();
        preferred = box->defaultButton();
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(box, &enter);
    });
    EXPECT_EQ(showMessageBox(
                  {MessageType::Error, "Error Deleting File",
                   "Could not move C:\\a.tmp to the trash: The file is in use by another program.",
                   ButtonOk}),
              ModalResult::Ok);
    EXPECT_EQ(title, QStringLiteral("Error Deleting File"));
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(preferred, buttons[0]);
}
