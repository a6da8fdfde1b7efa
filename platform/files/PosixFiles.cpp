#include "platform/files/PosixFiles.h"

#include "platform/core/Descriptor.h"
#include "platform/core/PathText.h"
#include "platform/drives/Drives.h"
#include "platform/drives/MountPoints.h"
#include "platform/files/EntryAttributes.h"
#include "platform/files/SearchFolders.h"
#include "platform/files/SearchPattern.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr std::size_t SpareSearches = 32;
// Folders are read into one buffer that every search shares, kept unless a huge folder
// made it big; each search keeps a copy of just what its folder gave.
constexpr std::size_t ReadBufferLimit = 1 << 20;
constexpr std::size_t FirstReadSize = 32 << 10;
// getdents64 wants room for at least one whole record.
constexpr std::size_t MinimumRead = 4096;

struct Search
{
    std::shared_ptr<SearchFolder> folder;
    std::string pattern;
    bool matchesEverything = false;
    bool literal = false;
    unsigned flags = 0;

    // Its folder's text and key are the first textLength and keyLength bytes of the
    // latest search's while on the trail, or its own key off it: a deep tree then holds
    // each name once rather than a whole path per level.
    bool onTrail = false;
    std::size_t textLength = 0;
    std::size_t keyLength = 0;
    std::string ownKey;
    std::uint64_t started = 0;

    // The entries, exactly as many bytes as the folder gave.
    std::unique_ptr<char[]> buffer;
    std::size_t end = 0;
    std::size_t next = 0;
    int dotsLeft = 0; // "." and ".." still to deliver
    // The names of the folder's entries that are mount points.
    MountPointIndex::Inside mountPoints;

    // The entry last delivered.
    const char* name = nullptr;
    std::size_t nameLength = 0;
};

} // namespace

class PosixFiles::Impl
{
public:
    explicit Impl(MountSource source) : mountSource(std::move(source))
    {
        if (!mountSource) {
            mountSource = [watch = std::make_shared<MountTableWatch>()] {
                return watch->readIfChanged();
            };
        }
    }

    MountSource mountSource;
    MountPointIndex mountPoints;
    // Declared before the searches, which own folders that unlink themselves from it.
    SearchFolders folders;
    std::vector<std::unique_ptr<Search>> open;
    std::vector<std::unique_ptr<Search>> spare;
    std::uint64_t searchesStarted = 0;

    // The folder text of the latest search started, as the caller gave it, and its key;
    // the open searches whose text begins it, shortest first. A search of a subfolder
    // then costs the work of its own name, however deep it lies.
    std::string trailText;
    std::string trailKey;
    std::vector<Search*> trail;
    std::size_t offTrail = 0;

    std::unique_ptr<char[]> readBuffer;
    std::size_t readCapacity = 0;

    // Before each folder: a mount made meanwhile is left out from here on, in the folders
    // still being searched too.
    void refreshMountPoints()
    {
        const auto table = mountSource();
        if (!table)
            return;
        mountPoints = MountPointIndex(*table);
        for (const auto& search : open)
            search->mountPoints = mountPoints.inside(search->folder->identity.key);
    }

    Search* lookup(HANDLE handle)
    {
        if (!handle || handle == INVALID_HANDLE_VALUE)
            return nullptr;
        // The newest search is nearly always the one asked about.
        for (auto it = open.rbegin(); it != open.rend(); ++it) {
            if (it->get() == handle)
                return it->get();
        }
        return nullptr;
    }

    std::shared_ptr<SearchFolder> openChild(const std::shared_ptr<SearchFolder>& parent,
                                            const std::string& name)
    {
        // Any call on a mount point may wait on its filesystem (a share that stopped
        // answering) or mount it (an automount point): the table alone decides.
        if (mountPoints.inside(parent->identity.key).contains(name))
            return nullptr;
        return folders.openChild(parent, name);
    }

    void leaveTrail(Search& search)
    {
        search.ownKey.assign(trailKey, 0, search.keyLength);
        search.onTrail = false;
        ++offTrail;
    }

