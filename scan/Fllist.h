#pragma once

#include "runtime/Errors.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum TSortOptions : std::uint8_t { soUnsort, soByName, soBySize, soByTime };

// An index outside a list: "List index out of bounds (<index>)".
class EListError : public runtime::Exception
{
public:
    using runtime::Exception::Exception;
};

// One found file; never changes once made. Kept small: a scan holds one per file, and the
// folder text is shared by all files of a folder.
class TFileObject
{
public:
    // Path: the folder with its trailing "\"; shared with the other files of that folder.
    TFileObject(std::string Name, std::shared_ptr<const std::string> Path, std::int64_t Size,
                std::int32_t Attr, std::int32_t Time);
    TFileObject(std::string Name, const std::string& Path, std::int64_t Size, std::int32_t Attr,
                std::int32_t Time);

    const std::string& Name() const { return m_name; }
    const std::string& Path() const;
    std::int64_t Size() const { return m_size; }
    std::int32_t Attr() const { return m_attr; }
    // Local last-write time, packed as a DOS date-time.
    std::int32_t Time() const { return m_time; }

private:
    std::string m_name;
    std::shared_ptr<const std::string> m_path;
    std::int64_t m_size;
    std::int32_t m_attr;
    std::int32_t m_time;
};

// A list that owns its records.
class TBaseFileList
{
public:
    TBaseFileList() = default;
    TBaseFileList(const TBaseFileList&) = delete;
    TBaseFileList& operator=(const TBaseFileList&) = delete;
    virtual ~TBaseFileList();

    int Count() const { return static_cast<int>(m_items.size()); }
    // Throws EListError for an index outside 0 .. Count() - 1. The list keeps the record.
    TFileObject* Items(int Index) const;

    virtual int Add(std::unique_ptr<TFileObject> Item) = 0;
    virtual void Delete(int Index) = 0;
    virtual void Clear() = 0;
    virtual void Sort() = 0;

protected:
    std::vector<std::unique_ptr<TFileObject>> m_items;
};

class TFilesList : public TBaseFileList
{
public:
    // Appended with soUnsort, otherwise put where Find says. Returns the index.
    int Add(std::unique_ptr<TFileObject> Item) override;
    // An index outside the list does nothing.
    void Delete(int Index) override;
    void Clear() override;
    void Sort() override;

    // -1, 0 or +1 by Sorted(): names ascending without case, sizes and times descending.
    virtual int Compare(const TFileObject& A, const TFileObject& B) const;
    // Whether a record equal to Item is present; Index is where Item belongs, in front of
    // its equals.
    virtual bool Find(const TFileObject& Item, int& Index) const;

    TSortOptions Sorted() const { return m_sorted; }
    // Sorts again only when the value changes.
    void setSorted(TSortOptions Value);

private:
    void quickSort(int left, int right);

    TSortOptions m_sorted = soUnsort;
};
