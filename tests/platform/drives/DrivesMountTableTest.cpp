#include "platform/drives/MountTable.h"

#include <gtest/gtest.h>
#include <optional>

using namespace platform;

namespace {

// A desktop with a separate /home, a USB stick, a DVD, a network share, /tmp in memory,
// snaps and the usual kernel filesystems.
const char* desktop =
    "21 26 0:20 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
    "22 26 0:21 / /sys rw,nosuid,nodev,noexec,relatime shared:2 - sysfs sysfs rw\n"
    "23 26 0:5 / /dev rw,nosuid,relatime shared:8 - devtmpfs udev rw,size=8000000k\n"
    "24 23 0:22 / /dev/pts rw,nosuid,noexec,relatime shared:9 - devpts devpts rw,mode=620\n"
    "25 26 0:23 / /run rw,nosuid,nodev,noexec,relatime shared:5 - tmpfs tmpfs rw,mode=755\n"
    "26 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw,errors=remount-ro\n"
    "27 22 0:26 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:4 - cgroup2 cgroup2 rw\n"
    "28 23 0:27 / /dev/shm rw,nosuid,nodev shared:10 - tmpfs tmpfs rw\n"
    "29 21 0:28 / /proc/sys/fs/binfmt_misc rw,relatime shared:13 - autofs systemd-1 rw\n"
    "30 26 8:1 / /boot/efi rw,relatime shared:30 - vfat /dev/sda1 rw,fmask=0077\n"
    "31 26 8:3 / /home rw,relatime shared:31 - ext4 /dev/sda3 rw\n"
    "32 26 7:1 / /snap/core20/1974 ro,nodev,relatime shared:32 - squashfs /dev/loop1 ro\n"
    "33 25 0:45 / /run/user/1000 rw,nosuid,nodev,relatime shared:400 - tmpfs tmpfs rw\n"
    "34 33 0:46 / /run/user/1000/gvfs rw,nosuid,nodev,relatime shared:410 - fuse.gvfsd-fuse "
    "gvfsd-fuse rw,user_id=1000\n"
    "35 26 8:17 / /media/ann/STICK rw,nosuid,nodev,relatime shared:500 - vfat /dev/sdb1 rw\n"
    "36 25 11:0 / /run/media/ann/DVD ro,nosuid,nodev,relatime shared:510 - iso9660 /dev/sr0 ro\n"
    "37 26 0:50 / /mnt/nas rw,relatime shared:520 - nfs4 nas:/export rw,vers=4.2\n"
    "38 26 0:51 / /tmp rw,nosuid,nodev shared:530 - tmpfs tmpfs rw\n"
    "39 26 8:4 / /mnt/old\\040disk rw,relatime shared:540 - ext4 /dev/sda4 rw\n"
    "40 26 0:52 / /mnt/pi rw,relatime shared:550 - fuse.sshfs pi@pi:/ rw,user_id=1000\n";

// Root's home on the root filesystem unless a test says otherwise; no links.
MountProbe fakeProbe(std::vector<std::string> files = {})
{
    MountProbe probe;
    probe.isDirectory = [files](const std::string& path) {
        return std::find(files.begin(), files.end(), path) == files.end();
    };
    probe.isRemovable = [](const MountEntry& m) { return m.major == 8 && m.minor == 17; };
    probe.homeVariable = [] { return std::optional<std::string>("/root"); };
    probe.accountHome = [] { return std::string("/root"); };
    probe.realPath = [](const std::string& path) { return path; };
    probe.temporaryFolder = [] { return std::string("/tmp"); };
    return probe;
}

std::string drivesOf(const std::vector<DriveMapping>& map)
{
    std::string text;
    for (const auto& m : map)
        text += std::string(1, m.letter) + "=" + m.nativeRoot + "@" + std::to_string(m.type) + "\n";
    return text;
}

} // namespace

TEST(MountInfo, ParsesFieldsOptionalFieldsAndEscapes)
{
    const auto table = MountTable::fromMountInfo(desktop);
    ASSERT_EQ(table.mounts().size(), 20u);
    const MountEntry& home = table.mounts()[10];
    EXPECT_EQ(home.id, 31);
    EXPECT_EQ(home.parentId, 26);
    EXPECT_EQ(home.major, 8u);
    EXPECT_EQ(home.minor, 3u);
    EXPECT_EQ(home.root, "/");
    EXPECT_EQ(home.mountPoint, "/home");
    EXPECT_EQ(home.fsType, "ext4");
    EXPECT_EQ(home.source, "/dev/sda3");
    EXPECT_EQ(table.mounts()[18].mountPoint, "/mnt/old disk");
    EXPECT_EQ(table.mounts()[16].source, "nas:/export");
}

