// The copy that takes a file out of memory into the home trash, against cp on the same
// data: the same files on a tmpfs, copied to the same disk.
//
//   vorlax_copy_bench WORK_FOLDER [MEGABYTES]
//
// Mounts a tmpfs in WORK_FOLDER (so it must run as root) and unmounts it again; prints the
// cost per MB of each and the ratio.

#include "bench/ToolRun.h"
#include "platform/shell/Trash.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int FileMegabytes = 8;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "vorlax_copy_bench: %s\n", what.c_str());
    std::exit(1);
}

std::vector<std::string> writeFiles(const std::string& folder, int count)
{
    std::filesystem::create_directories(folder);
    std::string data(std::size_t(FileMegabytes) << 20, '\0');
    std::vector<std::string> paths;
    for (int k = 0; k < count; ++k) {
        for (std::size_t at = 0; at < data.size(); ++at)
            data[at] = static_cast<char>((at * 131 + k) & 0xff);
        const std::string path = folder + "/file" + std::to_string(k) + ".tmp";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0 || ::write(fd, data.data(), data.size()) != ssize_t(data.size()))
            fail("cannot write " + path);
        ::close(fd);
        paths.push_back(path);
    }
    return paths;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        fail("usage: vorlax_copy_bench WORK_FOLDER [MEGABYTES]");
    const std::string root = argv[1];
    const int megabytes = argc > 2 ? std::atoi(argv[2]) : 512;
    const int count = std::max(1, megabytes / FileMegabytes);
    const std::string memory = root + "/memory";
    std::filesystem::create_directories(memory);
    const std::string options = "size=" + std::to_string(2 * count * FileMegabytes + 64) + "m";
    if (::mount("vorlax-bench", memory.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        std::printf("copy out of memory: not measured, mounting a tmpfs needs root\n");
        return 0;
    }
    const auto ours = writeFiles(memory + "/ours", count);
    writeFiles(memory + "/cp", count);
    const std::string home = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    if (home.empty() || !home.starts_with(root))
        fail("XDG_DATA_HOME must lie in the work folder");
    std::filesystem::create_directories(home);

    const auto start = Clock::now();
    for (const auto& path : ours) {
        if (auto failure = platform::moveToTrash(path))
            fail(path + ": " + failure->reason);
    }
    const double ourSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    const bench::ToolRun cp =
        bench::runTool({"cp", "-r", "--sparse=auto", memory + "/cp", root + "/cp-copy"});
    ::umount2(memory.c_str(), MNT_DETACH);
    if (!cp.succeeded)
        fail("cp failed");

    const double total = double(count) * FileMegabytes;
    std::printf("%d files of %d MB out of a tmpfs to the disk of %s:\n", count, FileMegabytes,
                root.c_str());
    std::printf("  moveToTrash (copy, info, remove) %8.2f ms per MB\n", ourSeconds * 1000 / total);
    std::printf("  cp -r                            %8.2f ms per MB\n",
                cp.wallSeconds * 1000 / total);
    std::printf("  ratio ours/cp                    %8.2f\n", ourSeconds / cp.wallSeconds);
    return 0;
}
