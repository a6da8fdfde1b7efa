#include "runtime/Application.h"
#include "runtime/Errors.h"
#include "runtime/MessageBoxes.h"
#include "support/Sandbox.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace runtime;

TEST(MessageBoxesTest, WithoutAVisibleDisplayTheTextGoesToStandardErrorAndTheDefaultAnswers)
{
    // The toolkit runs offscreen here: a DISPLAY in the environment changes nothing.
    test::Sandbox sandbox;
    sandbox.setEnv("DISPLAY", ":0");
    ASSERT_TRUE(isHeadless());

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(messageDlg("Proceed?", MessageType::Confirmation, ButtonYes | ButtonNo),
              ModalResult::Yes);
    EXPECT_EQ(messageDlg("Line one\r\nLine two\r\n", MessageType::Information, ButtonOk),
              ModalResult::Ok);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("Confirm: Proceed?"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Information: Line one\nLine two\n"), std::string::npos) << printed;
    EXPECT_EQ(printed.find('\r'), std::string::npos);
}

namespace {

// Acts on the modal box once it is up.
void whenBoxShows(std::function<void(QMessageBox&)> action)
{
    QTimer::singleShot(0, [action] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box)
            action(*box);
        else
            whenBoxShows(action);
    });
}

} // namespace

TEST(MessageBoxesTest, ClosingAConfirmationIsNotNo)
{
    const MessageRequest request{MessageType::Confirmation, "Confirm", "Go?", ButtonYes | ButtonNo};
    whenBoxShows([](QMessageBox& box) { box.close(); });
    EXPECT_EQ(showMessageBox(request), ModalResult::Cancel);
    whenBoxShows([](QMessageBox& box) { box.button(QMessageBox::No)->click(); });
    EXPECT_EQ(showMessageBox(request), ModalResult::No);
    whenBoxShows([](QMessageBox& box) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&box, &escape);
    });
    EXPECT_EQ(showMessageBox(request), ModalResult::No);
    whenBoxShows([](QMessageBox& box) { box.button(QMessageBox::Yes)->click(); });
    EXPECT_EQ(showMessageBox(request), ModalResult::Yes);
}

TEST(ApplicationTest, ErrorsLeavingAHandlerAreShownAndTheProgramGoesOn)
{
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("Vorlax"));
    std::vector<MessageRequest> shown;
    setMessageInterceptor([&shown](const MessageRequest& request) {
        shown.push_back(request);
        return ModalResult::Ok;
    });
    bool after = false;
    guarded([] { throw ConvertError("'x' is not a valid date"); });
    guarded([] { throw 42; });
    guarded([&after] { after = true; });
    setMessageInterceptor({});
    QCoreApplication::setApplicationName(name);

    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].type, MessageType::Error);
    EXPECT_EQ(shown[0].text, "'x' is not a valid date");
    EXPECT_EQ(shown[0].title, "Vorlax");
    EXPECT_FALSE(shown[1].text.empty());
    EXPECT_TRUE(after);
}

TEST(ApplicationTest, TerminationAskedBeforeTheLoopEndsItAtOnce)
{
    resetTermination();
    EXPECT_FALSE(terminated());
    terminate();
    EXPECT_TRUE(terminated());
    EXPECT_EQ(run(), 0); // returns instead of waiting for events

    // Modal loops after it still run: a box at exit must be seen.
    bool ran = false;
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        ran = true;
        loop.quit();
    });
    EXPECT_EQ(loop.exec(), 0);
    EXPECT_TRUE(ran);
    resetTermination();
}

TEST(ErrorsTest, MessagePatternsTakeTheirArgument)
{
    EXPECT_EQ(formatMessage("Unable to write to %s", "vorlax.ini"),
              "Unable to write to vorlax.ini");
    EXPECT_EQ(formatMessage("'%s' is not a valid date", "%s"), "'%s' is not a valid date");
    EXPECT_EQ(formatMessage("no pattern", "x"), "no pattern");
}
