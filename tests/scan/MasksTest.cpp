#include "scan/Masks.h"
#include "scan/FilesScn.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

bool matches(const std::string& mask, const std::string& name)
{
    return TMask(mask).Matches(name);
}

// The message of the mask error, or "" when the mask compiles.
std::string maskError(const std::string& mask)
{
    try {
        TMask compiled(mask);
    } catch (const EMaskException& error) {
        return error.what();
    }
    return {};
}

std::string repeated(const std::string& part, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += part;
    return text;
}

} // namespace

struct MatchRow
{
    std::string mask;
    std::string name;
    bool matches;
};

class MaskMatches : public ::testing::TestWithParam<MatchRow>
{
};

TEST_P(MaskMatches, AsTheRowSays)
{
    const MatchRow& row = GetParam();
    EXPECT_EQ(matches(row.mask, row.name), row.matches)
        << "mask " << row.mask << " name " << row.name;
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    Masks, MaskMatches,
    ::testing::ValuesIn(std::vector<MatchRow>{
        // Extension masks.
        {"*.tmp", "A.TMP", true},
        {"*.tmp", "x.tmp", true},
        {"*.tmp", "x.tmpx", false},
        {"*.tmp", "x.tmp.bak", false},
        {"*.tmp", "x.tmp.tmp", true},
        {"*.~??", "f.~ab", true},
        {"*.~??", "F.~AB", true},
        {"*.~??", "f.~a", false},
        {"*.~??", "f.~abc", false},
        // Stars and question marks.
        {"*", "anything.at.all", true},
        {"*", "", true},
        {"*.*", "a.b", true},
        {"*.*", ".", true},
        {"*.*", "README", false},
        {"", "", true},
        {"", "a", false},
        // A "?" right after a star is dropped, so "a*?" is "a*".
        {"a*?", "a", true},
        {"*?", "", true},
        {"*?x", "x", true},
        // Elsewhere "?" is exactly one character and never the end of the name.
        {"a?", "a", false},
        {"a?", "ab", true},
        {"a?", "abc", false},
        {"?*", "a", true},
        {"?*", "", false},
        {"a**b", "ab", true},
        // "]", "!" and "-" outside a set, and ";", are plain characters.
        {"a]b!-", "A]B!-", true},
        {"!*", "x", false},
        {"*;*", "a;b", true},
        // Backtracking finds later places.
        {"*ab", "aab", true},
        {"*.tar.gz", "x.tar.tar.gz", true},
        {"*a*b*c", "cbacbacbc", true},
        {"*a*b*c", "cbacbacb", false},
        {"a*b?d*", "axxbxdbzd", true},
        // Only ascii letters fold case.
        {"ReadMe.TXT", "rEADmE.txt", true},
        // "{" and "[" differ by the same bit as "a" and "A"; they are no letters.
        {"{", "[", false},
        {"@", "`", false},
        // Latin-1 "é" and "É": no folding.
        {"\xE9.txt", "\xE9.TXT", true},
        {"\xE9.txt", "\xC9.txt", false},
        // UTF-8 "é" and "É" differ in their second byte.
        {"\xC3\xA9*", "\xC3\x89t\xC3\xA9", false},
        // Every byte is a character of its own: "é" in UTF-8 takes two "?".
        {"?.txt", "\xC3\xA9.txt", false},
        {"??.txt", "\xC3\xA9.txt", true},
        // Ranges and inversion.
        {"[a-c]*", "Beta", true},
        {"[a-c]*", "delta", false},
        {"[!a-c]*", "beta", false},
        {"[!a-c]*", "delta", true},
        {"[A-Z]", "q", true},
        // The previous member stays the start of the next range.
        {"[a-c-e]x", "dx", true},
        {"[a-c-e]x", "fx", false},
        {"[abx-z]", "Y", true},
        {"[abx-z]", "c", false},
        // Backward range holds only its start.
        {"[z-a]", "z", true},
        {"[z-a]", "Z", true},
        {"[z-a]", "a", false},
        {"[z-a]", "m", false},
        // Range end is taken whatever it is.
        // "]" ends the range "a-]" (A to "]"), the next "]" closes the set.
        {"[a-]]", "z", true},
        {"[a-]]", "\\", true},
        {"[a-]]", "]", true},
        {"[a-]]", "^", false},
        // A set member "!" after the first place is a plain member.
        {"[a!]", "!", true},
        // Sets never match the end of the name.
        {"a[!b]", "a", false},
        {"a[!b]", "ac", true},
        {"a[!b]", "ab", false},
        {"a[b]", "a", false},
        {"*[0-9]", "backup7", true},
        {"*[0-9]", "backup", false},
        {"*[!0-9]", "7x", true},
        {"*[!0-9]", "77", false},
        // Masks with one star compare from both ends.
        // The letter nearest the end decides first, folded only from a-z.
        {"*.~?k", "x.~AK", true},
        {"*.~?k", "x.~Ak.", false},
        {"*.~?k", "k", false},
        {"*.\xE9", "a.\xE9", true},
        {"*.\xE9", "a.\xC9", false},
        {"*{", "a[", false},
        // A name shorter than where that letter stands, or than the whole mask.
        {"*b??", "b?", false},
        {"a*.b", "a.", false},
        {"a*.b", "a.b", true},
        {"a*.b", "ab.b", true},
        {"A*.b", "b.b", false},
        // Without a star the length is fixed, so the letter counts from the end too.
        {"FILE????.CHK", "file0001.chk", true},
        {"FILE????.CHK", "file001.chk", false},
        {"FILE????.CHK", "xfile0001.chk", false},
        // A star at the end leaves nothing to count from the end.
        {"ab*", "AB", true},
        {"ab*", "ba", false},
        // A code 0 inside the mask stands for the end of the name, wherever it stands.
        {"a\0"s, "a", true},
        {"*a\0"s, "ba", true},
        {"*a\0"s, "ab", false},
    }));

