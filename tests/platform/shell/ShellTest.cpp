#include "support/ShellFixture.h"

#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <unistd.h>

using namespace platform;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

class Shell : public test::ShellFixture
{
protected:
    void write(const std::vector<std::string>& names)
    {
        for (const auto& name : names)
            test::Sandbox::writeFile(c(name), name);
    }
    bool exists(const std::string& name) const { return test::Sandbox::exists(c(name)); }
};

} // namespace

// The list ends at its first empty entry; wildcards match like a folder search, letters in
// either case; a folder goes with everything in it, and a link in it is removed, never
// followed.
TEST_F(Shell, DeleteTakesTheListUpToItsEndAndExpandsWildcards)
{
    write({"w/a.tmp", "w/B.TMP", "w/c.txt", "w/x.bak", "w/y.bak", "w/tree/deep/z.tmp",
           "outside/kept.txt"});
    fs::create_symlink(c("outside"), c("w/tree/deep/link"));

    EXPECT_EQ(request(FO_DELETE, "C:\\w\\x.bak\0\0C:\\w\\y.bak"s, FOF_NOCONFIRMATION), 0);
    EXPECT_FALSE(exists("w/x.bak"));
    EXPECT_TRUE(exists("w/y.bak"));

    EXPECT_EQ(request(FO_DELETE, "C:\\w\\*.tmp\0C:\\w\\tre?"s, FOF_NOCONFIRMATION), 0);
    EXPECT_FALSE(exists("w/a.tmp"));
    EXPECT_FALSE(exists("w/B.TMP"));
    EXPECT_FALSE(exists("w/tree"));
    EXPECT_TRUE(exists("w/c.txt"));
    EXPECT_TRUE(exists("outside/kept.txt"));
    // Nothing matched is nothing to do; an empty list likewise.
    EXPECT_EQ(request(FO_DELETE, "C:\\w\\*.none", FOF_NOCONFIRMATION), 0);
    EXPECT_EQ(request(FO_DELETE, "", FOF_NOCONFIRMATION), 0);
    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_FALSE(test::Sandbox::exists(homeTrash()));
}

TEST_F(Shell, PathsThatAreNotFullyQualifiedAreRefusedAndTheRestGoesOn)
{
    write({"a.tmp", "b.tmp"});
    const std::string refused[] = {"a.tmp", "C:a.tmp", "\\\\server\\share\\a.tmp", "Q:\\a.tmp",
                                   "\\a.tmp"};
    for (const auto& path : refused) {
        dialogs.errors.clear();
        EXPECT_NE(request(FO_DELETE, path + "\0C:\\b.tmp"s, FOF_NOCONFIRMATION), 0) << path;
        ASSERT_EQ(dialogs.errors.size(), 1u) << path;
        EXPECT_EQ(dialogs.errors[0].title, "Error Deleting File");
        EXPECT_EQ(dialogs.errors[0].text.rfind("Could not delete " + path + ": ", 0), 0u)
            << dialogs.errors[0].text;
        EXPECT_TRUE(exists("a.tmp"));
        EXPECT_FALSE(exists("b.tmp"));
        write({"b.tmp"});
    }
}

TEST_F(Shell, ConfirmationNoAbortsTheRestAndYesGoesAhead)
{
    write({"a.tmp", "b.tmp"});
    dialogs.answer = false;
    EXPECT_NE(request(FO_DELETE, "C:\\a.tmp\0C:\\b.tmp"s, FOF_ALLOWUNDO), 0);
    EXPECT_TRUE(aborted);
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions[0].title, "Confirm File Delete");
    EXPECT_EQ(dialogs.questions[0].text,
              "Are you sure you want to send 'a.tmp' to the Recycle Bin?");
    EXPECT_TRUE(exists("a.tmp"));
    EXPECT_TRUE(exists("b.tmp"));

    dialogs.answer = true;
    dialogs.questions.clear();
    EXPECT_EQ(request(FO_DELETE, "C:\\a.tmp", 0), 0);
    EXPECT_FALSE(aborted);
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions[0].text, "Are you sure you want to delete 'a.tmp'?");
    EXPECT_FALSE(exists("a.tmp"));
}