    // Makes the folder text the trail's and gives its key.
    const std::string& keyOf(std::string_view text)
    {
        // The longest open search whose text begins this one carries its key so far.
        while (!trail.empty()) {
            const Search& top = *trail.back();
            if (top.keyLength >= 2 && top.textLength <= text.size() &&
                std::memcmp(text.data(), trailText.data(), top.textLength) == 0)
                break;
            leaveTrail(*trail.back());
            trail.pop_back();
        }
        std::size_t textLength = 0;
        std::size_t keyLength = 0;
        if (!trail.empty()) {
            textLength = trail.back()->textLength;
            keyLength = trail.back()->keyLength;
        }
        trailText.resize(textLength);
        trailText.append(text.substr(textLength));
        trailKey.resize(keyLength);
        if (textLength > 0 && isSeparator(text[textLength - 1]))
            trailKey += '\\';
        appendToKey(trailKey, text.substr(textLength));
        finishKey(trailKey);
        return trailKey;
    }

    // The newest open search whose folder has this key.
    Search* searchOf(std::string_view key)
    {
        Search* found = nullptr;
        for (auto it = trail.rbegin(); it != trail.rend() && (*it)->keyLength >= key.size(); ++it) {
            if ((*it)->keyLength == key.size() && (!found || (*it)->started > found->started))
                found = *it;
        }
        if (offTrail == 0)
            return found;
        for (auto it = open.rbegin(); it != open.rend(); ++it) {
            Search& search = **it;
            if (found && search.started < found->started)
                break;
            if (!search.onTrail && search.ownKey == key)
                return &search;
        }
        return found;
    }

    std::shared_ptr<SearchFolder> openFolder(std::string_view folderText, const std::string& key)
    {
        if (const auto cut = key.rfind('\\'); cut != std::string::npos) {
            const std::string leaf = key.substr(cut + 1);
            if (!leaf.empty() && !isDotName(leaf)) {
                if (Search* parent = searchOf(std::string_view(key.data(), cut)))
                    return openChild(parent->folder, leaf);
            }
        }
        const std::string native = toNativePath(std::string(folderText));
        if (native.empty())
            return nullptr;
        return folders.openByPath(native);
    }

    // Reads every entry now; a read error keeps what came before it.
    void readEntries(Search& search, int fd)
    {
        if (!readBuffer) {
            readBuffer = std::make_unique_for_overwrite<char[]>(FirstReadSize);
            readCapacity = FirstReadSize;
        }
        std::size_t end = 0;
        for (;;) {
            if (readCapacity - end < MinimumRead) {
                auto bigger = std::make_unique_for_overwrite<char[]>(readCapacity * 2);
                std::memcpy(bigger.get(), readBuffer.get(), end);
                readBuffer = std::move(bigger);
                readCapacity *= 2;
            }
            const ssize_t count = retryInterrupted(
                [&] { return ::getdents64(fd, readBuffer.get() + end, readCapacity - end); });
            if (count <= 0)
                break;
            end += static_cast<std::size_t>(count);
        }
        search.buffer = std::make_unique_for_overwrite<char[]>(end);
        std::memcpy(search.buffer.get(), readBuffer.get(), end);
        search.end = end;
        search.next = 0;
        if (readCapacity > ReadBufferLimit) {
            readBuffer.reset();
            readCapacity = 0;
        }
    }