struct ErrorRow
{
    std::string mask;
    // Empty when the mask compiles.
    std::string message;
};

class MaskErrors : public ::testing::TestWithParam<ErrorRow>
{
};

TEST_P(MaskErrors, AsTheRowSays)
{
    EXPECT_EQ(maskError(GetParam().mask), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, MaskErrors,
    ::testing::ValuesIn(std::vector<ErrorRow>{
        // Positions of the fault.
        {"[]", "'[]' is an invalid mask at (2)"},
        {"[!]", "'[!]' is an invalid mask at (3)"},
        {"[-a]", "'[-a]' is an invalid mask at (2)"},
        {"x[!-a]", "'x[!-a]' is an invalid mask at (4)"},
        {"[abc", "'[abc' is an invalid mask at (5)"},
        {"[a-]", "'[a-]' is an invalid mask at (5)"},
        {"[a-", "'[a-' is an invalid mask at (4)"},
        {"*.[!", "'*.[!' is an invalid mask at (5)"},
        // A "%d" in the mask is text, not a place for the number.
        {"%d[]", "'%d[]' is an invalid mask at (4)"},
        {"[a-c-e]x", ""},
        // At most thirty elements after a star.
        {repeated("*a", 30), ""},
        {repeated("*a", 31), "'" + repeated("*a", 31) + "' is an invalid mask at (62)"},
        {repeated("*a", 30) + "*", "'" + repeated("*a", 30) + "*' is an invalid mask at (62)"},
        // A set as the 31st is reported at its "]".
        {repeated("*a", 30) + "*[xy]",
         "'" + repeated("*a", 30) + "*[xy]' is an invalid mask at (65)"},
        // Elements without a star in front do not count; a dropped "?" is no element.
        {repeated("*ab", 30) + "c", ""},
        {repeated("*?a", 30), ""},
    }));

class MaskListSplit : public ::testing::TestWithParam<std::pair<std::string, std::size_t>>
{
};

// Only commas split a list.
TEST_P(MaskListSplit, IntoAsManyMasksAsTheRowSays)
{
    TMaskList list;
    ParseMaskList(list, GetParam().first);
    EXPECT_EQ(list.size(), GetParam().second) << GetParam().first;
}

INSTANTIATE_TEST_SUITE_P(Masks, MaskListSplit,
                         ::testing::ValuesIn(std::vector<std::pair<std::string, std::size_t>>{
                             {"*.bak, *.chk", 2},
                             {" *.bak ,*.chk ", 2},
                             {",*.bak", 1},
                             {"*.bak,", 1},
                             {"*.bak,,*.chk", 2},
                             {"*.bak, ,*.chk", 2},
                             {"*.bak;*.chk", 1},
                             {"", 0},
                             {"   ", 0},
                             {",, ,", 0},
                             {"a", 1},
                         }));

TEST(MaskMatching, ThirtyStarsMatchWithoutEndlessBacktracking)
{
    const TMask mask(repeated("*a", 30));
    EXPECT_TRUE(mask.Matches(std::string(200, 'a')));
    EXPECT_FALSE(mask.Matches(std::string(29, 'a')));
    // Every choice of 30 places among 200 fails here; walking them all would never end.
    EXPECT_FALSE(mask.Matches(std::string(200, 'a') + "b"));
    const TMask sets(repeated("*[a]", 29) + "*b");
    EXPECT_FALSE(sets.Matches(std::string(200, 'a')));
    EXPECT_TRUE(sets.Matches(std::string(200, 'a') + "b"));
}

namespace {

// A plain recursive matcher over the same small mask alphabet, for comparison.
struct Token
{
    char kind; // '*', '?', 'a' (literal), '[' (set), '!' (inverted set)
    std::string chars;
};

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool tokenAccepts(const Token& token, char c)
{
    const bool inSet = token.chars.find(upper(c)) != std::string::npos;
    switch (token.kind) {
    case '?':
        return true;
    case 'a':
        return upper(token.chars[0]) == upper(c);
    case '[':
        return inSet;
    default:
        return !inSet;
    }
}

bool reference(const std::vector<Token>& tokens, std::size_t t, const std::string& name,
               std::size_t n)
{
    if (t == tokens.size())
        return n == name.size();
    if (tokens[t].kind == '*') {
        for (std::size_t k = n; k <= name.size(); ++k)
            if (reference(tokens, t + 1, name, k))
                return true;
        return false;
    }
    return n < name.size() && tokenAccepts(tokens[t], name[n]) &&
           reference(tokens, t + 1, name, n + 1);
}

} // namespace

TEST(MaskMatching, AgreesWithAPlainRecursiveMatcher)
{
    std::mt19937 random(20240611);
    const std::vector<Token> alphabet = {{'*', ""},  {'?', ""},   {'a', "a"}, {'a', "B"},
                                         {'a', "."}, {'[', "AB"}, {'!', "A"}, {'*', ""}};
    const std::string nameChars = "aAbBc.";
    int matched = 0;
    for (int round = 0; round < 4000; ++round) {
        std::vector<Token> tokens;
        std::string maskText;
        const int length = static_cast<int>(random() % 7);
        for (int k = 0; k < length; ++k) {
            const Token& token = alphabet[random() % alphabet.size()];
            switch (token.kind) {
            case '*':
            case '?':
                maskText += token.kind;
                break;
            case 'a':
                maskText += token.chars;
                break;
            case '[':
                maskText += "[ab]";
                break;
            default:
                maskText += "[!a]";
                break;
            }
            // A "?" directly after a star is dropped when compiled; "**" is one star.
            const bool afterStar = !tokens.empty() && tokens.back().kind == '*';
            if (afterStar && (token.kind == '?' || token.kind == '*'))
                continue;
            tokens.push_back(token);
        }
        const TMask mask(maskText);
        for (int names = 0; names < 8; ++names) {
            std::string name;
            const int nameLength = static_cast<int>(random() % 8);
            for (int k = 0; k < nameLength; ++k)
                name += nameChars[random() % nameChars.size()];
            const bool expected = reference(tokens, 0, name, 0);
            matched += expected;
            ASSERT_EQ(mask.Matches(name), expected) << "mask " << maskText << " name " << name;
        }
    }
    // The sample must hold both answers in fair numbers to mean anything.
    EXPECT_GT(matched, 1000);
    EXPECT_LT(matched, 31000);
}

TEST(MaskList, ElementsAreTrimmedMasks)
{
    TMaskList list;
    ParseMaskList(list, " *.bak ,*.chk ");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(list[0]->FMask()->Matches("x.bak"));
    EXPECT_FALSE(list[0]->FMask()->Matches("x.bak "));
    EXPECT_TRUE(list[1]->FMask()->Matches("x.chk"));

    // Inner blanks stay; only blanks are trimmed, a tab is a character.
    TMaskList inner;
    ParseMaskList(inner, "my file.txt,*.log\t");
    ASSERT_EQ(inner.size(), 2u);
    EXPECT_TRUE(inner[0]->FMask()->Matches("MY FILE.TXT"));
    EXPECT_FALSE(inner[1]->FMask()->Matches("a.log"));
    EXPECT_TRUE(inner[1]->FMask()->Matches("a.log\t"));

    // The semicolon is part of the one mask.
    TMaskList single;
    ParseMaskList(single, "*.bak;*.chk");
    EXPECT_TRUE(MatchesAny(single, "a.bak;b.chk"));
    EXPECT_FALSE(MatchesAny(single, "a.bak"));
}

TEST(MaskList, InvalidElementReportsItsTrimmedText)
{
    TMaskList list;
    try {
        ParseMaskList(list, "*.bak,  [abc  , *.tmp");
        FAIL() << "no mask error";
    } catch (const EMaskException& error) {
        EXPECT_STREQ(error.what(), "'[abc' is an invalid mask at (5)");
    }
    // The masks before the invalid one were added; none after it.
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0]->FMask()->Matches("a.bak"));
}

