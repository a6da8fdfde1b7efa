#include "platform/core/Service.h"
#include "platform/files/Files.h"
#include "platform/files/PosixFiles.h"
#include "support/Sandbox.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

struct Entry
{
    std::string name;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
};

// Every entry of a search, in the order delivered.
std::vector<Entry> search(const std::string& pattern, unsigned flags = 0)
{
    std::vector<Entry> entries;
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileExA(pattern, data, flags);
    if (handle == INVALID_HANDLE_VALUE)
        return entries;
    do {
        entries.push_back({data.cFileName, data.dwFileAttributes, data.nFileSize});
    } while (FindNextFileA(handle, data));
    EXPECT_TRUE(FindClose(handle));
    return entries;
}

std::map<std::string, Entry> byName(const std::vector<Entry>& entries)
{
    std::map<std::string, Entry> map;
    for (const auto& entry : entries)
        map[entry.name] = entry;
    return map;
}

std::vector<std::string> sortedNames(const std::vector<Entry>& entries)
{
    std::vector<std::string> names;
    for (const auto& entry : entries)
        names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

class FileSearch : public ::testing::Test
{
protected:
    test::Sandbox sandbox;
    std::string c = sandbox.driveC();

    void write(const std::string& relative, const std::string& content = "")
    {
        test::Sandbox::writeFile(c + "/" + relative, content);
    }
    void mkdir(const std::string& relative) { fs::create_directories(c + "/" + relative); }

    // Files of every kind under C:\d.
    void makeKinds()
    {
        write("d/a.txt", "hello");
        write("d/.hidden", "xy");
        write("d/ro.txt", "abc");
        ::chmod((c + "/d/ro.txt").c_str(), 0444);
        mkdir("d/sub");
        mkdir("d/.hdir");
        fs::create_symlink("a.txt", c + "/d/link");
        fs::create_symlink("sub", c + "/d/dlink");
        ASSERT_EQ(::mkfifo((c + "/d/pipe").c_str(), 0644), 0);
    }
};

} // namespace