TEST(MountInfo, SkipsLinesThatDoNotParse)
{
    const auto table = MountTable::fromMountInfo(
        "\n"
        "garbage\n"
        "1 2 8:1 / /a rw - ext4\n"           // no source
        "1 2 8x1 / /b rw - ext4 /dev/x rw\n" // bad device
        "x 2 8:1 / /c rw - ext4 /dev/x rw\n" // bad id
        "1 2 8:1 / relative rw - ext4 /dev/x rw\n"
        "5 1 8:5 /sub\\134dir /d\\011tab rw - ext4 /dev/sda5 rw"); // last line, no newline
    ASSERT_EQ(table.mounts().size(), 1u);
    EXPECT_EQ(table.mounts()[0].root, "/sub\\dir");
    EXPECT_EQ(table.mounts()[0].mountPoint, "/d\ttab");
}

TEST(MountDrives, DisksGetLettersInMountOrderAndSystemMountsNone)
{
    const auto table = MountTable::fromMountInfo(desktop);
    EXPECT_EQ(drivesOf(table.driveMap(fakeProbe())), "C=/root@3\n"
                                                     "D=/home@3\n"
                                                     "E=/media/ann/STICK@2\n"
                                                     "F=/run/media/ann/DVD@5\n"
                                                     "G=/mnt/nas@4\n"
                                                     "H=/tmp@6\n"
                                                     "I=/mnt/old disk@3\n"
                                                     "J=/mnt/pi@4\n"
                                                     "Z=/@3\n");
}

TEST(MountDrives, SharesAreNeverAskedAboutTheirMountPoint)
{
    const auto table = MountTable::fromMountInfo(desktop);
    MountProbe probe = fakeProbe();
    std::vector<std::string> asked;
    probe.isDirectory = [&asked](const std::string& path) {
        asked.push_back(path);
        return true;
    };
    const auto map = table.driveMap(probe);
    EXPECT_NE(std::find(asked.begin(), asked.end(), "/home"), asked.end());
    for (const char* share : {"/mnt/nas", "/mnt/pi"}) {
        EXPECT_EQ(std::find(asked.begin(), asked.end(), share), asked.end()) << share;
        EXPECT_TRUE(std::any_of(map.begin(), map.end(),
                                [share](const DriveMapping& m) { return m.nativeRoot == share; }));
    }
}

TEST(MountDrives, FilesystemsMountedInsideTheTemporaryFolderGetNoLetter)
{
    const auto table = MountTable::fromMountInfo(
        "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "2 1 0:30 / /tmp rw - tmpfs tmpfs rw\n"
        "3 2 0:31 / /tmp/.mount_Notes rw - fuse.Notes Notes.AppImage rw\n"
        "4 1 0:32 / /root/scratch/.mount_Maps rw - fuse.Maps Maps.AppImage rw\n"
        "5 1 8:18 / /mnt/data rw - ext4 /dev/sdb2 rw\n");
    for (const auto& [temp, drives] : std::vector<std::pair<std::string, std::string>>{
             {"/tmp", "D=/tmp@6\nE=/root/scratch/.mount_Maps@3\nF=/mnt/data@3\n"},
             {"/root/scratch", "D=/tmp@6\nE=/tmp/.mount_Notes@3\nF=/mnt/data@3\n"}}) {
        MountProbe probe = fakeProbe();
        probe.temporaryFolder = [temp = temp] { return temp; };
        EXPECT_EQ(drivesOf(table.driveMap(probe)), "C=/root@3\n" + drives + "Z=/@3\n") << temp;
    }
}

