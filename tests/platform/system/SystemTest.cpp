#include "platform/system/System.h"
#include "platform/drives/Drives.h"
#include "support/Sandbox.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;

TEST(TickCount, CountsMillisecondsForward)
{
    const std::uint32_t before = GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    // Unsigned difference, so a wrap between the two readings does not matter.
    const std::uint32_t elapsed = GetTickCount() - before;
    EXPECT_GE(elapsed, 60u);
    EXPECT_LT(elapsed, 10000u);
}

TEST(ModuleFileName, IsTheRunningProgramInWindowsForm)
{
    test::Sandbox sandbox;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe");
    sandbox.setDrives("C:=" + sandbox.root() + "@fixed;P:=" + exe.parent_path().string());
    EXPECT_EQ(GetModuleFileNameA(), "P:\\" + exe.filename().string());

    sandbox.setDrives("C:=" + sandbox.root() + "@fixed");
    const std::string name = GetModuleFileNameA();
    EXPECT_EQ(name.substr(0, 3), "Z:\\");
    EXPECT_EQ(toNativePath(name), exe.string());
}
