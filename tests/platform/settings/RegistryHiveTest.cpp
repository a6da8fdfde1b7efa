#include "platform/settings/RegistryHive.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

const std::string softwareKey = "Software\\Vorlax";

std::string dword(std::uint32_t value)
{
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>(value >> (8 * i) & 0xff);
    return bytes;
}

RegistryHive reread(const RegistryHive& hive)
{
    return RegistryHive::fromText(hive.toText());
}

} // namespace

TEST(RegistryHive, EveryKindOfValueReadsBackExactly)
{
    struct Case
    {
        std::string name;
        std::uint32_t type;
        std::string data;
    };
    const std::vector<Case> cases = {
        {"Path", REG_SZ, "C:\\Program Files\\\"quoted\"\\"},
        {"", REG_SZ, "default value"},
        {"Empty", REG_SZ, ""},
        {"Name \"with\" quotes\\", REG_SZ, "x"},
        {"Lines", REG_SZ, "first\nsecond\r\n\ttab"},
        {"Utf8", REG_SZ,
         "Gr\xc3\xbc\xc3\x9f"
         "e \xe2\x82\xac"},
        {"Expand", REG_EXPAND_SZ, "%SystemRoot%\\x"},
        {"Count", REG_DWORD, dword(0xdeadbeef)},
        {"ShortDword", REG_DWORD, std::string("\x01\x02", 2)},
        {"Blob", REG_BINARY, std::string("\x00\xff\x10\n", 4)},
        {"EmptyBlob", REG_BINARY, ""},
        {"Multi", 7, std::string("a\0b\0\0", 5)},
        {"Nothing", REG_NONE, ""},
    };
    RegistryHive hive;
    for (const auto& c : cases)
        hive.setValue(HKEY_CURRENT_USER, softwareKey, c.name, c.type, c.data);

    const RegistryHive back = reread(hive);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto* value = back.value(HKEY_CURRENT_USER, softwareKey, c.name);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->name, c.name);
        EXPECT_EQ(value->type, c.type);
        EXPECT_EQ(value->data, c.data);
    }
    // A second round gives the same text: nothing drifts with every write.
    EXPECT_EQ(back.toText(), hive.toText());
}

TEST(RegistryHive, WritesTheTextAnImportToolExpects)
{
    RegistryHive hive;
    hive.setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "Dir", REG_SZ, "C:\\a \"b\"");
    hive.setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "", REG_SZ, "d");
    hive.setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "N", REG_DWORD, dword(42));
    hive.setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "B", REG_BINARY, "\x01\xab");
    hive.setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "E", REG_EXPAND_SZ, "%A%");
    hive.createKey(HKEY_CURRENT_USER, "Empty");
    EXPECT_EQ(hive.toText(), "REGEDIT4\n\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\n"
                             "\"Dir\"=\"C:\\\\a \\\"b\\\"\"\n"
                             "@=\"d\"\n"
                             "\"N\"=dword:0000002a\n"
                             "\"B\"=hex:01,ab\n"
                             "\"E\"=hex(2):25,41,25,00\n"
                             "\n"
                             "[HKEY_CURRENT_USER\\Empty]\n"
                             "\n");
}