TEST(MountDrives, ContainerMountsOfFilesAndOverlaysGetNoLetter)
{
    const char* container =
        "500 400 0:60 / / rw,relatime - overlay overlay rw,lowerdir=/l,upperdir=/u,workdir=/w\n"
        "501 500 0:61 / /proc rw,nosuid,nodev,noexec,relatime - proc proc rw\n"
        "502 500 0:62 / /dev rw,nosuid - tmpfs tmpfs rw,size=65536k,mode=755\n"
        "503 500 0:63 / /sys ro,nosuid,nodev,noexec,relatime - sysfs sysfs ro\n"
        "504 500 254:1 /docker/containers/abc/resolv.conf /etc/resolv.conf rw - ext4 /dev/vda1 rw\n"
        "505 500 254:1 /docker/containers/abc/hostname /etc/hostname rw - ext4 /dev/vda1 rw\n"
        "506 500 254:1 /docker/containers/abc/hosts /etc/hosts rw - ext4 /dev/vda1 rw\n"
        "507 500 254:1 /srv/project /project rw - ext4 /dev/vda1 rw\n"
        "508 500 0:64 / /var/lib/docker/overlay2/x/merged rw - overlay overlay rw\n";
    const auto table = MountTable::fromMountInfo(container);
    const auto probe = fakeProbe({"/etc/resolv.conf", "/etc/hostname", "/etc/hosts"});
    EXPECT_EQ(drivesOf(table.driveMap(probe)), "C=/root@3\nD=/project@3\nZ=/@3\n");
}

TEST(MountDrives, OnlyTheTopMountOfAFolderAndOneLetterPerFolderOfAFilesystem)
{
    const char* text = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                       "2 1 8:2 / /data rw - ext4 /dev/sda2 rw\n"
                       "3 2 0:40 / /data rw - tmpfs tmpfs rw\n"
                       "4 1 8:3 /films /films rw - xfs /dev/sda3 rw\n"
                       "5 1 8:3 /films /mnt/films rw - xfs /dev/sda3 rw\n"
                       "6 1 8:3 /music /music rw - xfs /dev/sda3 rw\n";
    const auto table = MountTable::fromMountInfo(text);
    EXPECT_EQ(drivesOf(table.driveMap(fakeProbe())),
              "C=/root@3\nD=/data@6\nE=/films@3\nF=/music@3\nZ=/@3\n");
}

TEST(MountDrives, DisksEndAtYAndTheRootKeepsZ)
{
    std::string text = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n";
    for (int i = 0; i < 30; ++i)
        text += std::to_string(i + 10) + " 1 9:" + std::to_string(i) + " / /disk" +
                std::to_string(i) + " rw - ext4 /dev/md" + std::to_string(i) + " rw\n";
    const auto table = MountTable::fromMountInfo(text);
    auto map = table.driveMap(fakeProbe());
    ASSERT_EQ(map.size(), 24u);
    EXPECT_EQ(map[22].letter, 'Y');
    EXPECT_EQ(map[22].nativeRoot, "/disk21");
    EXPECT_EQ(map.back().letter, 'Z');
    EXPECT_EQ(map.back().nativeRoot, "/");

    // Without a home C: stays free, and still "/" takes no letter a search is offered.
    MountProbe homeless = fakeProbe();
    homeless.homeVariable = [] { return std::optional<std::string>("/"); };
    homeless.accountHome = [] { return std::string("/"); };
    map = table.driveMap(homeless);
    ASSERT_EQ(map.size(), 23u);
    EXPECT_EQ(map.front().letter, 'D');
    EXPECT_EQ(map.front().nativeRoot, "/disk0");
    EXPECT_EQ(drivesOf({map.back()}), "Z=/@3\n");
}

