#include "runtime/Application.h"
#include "runtime/Errors.h"
#include "runtime/MessageBoxes.h"
#include "support/Sandbox.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace runtime;

TEST(MessageBoxesTest, WithoutDisplayTheTextGoesToStandardErrorAndTheDefaultAnswers)
{
    test::Sandbox sandbox;
    sandbox.setEnv("DISPLAY", std::nullopt);
    sandbox.setEnv("WAYLAND_DISPLAY", std::nullopt);
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

    sandbox.setEnv("WAYLAND_DISPLAY", "wayland-0");
    EXPECT_FALSE(isHeadless());
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
    resetTermination();
}

TEST(ErrorsTest, MessagePatternsTakeTheirArgument)
{
    EXPECT_EQ(formatMessage("Unable to write to %s", "vorlax.ini"),
              "Unable to write to vorlax.ini");
    EXPECT_EQ(formatMessage("'%s' is not a valid date", "%s"), "'%s' is not a valid date");
    EXPECT_EQ(formatMessage("no pattern", "x"), "no pattern");
}
