#include "scan/Fllist.h"

#include "platform/core/Service.h"
#include "platform/system/Locale.h"
#include "support/FakeLocale.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

std::unique_ptr<TFileObject> record(const std::string& name, std::int64_t size = 0,
                                    std::int32_t time = 0)
{
    return std::make_unique<TFileObject>(name, "C:\\", size, 0x20, time);
}

std::vector<std::string> names(const TFilesList& list)
{
    std::vector<std::string> result;
    for (int i = 0; i < list.Count(); ++i)
        result.push_back(list.Items(i)->Name());
    return result;
}

std::vector<std::int64_t> sizes(const TFilesList& list)
{
    std::vector<std::int64_t> result;
    for (int i = 0; i < list.Count(); ++i)
        result.push_back(list.Items(i)->Size());
    return result;
}

std::int32_t dosDateTime(int year, int month, int day)
{
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>((year - 1980) << 9 | month << 5 | day) << 16);
}

// The user's locale for one test, made from an environment the test chooses.
class UserLocale
{
public:
    explicit UserLocale(const std::string& name)
    {
        m_sandbox.setEnv("LC_ALL", name);
        m_service = platform::LocaleService::createDefault();
        m_scoped.emplace(*m_service);
    }

private:
    test::Sandbox m_sandbox;
    std::unique_ptr<platform::LocaleService> m_service;
    std::optional<platform::ScopedService<platform::LocaleService>> m_scoped;
};

// Counts the comparisons a list makes.
class CountingList : public TFilesList
{
public:
    int Compare(const TFileObject& A, const TFileObject& B) const override
    {
        ++comparisons;
        return TFilesList::Compare(A, B);
    }
    mutable int comparisons = 0;
};

// A scan may hold millions of records.
static_assert(sizeof(TFileObject) <= 72);

} // namespace

