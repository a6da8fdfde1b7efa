#include "scan/FilesScn.h"

#include "platform/drives/Drives.h"
#include "platform/files/Files.h"
#include "runtime/Application.h"

#include <string_view>
#include <utility>

namespace {

// Each non-empty element of a mask list text, its blanks trimmed.
template <class Use> void forEachMaskElement(const std::string& Text, Use use)
{
    std::string element;
    const auto endElement = [&] {
        while (!element.empty() && element.back() == ' ')
            element.pop_back();
        if (!element.empty())
            use(element);
        element.clear();
    };
    for (const char c : Text) {
        if (c == ',')
            endElement();
        else if (c != ' ' || !element.empty())
            element += c;
    }
    endElement();
}

} // namespace

void ParseMaskList(TMaskList& List, const std::string& Text)
{
    forEachMaskElement(Text, [&List](const std::string& element) {
        List.push_back(std::make_unique<TMultiMask>(std::make_unique<TMask>(element)));
    });
}

std::string EveryNameMask(const std::string& Text)
{
    std::string found;
    forEachMaskElement(Text, [&found](const std::string& element) {
        if (!found.empty())
            return;
        try {
            if (TMask(element).OnlyWildcardsAndDots())
                found = element;
        } catch (const EMaskException&) {
        }
    });
    return found;
}

bool MatchesAny(const TMaskList& List, const std::string& Name)
{
    for (const auto& item : List)
        if (item->FMask()->Matches(Name))
            return true;
    return false;
}

namespace {

// One folder being searched: its open search, closed on every way out, and the length
// of its text within the folder text that its subfolders extend.
struct Level
{
    explicit Level(platform::HANDLE handle, std::size_t length)
        : search(handle), folderLength(length)
    {
    }
    Level(Level&& other) noexcept
        : search(std::exchange(other.search, platform::INVALID_HANDLE_VALUE)),
          folderLength(other.folderLength), path(std::move(other.path))
    {
    }
    Level& operator=(Level&&) = delete;
    ~Level()
    {
        if (search != platform::INVALID_HANDLE_VALUE)
            platform::FindClose(search);
    }

    platform::HANDLE search;
    std::size_t folderLength;
    std::shared_ptr<const std::string> path;
};

// The name after the folder text, one "\" between them; an empty text stays empty.
void joinInPlace(std::string& text, std::string_view name)
{
    if (text.empty())
        return;
    if (text.back() != '\\')
        text += '\\';
    text += name;
}

bool isDotEntry(const std::string& name)
{
    return name.size() <= 2 && name[0] == '.' && (name.size() == 1 || name[1] == '.');
}

bool scannedDriveType(unsigned type)
{
    return type == platform::DRIVE_FIXED || type == platform::DRIVE_REMOTE ||
           type == platform::DRIVE_CDROM || type == platform::DRIVE_RAMDISK;
}

std::int32_t packedLocalTime(const platform::FILETIME& time)
{
    platform::FILETIME local;
    std::uint16_t date = 0;
    std::uint16_t clock = 0;
    if (!platform::FileTimeToLocalFileTime(time, local))
        local = time;
    platform::FileTimeToDosDateTime(local, date, clock);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(date) << 16 | clock);
}

} // namespace

std::string TFilesScan::JoinPath(const std::string& Folder, const std::string& Name)
{
    std::string path = Folder;
    joinInPlace(path, Name);
    return path;
}

void TFilesScan::Stop()
{
    m_stopped = true;
}

void TFilesScan::Execute()
{
    m_filesCount = 0;
    m_filesSize = 0;
    TMaskList masks;
    ParseMaskList(masks, FileMask);
    m_stopped = false;
    const std::uint32_t required = Attributes.bits();

    switch (ScanOptions) {
    case soGlobal: {
        // Every drive gets its folder call, also after a stop.
        const std::uint32_t drives = platform::GetLogicalDrives();
        for (int k = 0; k < 26; ++k) {
            if (!(drives & (1u << k)))
                continue;
            const std::string root = {static_cast<char>('a' + k), ':', '\\'};
            if (scannedDriveType(platform::GetDriveTypeA(root)))
                ScanFolder({static_cast<char>('A' + k), ':'}, required, masks);
        }
        break;
    }
    case soSpecifiedDisk:
        ScanFolder(ScanDir.substr(0, 2), required, masks);
        break;
    case soSpecifiedDir:
        ScanFolder(ScanDir, required, masks);
        break;
    }

    if (OnChanged)
        OnChanged(this, m_filesCount, m_filesSize);
}

