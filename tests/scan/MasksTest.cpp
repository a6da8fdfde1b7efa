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

TEST(MaskMatching, ExtensionMasks)
{
    EXPECT_TRUE(matches("*.tmp", "A.TMP"));
    EXPECT_TRUE(matches("*.tmp", "x.tmp"));
    EXPECT_FALSE(matches("*.tmp", "x.tmpx"));
    EXPECT_FALSE(matches("*.tmp", "x.tmp.bak"));
    EXPECT_TRUE(matches("*.tmp", "x.tmp.tmp"));

    EXPECT_TRUE(matches("*.~??", "f.~ab"));
    EXPECT_TRUE(matches("*.~??", "F.~AB"));
    EXPECT_FALSE(matches("*.~??", "f.~a"));
    EXPECT_FALSE(matches("*.~??", "f.~abc"));
}

TEST(MaskMatching, StarsAndQuestionMarks)
{
    EXPECT_TRUE(matches("*", "anything.at.all"));
    EXPECT_TRUE(matches("*", ""));
    EXPECT_TRUE(matches("*.*", "a.b"));
    EXPECT_TRUE(matches("*.*", "."));
    EXPECT_FALSE(matches("*.*", "README"));
    EXPECT_TRUE(matches("", ""));
    EXPECT_FALSE(matches("", "a"));

    // A "?" right after a star is dropped, so "a*?" is "a*".
    EXPECT_TRUE(matches("a*?", "a"));
    EXPECT_TRUE(matches("*?", ""));
    EXPECT_TRUE(matches("*?x", "x"));
    // Elsewhere "?" is exactly one character and never the end of the name.
    EXPECT_FALSE(matches("a?", "a"));
    EXPECT_TRUE(matches("a?", "ab"));
    EXPECT_FALSE(matches("a?", "abc"));
    EXPECT_TRUE(matches("?*", "a"));
    EXPECT_FALSE(matches("?*", ""));
    EXPECT_TRUE(matches("a**b", "ab"));
    // "]", "!" and "-" outside a set, and ";", are plain characters.
    EXPECT_TRUE(matches("a]b!-", "A]B!-"));
    EXPECT_FALSE(matches("!*", "x"));
    EXPECT_TRUE(matches("*;*", "a;b"));
}

TEST(MaskMatching, BacktrackingFindsLaterPlaces)
{
    EXPECT_TRUE(matches("*ab", "aab"));
    EXPECT_TRUE(matches("*.tar.gz", "x.tar.tar.gz"));
    EXPECT_TRUE(matches("*a*b*c", "cbacbacbc"));
    EXPECT_FALSE(matches("*a*b*c", "cbacbacb"));
    EXPECT_TRUE(matches("a*b?d*", "axxbxdbzd"));
}

TEST(MaskMatching, OnlyAsciiLettersFoldCase)
{
    EXPECT_TRUE(matches("ReadMe.TXT", "rEADmE.txt"));
    // "{" and "[" differ by the same bit as "a" and "A"; they are no letters.
    EXPECT_FALSE(matches("{", "["));
    EXPECT_FALSE(matches("@", "`"));
    // Latin-1 "é" and "É": no folding.
    EXPECT_TRUE(matches("\xE9.txt", "\xE9.TXT"));
    EXPECT_FALSE(matches("\xE9.txt", "\xC9.txt"));
    // UTF-8 "é" and "É" differ in their second byte.
    EXPECT_FALSE(matches("\xC3\xA9*", "\xC3\x89t\xC3\xA9"));
    // Every byte is a character of its own: "é" in UTF-8 takes two "?".
    EXPECT_FALSE(matches("?.txt", "\xC3\xA9.txt"));
    EXPECT_TRUE(matches("??.txt", "\xC3\xA9.txt"));
}

TEST(MaskMatching, MasksWithOneStarCompareFromBothEnds)
{
    using namespace std::string_literals;
    struct Case
    {
        std::string mask;
        std::string name;
        bool matches;
    };
    const Case cases[] = {
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
    };
    for (const Case& test : cases)
        EXPECT_EQ(matches(test.mask, test.name), test.matches)
            << "mask " << test.mask << " name " << test.name;
}

TEST(MaskSets, RangesAndInversion)
{
    EXPECT_TRUE(matches("[a-c]*", "Beta"));
    EXPECT_FALSE(matches("[a-c]*", "delta"));
    EXPECT_FALSE(matches("[!a-c]*", "beta"));
    EXPECT_TRUE(matches("[!a-c]*", "delta"));
    EXPECT_TRUE(matches("[A-Z]", "q"));
    // The previous member stays the start of the next range.
    EXPECT_TRUE(matches("[a-c-e]x", "dx"));
    EXPECT_FALSE(matches("[a-c-e]x", "fx"));
    EXPECT_TRUE(matches("[abx-z]", "Y"));
    EXPECT_FALSE(matches("[abx-z]", "c"));
}