TEST(MaskList, MatchesAnyTriesEveryMask)
{
    TMaskList list;
    EXPECT_FALSE(MatchesAny(list, "a.bak"));
    EXPECT_FALSE(MatchesAny(list, ""));
    ParseMaskList(list, "*.bak, *.chk, *.tmp, *.~??, *.ZIP");
    EXPECT_TRUE(MatchesAny(list, "a.bak"));
    EXPECT_TRUE(MatchesAny(list, "FILE0000.CHK"));
    EXPECT_TRUE(MatchesAny(list, "archive.zip"));
    EXPECT_TRUE(MatchesAny(list, "doc.~wr"));
    EXPECT_FALSE(MatchesAny(list, "doc.~w"));
    EXPECT_FALSE(MatchesAny(list, "notes.txt"));
}

TEST(MaskList, ElementsOfWildcardsAndDotsAloneWouldTakeEveryFile)
{
    const struct
    {
        const char* list;
        const char* every;
    } rows[] = {
        {"*", "*"},           {"*.*", "*.*"}, {"*.???", "*.???"}, {"??*", "??*"},
        {"[!~]*", "[!~]*"},   {".*", ".*"},   {"*?", "*?"},       {"*.bak,  * ", "*"},
        {"*.~??, *.ZIP", ""}, {"*.bak", ""},  {"a*", ""},         {"*.~??", ""},
        {"[x", ""},           {"", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(EveryNameMask(row.list), row.every) << row.list;
}
