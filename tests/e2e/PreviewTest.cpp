#include "support/LocalDate.h"
#include "support/ProgramRun.h"
#include "support/Sandbox.h"

#include <QProcess>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string content(const fs::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOATIME | O_CLOEXEC);
    EXPECT_GE(fd, 0) << path;
    std::string text;
    char buffer[4096];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    if (fd >= 0)
        ::close(fd);
    return text;
}

// Every entry below the root with its content and all three times, so that even a read
// (an access time) or a change of its inode (a change time) shows.
std::map<std::string, std::string> everything(const std::string& root)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat status = {};
        if (::lstat(entry.path().c_str(), &status) != 0)
            continue;
        const auto time = [](const timespec& t) {
            return std::to_string(t.tv_sec) + "." + std::to_string(t.tv_nsec);
        };
        std::string facts = std::to_string(status.st_mode) + " " + std::to_string(status.st_ino) +
                            " " + std::to_string(status.st_size) + " " + time(status.st_atim) +
                            " " + time(status.st_mtim) + " " + time(status.st_ctim);
        // Read without touching the access time; a folder's is the search's to change, and
        // the settings are there to be read.
        if (S_ISREG(status.st_mode))
            facts += " " + content(entry.path());
        if (!S_ISREG(status.st_mode) || entry.path().filename() == "vorlax.ini")
            facts.erase(facts.find(time(status.st_atim)), time(status.st_atim).size());
        entries[entry.path().string()] = facts;
    }
    return entries;
}

std::set<std::string> regularFiles(const std::string& root)
{
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (fs::is_regular_file(fs::symlink_status(entry.path())))
            files.insert(entry.path().string());
    }
    return files;
}

class PreviewTest : public ::testing::Test
{
protected:
    std::string file(const std::string& path, bool old = true)
    {
        test::Sandbox::writeFile(path, "content of " + path + std::string(1, '\0') + "\xff");
        if (old) {
            const timespec times[2] = {{std::time(nullptr) - 3 * 86400, 0},
                                       {std::time(nullptr) - 3 * 86400, 0}};
            EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
        }
        return path;
    }
    test::Sandbox sandbox;
};

} // namespace

// What the preview lists is exactly what the run then moves, and the preview itself
// changes nothing: no content, no time, no entry, no trash, no lock file.
TEST_F(PreviewTest, ThePreviewListsExactlyWhatTheRunThenMovesAndChangesNothing)
{
    const std::string c = sandbox.driveC();
    test::Sandbox::writeFile(sandbox.iniPath(),
                             "[Drives]\r\nDrive0=1\r\n"
                             "[Actions]\r\nCache=C:\\cache\\\r\nAutoStart=0\r\n"
                             "RunScanDisk=1\r\nDelCHK=1\r\nDelTempFiles=1\r\nDelCache=1\r\n"
                             "DelBAK=1\r\nDelTMP=1\r\nDelUser1=1\r\nDelUser2=1\r\n"
                             "Frequency1=1\r\n"
                             "[User]\r\nUser1=*.~??\r\nUser2=*\r\n"
                             "[NextDate]\r\nDate=" +
                                 test::localDateText(0) + "\r\n");
    for (const char* name : {"/session.dat", "/build/obj.o", "/spaced name.tmp"})
        file(sandbox.tmp() + name);
    file(sandbox.tmp() + "/fresh.dat", false);
    file(c + "/cache/entry1");
    file(c + "/cache/d/entry2");
    file(c + "/docs/report.bak");
    file(c + "/docs/disk.CHK");
    file(c + "/docs/draft.~01");
    file(c + "/docs/new.bak", false);
    file(c + "/docs/keep.txt");
    file(c + "/docs/a;b.tmp");
    file(c + "/docs/\x01odd\xfe.tmp");
    file(c + "/project/.git/index.bak");
    const std::string held = file(c + "/docs/held.tmp");
    fs::create_symlink("keep.txt", c + "/docs/link.tmp");
    QProcess holder;
    holder.setStandardInputFile(QString::fromStdString(held));
    holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    ASSERT_TRUE(holder.waitForStarted());

    const auto before = everything(sandbox.root());
    const test::Outcome preview = test::runProgram(
        {QStringLiteral("--preview"), QStringLiteral("--null")}, test::programEnvironment(false));
    EXPECT_EQ(preview.exitCode, 0) << preview.errors;
    const auto after = everything(sandbox.root());
    for (const auto& [path, facts] : before) {
        const auto found = after.find(path);
        EXPECT_TRUE(found != after.end() && found->second == facts)
            << path << "\n"
            << facts.substr(0, 120) << "\n"
            << (found == after.end() ? "gone" : found->second.substr(0, 120));
    }
    EXPECT_EQ(after.size(), before.size());
    EXPECT_FALSE(fs::exists(sandbox.windir() + "/vorlax.lock"));
    // The refusal the run would save is only told.
    EXPECT_NE(preview.errors.find("'*' would take every file"), std::string::npos)
        << preview.errors;
    EXPECT_NE(preview.errors.find("Total: "), std::string::npos) << preview.errors;
    std::set<std::string> listed;
    for (std::size_t at = 0; at < preview.output.size();) {
        const std::size_t end = preview.output.find('\0', at);
        ASSERT_NE(end, std::string::npos) << preview.output;
        EXPECT_TRUE(listed.insert(preview.output.substr(at, end - at)).second) << "twice";
        at = end + 1;
    }
    EXPECT_FALSE(listed.count(held));
    EXPECT_FALSE(listed.count(sandbox.tmp() + "/fresh.dat"));

    const test::Outcome run =
        test::runProgram({QStringLiteral("/a")}, test::programEnvironment(false), 60000);
    holder.kill();
    holder.waitForFinished();
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    std::set<std::string> moved;
    for (const auto& [path, facts] : before) {
        if (S_ISREG(std::stoul(facts)) && !fs::exists(fs::symlink_status(path)))
            moved.insert(path);
    }
    EXPECT_EQ(moved, listed) << run.output << run.errors;
    EXPECT_EQ(moved.size(), 10u) << preview.errors;
    // Each of them is in the trash, as the run's own line says.
    std::size_t trashed = 0;
    for (const auto& entry : fs::directory_iterator(sandbox.dataHome() + "/Trash/info")) {
        (void)entry;
        ++trashed;
    }
    EXPECT_EQ(trashed, moved.size());
    EXPECT_TRUE(run.output.starts_with(std::to_string(moved.size()) + " files moved"))
        << run.output;
    (void)regularFiles;
}