TEST(FileObject, KeepsItsValuesAndSharesTheFolder)
{
    const auto folder = std::make_shared<const std::string>("D:\\DATA\\");
    const TFileObject a("a.tmp", folder, 5'000'000'000, 0x21, 0x12345678);
    const TFileObject b("b.tmp", folder, -1, 0, -1);
    EXPECT_EQ(a.Name(), "a.tmp");
    EXPECT_EQ(a.Path(), "D:\\DATA\\");
    EXPECT_EQ(a.Size(), 5'000'000'000);
    EXPECT_EQ(a.Attr(), 0x21);
    EXPECT_EQ(a.Time(), 0x12345678);
    EXPECT_EQ(&a.Path(), &b.Path());
    EXPECT_EQ(folder.use_count(), 3);

    const TFileObject own("c.tmp", std::string("C:\\TEMP\\"), 1, 2, 3);
    EXPECT_EQ(own.Path() + own.Name(), "C:\\TEMP\\c.tmp");
    const TFileObject none("d.tmp", std::shared_ptr<const std::string>(), 1, 2, 3);
    EXPECT_EQ(none.Path(), "");
}

TEST(FilesList, UnsortedKeepsTheOrderOfArrival)
{
    TFilesList list;
    EXPECT_EQ(list.Sorted(), soUnsort);
    EXPECT_EQ(list.Add(record("c", 1)), 0);
    EXPECT_EQ(list.Add(record("a", 3)), 1);
    EXPECT_EQ(list.Add(record("b", 2)), 2);
    EXPECT_EQ(names(list), (std::vector<std::string>{"c", "a", "b"}));
}

TEST(FilesList, BySizeLargestFirst)
{
    TFilesList list;
    list.setSorted(soBySize);
    EXPECT_EQ(list.Add(record("ten", 10)), 0);
    EXPECT_EQ(list.Add(record("thirty", 30)), 0);
    EXPECT_EQ(list.Add(record("twenty", 20)), 1);
    EXPECT_EQ(sizes(list), (std::vector<std::int64_t>{30, 20, 10}));
}

TEST(FilesList, BySizeComparesAllSixtyFourBits)
{
    TFilesList list;
    list.setSorted(soBySize);
    list.Add(record("one", 1));
    list.Add(record("four-gib", 4'294'967'296));  // low 32 bits are 0
    list.Add(record("three-gib", 3'221'225'472)); // negative as 32 bits
    EXPECT_EQ(names(list), (std::vector<std::string>{"four-gib", "three-gib", "one"}));
}

TEST(FilesList, EqualRecordsLastAddedFirst)
{
    TFilesList list;
    list.setSorted(soBySize);
    list.Add(record("big", 50));
    list.Add(record("first", 20));
    list.Add(record("small", 1));
    int index = -1;
    EXPECT_TRUE(list.Find(*record("probe", 20), index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(list.Find(*record("probe", 30), index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(list.Find(*record("probe", 0), index));
    EXPECT_EQ(index, 3);
    EXPECT_EQ(list.Add(record("second", 20)), 1);
    EXPECT_EQ(list.Add(record("third", 20)), 1);
    EXPECT_EQ(names(list), (std::vector<std::string>{"big", "third", "second", "first", "small"}));
}

TEST(FilesList, ByTimeNewestFirstAcrossTheSignBit)
{
    TFilesList list;
    list.setSorted(soByTime);
    list.Add(record("2020", 0, dosDateTime(2020, 6, 1)));
    list.Add(record("2050", 0, dosDateTime(2050, 1, 1))); // negative as a signed value
    list.Add(record("1980", 0, dosDateTime(1980, 1, 1)));
    list.Add(record("2043", 0, dosDateTime(2043, 12, 31)));
    EXPECT_EQ(names(list), (std::vector<std::string>{"2050", "2043", "2020", "1980"}));
}

TEST(FilesList, ChangingTheOrderSortsWhatIsThere)
{
    CountingList list;
    list.Add(record("old", 0, dosDateTime(1999, 1, 1)));
    list.Add(record("new", 0, dosDateTime(2024, 1, 1)));
    list.Add(record("mid", 0, dosDateTime(2010, 1, 1)));
    EXPECT_EQ(list.comparisons, 0);

    list.setSorted(soByTime);
    EXPECT_EQ(names(list), (std::vector<std::string>{"new", "mid", "old"}));
    EXPECT_GT(list.comparisons, 0);

    list.comparisons = 0;
    list.setSorted(soByTime);
    EXPECT_EQ(list.comparisons, 0);
    EXPECT_EQ(list.Sorted(), soByTime);
}

TEST(FilesList, SortPartitionsAsQuicksortDoes)
{
    // Every comparison equal (the order after going back to unsorted): the partitioning
    // swaps from both ends.
    TFilesList list;
    for (const char* name : {"a", "b", "c", "d"})
        list.Add(record(name));
    list.setSorted(soBySize);
    EXPECT_EQ(names(list), (std::vector<std::string>{"c", "d", "a", "b"}));

    TFilesList three;
    for (const char* name : {"a", "b", "c"})
        three.Add(record(name));
    three.setSorted(soByTime);
    EXPECT_EQ(names(three), (std::vector<std::string>{"c", "b", "a"}));
}

namespace {

// The textbook form of the list's quicksort: recursion on the left part, a loop on the
// right, over plain sizes (largest first), tagged so that equal sizes can be told apart.
using Tagged = std::pair<std::int64_t, int>;

void textbookQuickSort(std::vector<Tagged>& items, int left, int right)
{
    const auto compare = [](const Tagged& a, const Tagged& b) {
        return a.first < b.first ? 1 : a.first > b.first ? -1 : 0;
    };
    int i = left;
    do {
        i = left;
        int j = right;
        const Tagged pivot = items[static_cast<std::size_t>((left + right) / 2)];
        do {
            while (compare(items[static_cast<std::size_t>(i)], pivot) < 0)
                ++i;
            while (compare(items[static_cast<std::size_t>(j)], pivot) > 0)
                --j;
            if (i <= j) {
                std::swap(items[static_cast<std::size_t>(i)], items[static_cast<std::size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (left < j)
            textbookQuickSort(items, left, j);
        left = i;
    } while (i < right);
}

} // namespace

TEST(FilesList, SortLeavesEqualRecordsWhereTheTextbookQuicksortDoes)
{
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        const int count = 1 + static_cast<int>(random() % 40);
        std::vector<Tagged> expected;
        TFilesList list;
        for (int k = 0; k < count; ++k) {
            const std::int64_t size = random() % 5;
            expected.emplace_back(size, k);
            list.Add(record(std::to_string(k), size));
        }
        textbookQuickSort(expected, 0, count - 1);
        list.setSorted(soBySize);
        std::vector<std::string> expectedNames;
        for (const auto& item : expected)
            expectedNames.push_back(std::to_string(item.second));
        ASSERT_EQ(names(list), expectedNames) << "round " << round;
    }
}

TEST(FilesList, ByNameIgnoresCaseUnderTheCLocale)
{
    UserLocale locale("C");
    TFilesList list;
    list.setSorted(soByName);
    list.Add(record("b.txt"));
    list.Add(record("A.txt"));
    list.Add(record("c.txt"));
    list.Add(record("B.TXT"));
    EXPECT_EQ(names(list), (std::vector<std::string>{"A.txt", "B.TXT", "b.txt", "c.txt"}));
}

TEST(FilesList, ByNameLowersAccentedLettersUnderAUtf8Locale)
{
    // "Éb" and "éa": lowered they order by their second letter; as bytes "É" comes first.
    const std::string upper = "\xC3\x89"
                              "b";
    const std::string lower = "\xC3\xA9"
                              "a";
    for (const auto& [name, sorted] : {std::pair{"C.UTF-8", std::vector{lower, upper}},
                                       std::pair{"C", std::vector{upper, lower}}}) {
        SCOPED_TRACE(name);
        UserLocale locale(name);
        TFilesList list;
        list.setSorted(soByName);
        list.Add(record(upper));
        list.Add(record(lower));
        EXPECT_EQ(names(list), sorted);
    }
}

TEST(FilesList, ByNameGoesThroughTheLocaleCalls)
{
    test::ScopedFake<test::BackwardsLocale> backwards;
    TFilesList list;
    list.Add(record("alpha"));
    list.Add(record("Gamma"));
    list.Add(record("beta"));
    list.setSorted(soByName);
    EXPECT_EQ(names(list), (std::vector<std::string>{"Gamma", "beta", "alpha"}));
    EXPECT_GT(backwards.lowered, 0);
    // Both names are cased by the locale before the collation sees them.
    for (const auto& pair : backwards.seen)
        EXPECT_EQ(pair.find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos) << pair;

    EXPECT_EQ(list.Compare(*record("x"), *record("X")), 0);
    EXPECT_EQ(list.Compare(*record("x"), *record("y")), 1);
    EXPECT_EQ(list.Compare(*record("y"), *record("x")), -1);
}

TEST(FilesList, DeleteOutsideTheListDoesNothing)
{
    TFilesList list;
    for (const char* name : {"a", "b", "c"})
        list.Add(record(name));
    list.Delete(-1);
    list.Delete(3);
    EXPECT_EQ(names(list), (std::vector<std::string>{"a", "b", "c"}));
    list.Delete(1);
    EXPECT_EQ(names(list), (std::vector<std::string>{"a", "c"}));
    list.Delete(1);
    list.Delete(0);
    EXPECT_EQ(list.Count(), 0);
    list.Delete(0);
    EXPECT_EQ(list.Count(), 0);
}

TEST(FilesList, ClearAndSortOnAnEmptyList)
{
    TFilesList list;
    list.Clear();
    list.Sort();
    list.setSorted(soByName);
    EXPECT_EQ(list.Count(), 0);

    list.Add(record("a"));
    list.Add(record("b"));
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Add(record("c")), 0);
    EXPECT_EQ(list.Sorted(), soByName);
}

TEST(FilesList, ItemsOutsideTheListIsAnError)
{
    TFilesList list;
    list.Add(record("a"));
    EXPECT_EQ(list.Items(0)->Name(), "a");
    EXPECT_THROW(list.Items(1), EListError);
    EXPECT_THROW(list.Items(-1), EListError);
    try {
        list.Items(5);
    } catch (const EListError& error) {
        EXPECT_STREQ(error.what(), "List index out of bounds (5)");
    }
}
