#include "scan/FilesScn.h"

#include "platform/Drives.h"
#include "platform/Files.h"
#include "runtime/Application.h"

void ParseMaskList(TMaskList& List, const std::string& Text)
{
    std::string element;
    const auto addElement = [&] {
        while (!element.empty() && element.back() == ' ')
            element.pop_back();
        if (!element.empty())
            List.push_back(std::make_unique<TMultiMask>(std::make_unique<TMask>(element)));
        element.clear();
    };
    for (const char c : Text) {
        if (c == ',')
            addElement();
        else if (c != ' ' || !element.empty())
            element += c;
    }
    addElement();
}

bool MatchesAny(const TMaskList& List, const std::string& Name)
{
    for (const auto& item : List)
        if (item->FMask()->Matches(Name))
            return true;
    return false;
}

namespace {

// Closes a folder search on every way out of a folder.
class SearchHandle
{
public:
    explicit SearchHandle(platform::HANDLE handle) : m_handle(handle) {}
    ~SearchHandle()
    {
        if (valid())
            platform::FindClose(m_handle);
    }
    SearchHandle(const SearchHandle&) = delete;
    SearchHandle& operator=(const SearchHandle&) = delete;

    bool valid() const { return m_handle != platform::INVALID_HANDLE_VALUE; }
    platform::HANDLE get() const { return m_handle; }

private:
    platform::HANDLE m_handle;
};

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
    if (Folder.empty())
        return {};
    if (Folder.back() == '\\')
        return Folder + Name;
    return Folder + '\\' + Name;
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
    if (!m_level || (m_level->folder != &Folder && *m_level->folder != Folder))
        return std::make_shared<const std::string>(JoinPath(Folder, {}));
    if (!m_level->path)
        m_level->path = std::make_shared<const std::string>(JoinPath(Folder, {}));
    return m_level->path;
}

void TFilesScan::ScanFolder(const std::string& Folder, std::uint32_t Required,
                            const TMaskList& Masks)
{
    using namespace platform;
    if (OnProcess)
        OnProcess(this, Folder, m_filesCount, m_filesSize);

    // The name and the kind decide first; only entries that pass them pay for a stat.
    WIN32_FIND_DATAA data;
    const SearchHandle search(
        FindFirstFileExA(JoinPath(Folder, "*.*"), data, FindFirstExDeferDetails));
    if (!search.valid())
        return;
    Level level{&Folder, nullptr};
    Level* const outer = m_level;
    m_level = &level;
    struct Restore
    {
        Level*& slot;
        Level* value;
        ~Restore() { slot = value; }
    } restore{m_level, outer};

    // Read-only is the one bit only the stat tells.
    const std::uint32_t requiredBeforeStat = Required & ~FILE_ATTRIBUTE_READONLY;
    bool more = true;
    while (more && !m_stopped) {
        const std::string& name = data.cFileName;
        if (!isDotEntry(name)) {
            if ((data.dwFileAttributes & requiredBeforeStat) == requiredBeforeStat &&
                MatchesAny(Masks, name) && findFileDetails(search.get(), data) &&
                (data.dwFileAttributes & Required) == Required) {
                const auto size = static_cast<std::int64_t>(data.nFileSize);
                ++m_filesCount;
                // Wraps like the 32-bit total always did, never undefined.
                m_filesSize = static_cast<std::int64_t>(static_cast<std::uint64_t>(m_filesSize) +
                                                        static_cast<std::uint64_t>(size));
                if (UpdateList) {
                    const TSearchRec entry{packedLocalTime(data.ftLastWriteTime), size,
                                           static_cast<std::int32_t>(data.dwFileAttributes), name};
                    AddFile(Folder, entry);
                }
            }
            if (Recursive && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ScanFolder(JoinPath(Folder, name), Required, Masks);
        }
        more = FindNextFileA(search.get(), data);
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
