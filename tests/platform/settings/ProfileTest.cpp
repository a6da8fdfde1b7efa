#include "platform/settings/Profile.h"
#include "platform/core/Service.h"
#include "platform/settings/SettingsLock.h"

#include "support/FakeProfile.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using platform::GetPrivateProfileStringA;
using platform::WritePrivateProfileStringA;

namespace {

const std::string ini = "vorlax.ini";

class ProfileTest : public ::testing::Test
{
protected:
    void writeIni(const std::string& text) { test::Sandbox::writeFile(sandbox.iniPath(), text); }
    std::string readIni() { return test::Sandbox::readFile(sandbox.iniPath()); }
    std::string get(const std::string& section, const std::string& key,
                    const std::string& fallback = "<none>")
    {
        return GetPrivateProfileStringA(section, key, fallback, ini);
    }
    bool put(const std::string& section, const std::string& key, const std::string& value)
    {
        return WritePrivateProfileStringA(section, key, value, ini);
    }
    void expectAfterPut(const std::string& before, const std::string& section,
                        const std::string& key, const std::string& value, const std::string& after)
    {
        writeIni(before);
        ASSERT_TRUE(put(section, key, value));
        EXPECT_EQ(readIni(), after);
    }
    std::vector<std::string> windirEntries()
    {
        std::vector<std::string> names;
        // The lock file stays; only what a write leaves by mistake counts.
        for (const auto& entry : fs::directory_iterator(sandbox.windir())) {
            if (entry.path().filename() != platform::SettingsLockName)
                names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    test::Sandbox sandbox;
};

TEST_F(ProfileTest, LooksUpSectionsAndKeysIgnoringCaseAndBlanks)
{
    writeIni("[Drives]\r\n  drive0 \t=\t 1 \r\n[ actions ]\r\nDelBAK=0x1\r\n");
    EXPECT_EQ(get("DRIVES", "Drive0"), "1");
    EXPECT_EQ(get("drives", "DRIVE0"), "1");
    EXPECT_EQ(get("Actions", "delbak"), "0x1");
    // A key of one section is not found in another.
    EXPECT_EQ(get("Drives", "DelBAK"), "<none>");
    EXPECT_EQ(get("Actions", "Drive0"), "<none>");
}

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault)
{
    EXPECT_EQ(get("Drives", "Drive0", "7"), "7");
    writeIni("[Drives]\r\nDrive0=1\r\n");
    EXPECT_EQ(get("User", "Drive0", "x"), "x");
    EXPECT_EQ(get("Drives", "Drive1", ""), "");
    // Trailing blanks of a default are dropped, leading ones are kept.
    EXPECT_EQ(get("Drives", "Drive9", " a b \t "), " a b");
    // Empty names never match anything.
    EXPECT_EQ(get("", "Drive0", "d"), "d");
    EXPECT_EQ(get("Drives", "", "d"), "d");
}

TEST_F(ProfileTest, RemovesOneMatchingPairOfOuterQuotes)
{
    writeIni("[S]\r\n"
             "double=\"C:\\Temp Files\"\r\n"
             "single= 'x' \r\n"
             "nested=\"'both'\"\r\n"
             "inner=\"a\"b\"\r\n"
             "mixed=\"x'\r\n"
             "lone=\"\r\n"
             "empty=\"\"\r\n"
             "blanksInside=\"  y  \"\r\n");
    EXPECT_EQ(get("S", "double"), "C:\\Temp Files");
    EXPECT_EQ(get("S", "single"), "x");
    EXPECT_EQ(get("S", "nested"), "'both'");
    EXPECT_EQ(get("S", "inner"), "a\"b");
    EXPECT_EQ(get("S", "mixed"), "\"x'");
    EXPECT_EQ(get("S", "lone"), "\"");
    EXPECT_EQ(get("S", "empty"), "");
    EXPECT_EQ(get("S", "blanksInside"), "  y  ");
}

TEST_F(ProfileTest, OnlyLinesWithAnEqualsSignInASectionAreKeys)
{
    writeIni("orphan=1\r\n"
             "[S]\r\n"
             "flag\r\n"
             "; comment=1\r\n"
             "empty=\r\n"
             "a=b=c\r\n");
    EXPECT_EQ(get("S", "flag"), "<none>");
    EXPECT_EQ(get("S", "comment"), "<none>");
    EXPECT_EQ(get("S", "orphan"), "<none>");
    EXPECT_EQ(get("S", "empty"), "");
    EXPECT_EQ(get("S", "a"), "b=c");
}

TEST_F(ProfileTest, FirstOfDuplicateKeysWins)
{
    writeIni("[S]\r\nk=first\r\nK=second\r\n[T]\r\nonly=t\r\n[s]\r\nk=third\r\nlater=4\r\n");
    EXPECT_EQ(get("S", "k"), "first");
    // A repeated section still adds the keys it alone has.
    EXPECT_EQ(get("S", "later"), "4");
}

TEST_F(ProfileTest, ReadsLfCrAndMixedLineEnds)
{
    writeIni("[A]\na=1\nb=2\n");
    EXPECT_EQ(get("A", "b"), "2");
    writeIni("[A]\ra=1\rb=2");
    EXPECT_EQ(get("A", "a"), "1");
    EXPECT_EQ(get("A", "b"), "2");
    writeIni("[A]\r\na=1\n\r[B]\rb=2\r\n");
    EXPECT_EQ(get("A", "a"), "1");
    EXPECT_EQ(get("B", "b"), "2");
    EXPECT_EQ(get("A", "b"), "<none>");
}

TEST_F(ProfileTest, PassesUtf8BytesUnchanged)
{
    writeIni("\xEF\xBB\xBF[Benutzer]\r\nMaske=*.\xC3\xA4\xE2\x82\xAC\r\n");
    EXPECT_EQ(get("Benutzer", "Maske"), "*.\xC3\xA4\xE2\x82\xAC");

    ASSERT_TRUE(put("\xC3\x9C", "Pfad", "/home/\xC3\xB6"));
    EXPECT_EQ(get("\xC3\x9C", "Pfad"), "/home/\xC3\xB6");
    EXPECT_EQ(readIni(), "\xEF\xBB\xBF[Benutzer]\r\nMaske=*.\xC3\xA4\xE2\x82\xAC\r\n"
                         "[\xC3\x9C]\r\nPfad=/home/\xC3\xB6\r\n");
}

TEST_F(ProfileTest, FreshFileHasSectionsAndKeysInOrderOfWritingWithoutBlankLines)
{
    for (const char* key : {"Drive0", "Drive1", "Drive2", "Drive3"})
        ASSERT_TRUE(put("Drives", key, key[5] == '0' ? "1" : "0"));
    ASSERT_TRUE(put("Actions", "RunScanDisk", "0"));
    ASSERT_TRUE(put("Actions", "DelCHK", "1"));
    ASSERT_TRUE(put("User", "User1", "*.~??"));
    ASSERT_TRUE(put("Actions", "Cache", ""));
    ASSERT_TRUE(put("User", "User2", "*.ZIP"));
    ASSERT_TRUE(put("NextDate", "Date", "1899/12/30"));
    EXPECT_EQ(readIni(), "[Drives]\r\nDrive0=1\r\nDrive1=0\r\nDrive2=0\r\nDrive3=0\r\n"
                         "[Actions]\r\nRunScanDisk=0\r\nDelCHK=1\r\nCache=\r\n"
                         "[User]\r\nUser1=*.~??\r\nUser2=*.ZIP\r\n"
                         "[NextDate]\r\nDate=1899/12/30\r\n");
    EXPECT_EQ(windirEntries(), std::vector<std::string>{ini});
}

TEST_F(ProfileTest, ReplacingAValueKeepsEveryOtherLineByteForByte)
{
    const std::string before = "; written by hand\n"
                               "\n"
                               "[Drives]\n"
                               "  drive0 = 0   ; old\n"
                               "Unknown=keep me\n"
                               "\n"
                               "[Other]\r"
                               "x=1\r"
                               "[Actions]\r\n"
                               "DelBAK=1";
    writeIni(before);
    ASSERT_TRUE(put("Drives", "Drive0", "1"));
    EXPECT_EQ(readIni(), "; written by hand\n"
                         "\n"
                         "[Drives]\n"
                         "Drive0=1\n"
                         "Unknown=keep me\n"
                         "\n"
                         "[Other]\r"
                         "x=1\r"
                         "[Actions]\r\n"
                         "DelBAK=1");
    // The last line had no line end and still has none.
    ASSERT_TRUE(put("actions", "delbak", "0"));
    EXPECT_EQ(get("Actions", "DelBAK"), "0");
    EXPECT_TRUE(readIni().ends_with("[Actions]\r\ndelbak=0"));
}

TEST_F(ProfileTest, ReplacesTheFirstOfDuplicateKeys)
{
    expectAfterPut("[S]\r\nk=1\r\nk=2\r\n[S]\r\nk=3\r\n", "S", "K", "9",
                   "[S]\r\nK=9\r\nk=2\r\n[S]\r\nk=3\r\n");
}

TEST_F(ProfileTest, NewKeyGoesAfterTheLastKeyOfItsSection)
{
    expectAfterPut("[A]\r\n; about a\r\na=1\r\n; trailing note\r\n\r\n[B]\r\nb=1\r\n", "a", "a2",
                   "2", "[A]\r\n; about a\r\na=1\r\na2=2\r\n; trailing note\r\n\r\n[B]\r\nb=1\r\n");
    // A section without keys takes it right after its header.
    expectAfterPut("[Empty]\n\n; nothing here\n[B]\nb=1\n", "Empty", "e", "1",
                   "[Empty]\ne=1\n\n; nothing here\n[B]\nb=1\n");
    // The first of repeated sections gets it.
    expectAfterPut("[S]\r\nx=1\r\n[T]\r\n[S]\r\ny=1\r\n", "S", "z", "1",
                   "[S]\r\nx=1\r\nz=1\r\n[T]\r\n[S]\r\ny=1\r\n");
}

TEST_F(ProfileTest, NewSectionGoesAtTheEndWithNoBlankLineBeforeIt)
{
    expectAfterPut("[A]\na=1\n\n", "B", "b", "2", "[A]\na=1\n\n[B]\nb=2\n");
    expectAfterPut("; only a comment, no line end", "B", "b", "2",
                   "; only a comment, no line end\r\n[B]\r\nb=2\r\n");
    expectAfterPut("", " B ", " b ", " 2", "[B]\r\nb= 2\r\n");
}

TEST_F(ProfileTest, EveryChangeReplacesTheFileAndAnUnchangedValueLeavesItAlone)
{
    writeIni("[A]\r\na=1\r\n");
    ASSERT_EQ(::chmod(sandbox.iniPath().c_str(), 0640), 0);
    struct stat before
    {
    };
    ASSERT_EQ(::stat(sandbox.iniPath().c_str(), &before), 0);

    ASSERT_TRUE(put("A", "a", "1"));
    struct stat same
    {
    };
    ASSERT_EQ(::stat(sandbox.iniPath().c_str(), &same), 0);
    EXPECT_EQ(same.st_ino, before.st_ino);

    ASSERT_TRUE(put("A", "a", "2"));
    struct stat after
    {
    };
    ASSERT_EQ(::stat(sandbox.iniPath().c_str(), &after), 0);
    // A new file renamed into place, with the old permissions.
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(windirEntries(), std::vector<std::string>{ini});
}

TEST_F(ProfileTest, NewFileGetsTheUsualPermissions)
{
    const mode_t old = ::umask(022);
    const bool written = put("A", "a", "1");
    ::umask(old);
    ASSERT_TRUE(written);
    struct stat info
    {
    };
    ASSERT_EQ(::stat(sandbox.iniPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST_F(ProfileTest, WritesThroughALinkAndKeepsTheLink)
{
    const std::string real = sandbox.root() + "/elsewhere/real.ini";
    test::Sandbox::writeFile(real, "[A]\r\na=1\r\n");
    fs::create_symlink(real, sandbox.iniPath());
    ASSERT_TRUE(put("A", "a", "2"));
    EXPECT_TRUE(fs::is_symlink(sandbox.iniPath()));
    EXPECT_EQ(test::Sandbox::readFile(real), "[A]\r\na=2\r\n");
    EXPECT_EQ(get("A", "a"), "2");
}

TEST_F(ProfileTest, ALinkToAFileNotYetWrittenGetsThatFile)
{
    const std::string real = sandbox.root() + "/elsewhere/vorlax.ini";
    fs::create_directories(sandbox.root() + "/elsewhere");
    fs::create_symlink("../elsewhere/vorlax.ini", sandbox.iniPath());
    ASSERT_TRUE(put("A", "a", "1"));
    EXPECT_TRUE(fs::is_symlink(sandbox.iniPath()));
    EXPECT_EQ(test::Sandbox::readFile(real), "[A]\r\na=1\r\n");
}

TEST_F(ProfileTest, TwoProgramsWritingAtOnceLoseNoKey)
{
    constexpr int keys = 40;
    put("Start", "x", "1");
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char byte = 0;
        ::close(go[1]);
        bool ok = ::read(go[0], &byte, 1) == 1;
        for (int i = 0; i < keys; ++i)
            ok = put("Child", "K" + std::to_string(i), "c") && ok;
        ::_exit(ok ? 0 : 1);
    }
    ::close(go[0]);
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    ::close(go[1]);
    for (int i = 0; i < keys; ++i)
        EXPECT_TRUE(put("Parent", "K" + std::to_string(i), "p"));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    int lost = 0;
    for (int i = 0; i < keys; ++i) {
        lost += get("Child", "K" + std::to_string(i)) != "c";
        lost += get("Parent", "K" + std::to_string(i)) != "p";
    }
    EXPECT_EQ(lost, 0);
}

TEST_F(ProfileTest, AnythingAtABareNameExists)
{
    using platform::profileFileExists;
    EXPECT_FALSE(profileFileExists(ini));
    writeIni("");
    EXPECT_TRUE(profileFileExists(ini));
    for (const std::string& name : std::vector<std::string>{"", ".", "..", "../windir/vorlax.ini",
                                                            "sub/vorlax.ini", "a\\vorlax.ini"})
        EXPECT_FALSE(profileFileExists(name)) << name;
    // A name too long to look at may still be the user's file.
    EXPECT_TRUE(profileFileExists(std::string(300, 'n')));

    // Whatever is there is the user's: never a missing file to be written afresh.
    fs::create_directory(sandbox.windir() + "/folder.ini");
    ASSERT_EQ(::mkfifo((sandbox.windir() + "/fifo.ini").c_str(), 0600), 0);
    fs::create_symlink(sandbox.iniPath(), sandbox.windir() + "/link.ini");
    fs::create_symlink(sandbox.root() + "/missing.ini", sandbox.windir() + "/dangling.ini");
    for (const char* name : {"folder.ini", "fifo.ini", "link.ini", "dangling.ini"})
        EXPECT_TRUE(profileFileExists(name)) << name;
    EXPECT_FALSE(platform::readProfileFile("folder.ini"));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_FALSE(platform::readProfileFile("missing.ini"));
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(ProfileTest, RefusedWhenTheFileIsADirectory)
{
    fs::create_directory(sandbox.iniPath());
    test::Sandbox::writeFile(sandbox.iniPath() + "/inside", "x");
    errno = 0;
    EXPECT_FALSE(put("A", "a", "1"));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_TRUE(fs::is_directory(sandbox.iniPath()));
    EXPECT_EQ(test::Sandbox::readFile(sandbox.iniPath() + "/inside"), "x");
    EXPECT_EQ(windirEntries(), std::vector<std::string>{ini});
    EXPECT_EQ(get("A", "a", "d"), "d");
}

TEST_F(ProfileTest, SomethingOtherThanAFileNeitherHangsNorIsReplaced)
{
    ASSERT_EQ(::mkfifo(sandbox.iniPath().c_str(), 0600), 0);
    EXPECT_EQ(get("A", "a", "d"), "d");
    errno = 0;
    EXPECT_FALSE(put("A", "a", "1"));
    EXPECT_EQ(errno, EINVAL);
    struct stat info
    {
    };
    ASSERT_EQ(::lstat(sandbox.iniPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(windirEntries(), std::vector<std::string>{ini});
}

TEST_F(ProfileTest, HeaderWithoutClosingBracketStillStartsASection)
{
    writeIni("[A]\r\na=1\r\n[B\r\nb=2\r\n");
    EXPECT_EQ(get("A", "b"), "<none>");
    EXPECT_EQ(get("B", "b"), "2");
}

TEST_F(ProfileTest, RefusedWhenTheWindowsDirectoryRunsThroughAFile)
{
    const std::string blocker = sandbox.root() + "/blocker";
    test::Sandbox::writeFile(blocker, "not a folder");
    sandbox.setEnv("VORLAX_WINDIR", blocker + "/windir");
    errno = 0;
    EXPECT_FALSE(put("A", "a", "1"));
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(test::Sandbox::readFile(blocker), "not a folder");
    EXPECT_EQ(get("A", "a", "d"), "d");
}

TEST_F(ProfileTest, RefusedWhenNoTemporaryNameFitsBesideTheFile)
{
    // The longest name a folder takes leaves no room for the temporary file's name.
    const std::string longName(255, 'n');
    const std::string path = sandbox.windir() + "/" + longName;
    test::Sandbox::writeFile(path, "[A]\r\na=1\r\n");
    EXPECT_EQ(GetPrivateProfileStringA("A", "a", "", longName), "1");
    errno = 0;
    EXPECT_FALSE(WritePrivateProfileStringA("A", "a", "2", longName));
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(test::Sandbox::readFile(path), "[A]\r\na=1\r\n");
    EXPECT_EQ(windirEntries(), std::vector<std::string>{longName});
}

TEST_F(ProfileTest, FailedWriteOfTheNewTextLeavesTheOldFileAndNoTemporary)
{
    // A file size limit fails the write as a full disk would, also for root.
    writeIni("[A]\r\na=1\r\n");
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    errno = 0;
    const bool written = put("A", "a", std::string(10000, 'v'));
    const int error = errno;
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(readIni(), "[A]\r\na=1\r\n");
    EXPECT_EQ(windirEntries(), std::vector<std::string>{ini});
}

TEST_F(ProfileTest, RefusesEntriesThatWouldBeReadBackAsOtherLines)
{
    const std::string before = "[A]\r\na=1\r\n";
    writeIni(before);
    struct Case
    {
        std::string section, key, value, fileName;
    };
    const Case cases[] = {
        {"A", "a", "2\r\n[Evil]\r\nx=1", ini},
        {"A", "a", "2\nb=3", ini},
        {"A", "a", "2\r", ini},
        {"A", "k=v", "1", ini},
        {"A", "[B]", "1", ini},
        {"A", ";c", "1", ini},
        {"A", "a\nb", "1", ini},
        {"A", " ", "1", ini},
        {"", "a", "1", ini},
        {"A]x", "a", "1", ini},
        {"A\r\n", "a", "1", ini},
        {"A", "a", "1", ""},
        {"A", "a", "1", ".."},
        {"A", "a", "1", "../vorlax.ini"},
        {"A", "a", "1", "sub\\vorlax.ini"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section + "|" + c.key + "|" + c.value + "|" + c.fileName);
        errno = 0;
        EXPECT_FALSE(WritePrivateProfileStringA(c.section, c.key, c.value, c.fileName));
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(readIni(), before);
    EXPECT_EQ(windirEntries(), std::vector<std::string>{ini});
    EXPECT_FALSE(test::Sandbox::exists(sandbox.root() + "/vorlax.ini"));
    EXPECT_EQ(GetPrivateProfileStringA("A", "a", "d", "../windir/vorlax.ini"), "d");
}

TEST_F(ProfileTest, CallsGoToTheInstalledServiceWhileItIsInPlace)
{
    writeIni("[A]\r\na=real\r\n");
    {
        test::ScopedFake<test::FakeProfile> fake;
        fake.answer = "faked";
        fake.content = "[A]\r\na=whole\r\n";
        EXPECT_EQ(get("A", "a", "d"), "faked");
        EXPECT_FALSE(put("A", "a", "v"));
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_FALSE(platform::profileFileExists(ini));
        EXPECT_EQ(platform::readProfileFile(ini), "[A]\r\na=whole\r\n");
        EXPECT_FALSE(platform::writeProfileEntries(ini, {{"A", "a", "v"}, {"B", "b", "w"}}));
        EXPECT_EQ(fake.calls, (std::vector<std::string>{
                                  "get A/a/d/vorlax.ini", "write A/a/v/vorlax.ini",
                                  "exists vorlax.ini", "read vorlax.ini", "entries 2/vorlax.ini"}));
    }
    EXPECT_EQ(get("A", "a"), "real");
    EXPECT_TRUE(platform::profileFileExists(ini));
}

} // namespace