TEST(RegistryHive, ReadsFilesWrittenByOtherTools)
{
    const std::string text = "REGEDIT4\r\n"
                             "\r\n"
                             "; a comment\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
                             "\"Long\"=hex:00,01,02,\\\r\n"
                             "  03,04\r\n"
                             "\"Flag\" = DWORD:0000FFFF\r\n"
                             "\"Broken\"=dword:nothex\r\n"
                             "\"Unterminated=\"x\r\n"
                             "\"Kept\"=\"yes\"\r\n"
                             "\"kept\"=\"later wins\"\r\n"
                             "[HKEY_CLASSES_ROOT\\.txt]\r\n"
                             "@=\"txtfile\"\r\n"
                             "[-HKEY_LOCAL_MACHINE\\Software\\Gone]\r\n"
                             "\"Orphan\"=\"ignored\"\r\n";
    const RegistryHive hive = RegistryHive::fromText(text);

    const auto* longValue = hive.value(HKEY_LOCAL_MACHINE, "SOFTWARE\\OTHER", "long");
    ASSERT_NE(longValue, nullptr);
    EXPECT_EQ(longValue->type, REG_BINARY);
    EXPECT_EQ(longValue->data, std::string("\x00\x01\x02\x03\x04", 5));
    const auto* flag = hive.value(HKEY_LOCAL_MACHINE, "Software\\Other", "Flag");
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(flag->data, dword(0xffff));
    EXPECT_EQ(hive.value(HKEY_LOCAL_MACHINE, "Software\\Other", "Broken"), nullptr);
    ASSERT_NE(hive.value(HKEY_LOCAL_MACHINE, "Software\\Other", "Kept"), nullptr);
    EXPECT_EQ(hive.value(HKEY_LOCAL_MACHINE, "Software\\Other", "Kept")->data, "later wins");
    EXPECT_FALSE(hive.keyExists(HKEY_LOCAL_MACHINE, "Software\\Gone"));

    // A root this program never uses still survives a rewrite.
    const std::string rewritten = hive.toText();
    EXPECT_NE(rewritten.find("[HKEY_CLASSES_ROOT\\.txt]\n@=\"txtfile\"\n"), std::string::npos);
    // What names no key is no value, but it is not thrown away either.
    EXPECT_NE(rewritten.find("[-HKEY_LOCAL_MACHINE\\Software\\Gone]\n\"Orphan\"=\"ignored\"\n"),
              std::string::npos);
}

TEST(RegistryHive, LinesItCannotReadSurviveARewriteInTheirPlace)
{
    const std::string text = "REGEDIT4\r\n"
                             "; made by hand\r\n"
                             "stray line before any key\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
                             "  ; about Flag\r\n"
                             "\"Flag\"=dword:00000001\r\n"
                             "\"Broken\"=dword:nothex\r\n"
                             "\"Wrapped\"=hex:zz,\\\r\n"
                             "  01\r\n"
                             "[-HKEY_LOCAL_MACHINE\\Software\\Gone]\r\n"
                             "\"Orphan\"=\"x\"\r\n"
                             "[unclosed\r\n"
                             "\"Lost\"=\"y\"\r\n";
    RegistryHive hive = RegistryHive::fromText(text);
    EXPECT_EQ(hive.value(HKEY_LOCAL_MACHINE, "Software\\Other", "Broken"), nullptr);
    EXPECT_EQ(hive.value(HKEY_LOCAL_MACHINE, "Software\\Other", "Wrapped"), nullptr);
    hive.setValue(HKEY_LOCAL_MACHINE, "Software\\Other", "Flag", REG_DWORD, dword(2));
    hive.setValue(HKEY_LOCAL_MACHINE, "Software\\Other", "New", REG_SZ, "n");

    const std::string expected = "REGEDIT4\n\n"
                                 "; made by hand\n"
                                 "stray line before any key\n"
                                 "\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
                                 "  ; about Flag\n"
                                 "\"Flag\"=dword:00000002\n"
                                 "\"Broken\"=dword:nothex\n"
                                 "\"Wrapped\"=hex:zz,\\\n"
                                 "  01\n"
                                 "\"New\"=\"n\"\n"
                                 "\n"
                                 "[-HKEY_LOCAL_MACHINE\\Software\\Gone]\n"
                                 "\"Orphan\"=\"x\"\n"
                                 "\n"
                                 "[unclosed\n"
                                 "\"Lost\"=\"y\"\n"
                                 "\n";
    EXPECT_EQ(hive.toText(), expected);
    // Kept lines do not pile up or move with every write.
    EXPECT_EQ(reread(hive).toText(), expected);
    EXPECT_TRUE(hive.removeValue(HKEY_LOCAL_MACHINE, "Software\\Other", "Flag"));
    EXPECT_NE(hive.toText().find("  ; about Flag\n\"Broken\""), std::string::npos);
}

TEST(RegistryHive, ASectionHeaderNeverContinuesAValue)
{
    const RegistryHive hive = RegistryHive::fromText("[HKEY_CURRENT_USER\\First]\n"
                                                     "\"Long\"=hex:01,02,\\\n"
                                                     "[HKEY_CURRENT_USER\\Second]\n"
                                                     "\"Name\"=\"v\"\n");
    const auto* first = hive.value(HKEY_CURRENT_USER, "First", "Long");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->data, "\x01\x02");
    EXPECT_NE(hive.value(HKEY_CURRENT_USER, "Second", "Name"), nullptr);
    EXPECT_EQ(hive.value(HKEY_CURRENT_USER, "First", "Name"), nullptr);
}

