#include "runtime/OwnWindows.h"
#include "support/Sandbox.h"

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

// Every test program runs in a sandbox of its own, on Qt's offscreen platform unless
// the test command asked for another one.
int main(int argc, char** argv)
{
    test::installProcessSandbox();
    // Only the display the test command made for the tests, never the user's own.
    if (const char* display = std::getenv("VORLAX_TEST_DISPLAY"); display && *display)
        ::setenv("DISPLAY", display, 1);
    else
        ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // The windows the program itself would see on this platform.
    runtime::installWindowService();
    return RUN_ALL_TESTS();
}