    bool fillDetails(Search& search, WIN32_FIND_DATAA& data)
    {
        const int fd = folders.descriptorOf(*search.folder);
        if (fd < 0)
            return false;
        struct stat status = {};
        if (::fstatat(fd, search.name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        fillFromStatus(status, std::string_view(search.name, search.nameLength), data);
        return true;
    }

    bool advance(Search& search, WIN32_FIND_DATAA& data)
    {
        for (;;) {
            std::string_view name;
            unsigned char type = DT_DIR;
            if (search.dotsLeft > 0) {
                name = search.dotsLeft-- == 2 ? "." : "..";
            } else {
                if (search.next >= search.end)
                    return false;
                const auto* entry =
                    reinterpret_cast<const dirent64*>(search.buffer.get() + search.next);
                search.next += entry->d_reclen;
                name = entry->d_name;
                type = entry->d_type;
                if (isDotName(name))
                    continue;
            }
            if (!search.matchesEverything &&
                (search.literal ? name != search.pattern : !wildcardMatch(search.pattern, name)))
                continue;
            // Such a name would read back as a folder and a name.
            if (name.find('\\') != std::string_view::npos)
                continue;
            if (!search.mountPoints.empty() && search.mountPoints.contains(name))
                continue;
            search.name = name.data();
            search.nameLength = name.size();
            data.cFileName.assign(name.data(), name.size());
            if (!(search.flags & FindFirstExDeferDetails) || type == DT_UNKNOWN) {
                if (!fillDetails(search, data))
                    continue;
            } else {
                fillFromType(type, name, data);
            }
            return true;
        }
    }

    std::unique_ptr<Search> takeSpare()
    {
        if (spare.empty())
            return std::make_unique<Search>();
        auto search = std::move(spare.back());
        spare.pop_back();
        return search;
    }

    void release(std::vector<std::unique_ptr<Search>>::iterator at)
    {
        std::unique_ptr<Search> search = std::move(*at);
        open.erase(at);
        if (search->onTrail) {
            // Searches nearly always end innermost first.
            auto slot = std::find(trail.rbegin(), trail.rend(), search.get());
            trail.erase(std::next(slot).base());
            search->onTrail = false;
        } else {
            --offTrail;
            search->ownKey = std::string();
        }
        if (search->folder.use_count() == 1)
            folders.handToParent(*search->folder);
        search->folder.reset();
        search->mountPoints = {};
        search->buffer.reset();
        search->name = nullptr;
        if (spare.size() < SpareSearches)
            spare.push_back(std::move(search));
    }
};

PosixFiles::PosixFiles(MountSource mounts) : d(std::make_unique<Impl>(std::move(mounts))) {}

PosixFiles::~PosixFiles() = default;

HANDLE PosixFiles::findFirst(const std::string& pattern, WIN32_FIND_DATAA& data, unsigned flags)
{
    const auto cut = pattern.find_last_of("\\/");
    if (cut == std::string::npos || cut + 1 == pattern.size() ||
        pattern.find('\0') != std::string::npos)
        return INVALID_HANDLE_VALUE;
    d->refreshMountPoints();
    const std::string_view folderText(pattern.data(), cut);
    const std::string& key = d->keyOf(folderText);
    auto folder = d->openFolder(folderText, key);
    if (!folder)
        return INVALID_HANDLE_VALUE;

    auto search = d->takeSpare();
    search->pattern.assign(pattern, cut + 1);
    search->matchesEverything = search->pattern == "*" || search->pattern == "*.*";
    search->literal = search->pattern.find_first_of("*?") == std::string::npos;
    search->flags = flags;
    search->dotsLeft = isDriveRoot(key) ? 0 : 2;
    search->mountPoints = d->mountPoints.inside(folder->identity.key);
    d->readEntries(*search, folder->fd.get());
    search->folder = std::move(folder);
    search->onTrail = true;
    search->textLength = folderText.size();
    search->keyLength = key.size();
    search->started = ++d->searchesStarted;
    d->trail.push_back(search.get());
    d->open.push_back(std::move(search));

    Search* started = d->open.back().get();
    if (!d->advance(*started, data)) {
        d->release(d->open.end() - 1);
        return INVALID_HANDLE_VALUE;
    }
    return started;
}

bool PosixFiles::findNext(HANDLE handle, WIN32_FIND_DATAA& data)
{
    Search* search = d->lookup(handle);
    return search && d->advance(*search, data);
}

bool PosixFiles::findDetails(HANDLE handle, WIN32_FIND_DATAA& data)
{
    Search* search = d->lookup(handle);
    return search && search->name && d->fillDetails(*search, data);
}

bool PosixFiles::findClose(HANDLE handle)
{
    for (auto it = d->open.end(); it != d->open.begin();) {
        --it;
        if (it->get() == handle) {
            d->release(it);
            return true;
        }
    }
    return false;
}

void PosixFiles::setOpenFolderBudget(std::size_t budget)
{
    d->folders.setBudget(budget);
}

std::size_t PosixFiles::openFolderCount() const
{
    return d->folders.count();
}

std::unique_ptr<FileService> FileService::createDefault()
{
    return std::make_unique<PosixFiles>();
}

} // namespace platform