TEST(MountDrives, CIsTheHomeFolderAndItsFilesystemGetsNoOtherLetter)
{
    const char* rootHome = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                           "2 1 8:2 / /data rw - ext4 /dev/sda2 rw\n"
                           "3 1 8:1 /srv/www /mnt/www rw - ext4 /dev/sda1 rw\n";
    const char* ownHome = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                          "2 1 8:3 / /home rw - ext4 /dev/sda3 rw\n"
                          "3 1 8:3 /ann/Music /mnt/music rw - ext4 /dev/sda3 rw\n"
                          "4 1 8:17 / /mnt/usb rw - vfat /dev/sdb1 rw\n";
    struct Case
    {
        const char* what;
        const char* mounts;
        std::optional<std::string> home; // HOME; nullopt for unset
        std::string account;             // the password database's home
        std::string realHome;            // where a link in the home path leads
        std::string drives;
    };
    const std::vector<Case> cases{
        {"home on /", rootHome, "/home/ann", "/x", "", "C=/home/ann@3\nD=/data@3\nZ=/@3\n"},
        {"home on its own disk", desktop, "/home/ann/", "/x", "",
         "C=/home/ann@3\nD=/media/ann/STICK@2\nE=/run/media/ann/DVD@5\nF=/mnt/nas@4\n"
         "G=/tmp@6\nH=/mnt/old disk@3\nI=/mnt/pi@4\nZ=/@3\n"},
        {"home disk mounted twice", ownHome, "/home/ann", "/x", "",
         "C=/home/ann@3\nD=/mnt/usb@2\nZ=/@3\n"},
        {"home through a link", rootHome, "/home/ann", "/x", "/data/ann",
         "C=/home/ann@3\nD=/mnt/www@3\nZ=/@3\n"},
        {"HOME unset", rootHome, std::nullopt, "/root", "", "C=/root@3\nD=/data@3\nZ=/@3\n"},
        {"HOME empty", rootHome, "", "/var/lib/svc/", "", "C=/var/lib/svc@3\nD=/data@3\nZ=/@3\n"},
        {"HOME is /", rootHome, "/", "/root", "", "C=/root@3\nD=/data@3\nZ=/@3\n"},
        {"HOME leads to /", rootHome, "/home/..", "/root", "", "C=/root@3\nD=/data@3\nZ=/@3\n"},
        {"HOME relative", rootHome, "ann", "/root", "", "C=/root@3\nD=/data@3\nZ=/@3\n"},
        {"account home /", rootHome, std::nullopt, "/", "", "D=/data@3\nE=/mnt/www@3\nZ=/@3\n"},
        {"both /", rootHome, "/", "/", "", "D=/data@3\nE=/mnt/www@3\nZ=/@3\n"},
        {"no account", ownHome, std::nullopt, "", "",
         "D=/home@3\nE=/mnt/music@3\nF=/mnt/usb@2\nZ=/@3\n"},
    };
    for (const auto& c : cases) {
        MountProbe probe = fakeProbe();
        probe.homeVariable = [&c] { return c.home; };
        probe.accountHome = [&c] { return c.account; };
        probe.realPath = [&c](const std::string& path) {
            return c.realHome.empty() ? path : c.realHome;
        };
        EXPECT_EQ(drivesOf(MountTable::fromMountInfo(c.mounts).driveMap(probe)), c.drives)
            << c.what;
    }
}

TEST(MountDrives, FilesystemKindsGiveDriveTypes)
{
    const MountProbe probe = fakeProbe();
    auto typeOf = [&probe](const std::string& fsType, unsigned minor = 1) {
        MountEntry mount;
        mount.major = 8;
        mount.minor = minor;
        mount.fsType = fsType;
        return MountTable::driveType(mount, probe);
    };
    for (const char* remote : {"nfs", "nfs4", "cifs", "smb3", "sshfs", "fuse.sshfs", "9p"})
        EXPECT_EQ(typeOf(remote), DRIVE_REMOTE) << remote;
    EXPECT_EQ(typeOf("iso9660"), DRIVE_CDROM);
    EXPECT_EQ(typeOf("udf"), DRIVE_CDROM);
    EXPECT_EQ(typeOf("tmpfs"), DRIVE_RAMDISK);
    EXPECT_EQ(typeOf("ramfs"), DRIVE_RAMDISK);
    EXPECT_EQ(typeOf("vfat", 17), DRIVE_REMOVABLE);
    EXPECT_EQ(typeOf("vfat"), DRIVE_FIXED);
    EXPECT_EQ(typeOf("btrfs"), DRIVE_FIXED);
}

TEST(MountDrives, FolderBelongsToTheDeepestMountComponentWise)
{
    const auto table = MountTable::fromMountInfo(desktop);
    auto holder = [&table](const std::string& path) {
        const MountEntry* mount = table.mountHolding(path);
        return mount ? mount->mountPoint : std::string("none");
    };
    EXPECT_EQ(holder("/home/ann/x"), "/home");
    EXPECT_EQ(holder("/home"), "/home");
    EXPECT_EQ(holder("/homework"), "/");
    EXPECT_EQ(holder("/mnt/nas/a"), "/mnt/nas");
    EXPECT_EQ(holder("/mnt/nas2"), "/");
    EXPECT_EQ(holder("/run/user/1000/gvfs/x"), "/run/user/1000/gvfs");
    EXPECT_EQ(MountTable().mountHolding("/x"), nullptr);
}

TEST(MountDrives, SystemProbeSeesFoldersAndLeavesVirtualDevicesFixed)
{
    const MountProbe probe = MountProbe::system();
    EXPECT_TRUE(probe.isDirectory("/"));
    EXPECT_FALSE(probe.isDirectory("/proc/self/mountinfo"));
    EXPECT_FALSE(probe.isDirectory("/no/such/folder"));
    MountEntry proc;
    proc.major = 0;
    proc.fsType = "proc";
    proc.source = "proc";
    EXPECT_FALSE(probe.isRemovable(proc));
}
