#include "platform/core/KeyFile.h"
#include "platform/settings/ProfileDocument.h"

#include <gtest/gtest.h>

using platform::freedesktopSyntax;
using platform::KeyFileDocument;
using platform::ProfileDocument;

TEST(KeyFile, WrittenLinesFollowTheLineEndsOfTheText)
{
    struct Case
    {
        const char* what;
        std::string before, section, key, after;
    };
    const Case cases[] = {
        {"LF file, new key", "[A]\na=1\n", "A", "b", "[A]\na=1\nb=2\n"},
        {"LF file, new section after a last line without end", "[A]\na=1", "B", "b",
         "[A]\na=1\n[B]\nb=2\n"},
        {"CRLF file, new key", "[A]\r\na=1\r\n", "A", "b", "[A]\r\na=1\r\nb=2\r\n"},
        {"CR file, new key", "[A]\ra=1\r", "A", "b", "[A]\ra=1\rb=2\r"},
        {"new file", "", "A", "b", "[A]\r\nb=2\r\n"},
        {"no line end at all", "; note", "A", "b", "; note\r\n[A]\r\nb=2\r\n"},
        {"replaced last line without end", "[A]\r\nb=1", "A", "b", "[A]\r\nb=2"},
        {"replaced line keeps its own end", "[A]\nb=1\r\nc=1\n", "A", "b", "[A]\nb=2\r\nc=1\n"},
        {"the first end counts", "[A]\r\na=1\nc=1\n", "A", "b", "[A]\r\na=1\nc=1\nb=2\r\n"},
    };
    for (const Case& c : cases) {
        ProfileDocument document(c.before);
        document.setValue(c.section, c.key, "2");
        EXPECT_EQ(document.text(), c.after) << c.what;
    }
}

TEST(KeyFile, InsertionsKeepLaterGroupsApart)
{
    ProfileDocument document("[A]\r\na=1\r\n[B]\r\nb=1\r\n");
    document.setValue("C", "c", "1");
    for (const char* key : {"x", "y"})
        document.setValue("A", key, "1");
    document.setValue("B", "b", "2");
    document.setValue("B", "z", "3");
    document.setValue("C", "d", "4");
    EXPECT_EQ(document.value("b", "B"), "2");
    EXPECT_EQ(document.value("C", "d"), "4");
    EXPECT_EQ(document.value("A", "z"), std::nullopt);
    EXPECT_EQ(document.text(), "[A]\r\na=1\r\nx=1\r\ny=1\r\n[B]\r\nb=2\r\nz=3\r\n"
                               "[C]\r\nc=1\r\nd=4\r\n");
}

TEST(KeyFile, FreedesktopRules)
{
    const KeyFileDocument document(freedesktopSyntax, "# Exec=comment\n"
                                                      "[Desktop Entry]\n"
                                                      "Name = two words \n"
                                                      "name=lower\n"
                                                      " ; Key=semicolon\n"
                                                      "Exec=first\r\n"
                                                      "#Exec=commented\n"
                                                      "Exec=last\n"
                                                      "Cr=a\rb\n"
                                                      "[Desktop Entry] \n"
                                                      "Exec=under a header that is not one\n"
                                                      "[Other]\n"
                                                      "Exec=other\n"
                                                      "[Desktop Entry]\n"
                                                      "Type=Application\r");
    EXPECT_EQ(document.value("Desktop Entry", "Name"), "two words ");
    EXPECT_EQ(document.value("Desktop Entry", "name"), "lower");
    EXPECT_EQ(document.value("desktop entry", "Name"), std::nullopt);
    EXPECT_EQ(document.value("Desktop Entry", " ; Key"), "semicolon");
    EXPECT_EQ(document.value("Desktop Entry", "Exec"), "last");
    EXPECT_EQ(document.value("Desktop Entry", "Cr"), "a\rb");
    EXPECT_EQ(document.value("Desktop Entry", "Type"), "Application");
    EXPECT_EQ(document.value("Other", "Exec"), "other");
    EXPECT_FALSE(KeyFileDocument::isValidEntry(freedesktopSyntax, "G", "#k", "v"));
    EXPECT_TRUE(KeyFileDocument::isValidEntry(freedesktopSyntax, "G", ";k", "v"));
}

TEST(KeyFile, FreedesktopKeysGoAfterTheLastLineOfTheLastRepeat)
{
    KeyFileDocument document(freedesktopSyntax, "[G]\nk=1\n[H]\n[G]\nk=2\n# note\n\n[H]\n");
    document.setValue("G", "n", "3");
    document.setValue("G", "k", "4");
    EXPECT_EQ(document.text(), "[G]\nk=1\n[H]\n[G]\nk=4\n# note\nn=3\n\n[H]\n");
}

TEST(KeyFile, TrashInfoRoundTrip)
{
    KeyFileDocument written(freedesktopSyntax);
    written.setValue("Trash Info", "Path", "/home/u/a%20b.txt");
    written.setValue("Trash Info", "DeletionDate", "2026-12-08T19:05:00");
    EXPECT_EQ(written.text(),
              "[Trash Info]\nPath=/home/u/a%20b.txt\nDeletionDate=2026-12-08T19:05:00\n");
    const KeyFileDocument read(freedesktopSyntax, written.text());
    EXPECT_EQ(read.value("Trash Info", "Path"), "/home/u/a%20b.txt");
    EXPECT_EQ(read.value("Trash Info", "DeletionDate"), "2026-12-08T19:05:00");
}
