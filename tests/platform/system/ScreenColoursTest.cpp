#include "platform/system/System.h"
#include "support/Sandbox.h"

#include <cstdlib>
#include <gtest/gtest.h>
// Last: its macros would rename names of the test framework.
#include <X11/Xlib.h>

using namespace platform;

TEST(ScreenColours, TheVisualsDepthNotThePixelsStorage)
{
    test::Sandbox sandbox;
    Display* display = nullptr;
    if (const char* name = std::getenv("DISPLAY"); name && *name)
        display = XOpenDisplay(name);
    if (!display)
        GTEST_SKIP() << "no X display";
    const int depth = DefaultDepth(display, DefaultScreen(display));
    int storage = 0;
    int count = 0;
    if (XPixmapFormatValues* formats = XListPixmapFormats(display, &count)) {
        for (int i = 0; i < count; ++i) {
            if (formats[i].depth == depth)
                storage = formats[i].bits_per_pixel;
        }
        XFree(formats);
    }
    XCloseDisplay(display);

    const HDC dc = GetDC(0);
    ASSERT_NE(dc, 0u);
    EXPECT_EQ(GetDeviceCaps(dc, PLANES), 1);
    EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), depth);
    // A true-colour screen keeps 24 bits of colour in 32-bit pixels.
    if (depth == 24) {
        EXPECT_EQ(storage, 32);
    }
    ReleaseDC(0, dc);
}