TEST_F(Shell, CopyMoveAndRename)
{
    using Files = std::vector<std::pair<std::string, std::string>>; // path and content
    struct Case
    {
        const char* name;
        unsigned function;
        std::string from;
        std::string to;
        std::uint16_t flags;
        Files present;
        std::vector<std::string> absent;
        const char* errorTitle = nullptr;
        // How the error box's text starts.
        const char* errorText = nullptr;
    };
    constexpr std::uint16_t quiet = FOF_NOCONFIRMATION;
    const Case cases[] = {
        {"copy a file into a folder",
         FO_COPY,
         "C:\\src\\a.txt",
         "C:\\dst",
         quiet,
         Files{{"src/a.txt", "src/a.txt"}, {"dst/a.txt", "src/a.txt"}},
         {}},
        {"copy a folder under a new name",
         FO_COPY,
         "C:\\src",
         "C:\\copy",
         quiet,
         Files{{"copy/a.txt", "src/a.txt"}, {"copy/sub/s.txt", "src/sub/s.txt"}},
         {}},
        {"copy one destination each",
         FO_COPY,
         "C:\\src\\a.txt\0C:\\src\\b.txt"s,
         "C:\\dst\\one.txt\0C:\\dst\\two.txt"s,
         quiet | FOF_MULTIDESTFILES,
         Files{{"dst/one.txt", "src/a.txt"}, {"dst/two.txt", "src/b.txt"}},
         {}},
        {"move by wildcard",
         FO_MOVE,
         "C:\\src\\*.TXT",
         "C:\\dst",
         quiet,
         Files{{"dst/a.txt", "src/a.txt"}, {"dst/b.txt", "src/b.txt"}},
         {"src/a.txt", "src/b.txt"}},
        {"rename to a bare name",
         FO_RENAME,
         "C:\\src\\a.txt",
         "renamed.txt",
         quiet,
         Files{{"src/renamed.txt", "src/a.txt"}},
         {"src/a.txt"}},
        {"move onto a folder of the same name",
         FO_MOVE,
         "C:\\src\\sub",
         "C:\\dst",
         quiet,
         Files{{"src/sub/s.txt", "src/sub/s.txt"}, {"dst/sub/other.txt", "dst/sub/other.txt"}},
         {"dst/sub/s.txt"},
         "Error Moving File",
         "Could not move C:\\src\\sub: "},
        {"copy a folder into itself",
         FO_COPY,
         "C:\\src",
         "C:\\src\\sub",
         quiet,
         Files{{"src/a.txt", "src/a.txt"}},
         {"src/sub/src"},
         "Error Copying File",
         "Could not copy C:\\src: "},
        {"rename something missing",
         FO_RENAME,
         "C:\\src\\none.txt",
         "C:\\src\\x.txt",
         quiet,
         Files{},
         {"src/x.txt"},
         "Error Renaming File",
         "Could not rename C:\\src\\none.txt: "},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        fs::remove_all(sandbox.driveC());
        write({"src/a.txt", "src/b.txt", "src/sub/s.txt", "dst/sub/other.txt"});
        dialogs.errors.clear();
        const int result = request(testCase.function, testCase.from, testCase.flags, testCase.to);
        EXPECT_EQ(result != 0, testCase.errorTitle != nullptr);
        if (testCase.errorTitle) {
            ASSERT_EQ(dialogs.errors.size(), 1u);
            EXPECT_EQ(dialogs.errors[0].title, testCase.errorTitle);
            EXPECT_EQ(dialogs.errors[0].text.rfind(testCase.errorText, 0), 0u)
                << dialogs.errors[0].text;
        } else {
            EXPECT_TRUE(dialogs.errors.empty()) << dialogs.errors[0].text;
        }
        for (const auto& [name, content] : testCase.present) {
            ASSERT_TRUE(exists(name)) << name;
            EXPECT_EQ(test::Sandbox::readFile(c(name)), content) << name;
        }
        for (const auto& name : testCase.absent)
            EXPECT_FALSE(exists(name)) << name;
    }
}

