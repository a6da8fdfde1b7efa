#include "platform/shell/PosixShell.h"
#include "support/Sandbox.h"

#include <QCoreApplication>
#include <QProcess>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace platform;
namespace fs = std::filesystem;

namespace {

struct Case
{
    std::string file;
    std::string directory;
    std::uintptr_t result;
    const char* program; // under the sandbox root
};

// The desktop's lists are read once per process, so the lookups run in a fresh copy of
// this test program, in the sandbox it is given.
const Case cases[] = {
    {"@/c/docs/notes.txt", "", 33, "/bin/vorlax-viewer"},
    {"C:\\docs\\notes.txt", "", 33, "/bin/vorlax-viewer"},
    {"notes.txt", "C:\\docs", 33, "/bin/vorlax-viewer"},
    {"C:\\docs\\picture.png", "", SE_ERR_NOASSOC, ""},
    {"C:\\docs\\missing.txt", "", SE_ERR_FNF, ""},
    {"notes.txt", "Q:\\docs", SE_ERR_PNF, ""},
    {"", "", SE_ERR_FNF, ""},
};

std::string expand(const std::string& text, const std::string& root)
{
    return text.rfind('@', 0) == 0 ? root + text.substr(1) : text;
}

void lookUpInThisProcess(const std::string& root, const std::string& output)
{
    // Set before the first lookup reads them.
    ::setenv("XDG_DATA_HOME", (root + "/share").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (root + "/system").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (root + "/config-system").c_str(), 1);
    ::setenv("VORLAX_DRIVES", ("C:=" + root + "/c@fixed").c_str(), 1);
    ::setenv("PATH", (root + "/bin:/usr/bin:/bin").c_str(), 1);
    ::setenv("GIO_USE_VFS", "local", 1);
    ::unsetenv("XDG_CURRENT_DESKTOP");
    std::ofstream out(output);
    PosixShell shell;
    for (const Case& c : cases) {
        std::string program = "unchanged";
        out << shell.findExecutable(expand(c.file, root), c.directory, program) << " " << program
            << "\n";
    }
}

} // namespace

TEST(Associations, TheDesktopsDefaultProgramForTheDocumentsType)
{
    if (const char* root = std::getenv("VORLAX_ASSOCIATION_ROOT")) {
        lookUpInThisProcess(root, std::string(root) + "/found");
        return;
    }

    test::Sandbox sandbox;
    const std::string root = sandbox.root();
    for (const char* name : {"vorlax-editor", "vorlax-viewer"}) {
        const std::string program = root + "/bin/" + name;
        test::Sandbox::writeFile(program, "#!/bin/sh\n");
        fs::permissions(program, fs::perms(0755));
        test::Sandbox::writeFile(root + "/share/applications/" + name + ".desktop",
                                 std::string("[Desktop Entry]\nType=Application\nName=") + name +
                                     "\nExec=" + name + " %f\nMimeType=text/plain;\n");
    }
    // The editor would do as well; the user's list makes the viewer the default.
    test::Sandbox::writeFile(root + "/config/mimeapps.list",
                             "[Default Applications]\ntext/plain=vorlax-viewer.desktop\n");
    // The system's type database, and none of its programs.
    fs::create_directories(root + "/system");
    fs::create_directory_symlink("/usr/share/mime", root + "/system/mime");
    test::Sandbox::writeFile(root + "/c/docs/notes.txt", "Some notes.\n");
    test::Sandbox::writeFile(root + "/c/docs/picture.png", "\x89PNG\r\n\x1a\n");

    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VORLAX_ASSOCIATION_ROOT", QString::fromStdString(root));
    probe.setProcessEnvironment(environment);
    probe.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=Associations.TheDesktopsDefaultProgramForTheDocumentsType"});
    ASSERT_TRUE(probe.waitForFinished(60000));
    ASSERT_EQ(probe.exitCode(), 0) << probe.readAllStandardOutput().toStdString();

    std::istringstream found(test::Sandbox::readFile(root + "/found"));
    for (const Case& c : cases) {
        std::string line;
        std::getline(found, line);
        const std::string expected =
            std::to_string(c.result) + " " + (*c.program ? root + c.program : std::string());
        EXPECT_EQ(line, expected) << c.file << " in " << c.directory;
    }
}
