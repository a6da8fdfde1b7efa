#include "platform/drives/MountPoints.h"
#include "support/Sandbox.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/sysmacros.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

// A home with a share that stopped answering (and a mount inside it), a stick under the
// home, an application's FUSE mount in /tmp, a mount that a later one on /var hides, and an
// automount point not mounted yet.
const char* const table = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                          "50 1 0:60 / /home/ann/share rw - fuse.sshfs ann@host: rw\n"
                          "51 50 0:61 / /home/ann/share/inner rw - tmpfs tmpfs rw\n"
                          "52 1 8:17 / /home/ann/mnt/usb rw - vfat /dev/sdb1 rw\n"
                          "53 1 0:63 / /tmp/.mount_App rw - fuse.App App rw\n"
                          "54 1 8:2 / /var/x rw - ext4 /dev/sda2 rw\n"
                          "70 1 0:70 / /var rw - tmpfs tmpfs rw\n"
                          "55 1 8:3 / /gone/y rw - ext4 /dev/sda3 rw\n"
                          "56 1 0:80 / /mnt/nas rw - autofs systemd-1 rw\n"
                          "57 56 0:81 / /mnt/nas/a rw - autofs systemd-1 rw\n";

struct Probe
{
    MountPointIndex::FolderLook operator()(const std::string& folder)
    {
        asked->insert(folder);
        if (folder == "/gone")
            return {MountPointIndex::FolderLook::Unreachable, {}};
        // Every folder here lies on the root mount, except /var, which mount 70 covers.
        return {MountPointIndex::FolderLook::Found,
                {folder == "/var" ? 70u : 1u, std::hash<std::string>()(folder) | 1}};
    }
    std::set<std::string>* asked;
};

FolderKey keyOf(const std::string& folder, std::uint64_t mount = 1)
{
    return {mount, std::hash<std::string>()(folder) | 1};
}

} // namespace

TEST(MountPointIndex, FilesEachMountPointInItsFolderWithoutLookingBeyondAShare)
{
    std::set<std::string> asked;
    const MountPointIndex index(MountTable::fromMountInfo(table), MountPointIndex::Keys::MountIds,
                                Probe{&asked});
    // Nothing under the share or the automount point is looked at: that would wait on the
    // share, or mount the other.
    EXPECT_EQ(asked, (std::set<std::string>{"/", "/home/ann", "/home/ann/mnt", "/tmp", "/var",
                                            "/gone", "/mnt"}));

    struct Row
    {
        FolderKey folder;
        std::string name;
        bool mountPoint;
    };
    const Row rows[] = {
        {keyOf("/home/ann"), "share", true},
        {keyOf("/home/ann/mnt"), "usb", true},
        {keyOf("/tmp"), ".mount_App", true},
        // The share's folders cannot be told apart: the name goes in every one of them.
        {{50, 12345}, "inner", true},
        {{56, 12345}, "a", true},
        // A folder of the same name elsewhere, or the same folder through another mount.
        {keyOf("/home/ann"), "usb", false},
        {keyOf("/home/ann/mnt", 52), "usb", false},
        // Hidden by the mount on /var, or on a folder no path leads to.
        {keyOf("/var", 70), "x", false},
        {keyOf("/var"), "x", false},
        {keyOf("/gone"), "y", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(index.inside(row.folder).contains(row.name), row.mountPoint) << row.name;
    EXPECT_TRUE(index.inside(keyOf("/usr")).empty());
}

TEST(MountPointIndex, WithoutMountIdsAFolderNoPathLeadsToLeavesTheNameOutOfItsFilesystem)
{
    std::set<std::string> asked;
    const MountPointIndex index(MountTable::fromMountInfo(table), MountPointIndex::Keys::Devices,
                                Probe{&asked});
    // The root filesystem is 8:1; a bind mount of it elsewhere shares the device.
    EXPECT_TRUE(index.inside({makedev(8, 1), 777}).contains("y"));
    EXPECT_TRUE(index.inside({makedev(0, 60), 777}).contains("inner"));
}

TEST(MountPaths, LinksResolveUpToAShareAndNeverIntoIt)
{
    test::Sandbox sandbox;
    const std::string c = fs::canonical(sandbox.driveC()).string();
    fs::create_directories(c + "/real/sub");
    fs::create_symlink("real", c + "/link");
    // The share's folder is not even there: a look at it would fail the whole path.
    fs::create_symlink("share", c + "/toshare");
    fs::create_symlink("loop", c + "/loop");
    const MountTable mounts =
        MountTable::fromMountInfo("1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                  "50 1 0:60 / " +
                                  c + "/share rw - fuse.sshfs ann@host: rw\n");

    struct Row
    {
        std::string path;
        bool found;
        std::string resolved;
        std::string silentMount;
    };
    const Row rows[] = {
        {c + "/real/sub/..", true, c + "/real", ""},
        {c + "/link/sub", true, c + "/real/sub", ""},
        {c + "/share/a/../b", true, c + "/share/b", c + "/share"},
        {c + "/toshare/x", true, c + "/share/x", c + "/share"},
        {c + "/missing/x", false, "", ""},
        {c + "/loop", false, "", ""},
    };
    for (const Row& row : rows) {
        const ResolvedPath result = resolveShortOfSilentMounts(row.path, mounts);
        EXPECT_EQ(result.found, row.found) << row.path;
        if (row.found) {
            EXPECT_EQ(result.path, row.resolved) << row.path;
            EXPECT_EQ(result.silentMount, row.silentMount) << row.path;
        }
    }
}