TEST_F(FileSearch, AttributesComeFromKindModeAndName)
{
    makeKinds();
    const auto entries = byName(search("C:\\d\\*.*"));
    ASSERT_EQ(entries.size(), 10u);
    EXPECT_EQ(entries.at("a.txt").attributes, FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(entries.at("a.txt").size, 5u);
    EXPECT_EQ(entries.at(".hidden").attributes, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(entries.at("ro.txt").attributes, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(entries.at("sub").attributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(entries.at("sub").size, 0u);
    EXPECT_EQ(entries.at(".hdir").attributes, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    // Links, to files or folders, and FIFOs are never files or folders of their own.
    for (const char* name : {"link", "dlink", "pipe"}) {
        EXPECT_EQ(entries.at(name).attributes, FILE_ATTRIBUTE_SYSTEM) << name;
        EXPECT_EQ(entries.at(name).size, 0u) << name;
    }
    EXPECT_EQ(entries.at(".").attributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(entries.at("..").attributes, FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(FileSearch, DeferredDetailsGiveTheKindAtOnceAndTheRestOnRequest)
{
    makeKinds();
    const auto eager = byName(search("C:\\d\\*"));
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileExA("C:\\d\\*", data, FindFirstExDeferDetails);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    int seen = 0;
    do {
        const Entry& full = eager.at(data.cFileName);
        // Everything but the read-only bit is known before the stat.
        EXPECT_EQ(data.dwFileAttributes, full.attributes & ~FILE_ATTRIBUTE_READONLY)
            << data.cFileName;
        EXPECT_EQ(data.nFileSize, 0u);
        ASSERT_TRUE(findFileDetails(handle, data)) << data.cFileName;
        EXPECT_EQ(data.dwFileAttributes, full.attributes) << data.cFileName;
        EXPECT_EQ(data.nFileSize, full.size) << data.cFileName;
        ++seen;
    } while (FindNextFileA(handle, data));
    EXPECT_TRUE(FindClose(handle));
    EXPECT_EQ(seen, 10);
}

TEST_F(FileSearch, DotEntriesComeFirstExceptAtTheRootOfADrive)
{
    write("d/x.txt");
    write("top.txt");
    const auto inFolder = search("C:\\d\\*.*");
    ASSERT_EQ(inFolder.size(), 3u);
    EXPECT_EQ(inFolder[0].name, ".");
    EXPECT_EQ(inFolder[1].name, "..");
    EXPECT_EQ(inFolder[2].name, "x.txt");
    for (const char* root : {"C:\\*.*", "C:*", "c:/*", "C:\\\\*"}) {
        if (std::string(root) == "C:*") {
            // No current folder on a drive: a pattern needs a folder.
            EXPECT_TRUE(search(root).empty());
            continue;
        }
        EXPECT_EQ(sortedNames(search(root)), (std::vector<std::string>{"d", "top.txt"})) << root;
    }
}

TEST_F(FileSearch, WildcardsAndExactNames)
{
    for (const char* name : {"a.txt", "B.TXT", "ab.txt", "c.txtx", "noext", ".txt"})
        write(std::string("d/") + name);
    auto names = [](const std::string& pattern) { return sortedNames(search(pattern)); };
    using Names = std::vector<std::string>;
    EXPECT_EQ(names("C:\\d\\*.txt"), (Names{".txt", "B.TXT", "a.txt", "ab.txt"}));
    EXPECT_EQ(names("C:\\d\\?.TXT"), (Names{"B.TXT", "a.txt"}));
    EXPECT_EQ(names("C:\\d\\a*"), (Names{"a.txt", "ab.txt"}));
    EXPECT_EQ(names("C:/d/*x*t"), (Names{".txt", "B.TXT", "a.txt", "ab.txt", "noext"}));
    // Without wildcards a name is found as it is spelt.
    EXPECT_EQ(names("C:\\d\\a.txt"), (Names{"a.txt"}));
    EXPECT_EQ(names("C:\\d\\A.TXT"), Names{});
    // A folder is found in its parent by its own name.
    EXPECT_EQ(names("C:\\d"), (Names{"d"}));
    EXPECT_EQ(search("C:\\d").at(0).attributes, FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(FileSearch, SearchesThatCannotStart)
{
    write("d/file.txt", "x");
    WIN32_FIND_DATAA data;
    for (const std::string& pattern : std::vector<std::string>{
             "", "*.*", "C:\\d\\", "C:\\missing\\*.*", "Q:\\*.*", "C:\\d\\file.txt\\*.*",
             "C:\\d\\nothing-like-this*", "\\d\\*.*", std::string("C:\\d\0x\\*", 8)}) {
        HANDLE handle = FindFirstFileA(pattern, data);
        EXPECT_EQ(handle, INVALID_HANDLE_VALUE) << pattern;
        if (handle != INVALID_HANDLE_VALUE)
            FindClose(handle);
    }
    EXPECT_FALSE(FindNextFileA(INVALID_HANDLE_VALUE, data));
    EXPECT_FALSE(findFileDetails(INVALID_HANDLE_VALUE, data));
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
    HANDLE handle = FindFirstFileA("C:\\d\\*", data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FindClose(handle));
    // A closed handle is no handle.
    EXPECT_FALSE(FindNextFileA(handle, data));
    EXPECT_FALSE(FindClose(handle));
}

TEST_F(FileSearch, NamesAreBytesAndANameWithABackslashIsLeftOut)
{
    const std::string latin1 = "caf\xe9.tmp";         // no UTF-8
    const std::string utf8 = "\xc3\xa9t\xc3\xa9.bak"; // "ete" with accents
    const std::string folder = "d\xff\x80";
    write("d/" + latin1, "1");
    write("d/" + utf8, "22");
    write("d/back\\slash.tmp", "333");
    write(folder + "/inner.txt");
    const auto names = sortedNames(search("C:\\d\\*"));
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", latin1, utf8}));
    // The bytes also work in a folder of a pattern.
    EXPECT_EQ(sortedNames(search("C:\\" + folder + "\\*.txt")),
              std::vector<std::string>{"inner.txt"});
}

TEST_F(FileSearch, AFolderThatChangesWhileSearchedGivesWhatCouldBeRead)
{
    for (const char* name : {"a", "b", "c", "d"})
        write(std::string("d/") + name, name);
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA("C:\\d\\*", data); // "."
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    // The entries were read when the search started: later ones do not appear, removed
    // ones are no longer delivered.
    fs::remove(c + "/d/b");
    fs::remove(c + "/d/c");
    write("d/new");
    std::vector<std::string> names;
    while (FindNextFileA(handle, data))
        names.push_back(data.cFileName);
    FindClose(handle);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"..", "a", "d"}));

    // With deferred details the name comes from the listing and the details say it is gone.
    handle = FindFirstFileExA("C:\\d\\a", data, FindFirstExDeferDetails);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    fs::remove(c + "/d/a");
    data.nFileSize = 77;
    EXPECT_FALSE(findFileDetails(handle, data));
    EXPECT_EQ(data.nFileSize, 77u);
    FindClose(handle);
}

TEST_F(FileSearch, AFolderThatVanishesWhileSearchedEndsQuietly)
{
    write("d/sub/one");
    write("d/sub/two");
    WIN32_FIND_DATAA data;
    HANDLE parent = FindFirstFileA("C:\\d\\*", data);
    ASSERT_NE(parent, INVALID_HANDLE_VALUE);
    HANDLE child = FindFirstFileA("C:\\d\\sub\\*", data); // "."
    ASSERT_NE(child, INVALID_HANDLE_VALUE);
    fs::remove_all(c + "/d");
    // Nothing that was in them is delivered any more, and nothing fails loudly.
    auto rest = [&data](HANDLE handle) {
        std::vector<std::string> names;
        while (FindNextFileA(handle, data)) {
            if (data.cFileName != std::string(".."))
                names.push_back(data.cFileName);
        }
        return names;
    };
    EXPECT_EQ(rest(child), std::vector<std::string>{});
    EXPECT_EQ(FindFirstFileA("C:\\d\\sub\\*", data), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FindClose(child));
    EXPECT_EQ(rest(parent), std::vector<std::string>{});
    EXPECT_TRUE(FindClose(parent));
}

TEST_F(FileSearch, ASearchFromItsParentNeverFollowsALink)
{
    write("d/real/inside.txt");
    fs::create_symlink("real", c + "/d/link");
    fs::create_symlink(c + "/d", c + "/d/real/up"); // a loop
    WIN32_FIND_DATAA data;
    HANDLE parent = FindFirstFileA("C:\\d\\*", data);
    ASSERT_NE(parent, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileA("C:\\d\\link\\*", data), INVALID_HANDLE_VALUE);
    HANDLE real = FindFirstFileA("C:\\d\\real\\*", data);
    ASSERT_NE(real, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileA("C:\\d\\real\\up\\*", data), INVALID_HANDLE_VALUE);
    FindClose(real);
    FindClose(parent);
    // Given as a path of its own, a link is followed, as Windows does.
    EXPECT_EQ(sortedNames(search("C:\\d\\link\\*.txt")), std::vector<std::string>{"inside.txt"});
}

TEST_F(FileSearch, ASearchFromItsParentNeverEntersAnotherFilesystem)
{
    // Folders the kernel lists as mounted right under a folder that is not.
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    std::string mountPoint;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        fields >> id >> parent >> device >> root >> point;
        if (point.size() > 1 && point.find('\\') == std::string::npos && point.rfind('/') == 0 &&
            fs::is_directory(point)) {
            mountPoint = point;
            break;
        }
    }
    if (mountPoint.empty())
        GTEST_SKIP() << "no filesystem is mounted on a folder of /";
    sandbox.setDrives("R:=/@fixed");
    const std::string child = "R:\\" + mountPoint.substr(1) + "\\*";
    WIN32_FIND_DATAA data;
    HANDLE root = FindFirstFileA("R:\\*", data);
    ASSERT_NE(root, INVALID_HANDLE_VALUE);
    // Left out of the listing, as the mount table tells, with no call on it.
    bool listed = false;
    do
        listed = listed || data.cFileName == mountPoint.substr(1);
    while (FindNextFileA(root, data));
    EXPECT_FALSE(listed) << mountPoint;
    EXPECT_EQ(FindFirstFileA(child, data), INVALID_HANDLE_VALUE) << mountPoint;
    FindClose(root);
    // Named on its own, the mounted folder is searched.
    HANDLE own = FindFirstFileA(child, data);
    EXPECT_NE(own, INVALID_HANDLE_VALUE) << mountPoint;
    FindClose(own);
}

TEST_F(FileSearch, FoldersOpenAgainFromTheirParentsBeyondTheBudget)
{
    PosixFiles files;
    files.setOpenFolderBudget(2);
    ScopedService<FileService> scoped(files);
    // Three levels open at once with room for two descriptors.
    write("d/e/f/deep.txt", "1234");
    write("d/e/side.txt");
    write("d/other/o.txt");
    WIN32_FIND_DATAA data;
    HANDLE d = FindFirstFileExA("C:\\d\\*", data, FindFirstExDeferDetails);
    HANDLE e = FindFirstFileExA("C:\\d\\e\\*", data, FindFirstExDeferDetails);
    HANDLE f = FindFirstFileExA("C:\\d\\e\\f\\deep.txt", data, FindFirstExDeferDetails);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    EXPECT_LE(files.openFolderCount(), 2u);
    ASSERT_TRUE(findFileDetails(f, data));
    EXPECT_EQ(data.nFileSize, 4u);
    FindClose(f);
    // "d" gave its descriptor away; its subfolder is still found through it.
    EXPECT_EQ(sortedNames(search("C:\\d\\other\\*.txt")), std::vector<std::string>{"o.txt"});
    EXPECT_LE(files.openFolderCount(), 2u);

    // A folder put in the place of one that gave its descriptor away is not taken for it.
    fs::rename(c + "/d/e", c + "/d/e-old");
    write("d/e/side.txt");
    EXPECT_EQ(FindFirstFileA("C:\\d\\e\\f\\*", data), INVALID_HANDLE_VALUE);
    while (FindNextFileA(e, data)) {
        if (data.cFileName == std::string("side.txt")) {
            EXPECT_FALSE(findFileDetails(e, data));
        }
    }
    FindClose(e);
    FindClose(d);
    EXPECT_EQ(files.openFolderCount(), 0u);
}

TEST_F(FileSearch, ASearchFromItsParentIsKnownWhateverFormItsFolderTakes)
{
    write("d/real/inside.txt");
    write("other/o.txt");
    fs::create_symlink("real", c + "/d/link");
    WIN32_FIND_DATAA data;
    HANDLE parent = FindFirstFileA("c:/d//*", data);
    ASSERT_NE(parent, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileA("c:/d/link/*", data), INVALID_HANDLE_VALUE);
    // Another folder searched in between leaves the parent known.
    HANDLE other = FindFirstFileA("C:\\other\\*", data);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileA("C:\\d\\link\\*", data), INVALID_HANDLE_VALUE);
    HANDLE real = FindFirstFileA("C:\\d\\real\\\\*.txt", data);
    ASSERT_NE(real, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::string(data.cFileName), "inside.txt");
    FindClose(real);
    FindClose(other);
    EXPECT_EQ(FindFirstFileA("C:\\d\\link\\*", data), INVALID_HANDLE_VALUE);
    FindClose(parent);
    EXPECT_EQ(sortedNames(search("C:\\d\\link\\*.txt")), std::vector<std::string>{"inside.txt"});
}

TEST_F(FileSearch, ASubfolderSearchThatEndsGivesItsParentBackItsDescriptor)
{
    PosixFiles files;
    files.setOpenFolderBudget(2);
    ScopedService<FileService> scoped(files);
    write("d/e/side.txt", "12");
    write("d/e/f/g/x.txt");
    WIN32_FIND_DATAA data;
    HANDLE d = FindFirstFileExA("C:\\d\\*", data, FindFirstExDeferDetails);
    HANDLE e = FindFirstFileExA("C:\\d\\e\\*", data, FindFirstExDeferDetails);
    HANDLE f = FindFirstFileExA("C:\\d\\e\\f\\*", data, FindFirstExDeferDetails);
    HANDLE g = FindFirstFileExA("C:\\d\\e\\f\\g\\*", data, FindFirstExDeferDetails);
    ASSERT_NE(g, INVALID_HANDLE_VALUE);
    // "e" gave its descriptor away and can no longer be opened again by its name.
    fs::rename(c + "/d/e", c + "/d/moved");
    FindClose(g);
    FindClose(f);
    EXPECT_LE(files.openFolderCount(), 2u);
    bool found = false;
    while (FindNextFileA(e, data)) {
        if (data.cFileName == std::string("side.txt")) {
            found = true;
            ASSERT_TRUE(findFileDetails(e, data));
            EXPECT_EQ(data.nFileSize, 2u);
        }
    }
    EXPECT_TRUE(found);
    FindClose(e);
    FindClose(d);
    EXPECT_EQ(files.openFolderCount(), 0u);
}
