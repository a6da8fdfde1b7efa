#include "platform/settings/SettingsLock.h"

#include "platform/settings/Profile.h"
#include "support/Sandbox.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

mode_t modeOf(const std::string& path)
{
    struct stat status = {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

} // namespace

TEST(SettingsLock, MakesItsFolderAndFileForTheUserAlone)
{
    test::Sandbox sandbox;
    const std::string folder = sandbox.root() + "/config/vorlax";
    sandbox.setEnv("VORLAX_WINDIR", folder);
    const mode_t previous = ::umask(0);
    const SettingsLock lock(SettingsHold::Write);
    ::umask(previous);
    ASSERT_TRUE(lock.held()) << lock.error();
    EXPECT_EQ(modeOf(sandbox.root() + "/config"), 0700u);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(folder + "/vorlax.lock"), 0600u);
}

// Open file description locks: a second hold of one kind fails within the process too, as
// a lock of the process would not; the other kind stays free.
TEST(SettingsLock, OneHoldOfEachKindAtATime)
{
    test::Sandbox sandbox;
    std::optional<SettingsLock> collecting(SettingsHold::Collection);
    ASSERT_TRUE(collecting->held()) << collecting->error();
    EXPECT_EQ(SettingsLock(SettingsHold::Collection).error(), EWOULDBLOCK);
    EXPECT_TRUE(SettingsLock(SettingsHold::Write).held());
    EXPECT_TRUE(WritePrivateProfileStringA("A", "k", "v", "vorlax.ini"));
    collecting.reset();
    EXPECT_TRUE(SettingsLock(SettingsHold::Collection).held());
}

TEST(SettingsLock, ALinkInPlaceOfTheLockFileIsNeverFollowed)
{
    test::Sandbox sandbox;
    const std::string elsewhere = sandbox.root() + "/elsewhere";
    fs::create_symlink(elsewhere, sandbox.windir() + "/vorlax.lock");
    EXPECT_EQ(SettingsLock(SettingsHold::Collection).error(), ELOOP);
    EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "v", "vorlax.ini"));
    EXPECT_FALSE(test::Sandbox::exists(elsewhere));
    EXPECT_FALSE(test::Sandbox::exists(sandbox.iniPath()));
}
