#include "platform/collection/CollectionRecord.h"

#include "platform/core/Descriptor.h"
#include "platform/files/Folders.h"
#include "platform/shell/Trash.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* Header = "vorlax collection record 1";
constexpr const char* Suffix = ".record";
constexpr int FolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::int64_t nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> parts;
    std::size_t at = 0;
    while (true) {
        const std::size_t tab = line.find('\t', at);
        parts.push_back(line.substr(at, tab == std::string_view::npos ? tab : tab - at));
        if (tab == std::string_view::npos)
            return parts;
        at = tab + 1;
    }
}

template <class Number> bool number(std::string_view text, Number& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// Our folder, made 0700 with the state folders above it when missing, never through a
// link at its own level.
OwnedFd openCollectionsFolder(int& error)
{
    const std::string folder = collectionsFolder();
    std::string made;
    std::size_t at = 1;
    while (at <= folder.size()) {
        const std::size_t slash = std::min(folder.find('/', at), folder.size());
        made = folder.substr(0, slash);
        if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
            error = errno;
            return OwnedFd();
        }
        at = slash + 1;
    }
    OwnedFd fd(::open(folder.c_str(), FolderFlags));
    struct stat status = {};
    if (!fd.valid() || ::fstat(fd.get(), &status) != 0) {
        error = errno;
        return OwnedFd();
    }
    if (status.st_uid != ::geteuid()) {
        error = EPERM;
        return OwnedFd();
    }
    if ((status.st_mode & 077) != 0)
        ::chmod(folder.c_str(), 0700);
    return fd;
}

struct RecordFile
{
    std::string name;
    std::uint64_t size;
    std::int64_t modifiedNs;
};

