#include "platform/collection/TmpfilesConfig.h"
#include "support/Sandbox.h"

#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

// Every letter resolves to itself in upper case, but "q", which resolves to nothing.
std::optional<std::string> letters(char letter)
{
    if (letter == 'q')
        return std::nullopt;
    return std::string(1, static_cast<char>(std::toupper(letter)));
}

} // namespace

TEST(TmpfilesLines, OnlyValidIgnoreLinesGiveAnExclusion)
{
    const struct
    {
        const char* line;
        std::optional<TmpfilesExclusion> exclusion;
    } rows[] = {
        {"x /tmp/systemd-private-%b-*", TmpfilesExclusion{"/tmp/systemd-private-B-*", true}},
        {"X /tmp/systemd-private-%b-*/tmp",
         TmpfilesExclusion{"/tmp/systemd-private-B-*/tmp", false}},
        {"x! /tmp/.X11-unix - - - 10d", TmpfilesExclusion{"/tmp/.X11-unix", true}},
        {"  x-  \"/tmp/with space\"\t-", TmpfilesExclusion{"/tmp/with space", true}},
        {"x '/tmp/a\\x20b\\040c'", TmpfilesExclusion{"/tmp/a b c", true}},
        {"x /%t//keep/./%u/", TmpfilesExclusion{"/T/keep/U", true}},
        {"x /tmp/100%%", TmpfilesExclusion{"/tmp/100%", true}},
        {"r! /tmp/.X[0-9]*-lock", std::nullopt},
        {"# x /tmp/comment", std::nullopt},
        {"x relative/path", std::nullopt},
        {"x /tmp/%q", std::nullopt},
        {"x /tmp/bad\\q", std::nullopt},
        {"x \"/tmp/open", std::nullopt},
        {"xz /tmp/a", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(tmpfilesExclusion(row.line, letters), row.exclusion) << row.line;
}

TEST(TmpfilesLines, SpecifiersResolveAsTheUsersOrTheSystems)
{
    test::Sandbox sandbox;
    sandbox.setEnv("XDG_RUNTIME_DIR", std::nullopt);
    sandbox.setEnv("XDG_CACHE_HOME", std::nullopt);
    const auto user = tmpfilesSpecifiers(TmpfilesScope::User);
    const auto system = tmpfilesSpecifiers(TmpfilesScope::System);
    const struct
    {
        char letter;
        std::optional<std::string> user;
        std::optional<std::string> system;
    } rows[] = {
        {'U', std::to_string(::getuid()), "0"},
        {'h', sandbox.home(), "/root"},
        {'t', std::nullopt, "/run"},
        {'T', sandbox.tmp(), sandbox.tmp()},
        {'C', sandbox.home() + "/.cache", "/var/cache"},
        {'Y', std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(user(row.letter), row.user) << row.letter;
        EXPECT_EQ(system(row.letter), row.system) << row.letter;
    }
    const auto boot = system('b');
    ASSERT_TRUE(boot);
    EXPECT_EQ(boot->find_first_not_of("0123456789abcdef"), std::string::npos) << *boot;
    EXPECT_EQ(boot->size(), 32u);
}

TEST(TmpfilesFiles, AFileHidesTheSameNameLaterInItsKindOnly)
{
    test::Sandbox sandbox;
    const std::string etc = sandbox.root() + "/etc/tmpfiles.d";
    const std::string lib = sandbox.root() + "/lib/tmpfiles.d";
    const std::string own = sandbox.configHome() + "/user-tmpfiles.d";
    test::Sandbox::writeFile(etc + "/keep.conf", "x /etc-keep\n");
    test::Sandbox::writeFile(lib + "/keep.conf", "x /lib-keep\n");
    test::Sandbox::writeFile(lib + "/more.conf", "# vendor\nX /lib-more\nd /made 0755\n");
    test::Sandbox::writeFile(lib + "/off.conf", "x /lib-off\n");
    fs::create_symlink("/dev/null", etc + "/off.conf");
    test::Sandbox::writeFile(lib + "/notes.txt", "x /not-conf\n");
    test::Sandbox::writeFile(own + "/keep.conf", "x %h/own\n");
    sandbox.setEnv("VORLAX_TMPFILES_PATH", etc + "::" + lib + ":" + own);

    const auto folders = tmpfilesFolders();
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_FALSE(folders[0].user);
    EXPECT_TRUE(folders[2].user);
    const std::vector<TmpfilesExclusion> expected = {
        {"/etc-keep", true}, {"/lib-more", false}, {sandbox.home() + "/own", true}};
    EXPECT_EQ(readTmpfilesExclusions(folders), expected);
}

TEST(TmpfilesFiles, GlobsMatchPartByPartAndDotsOnlyByThemselves)
{
    const struct
    {
        const char* pattern;
        const char* path;
        bool excluded;
    } rows[] = {
        {"/tmp/*", "/tmp/.X11-unix", false},
        {"/tmp/.*", "/tmp/.X11-unix", true},
        {"/tmp/*", "/tmp/a/b", false},
        {"/tmp/keep", "/tmp/keeper", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(excludes({row.pattern, true}, row.path), row.excluded)
            << row.pattern << " " << row.path;
}
