#pragma once

#include "platform/files/PosixFiles.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace test {

// The real search, with a count of open searches and folders that cannot be searched.
class WatchedFiles : public platform::FileService
{
public:
    using Interface = platform::FileService;
    platform::HANDLE findFirst(const std::string& pattern, platform::WIN32_FIND_DATAA& data,
                               unsigned flags) override
    {
        if (refused.count(pattern))
            return platform::INVALID_HANDLE_VALUE;
        platform::HANDLE handle = real.findFirst(pattern, data, flags);
        open += handle != platform::INVALID_HANDLE_VALUE;
        return handle;
    }
    bool findNext(platform::HANDLE h, platform::WIN32_FIND_DATAA& data) override
    {
        return real.findNext(h, data);
    }
    bool findDetails(platform::HANDLE h, platform::WIN32_FIND_DATAA& d) override
    {
        return real.findDetails(h, d);
    }
    bool findClose(platform::HANDLE h) override
    {
        const bool closed = real.findClose(h);
        open -= closed;
        return closed;
    }

    platform::PosixFiles real;
    std::set<std::string> refused;
    int open = 0;
};

// Delivers one folder of regular files with the sizes given.
class SizedFiles : public platform::FileService
{
public:
    using Interface = platform::FileService;
    explicit SizedFiles(std::vector<std::uint64_t> sizes) : m_sizes(std::move(sizes)) {}
    platform::HANDLE findFirst(const std::string&, platform::WIN32_FIND_DATAA& data,
                               unsigned) override
    {
        m_next = 0;
        return findNext(this, data) ? this : platform::INVALID_HANDLE_VALUE;
    }
    bool findNext(platform::HANDLE, platform::WIN32_FIND_DATAA& data) override
    {
        if (m_next >= m_sizes.size())
            return false;
        data.cFileName = "f" + std::to_string(m_next) + ".tmp";
        data.dwFileAttributes = platform::FILE_ATTRIBUTE_ARCHIVE;
        data.nFileSize = m_sizes[m_next++];
        return true;
    }
    bool findDetails(platform::HANDLE, platform::WIN32_FIND_DATAA&) override { return true; }
    bool findClose(platform::HANDLE) override { return true; }

private:
    std::vector<std::uint64_t> m_sizes;
    std::size_t m_next = 0;
};

// C:\deep, C:\deep\d, C:\deep\d\d ... down to the depth asked for, each with the file
// f<depth>.txt. The depth is read off the pattern's length, so every level costs the same
// and a chain far too deep to make quickly on a disk is quick to search.
class FolderChain : public platform::FileService
{
public:
    using Interface = platform::FileService;
    explicit FolderChain(int levels) : m_levels(levels), m_next(levels + 1, -1) {}

    platform::HANDLE findFirst(const std::string& pattern, platform::WIN32_FIND_DATAA& data,
                               unsigned) override
    {
        const std::size_t top = std::string("C:\\deep\\*.*").size();
        if (pattern.size() < top || (pattern.size() - top) % 2 != 0 ||
            pattern.compare(pattern.size() - 4, 4, "\\*.*") != 0)
            return platform::INVALID_HANDLE_VALUE;
        const auto depth = static_cast<int>((pattern.size() - top) / 2);
        if (depth > m_levels || m_next[depth] >= 0)
            return platform::INVALID_HANDLE_VALUE;
        m_next[depth] = 0;
        ++open;
        const platform::HANDLE handle = handleOf(depth);
        return findNext(handle, data) ? handle : platform::INVALID_HANDLE_VALUE;
    }
    bool findNext(platform::HANDLE search, platform::WIN32_FIND_DATAA& data) override
    {
        const int depth = depthOf(search);
        const int entry = m_next[depth]++;
        if (entry == 3 && depth < m_levels) {
            data.cFileName = "d";
            data.dwFileAttributes = platform::FILE_ATTRIBUTE_DIRECTORY;
        } else if (entry < 3) {
            data.cFileName = entry == 0   ? "."
                             : entry == 1 ? ".."
                                          : "f" + std::to_string(depth) + ".txt";
            data.dwFileAttributes =
                entry < 2 ? platform::FILE_ATTRIBUTE_DIRECTORY : platform::FILE_ATTRIBUTE_ARCHIVE;
        } else {
            return false;
        }
        return true;
    }
    bool findDetails(platform::HANDLE, platform::WIN32_FIND_DATAA&) override { return true; }
    bool findClose(platform::HANDLE search) override
    {
        m_next[depthOf(search)] = -1;
        --open;
        return true;
    }

    int open = 0;

private:
    static platform::HANDLE handleOf(int depth)
    {
        return reinterpret_cast<platform::HANDLE>(std::uintptr_t(depth) + 1);
    }
    static int depthOf(platform::HANDLE search)
    {
        return static_cast<int>(reinterpret_cast<std::uintptr_t>(search) - 1);
    }

    int m_levels;
    std::vector<int> m_next; // by depth: the next entry of its open search, -1 when closed
};

} // namespace test