// Oldest first: the names begin with the start, zero-padded.
std::vector<RecordFile> recordFiles()
{
    std::vector<RecordFile> files;
    const OwnedFd folder(::open(collectionsFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    FolderEntries entries(folder.get());
    if (!entries.valid())
        return files;
    while (const dirent* entry = entries.next()) {
        const std::string name = entry->d_name;
        struct stat status = {};
        if (!name.ends_with(Suffix) || name[0] == '.' ||
            ::fstatat(folder.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode))
            continue;
        files.push_back(
            {name, static_cast<std::uint64_t>(status.st_size), nanoseconds(status.st_mtim)});
    }
    std::sort(files.begin(), files.end(),
              [](const RecordFile& a, const RecordFile& b) { return a.name < b.name; });
    return files;
}

// Room for one more: the oldest go while there are as many as kept, or more bytes.
void prune(int folder)
{
    auto files = recordFiles();
    std::uint64_t total = 0;
    for (const auto& file : files)
        total += file.size;
    for (std::size_t k = 0; k < files.size(); ++k) {
        if (files.size() - k < static_cast<std::size_t>(RecordsKept) && total <= RecordBytesKept)
            break;
        ::unlinkat(folder, files[k].name.c_str(), 0);
        total -= files[k].size;
    }
}

} // namespace

std::string collectionsFolder()
{
    return stateHomeNative() + "/vorlax/collections";
}

CollectionRecorder::CollectionRecorder() : m_installed(*this), m_started(std::time(nullptr)) {}

CollectionRecorder::~CollectionRecorder()
{
    if (m_file.valid() && !m_moved.empty())
        append(m_moved);
}

int CollectionRecorder::open()
{
    int error = 0;
    OwnedFd folder = openCollectionsFolder(error);
    if (!folder.valid())
        return error;
    prune(folder.get());
    char stem[64];
    std::snprintf(stem, sizeof stem, "%012lld-%d", static_cast<long long>(m_started),
                  static_cast<int>(::getpid()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name =
            std::string(stem) + (attempt ? "-" + std::to_string(attempt) : "") + Suffix;
        OwnedFd file(::openat(folder.get(), name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC,
                              0600));
        if (!file.valid() && errno == EEXIST)
            continue;
        if (!file.valid())
            return errno;
        m_file = std::move(file);
        m_path = collectionsFolder() + "/" + name;
        return append(std::string(Header) + "\t" + std::to_string(m_started) + "\n");
    }
    return EEXIST;
}

int CollectionRecorder::append(const std::string& line)
{
    // One write for the line: a kill leaves it whole or not at all (or cut, and ignored).
    return writeAll(m_file.get(), line) ? 0 : (errno ? errno : EIO);
}

int CollectionRecorder::aboutToMove(const TrashedEntry& entry)
{
    if (!m_file.valid()) {
        if (const int error = open()) {
            m_file.reset();
            return error;
        }
    }
    m_current = m_next++;
    const std::string line =
        "E\t" + std::to_string(m_current) + "\t" + std::to_string(entry.device) + "\t" +
        std::to_string(entry.inode) + "\t" + std::to_string(entry.size) + "\t" +
        std::to_string(nanoseconds(entry.modified)) + "\t" + (entry.folder ? "1" : "0") + "\t" +
        percentEncodePath(entry.trash) + "\t" + percentEncodePath(entry.name) + "\t" +
        percentEncodePath(entry.pathKey) + "\t" + percentEncodePath(entry.original) + "\n";
    const int error = append(m_moved + line);
    if (!error)
        m_moved.clear();
    return error;
}

void CollectionRecorder::moved(const TrashedEntry&)
{
    // Without this line the entry in the trash still tells that it moved: it waits for the
    // next line, so that a move costs one write.
    m_moved += "M\t" + std::to_string(m_current) + "\n";
}

std::vector<std::string> recordPaths()
{
    std::vector<std::string> paths;
    const auto files = recordFiles();
    for (auto it = files.rbegin(); it != files.rend(); ++it)
        paths.push_back(collectionsFolder() + "/" + it->name);
    return paths;
}

std::optional<CollectionRecord> readRecord(const std::string& path)
{
    const auto text = readWholeFile(path);
    if (!text)
        return std::nullopt;
    CollectionRecord record;
    record.path = path;
    std::map<std::uint64_t, RecordedFile> byIndex;
    std::map<std::pair<dev_t, ino_t>, std::uint64_t> latest;
    std::size_t at = 0;
    bool headed = false;
    while (at < text->size()) {
        const std::size_t end = text->find('\n', at);
        if (end == std::string::npos)
            break; // cut by a kill
        const auto parts = fields(std::string_view(*text).substr(at, end - at));
        at = end + 1;
        if (!headed) {
            if (parts.size() != 2 || parts[0] != Header || !number(parts[1], record.started))
                return std::nullopt;
            headed = true;
            continue;
        }
        std::uint64_t index = 0;
        if (parts.size() < 2 || !number(parts[1], index))
            continue;
        if (parts[0] == "E" && parts.size() == 11) {
            RecordedFile file;
            file.index = index;
            std::int64_t modified = 0;
            if (!number(parts[2], file.entry.device) || !number(parts[3], file.entry.inode) ||
                !number(parts[4], file.entry.size) || !number(parts[5], modified))
                continue;
            file.entry.modified = {static_cast<std::time_t>(modified / 1000000000),
                                   static_cast<long>(modified % 1000000000)};
            file.entry.folder = parts[6] == "1";
            file.entry.trash = percentDecodePath(parts[7]);
            file.entry.name = percentDecodePath(parts[8]);
            file.entry.pathKey = percentDecodePath(parts[9]);
            file.entry.original = percentDecodePath(parts[10]);
            const auto key = std::make_pair(file.entry.device, file.entry.inode);
            if (const auto earlier = latest.find(key); earlier != latest.end())
                byIndex.erase(earlier->second);
            latest[key] = index;
            byIndex[index] = std::move(file);
        } else if (parts[0] == "M" && byIndex.count(index)) {
            byIndex[index].moved = true;
        } else if (parts[0] == "B" && parts.size() == 5 && byIndex.count(index)) {
            FileIdentity back;
            if (number(parts[2], back.device) && number(parts[3], back.inode) &&
                number(parts[4], back.modifiedNs))
                byIndex[index].putBack = back;
        }
    }
    if (!headed)
        return std::nullopt;
    for (auto& [index, file] : byIndex)
        record.files.push_back(std::move(file));
    return record;
}

std::string recordTime(std::time_t started)
{
    std::tm local = {};
    ::localtime_r(&started, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

FileIdentity identityOf(const struct stat& status)
{
    return {status.st_dev, status.st_ino, nanoseconds(status.st_mtim)};
}

Whereabouts whereabouts(const RecordedFile& file)
{
    struct stat status = {};
    if (::lstat(file.entry.original.c_str(), &status) == 0) {
        if ((status.st_dev == file.entry.device && status.st_ino == file.entry.inode) ||
            (file.putBack && file.putBack->device == status.st_dev &&
             file.putBack->inode == status.st_ino))
            return Whereabouts::Back;
    }
    const std::string trashed = file.entry.trash + "/files/" + file.entry.name;
    if (::lstat(trashed.c_str(), &status) == 0 && status.st_dev == file.entry.device &&
        status.st_ino == file.entry.inode)
        return Whereabouts::InTrash;
    return Whereabouts::Gone;
}

bool movedByRun(const RecordedFile& file, Whereabouts where)
{
    return file.moved || file.putBack || where == Whereabouts::InTrash;
}

bool notePutBack(const std::string& recordPath, std::uint64_t index, const FileIdentity& back)
{
    OwnedFd file(::open(recordPath.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
    return file.valid() && notePutBack(file.get(), index, back);
}

bool notePutBack(int recordFile, std::uint64_t index, const FileIdentity& back)
{
    return writeAll(recordFile, "B\t" + std::to_string(index) + "\t" + std::to_string(back.device) +
                                    "\t" + std::to_string(back.inode) + "\t" +
                                    std::to_string(back.modifiedNs) + "\n");
}

bool KeptAside::keeps(const std::string& nativePath, const std::string& name) const
{
    if (files.empty() || !names.count(name))
        return false;
    struct stat status = {};
    return ::lstat(nativePath.c_str(), &status) == 0 && files.count(identityOf(status));
}

std::shared_ptr<const KeptAside> keptAsideFiles()
{
    static std::mutex lock;
    static std::string seen;
    static std::shared_ptr<const KeptAside> kept = std::make_shared<KeptAside>();
    std::string now = collectionsFolder();
    for (const auto& file : recordFiles())
        now += "\n" + file.name + " " + std::to_string(file.size) + " " +
               std::to_string(file.modifiedNs);
    const std::lock_guard guard(lock);
    if (now == seen)
        return kept;
    auto fresh = std::make_shared<KeptAside>();
    for (const std::string& path : recordPaths()) {
        const auto record = readRecord(path);
        if (!record)
            continue;
        for (const auto& file : record->files) {
            if (!file.putBack)
                continue;
            const std::size_t slash = file.entry.original.rfind('/');
            fresh->names.insert(file.entry.original.substr(slash + 1));
            fresh->files.insert(*file.putBack);
        }
    }
    seen = std::move(now);
    kept = std::move(fresh);
    return kept;
}

} // namespace platform