TEST(RegistryHive, KeysAndNamesIgnoreCaseButKeepTheirFirstSpelling)
{
    RegistryHive hive;
    hive.setValue(HKEY_CURRENT_USER, "Software\\Vorlax\\Options", "Mode", REG_SZ, "1");
    hive.setValue(HKEY_CURRENT_USER, "SOFTWARE\\vorlax\\options", "MODE", REG_DWORD, dword(2));

    EXPECT_TRUE(hive.keyExists(HKEY_CURRENT_USER, "software"));
    EXPECT_TRUE(hive.keyExists(HKEY_CURRENT_USER, "Software\\VORLAX"));
    EXPECT_FALSE(hive.keyExists(HKEY_CURRENT_USER, "Soft"));
    EXPECT_FALSE(hive.keyExists(HKEY_CURRENT_USER, "Software\\Vorlax\\Opt"));
    EXPECT_FALSE(hive.keyExists(HKEY_LOCAL_MACHINE, "Software"));

    const auto* value = hive.value(HKEY_CURRENT_USER, "software\\VORLAX\\Options", "mode");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->name, "Mode");
    EXPECT_EQ(value->type, REG_DWORD);
    EXPECT_EQ(hive.toText().find("SOFTWARE"), std::string::npos);

    EXPECT_FALSE(hive.createKey(HKEY_CURRENT_USER, "software\\vorlax\\OPTIONS"));
    EXPECT_TRUE(hive.removeValue(HKEY_CURRENT_USER, "Software\\Vorlax\\Options", "mode"));
    EXPECT_FALSE(hive.removeValue(HKEY_CURRENT_USER, "Software\\Vorlax\\Options", "mode"));
    // The key outlives its last value.
    EXPECT_TRUE(reread(hive).keyExists(HKEY_CURRENT_USER, "Software\\Vorlax\\Options"));
}

TEST(RegistryHive, ALoneContinuationMarkBeforeAnEmptyLineEndsNothing)
{
    const RegistryHive hive = RegistryHive::fromText("REGEDIT4\n\n"
                                                     "[HKEY_CURRENT_USER\\Software\\Vorlax]\n"
                                                     "\\\n"
                                                     "\n"
                                                     "\"After\"=\"still read\"\n"
                                                     "\\\n");
    const auto* after = hive.value(HKEY_CURRENT_USER, softwareKey, "After");
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->data, "still read");
}

TEST(RegistryHive, ALaterLineReplacesItsNameInKeysOfAnySizeAndInRepeatedSections)
{
    for (const int count : {3, 40}) {
        SCOPED_TRACE(count);
        std::string text = "[HKEY_CURRENT_USER\\Software\\Vorlax]\n";
        for (int k = 0; k < count; ++k)
            text += "\"Value" + std::to_string(k) + "\"=\"first\"\n";
        text += "[HKEY_CURRENT_USER\\Other]\n"
                "[HKEY_CURRENT_USER\\SOFTWARE\\vorlax]\n"
                "\"VALUE1\"=\"second\"\n"
                "\"Added\"=\"new\"\n";
        const RegistryHive hive = RegistryHive::fromText(text);
        const auto* replaced = hive.value(HKEY_CURRENT_USER, softwareKey, "value1");
        ASSERT_NE(replaced, nullptr);
        EXPECT_EQ(replaced->data, "second");
        ASSERT_NE(hive.value(HKEY_CURRENT_USER, softwareKey, "Added"), nullptr);
        // One key where it first stood, the value replaced in its place.
        const std::string rewritten = hive.toText();
        EXPECT_EQ(rewritten.find("[HKEY_CURRENT_USER\\Software\\Vorlax]\n\"Value0\""),
                  std::string("REGEDIT4\n\n").size());
        EXPECT_EQ(rewritten.find("SOFTWARE"), std::string::npos);
        EXPECT_EQ(rewritten.find("\"Value1\""), std::string::npos);
        EXPECT_NE(rewritten.find("\"VALUE1\"=\"second\"\n\"Value2\""), std::string::npos);
    }
}