TEST_F(Shell, NewNamesOnCollisionAndReplacingAFileOnlyWhenAllowed)
{
    write({"src/a.txt", "dst/a.txt"});
    EXPECT_EQ(request(FO_COPY, "C:\\src\\a.txt", FOF_RENAMEONCOLLISION, "C:\\src"), 0);
    EXPECT_EQ(request(FO_COPY, "C:\\src\\a.txt", FOF_RENAMEONCOLLISION, "C:\\src"), 0);
    EXPECT_EQ(request(FO_COPY, "C:\\src\\a.txt", FOF_RENAMEONCOLLISION, "C:\\dst"), 0);
    EXPECT_EQ(test::Sandbox::readFile(c("src/Copy of a.txt")), "src/a.txt");
    EXPECT_EQ(test::Sandbox::readFile(c("src/Copy (2) of a.txt")), "src/a.txt");
    EXPECT_EQ(test::Sandbox::readFile(c("dst/a (2).txt")), "src/a.txt");
    EXPECT_EQ(test::Sandbox::readFile(c("dst/a.txt")), "dst/a.txt");

    dialogs.answer = false;
    EXPECT_EQ(request(FO_COPY, "C:\\src\\a.txt", 0, "C:\\dst"), 0);
    EXPECT_TRUE(aborted);
    EXPECT_EQ(dialogs.questions.back().title, "Confirm File Replace");
    EXPECT_EQ(test::Sandbox::readFile(c("dst/a.txt")), "dst/a.txt");
    EXPECT_EQ(request(FO_MOVE, "C:\\src\\a.txt", FOF_NOCONFIRMATION, "C:\\dst"), 0);
    EXPECT_EQ(test::Sandbox::readFile(c("dst/a.txt")), "src/a.txt");
    EXPECT_FALSE(exists("src/a.txt"));
}

TEST_F(Shell, SpecialFoldersAndTheBrowserWithoutAToolkit)
{
    LPITEMIDLIST item;
    std::string path = "unchanged";
    ASSERT_EQ(SHGetSpecialFolderLocation(0, CSIDL_DRIVES, item), S_OK);
    EXPECT_FALSE(SHGetPathFromIDListA(item.get(), path));
    EXPECT_EQ(path, "unchanged");
    EXPECT_EQ(SHGetSpecialFolderLocation(0, 0x0005, item), E_FAIL);
    EXPECT_FALSE(item);
    // Nobody can choose: a cancel, and the callback is never raised.
    const auto browser = FolderBrowser::createDefault();
    BROWSEINFOA info;
    int calls = 0;
    info.lpfn = [](HWND, unsigned, const ITEMIDLIST*, void* data) {
        return ++*static_cast<int*>(data);
    };
    info.lParam = &calls;
    EXPECT_FALSE(browser->browse(info));
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(browser->sendMessage(1, BFFM_SETSTATUSTEXTA, 0, "Looking"), 0);
}

// A file deeper than the system lets a path name it: the shell could walk to it, but no
// other program could name it afterwards, nor restore it from the trash. It is refused
// with its reason and stays.
TEST_F(Shell, APathLongerThanTheSystemAllowsIsRefusedWithItsReason)
{
    const std::string part(200, 'd');
    std::vector<int> folders = {::open(sandbox.driveC().c_str(), O_RDONLY | O_DIRECTORY)};
    std::string windows = "C:";
    while (windows.size() < PATH_MAX) {
        ASSERT_EQ(::mkdirat(folders.back(), part.c_str(), 0700), 0);
        folders.push_back(::openat(folders.back(), part.c_str(), O_RDONLY | O_DIRECTORY));
        windows += "\\" + part;
    }
    ::close(::openat(folders.back(), "deep.tmp", O_WRONLY | O_CREAT, 0600));
    windows += "\\deep.tmp";

    EXPECT_TRUE(isCollectable(windows));
    EXPECT_NE(request(FO_DELETE, windows, FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT), 0);
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_TRUE(dialogs.errors[0].text.ends_with(": The file name is too long."))
        << dialogs.errors[0].text;
    EXPECT_EQ(::faccessat(folders.back(), "deep.tmp", F_OK, 0), 0);

    // Too deep for the sandbox's own clean-up, which names every entry by its path.
    ::unlinkat(folders.back(), "deep.tmp", 0);
    for (std::size_t k = folders.size() - 1; k > 0; --k) {
        ::close(folders[k]);
        ::unlinkat(folders[k - 1], part.c_str(), AT_REMOVEDIR);
    }
    ::close(folders.front());
}