std::shared_ptr<const std::string> TFilesScan::SharedPath(const std::string& Folder)
{
    if (!m_path || (m_folder != &Folder && *m_folder != Folder))
        return std::make_shared<const std::string>(JoinPath(Folder, {}));
    if (!*m_path)
        *m_path = std::make_shared<const std::string>(JoinPath(Folder, {}));
    return *m_path;
}

void TFilesScan::ScanFolder(const std::string& Folder, std::uint32_t Required,
                            const TMaskList& Masks)
{
    using namespace platform;
    // The folders open at once, innermost last, on the heap: one call per folder level
    // ran out of stack on a deep enough tree. They share one folder text, which each
    // level extends, so that a deep tree costs memory in proportion to its depth.
    std::vector<Level> levels;
    std::string folder = Folder;
    struct Unwind
    {
        TFilesScan& scan;
        std::vector<Level>& levels;
        ~Unwind()
        {
            // Innermost first, as nested calls would close them.
            while (!levels.empty())
                levels.pop_back();
            scan.m_folder = nullptr;
            scan.m_path = nullptr;
        }
    } unwind{*this, levels};
    m_folder = &folder;

    WIN32_FIND_DATAA data;
    // Reports the folder and opens its search; false when the search cannot start.
    const auto enter = [&] {
        // Not yet the folder whose SharedPath a handler may ask for.
        m_path = nullptr;
        if (OnProcess)
            OnProcess(this, folder, m_filesCount, m_filesSize);
        const std::size_t length = folder.size();
        joinInPlace(folder, "*.*");
        // The name and the kind decide first; only entries that pass them pay for a stat.
        Level level(FindFirstFileExA(folder, data, FindFirstExDeferDetails), length);
        folder.resize(length);
        if (level.search == INVALID_HANDLE_VALUE)
            return false;
        levels.push_back(std::move(level));
        m_path = &levels.back().path;
        return true;
    };
    // Back to the innermost open folder.
    const auto resume = [&] {
        folder.resize(levels.back().folderLength);
        m_path = &levels.back().path;
    };
    if (!enter())
        return;

    // Read-only is the one bit only the stat tells.
    const std::uint32_t requiredBeforeStat = Required & ~FILE_ATTRIBUTE_READONLY;
    bool more = true;
    for (;;) {
        if (more && !m_stopped) {
            const std::string& name = data.cFileName;
            const bool listedAsFolder = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            // A folder the filter skips is not even looked at.
            if (!isDotEntry(name) &&
                !(listedAsFolder && Filter && Filter->SkipsFolder(folder, name))) {
                if ((data.dwFileAttributes & requiredBeforeStat) == requiredBeforeStat &&
                    MatchesAny(Masks, name) && !(Filter && Filter->RefusesName(folder, name)) &&
                    findFileDetails(levels.back().search, data) &&
                    (data.dwFileAttributes & Required) == Required &&
                    !(Filter && Filter->RefusesEntry(data))) {
                    const auto size = static_cast<std::int64_t>(data.nFileSize);
                    ++m_filesCount;
                    // Wraps like the 32-bit total always did, never undefined.
                    m_filesSize = static_cast<std::int64_t>(
                        static_cast<std::uint64_t>(m_filesSize) + static_cast<std::uint64_t>(size));
                    if (UpdateList) {
                        const TSearchRec entry{packedLocalTime(data.ftLastWriteTime), size,
                                               static_cast<std::int32_t>(data.dwFileAttributes),
                                               name};
                        AddFile(folder, entry);
                    }
                }
                // An entry replaced by a folder since it was listed is asked about now.
                if (Recursive && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                    (listedAsFolder || !Filter || !Filter->SkipsFolder(folder, name))) {
                    joinInPlace(folder, name);
                    if (enter()) {
                        more = true;
                        continue;
                    }
                    resume();
                }
            }
        } else {
            levels.pop_back();
            if (levels.empty())
                return;
            resume();
        }
        // The entry, and with a folder all of it, is done.
        more = FindNextFileA(levels.back().search, data);
        if (ProcessMsg)
            runtime::processMessagesWhenDue();
    }
}

void TFilesScanner::Execute()
{
    m_list.Clear();
    TFilesScan::Execute();
}

void TFilesScanner::setSorted(TSortOptions Value)
{
    m_list.setSorted(Value);
    if (OnChanged && m_list.Count() > 0)
        OnChanged(this, FilesCount(), FilesSize());
}

void TFilesScanner::AddFile(const std::string& Folder, const TSearchRec& Entry)
{
    m_list.Add(std::make_unique<TFileObject>(Entry.Name, SharedPath(Folder), Entry.Size, Entry.Attr,
                                             Entry.Time));
}
