#include "scan/Fllist.h"

#include "platform/system/Locale.h"

#include <utility>

TFileObject::TFileObject(std::string Name, std::shared_ptr<const std::string> Path,
                         std::int64_t Size, std::int32_t Attr, std::int32_t Time)
    : m_name(std::move(Name)), m_path(std::move(Path)), m_size(Size), m_attr(Attr), m_time(Time)
{
}

TFileObject::TFileObject(std::string Name, const std::string& Path, std::int64_t Size,
                         std::int32_t Attr, std::int32_t Time)
    : TFileObject(std::move(Name), std::make_shared<const std::string>(Path), Size, Attr, Time)
{
}

const std::string& TFileObject::Path() const
{
    static const std::string none;
    return m_path ? *m_path : none;
}

TBaseFileList::~TBaseFileList() = default;

TFileObject* TBaseFileList::Items(int Index) const
{
    if (Index < 0 || Index >= Count())
        throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
    return m_items[static_cast<std::size_t>(Index)].get();
}

int TFilesList::Add(std::unique_ptr<TFileObject> Item)
{
    int index = Count();
    if (m_sorted != soUnsort)
        Find(*Item, index);
    m_items.insert(m_items.begin() + index, std::move(Item));
    return index;
}

void TFilesList::Delete(int Index)
{
    if (Index < 0 || Index >= Count())
        return;
    m_items.erase(m_items.begin() + Index);
}

void TFilesList::Clear()
{
    std::vector<std::unique_ptr<TFileObject>>().swap(m_items);
}

void TFilesList::Sort()
{
    if (Count() > 1)
        quickSort(0, Count() - 1);
}

int TFilesList::Compare(const TFileObject& A, const TFileObject& B) const
{
    // Descending orders compare B with A.
    const auto descending = [](auto a, auto b) { return a < b ? 1 : a > b ? -1 : 0; };
    switch (m_sorted) {
    case soUnsort:
        return 0;
    case soByName: {
        std::string a = A.Name();
        std::string b = B.Name();
        platform::CharLowerBuffA(a);
        platform::CharLowerBuffA(b);
        return platform::CompareStringA(platform::LOCALE_USER_DEFAULT, 0, a, b) - 2;
    }
    case soBySize:
        return descending(A.Size(), B.Size());
    case soByTime:
        // The year sits in the top bits: as a signed value every date from 2044 on would
        // sort as older than 1980.
        return descending(static_cast<std::uint32_t>(A.Time()),
                          static_cast<std::uint32_t>(B.Time()));
    }
    return 0;
}

bool TFilesList::Find(const TFileObject& Item, int& Index) const
{
    int low = 0;
    int high = Count() - 1;
    bool found = false;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const int order = Compare(*m_items[static_cast<std::size_t>(middle)], Item);
        if (order < 0) {
            low = middle + 1;
        } else {
            high = middle - 1;
            if (order == 0)
                found = true;
        }
    }
    Index = low;
    return found;
}

void TFilesList::setSorted(TSortOptions Value)
{
    if (Value == m_sorted)
        return;
    m_sorted = Value;
    Sort();
}

void TFilesList::quickSort(int left, int right)
{
    // Partitions are disjoint, so the order in which they are sorted does not change the
    // result; the smaller one is sorted first by recursion, which keeps the depth
    // logarithmic however the records fall.
    while (left < right) {
        int i = left;
        int j = right;
        const TFileObject* pivot =
            m_items[static_cast<std::size_t>(left + (right - left) / 2)].get();
        do {
            // The bounds only matter to a Compare that is no consistent order.
            while (i < right && Compare(*m_items[static_cast<std::size_t>(i)], *pivot) < 0)
                ++i;
            while (j > left && Compare(*m_items[static_cast<std::size_t>(j)], *pivot) > 0)
                --j;
            if (i <= j) {
                std::swap(m_items[static_cast<std::size_t>(i)],
                          m_items[static_cast<std::size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (j - left < right - i) {
            if (left < j)
                quickSort(left, j);
            left = i;
        } else {
            if (i < right)
                quickSort(i, right);
            right = j;
        }
    }
}
