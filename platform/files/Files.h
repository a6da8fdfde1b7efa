#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

using HANDLE = void*;
inline const HANDLE INVALID_HANDLE_VALUE =
    reinterpret_cast<HANDLE>(~static_cast<std::uintptr_t>(0));

inline constexpr std::uint32_t FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
inline constexpr std::uint32_t FILE_ATTRIBUTE_SYSTEM = 0x4;
inline constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;

// 100-nanosecond intervals since 1 January 1601, UTC (or local time after
// FileTimeToLocalFileTime).
struct FILETIME
{
    std::uint32_t dwLowDateTime = 0;
    std::uint32_t dwHighDateTime = 0;
};

// One entry of a folder search. The size is one 64-bit field where Windows has two
// 32-bit halves.
struct WIN32_FIND_DATAA
{
    std::uint32_t dwFileAttributes = 0;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    std::uint64_t nFileSize = 0;
    std::string cFileName;
};

// A FindFirstFileExA flag of our own (Windows has none like it): leave out what only a
// stat of the entry can tell (size, times and the read-only bit) until findFileDetails asks
// for it. The kind bits (directory, archive, system) and hidden are there at once, so a
// caller can test the name and the kind first and pay for a stat only for the entries it
// wants.
inline constexpr unsigned FindFirstExDeferDetails = 0x1;

// How a search behaves on Linux:
// - The pattern is a Windows path whose last part is the wildcard: "*" and "*.*" list
//   everything, other texts match names with "*" (any run) and "?" (one character),
//   letters A to Z in either case; a last part without wildcards finds that exact name.
//   A pattern without a folder ("*.*", "C:*") or with an empty last part finds nothing.
// - A directory has FILE_ATTRIBUTE_DIRECTORY; a regular file FILE_ATTRIBUTE_ARCHIVE;
//   symbolic links, sockets, FIFOs and devices FILE_ATTRIBUTE_SYSTEM only. Read-only
//   when the owner has no write permission, hidden when the name starts with ".".
//   Sizes of anything but regular files are 0. The times are the access and the
//   modification time.
// - "." and ".." come first, except at the root of a drive, as on Windows.
// - Names are the native bytes. A name with "\" in it has no Windows form and is left
//   out; so is an entry that vanishes before its details are read.
// - A folder on which another filesystem is mounted is left out, known from the mount
//   table without any call on it: a share that stopped answering would hold the call,
//   an automount point would be mounted. The table is read again, when the kernel says
//   it changed, before each search starts.
// - A folder's entries are read in one go when the search starts, so a folder that
//   changes while it is searched gives what was there, and a search holds no open
//   directory: any number of searches may be nested, deeper than the open-file limit.
// - A search started while a search of the parent folder is open (the folder text is
//   that search's folder, "\" and a name) opens the folder relative to the parent's:
//   never through a symbolic link, and never into the root of another mounted
//   filesystem (that search cannot start). Paths longer than PATH_MAX work this way.
//   A search of any other folder opens it by its path, as Windows does.
// - Handles belong to the thread that made them; the family is not for concurrent use.
class FileService
{
public:
    virtual ~FileService() = default;
    virtual HANDLE findFirst(const std::string& pattern, WIN32_FIND_DATAA& data,
                             unsigned flags) = 0;
    virtual bool findNext(HANDLE search, WIN32_FIND_DATAA& data) = 0;
    virtual bool findDetails(HANDLE search, WIN32_FIND_DATAA& data) = 0;
    virtual bool findClose(HANDLE search) = 0;

    static std::unique_ptr<FileService> createDefault();
};

// INVALID_HANDLE_VALUE when the search cannot start or finds nothing.
HANDLE FindFirstFileA(const std::string& pattern, WIN32_FIND_DATAA& data);
HANDLE FindFirstFileExA(const std::string& pattern, WIN32_FIND_DATAA& data, unsigned flags);
// False when there are no more entries.
bool FindNextFileA(HANDLE search, WIN32_FIND_DATAA& data);
// Ours, not a Windows call: completes the entry last delivered by a search made with
// FindFirstExDeferDetails: size, times and the read-only bit (and the kind bits again,
// should the entry have been replaced). False when the entry is gone; data is then
// unchanged.
bool findFileDetails(HANDLE search, WIN32_FIND_DATAA& data);
bool FindClose(HANDLE search);

// Local time by the time-zone rules in force at that moment (Windows applies today's
// daylight-saving offset to every date).
bool FileTimeToLocalFileTime(const FILETIME& fileTime, FILETIME& localFileTime);
// Packs a time into the DOS date and time. Before 1980 gives 1 January 1980 00:00:00,
// after 2107 the last time there is (31 December 2107 23:59:58).
bool FileTimeToDosDateTime(const FILETIME& fileTime, std::uint16_t& fatDate,
                           std::uint16_t& fatTime);

// Seconds and nanoseconds since 1970 as a FILETIME; times before 1601 give 0.
FILETIME fileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds);

} // namespace platform
