#include "platform/system/Locale.h"
#include "platform/core/Service.h"

#include "support/Sandbox.h"

#include <clocale>
#include <gtest/gtest.h>
#include <locale.h>
#include <optional>

using namespace platform;

namespace {

// A locale service made from an environment of the test's own; the sandbox restores the
// variables afterwards.
class LocaleTest : public ::testing::Test
{
protected:
    std::unique_ptr<LocaleService> serviceFor(const std::optional<std::string>& all,
                                              const std::optional<std::string>& ctype = {},
                                              const std::optional<std::string>& collate = {})
    {
        sandbox.setEnv("LC_ALL", all);
        sandbox.setEnv("LC_CTYPE", ctype);
        sandbox.setEnv("LC_COLLATE", collate);
        sandbox.setEnv("LANG", "C");
        return LocaleService::createDefault();
    }

    std::string lowered(LocaleService& service, std::string text)
    {
        service.lowerCase(text);
        return text;
    }

    test::Sandbox sandbox;
};

bool localeInstalled(const char* name)
{
    locale_t probe = ::newlocale(LC_ALL_MASK, name, locale_t(nullptr));
    if (probe)
        ::freelocale(probe);
    return probe != locale_t(nullptr);
}

// Puts the process-wide locale somewhere else for one test.
class GlobalLocale
{
public:
    explicit GlobalLocale(const char* name) : m_saved(std::setlocale(LC_ALL, nullptr))
    {
        std::setlocale(LC_ALL, name);
    }
    ~GlobalLocale() { std::setlocale(LC_ALL, m_saved.c_str()); }

private:
    std::string m_saved;
};

} // namespace

TEST_F(LocaleTest, CLocaleLowersOnlyAsciiLetters)
{
    auto service = serviceFor("C");
    EXPECT_EQ(lowered(*service, "README.TXT"), "readme.txt");
    // UTF-8 and Latin-1 capitals stay as they are.
    EXPECT_EQ(lowered(*service, "\xC3\x89T\xC3\x89"), "\xC3\x89t\xC3\x89");
    EXPECT_EQ(lowered(*service, "\xC0\xC9\xDE"), "\xC0\xC9\xDE");
    EXPECT_EQ(lowered(*service, "[@Z_]"), "[@z_]");
}

TEST_F(LocaleTest, Utf8LocaleLowersLettersOfEveryScript)
{
    auto service = serviceFor("C.UTF-8");
    EXPECT_EQ(lowered(*service, "\xC3\x89"
                                "COLE-\xC3\x84\xC3\x96\xC3\x9C.TXT"),
              "\xC3\xA9"
              "cole-\xC3\xA4\xC3\xB6\xC3\xBC.txt");
    // Cyrillic "ПРИВЕТ" and Greek "ΩΜΕΓΑ".
    EXPECT_EQ(lowered(*service, "\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2"),
              "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    EXPECT_EQ(lowered(*service, "\xCE\xA9\xCE\x9C\xCE\x95\xCE\x93\xCE\x91"),
              "\xCF\x89\xCE\xBC\xCE\xB5\xCE\xB3\xCE\xB1");
    // Four-byte characters pass through whole.
    EXPECT_EQ(lowered(*service, "A\xF0\x9F\x98\x80Z"), "a\xF0\x9F\x98\x80z");
    // KELVIN SIGN (three bytes) lowers to a plain "k".
    EXPECT_EQ(lowered(*service, "\xE2\x84\xAA"
                                "B"),
              "kb");
}

TEST_F(LocaleTest, BytesThatAreNoUtf8StayAsTheyAre)
{
    auto service = serviceFor("C.UTF-8");
    EXPECT_EQ(lowered(*service, "A\xFF"
                                "B"),
              "a\xFF"
              "b");
    EXPECT_EQ(lowered(*service, "A\xC3"), "a\xC3");                       // cut short
    EXPECT_EQ(lowered(*service, "\x80X"), "\x80x");                       // stray continuation
    EXPECT_EQ(lowered(*service, "\xC1\x81X"), "\xC1\x81x");               // overlong "A"
    EXPECT_EQ(lowered(*service, "\xE0\x81\x81"), "\xE0\x81\x81");         // overlong "A"
    EXPECT_EQ(lowered(*service, "\xED\xA0\x80Q"), "\xED\xA0\x80q");       // surrogate
    EXPECT_EQ(lowered(*service, "\xF4\x90\x80\x80"), "\xF4\x90\x80\x80"); // beyond U+10FFFF
    // A Latin-1 capital followed by ASCII: the byte is no sequence and stays.
    EXPECT_EQ(lowered(*service, "\xC9TE"), "\xC9te");
}

TEST_F(LocaleTest, TakesTheLocaleFromTheEnvironmentNotTheProcess)
{
    {
        GlobalLocale global("C");
        auto service = serviceFor("C.UTF-8");
        EXPECT_EQ(lowered(*service, "\xC3\x89"), "\xC3\xA9");
    }
    {
        GlobalLocale global("C.UTF-8");
        auto service = serviceFor("C");
        EXPECT_EQ(lowered(*service, "\xC3\x89"), "\xC3\x89");
    }
}

TEST_F(LocaleTest, ReadsTheCategoryVariables)
{
    auto service = serviceFor(std::nullopt, "C.UTF-8");
    EXPECT_EQ(lowered(*service, "\xC3\x89"), "\xC3\xA9");
}

TEST_F(LocaleTest, MissingLocaleFallsBackPerCategory)
{
    ASSERT_FALSE(localeInstalled("xx_XX.UTF-8"));
    auto missing = serviceFor("xx_XX.UTF-8");
    EXPECT_EQ(lowered(*missing, "AB\xC3\x89"), "ab\xC3\x89");
    EXPECT_LT(missing->collate("B", "a"), 0);

    // Collation names a missing locale: the character type still counts.
    auto mixed = serviceFor(std::nullopt, "C.UTF-8", "xx_XX.UTF-8");
    EXPECT_EQ(lowered(*mixed, "\xC3\x89"), "\xC3\xA9");
}

TEST_F(LocaleTest, CompareStringGivesOneTwoThree)
{
    auto service = serviceFor("C");
    ScopedService<LocaleService> scoped(*service);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "a", "b"), CSTR_LESS_THAN);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "b", "a"), CSTR_GREATER_THAN);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "abc", "abc"), CSTR_EQUAL);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "", "a"), CSTR_LESS_THAN);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "ab", "a"), CSTR_GREATER_THAN);
    // The C collation is byte order: capitals before small letters.
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "B", "a"), CSTR_LESS_THAN);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 1, "a", "b"), 0);
}

TEST_F(LocaleTest, FreeFunctionsUseTheInstalledService)
{
    auto service = serviceFor("C.UTF-8");
    ScopedService<LocaleService> scoped(*service);
    std::string text = "\xC3\x89T\xC3\x89.TXT";
    CharLowerBuffA(text);
    EXPECT_EQ(text, "\xC3\xA9t\xC3\xA9.txt");
    // Character order, unlike the byte-wise comparison of signed chars.
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "z", "\xC3\xA9"), CSTR_LESS_THAN);
}

TEST_F(LocaleTest, LanguageCollationIgnoresCaseFirst)
{
    if (!localeInstalled("en_US.UTF-8"))
        GTEST_SKIP() << "en_US.UTF-8 is not installed";
    auto service = serviceFor("en_US.UTF-8");
    ScopedService<LocaleService> scoped(*service);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "a", "B"), CSTR_LESS_THAN);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "\xC3\xA9", "f"), CSTR_LESS_THAN);
}
