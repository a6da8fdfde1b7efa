#include "runtime/IniFile.h"

#include "platform/core/Service.h"
#include "platform/settings/Profile.h"
#include "runtime/Errors.h"

#include "support/FakeProfile.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <cerrno>
#include <climits>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using runtime::IniFile;
using runtime::strToIntDef;

namespace {

TEST(StrToIntDef, ReadsDecimalWithBlanksAndSign)
{
    EXPECT_EQ(strToIntDef("2", -1), 2);
    EXPECT_EQ(strToIntDef(" 12", -1), 12);
    EXPECT_EQ(strToIntDef("\t 12", -1), 12);
    EXPECT_EQ(strToIntDef("+5", -1), 5);
    EXPECT_EQ(strToIntDef("-7", -1), -7);
    EXPECT_EQ(strToIntDef("007", -1), 7);
    EXPECT_EQ(strToIntDef("-0", -1), 0);
    EXPECT_EQ(strToIntDef("2147483647", -1), INT_MAX);
    EXPECT_EQ(strToIntDef("-2147483648", -1), INT_MIN);
}

TEST(StrToIntDef, ReadsDollarHexWrappingIntoTheSignedRange)
{
    EXPECT_EQ(strToIntDef("$1F", -1), 31);
    EXPECT_EQ(strToIntDef("$1f", -1), 31);
    EXPECT_EQ(strToIntDef("$FFFFFFFF", 0), -1);
    EXPECT_EQ(strToIntDef("$80000000", 0), INT_MIN);
    EXPECT_EQ(strToIntDef("$7FFFFFFF", 0), INT_MAX);
    EXPECT_EQ(strToIntDef("$000000001", 0), 1);
    EXPECT_EQ(strToIntDef("-$10", 0), -16);
    EXPECT_EQ(strToIntDef(" +$A", 0), 10);
}

TEST(StrToIntDef, GivesTheDefaultForAnythingThatDoesNotConvertWhole)
{
    for (const char* text :
         {"",    "   ",        "yes", "2147483648", "-2147483649", "99999999999", "12 ",
          "1 2", "1.5",        "+",   "-",          "+-1",         "$",           "-$",
          "$G",  "$100000000", "$1 ", "0x1",        "0x",          "x1",          "1e3"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(strToIntDef(text, 42), 42);
    }
}

class IniFileTest : public ::testing::Test
{
protected:
    void writeIni(const std::string& text) { test::Sandbox::writeFile(sandbox.iniPath(), text); }
    std::string readIni() { return test::Sandbox::readFile(sandbox.iniPath()); }

    test::Sandbox sandbox;
    IniFile file{"vorlax.ini"};
};

TEST_F(IniFileTest, ReadIntegerFollowsTheValueEncoding)
{
    writeIni("[Actions]\r\n"
             "hexOne=0x1\r\n"
             "hexUpper=0X1F\r\n"
             "hexAll=0xFFFFFFFF\r\n"
             "two=2\r\n"
             "zero=0\r\n"
             "yes=yes\r\n"
             "padded=  12  \r\n"
             "quoted=\"-7\"\r\n"
             "dollar=$1F\r\n"
             "prefixOnly=0x\r\n"
             "badHex=0xZZ\r\n"
             "signedHex=0x-1\r\n"
             "tooBig=2147483648\r\n"
             "empty=\r\n");
    const auto read = [&](const char* key) { return file.readInteger("Actions", key, 99); };
    EXPECT_EQ(read("hexOne"), 1);
    EXPECT_EQ(read("hexUpper"), 31);
    EXPECT_EQ(read("hexAll"), -1);
    EXPECT_EQ(read("two"), 2);
    EXPECT_EQ(read("zero"), 0);
    EXPECT_EQ(read("yes"), 99);
    EXPECT_EQ(read("padded"), 12);
    EXPECT_EQ(read("quoted"), -7);
    EXPECT_EQ(read("dollar"), 31);
    EXPECT_EQ(read("prefixOnly"), 99);
    EXPECT_EQ(read("badHex"), 99);
    EXPECT_EQ(read("signedHex"), 99);
    EXPECT_EQ(read("tooBig"), 99);
    EXPECT_EQ(read("empty"), 99);
    EXPECT_EQ(read("absent"), 99);
    EXPECT_EQ(file.readInteger("Nowhere", "two", 5), 5);
}

TEST_F(IniFileTest, ReadStringCutsAt1023Characters)
{
    const std::string exact(1023, 'a');
    writeIni("[S]\r\nexact=" + exact + "\r\nlonger=" + std::string(1024, 'b') +
             "\r\nlong=" + std::string(5000, 'c') + "\r\n");
    EXPECT_EQ(file.readString("S", "exact", ""), exact);
    EXPECT_EQ(file.readString("S", "longer", ""), std::string(1023, 'b'));
    EXPECT_EQ(file.readString("S", "long", ""), std::string(1023, 'c'));
    // The default passes through the same buffer.
    EXPECT_EQ(file.readString("S", "absent", std::string(2000, 'd')), std::string(1023, 'd'));
}

TEST_F(IniFileTest, ReadStringNeverCutsAUtf8SequenceInHalf)
{
    const std::string euro = "\xE2\x82\xAC";
    const std::string head(1021, 'a');
    writeIni("[S]\r\nsplit=" + head + euro + "tail\r\nfits=" + head + "\xC3\xA4" + "tail\r\n");
    // The euro sign would need bytes 1021 to 1023: it goes whole.
    EXPECT_EQ(file.readString("S", "split", ""), head);
    // A two-byte letter ending at byte 1022 stays.
    EXPECT_EQ(file.readString("S", "fits", ""), head + "\xC3\xA4");
}

TEST_F(IniFileTest, WritesAFreshFileInTheOrderOfWriting)
{
    for (int i = 0; i < 4; ++i)
        file.writeInteger("Drives", "Drive" + std::to_string(i), i == 0 ? 1 : 0);
    for (const char* key : {"RunScanDisk", "DelCHK", "DelTempFiles", "DelCache", "DelBAK", "DelTMP",
                            "DelUser1", "DelUser2"})
        file.writeInteger("Actions", key, 1);
    file.writeString("Actions", "Cache", "C:\\Cache Folder");
    file.writeString("User", "User1", "*.~??");
    file.writeString("User", "User2", "*.ZIP");
    file.writeInteger("Actions", "AutoStart", 0);
    for (int i = 1; i <= 4; ++i)
        file.writeInteger("Actions", "Frequency" + std::to_string(i), i == 3 ? 1 : 0);
    file.writeString("NextDate", "Date", "2001/03/05");

    EXPECT_EQ(readIni(), "[Drives]\r\nDrive0=1\r\nDrive1=0\r\nDrive2=0\r\nDrive3=0\r\n"
                         "[Actions]\r\nRunScanDisk=1\r\nDelCHK=1\r\nDelTempFiles=1\r\n"
                         "DelCache=1\r\nDelBAK=1\r\nDelTMP=1\r\nDelUser1=1\r\nDelUser2=1\r\n"
                         "Cache=C:\\Cache Folder\r\nAutoStart=0\r\nFrequency1=0\r\n"
                         "Frequency2=0\r\nFrequency3=1\r\nFrequency4=0\r\n"
                         "[User]\r\nUser1=*.~??\r\nUser2=*.ZIP\r\n"
                         "[NextDate]\r\nDate=2001/03/05\r\n");
    EXPECT_EQ(file.readString("actions", "cache", ""), "C:\\Cache Folder");
    EXPECT_EQ(file.readInteger("Actions", "Frequency3", 0), 1);
}

TEST_F(IniFileTest, WriteIntegerWritesDecimalText)
{
    file.writeInteger("S", "neg", -7);
    file.writeInteger("S", "min", INT_MIN);
    file.writeInteger("S", "max", INT_MAX);
    EXPECT_EQ(readIni(), "[S]\r\nneg=-7\r\nmin=-2147483648\r\nmax=2147483647\r\n");
    EXPECT_EQ(file.readInteger("S", "min", 0), INT_MIN);
}

TEST_F(IniFileTest, RefusedWriteThrowsWithTheBareFileName)
{
    fs::create_directory(sandbox.iniPath());
    try {
        file.writeInteger("Drives", "Drive0", 1);
        ADD_FAILURE() << "no error for a directory in place of the file";
    } catch (const runtime::IniFileError& error) {
        EXPECT_STREQ(error.what(), "Unable to write to vorlax.ini");
    }
    EXPECT_TRUE(fs::is_directory(sandbox.iniPath()));
    EXPECT_TRUE(fs::is_empty(sandbox.iniPath()));
}

TEST_F(IniFileTest, RefusedWriteLeavesTheOldContent)
{
    const std::string blocker = sandbox.root() + "/plain-file";
    test::Sandbox::writeFile(blocker, "unchanged");
    writeIni("[User]\r\nUser1=*.OLD\r\n");
    sandbox.setEnv("VORLAX_WINDIR", blocker + "/windir");
    EXPECT_THROW(file.writeString("User", "User1", "*.NEW"), runtime::IniFileError);
    EXPECT_EQ(test::Sandbox::readFile(blocker), "unchanged");

    sandbox.setEnv("VORLAX_WINDIR", sandbox.windir());
    EXPECT_EQ(readIni(), "[User]\r\nUser1=*.OLD\r\n");
    file.writeString("User", "User1", "*.NEW");
    EXPECT_EQ(file.readString("User", "User1", ""), "*.NEW");
}

TEST_F(IniFileTest, AnyRefusalOfThePlatformBecomesTheError)
{
    test::ScopedFake<test::FakeProfile> refusing;
    refusing.exists = true;
    IniFile other("other.ini");
    EXPECT_EQ(other.fileName(), "other.ini");
    try {
        other.writeInteger("S", "k", -12);
        ADD_FAILURE() << "a refused write passed silently";
    } catch (const runtime::IniFileError& error) {
        EXPECT_STREQ(error.what(), "Unable to write to other.ini");
    }
    EXPECT_EQ(refusing.written, std::vector<std::string>{"S/k=-12 in other.ini"});
    EXPECT_TRUE(other.exists());
    EXPECT_EQ(refusing.asked, std::vector<std::string>{"other.ini"});
}

TEST_F(IniFileTest, ExistsWhereItIsReadAndWritten)
{
    EXPECT_FALSE(file.exists());
    file.writeString("User", "User1", "*.A");
    EXPECT_TRUE(file.exists());
    EXPECT_FALSE(IniFile("other.ini").exists());

    // Another Windows directory: the check moves with the reads and writes.
    sandbox.setEnv("VORLAX_WINDIR", sandbox.root() + "/elsewhere");
    EXPECT_FALSE(file.exists());
    EXPECT_EQ(file.readString("User", "User1", "none"), "none");
    file.writeString("User", "User1", "*.B");
    EXPECT_TRUE(file.exists());
    EXPECT_TRUE(test::Sandbox::exists(sandbox.root() + "/elsewhere/vorlax.ini"));
}

} // namespace
