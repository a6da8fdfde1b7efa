#include "platform/core/FileStorage.h"

#include "support/Sandbox.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(AtomicWrite, AChainOfLinksStaysAndItsLastTargetIsRewritten)
{
    test::Sandbox sandbox;
    const std::string dotfiles = sandbox.root() + "/dotfiles";
    const std::string config = sandbox.root() + "/config";
    test::Sandbox::writeFile(dotfiles + "/real.reg", "old");
    ::chmod((dotfiles + "/real.reg").c_str(), 0600);
    fs::create_directories(config);
    // A relative link to a second link, which names the file absolutely.
    fs::create_symlink(dotfiles + "/real.reg", dotfiles + "/current.reg");
    fs::create_symlink("../dotfiles/current.reg", config + "/registry.reg");

    EXPECT_EQ(resolveLink(config + "/registry.reg"), dotfiles + "/real.reg");
    ASSERT_EQ(writeFileAtomically(config + "/registry.reg", "new"), 0);
    EXPECT_TRUE(fs::is_symlink(config + "/registry.reg"));
    EXPECT_TRUE(fs::is_symlink(dotfiles + "/current.reg"));
    EXPECT_EQ(test::Sandbox::readFile(config + "/registry.reg"), "new");
    EXPECT_EQ(fs::status(dotfiles + "/real.reg").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    // The temporary file went where the target is, and is gone.
    EXPECT_EQ(namesIn(dotfiles), (std::vector<std::string>{"current.reg", "real.reg"}));
    EXPECT_EQ(namesIn(config), std::vector<std::string>{"registry.reg"});
}

TEST(AtomicWrite, ALinkToAFileNotYetThereCreatesThatFile)
{
    test::Sandbox sandbox;
    const std::string link = sandbox.root() + "/entry.desktop";
    const std::string target = sandbox.root() + "/store/entry.desktop";
    fs::create_directories(sandbox.root() + "/store");
    fs::create_symlink(target, link);

    EXPECT_EQ(resolveLink(sandbox.root() + "/plain"), sandbox.root() + "/plain");
    ASSERT_EQ(writeFileAtomically(link, "text"), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(test::Sandbox::readFile(target), "text");
}

TEST(AtomicWrite, ALinkLoopIsAnErrorAndStaysAsItWas)
{
    test::Sandbox sandbox;
    const std::string a = sandbox.root() + "/a";
    const std::string b = sandbox.root() + "/b";
    fs::create_symlink(b, a);
    fs::create_symlink(a, b);
    // Replacing the link would be no better: the error tells the caller something is off.
    EXPECT_EQ(writeFileAtomically(a, "text"), ELOOP);
    EXPECT_TRUE(fs::is_symlink(a));
    EXPECT_EQ(fs::read_symlink(a), b);
}
