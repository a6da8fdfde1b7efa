#pragma once

#include "platform/files/Files.h"
#include "scan/Fllist.h"
#include "scan/Masks.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// A mask list, in the order in which the masks stand in its text.
using TMaskList = std::vector<std::unique_ptr<TMultiMask>>;

// Appends one mask for every non-empty comma-separated element of Text (leading and
// trailing blanks removed). Lets EMaskException through; masks added before the invalid
// one stay in the list.
void ParseMaskList(TMaskList& List, const std::string& Text);
// Whether any mask of the list matches Name; an empty list matches nothing.
bool MatchesAny(const TMaskList& List, const std::string& Name);
// Ours: the first element of the list text made only of wildcards, sets and dots (see
// TMask::OnlyWildcardsAndDots), trimmed as ParseMaskList trims it; empty when there is
// none. An invalid element is none: the scan reports it.
std::string EveryNameMask(const std::string& Text);

// Where a scan searches.
enum TScanOptions : std::uint8_t { soGlobal, soSpecifiedDisk, soSpecifiedDir };

// Member k stands for the attribute bit 1 << k.
enum TFileAttribute : std::uint8_t {
    faReadOnly,
    faHidden,
    faSysFile,
    faVolumeID,
    faDirectory,
    faArchive
};

// A set of TFileAttribute.
class TFileAttributes
{
public:
    constexpr TFileAttributes() = default;
    constexpr TFileAttributes(std::initializer_list<TFileAttribute> Members)
    {
        for (const TFileAttribute member : Members)
            m_bits |= static_cast<std::uint8_t>(1u << member);
    }

    constexpr bool contains(TFileAttribute Member) const { return m_bits & (1u << Member); }
    constexpr bool empty() const { return m_bits == 0; }
    // The attribute bits of the members added together (0 to 63).
    constexpr std::uint32_t bits() const { return m_bits; }
    constexpr bool operator==(const TFileAttributes&) const = default;

private:
    std::uint8_t m_bits = 0;
};

// One entry of a folder search as the scanner sees it.
struct TSearchRec
{
    std::int32_t Time = 0; // local last-write time, packed as a DOS date-time
    std::int64_t Size = 0;
    std::int32_t Attr = 0;
    std::string Name;
};

// Ours: lets a caller keep entries out of a scan, for reasons the masks cannot tell. Folder
// is the folder text as the scan reached it.
class TScanFilter
{
public:
    virtual ~TScanFilter() = default;
    // Asked for a folder entry before anything else: true, and it is neither tested
    // against the masks nor entered.
    virtual bool SkipsFolder(const std::string& Folder, const std::string& Name) = 0;
    // Asked for an entry that the masks and the attributes known before its details
    // accept: true, and it is not accepted.
    virtual bool RefusesName(const std::string& Folder, const std::string& Name) = 0;
    // Asked once its details (size, times, read-only) are read, before it is accepted.
    virtual bool RefusesEntry(const platform::WIN32_FIND_DATAA& Entry) = 0;
};

class TFilesScan;
using TOnProcessEvent = std::function<void(TFilesScan* Sender, const std::string& Dir,
                                           int FilesCount, std::int64_t FilesSize)>;
using TOnChangedEvent =
    std::function<void(TFilesScan* Sender, int FilesCount, std::int64_t FilesSize)>;

// Searches a folder tree, a drive or every suitable drive, depth first, for entries whose
// names match the mask list in FileMask and which carry every attribute in Attributes.
class TFilesScan
{
public:
    TFilesScan() = default;
    TFilesScan(const TFilesScan&) = delete;
    TFilesScan& operator=(const TFilesScan&) = delete;
    virtual ~TFilesScan() = default;

    // One whole scan. Throws EMaskException for an invalid FileMask before searching
    // anything; an error from an event handler or AddFile leaves it at once.
    virtual void Execute();
    // Ends a running scan at its next test; a Stop before Execute does nothing.
    virtual void Stop();

    int FilesCount() const { return m_filesCount; }
    std::int64_t FilesSize() const { return m_filesSize; }

    // Folder and Name with one "\" between them; empty when Folder is.
    static std::string JoinPath(const std::string& Folder, const std::string& Name);

    std::string FileMask = "*";
    TFileAttributes Attributes{faArchive};
    bool UpdateList = true;
    TScanOptions ScanOptions = soGlobal;
    std::string ScanDir = "C:\\";
    // Let the toolkit process pending messages after every entry.
    bool ProcessMsg = true;
    bool Recursive = true;
    TOnProcessEvent OnProcess;
    TOnChangedEvent OnChanged;
    // Ours: asked about every entry when set; the caller owns it.
    TScanFilter* Filter = nullptr;

protected:
    // Called for every accepted entry while UpdateList is true; Folder is the folder text
    // as the scan reached it.
    virtual void AddFile(const std::string& Folder, const TSearchRec& Entry) = 0;
    // JoinPath(Folder, "") as one text for all entries of the folder being searched.
    std::shared_ptr<const std::string> SharedPath(const std::string& Folder);

private:
    void ScanFolder(const std::string& Folder, std::uint32_t Required, const TMaskList& Masks);

    int m_filesCount = 0;
    std::int64_t m_filesSize = 0;
    bool m_stopped = false;
    // The text of the folder being searched and its SharedPath, while a search runs.
    const std::string* m_folder = nullptr;
    std::shared_ptr<const std::string>* m_path = nullptr;
};

// A scan that records every accepted entry in its found-file list.
class TFilesScanner : public TFilesScan
{
public:
    // Empties the list, then scans.
    void Execute() override;

    // The records of the last scan; the list owns them.
    TFilesList& FilesList() { return m_list; }
    const TFilesList& FilesList() const { return m_list; }

    TSortOptions Sorted() const { return m_list.Sorted(); }
    // Sorts the list when the value changes; then OnChanged fires when the list holds
    // records, also when the value stayed.
    void setSorted(TSortOptions Value);

protected:
    void AddFile(const std::string& Folder, const TSearchRec& Entry) override;

private:
    TFilesList m_list;
};