TEST(MaskSets, BackwardRangeHoldsOnlyItsStart)
{
    EXPECT_TRUE(matches("[z-a]", "z"));
    EXPECT_TRUE(matches("[z-a]", "Z"));
    EXPECT_FALSE(matches("[z-a]", "a"));
    EXPECT_FALSE(matches("[z-a]", "m"));
}

TEST(MaskSets, RangeEndIsTakenWhateverItIs)
{
    // "]" ends the range "a-]" (A to "]"), the next "]" closes the set.
    EXPECT_TRUE(matches("[a-]]", "z"));
    EXPECT_TRUE(matches("[a-]]", "\\"));
    EXPECT_TRUE(matches("[a-]]", "]"));
    EXPECT_FALSE(matches("[a-]]", "^"));
    // A set member "!" after the first place is a plain member.
    EXPECT_TRUE(matches("[a!]", "!"));
}

TEST(MaskSets, SetsNeverMatchTheEndOfTheName)
{
    EXPECT_FALSE(matches("a[!b]", "a"));
    EXPECT_TRUE(matches("a[!b]", "ac"));
    EXPECT_FALSE(matches("a[!b]", "ab"));
    EXPECT_FALSE(matches("a[b]", "a"));
    EXPECT_TRUE(matches("*[0-9]", "backup7"));
    EXPECT_FALSE(matches("*[0-9]", "backup"));
    EXPECT_TRUE(matches("*[!0-9]", "7x"));
    EXPECT_FALSE(matches("*[!0-9]", "77"));
}

TEST(MaskErrors, PositionsOfTheFault)
{
    EXPECT_EQ(maskError("[]"), "'[]' is an invalid mask at (2)");
    EXPECT_EQ(maskError("[!]"), "'[!]' is an invalid mask at (3)");
    EXPECT_EQ(maskError("[-a]"), "'[-a]' is an invalid mask at (2)");
    EXPECT_EQ(maskError("x[!-a]"), "'x[!-a]' is an invalid mask at (4)");
    EXPECT_EQ(maskError("[abc"), "'[abc' is an invalid mask at (5)");
    EXPECT_EQ(maskError("[a-]"), "'[a-]' is an invalid mask at (5)");
    EXPECT_EQ(maskError("[a-"), "'[a-' is an invalid mask at (4)");
    EXPECT_EQ(maskError("*.[!"), "'*.[!' is an invalid mask at (5)");
    // A "%d" in the mask is text, not a place for the number.
    EXPECT_EQ(maskError("%d[]"), "'%d[]' is an invalid mask at (4)");
    EXPECT_EQ(maskError("[a-c-e]x"), "");
}

TEST(MaskErrors, AtMostThirtyElementsAfterAStar)
{
    EXPECT_EQ(maskError(repeated("*a", 30)), "");
    EXPECT_EQ(maskError(repeated("*a", 31)),
              "'" + repeated("*a", 31) + "' is an invalid mask at (62)");
    EXPECT_EQ(maskError(repeated("*a", 30) + "*"),
              "'" + repeated("*a", 30) + "*' is an invalid mask at (62)");
    // A set as the 31st is reported at its "]".
    EXPECT_EQ(maskError(repeated("*a", 30) + "*[xy]"),
              "'" + repeated("*a", 30) + "*[xy]' is an invalid mask at (65)");
    // Elements without a star in front do not count; a dropped "?" is no element.
    EXPECT_EQ(maskError(repeated("*ab", 30) + "c"), "");
    EXPECT_EQ(maskError(repeated("*?a", 30)), "");
}

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

TEST(MaskList, SplitsAtCommasOnly)
{
    const auto count = [](const std::string& text) {
        TMaskList list;
        ParseMaskList(list, text);
        return list.size();
    };
    EXPECT_EQ(count("*.bak, *.chk"), 2u);
    EXPECT_EQ(count(" *.bak ,*.chk "), 2u);
    EXPECT_EQ(count(",*.bak"), 1u);
    EXPECT_EQ(count("*.bak,"), 1u);
    EXPECT_EQ(count("*.bak,,*.chk"), 2u);
    EXPECT_EQ(count("*.bak, ,*.chk"), 2u);
    EXPECT_EQ(count("*.bak;*.chk"), 1u);
    EXPECT_EQ(count(""), 0u);
    EXPECT_EQ(count("   "), 0u);
    EXPECT_EQ(count(",, ,"), 0u);
    EXPECT_EQ(count("a"), 1u);
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
