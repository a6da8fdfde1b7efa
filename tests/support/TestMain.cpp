#include "support/Sandbox.h"

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

// Every test program runs in a sandbox of its own, on Qt's offscreen platform unless
// the test command asked for another one.
int main(int argc, char** argv)
{
    test::installProcessSandbox();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
