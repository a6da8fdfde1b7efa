#include "runtime/Colors.h"

#include <QApplication>
#include <gtest/gtest.h>

using namespace runtime;

namespace {

// Distinct colours for the roles the desktop's colours come from; the application's own
// palette is put back afterwards.
class ColorsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        saved = QApplication::palette();
        QPalette palette = saved;
        palette.setColor(QPalette::Button, QColor(1, 2, 3));
        palette.setColor(QPalette::Dark, QColor(4, 5, 6));
        palette.setColor(QPalette::Light, QColor(7, 8, 9));
        palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(10, 11, 12));
        palette.setColor(QPalette::Active, QPalette::Text, QColor(13, 14, 15));
        QApplication::setPalette(palette);
    }
    void TearDown() override { QApplication::setPalette(saved); }

    QPalette saved;
};

} // namespace

TEST_F(ColorsTest, PlainColoursAreBlueGreenRed)
{
    EXPECT_EQ(toQColor(clMaroon), QColor(128, 0, 0));
    EXPECT_EQ(toQColor(clNavy), QColor(0, 0, 128));
    EXPECT_EQ(toQColor(clGreen), QColor(0, 128, 0));
    EXPECT_EQ(toQColor(clPurple), QColor(128, 0, 128));
    EXPECT_EQ(toQColor(clAqua), QColor(0, 255, 255));
    EXPECT_EQ(toQColor(clBlack), QColor(0, 0, 0));
    EXPECT_EQ(colorToRGB(0x123456), 0x123456u);
    EXPECT_EQ(rgb(0x56, 0x34, 0x12), 0x123456u);
    EXPECT_EQ(fromQColor(QColor(0x56, 0x34, 0x12)), 0x123456u);
    // Only the three colour bytes count for a plain colour.
    EXPECT_EQ(colorToRGB(0x02123456), 0x123456u);
    // Channels wrap into their byte.
    EXPECT_EQ(rgb(-1, 256, 257), 0x0100FFu);
}

TEST_F(ColorsTest, SystemColoursComeFromTheCurrentPalette)
{
    EXPECT_TRUE(isSystemColor(clBtnShadow));
    EXPECT_FALSE(isSystemColor(clWhite));
    EXPECT_EQ(clBtnFace, 0x8000000Fu);
    EXPECT_EQ(clBtnShadow, 0x80000010u);
    EXPECT_EQ(clGrayText, 0x80000011u);
    EXPECT_EQ(clBtnHighlight, 0x80000014u);
    EXPECT_EQ(toQColor(clBtnFace), QColor(1, 2, 3));
    EXPECT_EQ(toQColor(clBtnShadow), QColor(4, 5, 6));
    EXPECT_EQ(toQColor(clBtnHighlight), QColor(7, 8, 9));
    EXPECT_EQ(toQColor(clGrayText), QColor(10, 11, 12));
    EXPECT_EQ(toQColor(clWindowText), QColor(13, 14, 15));
    EXPECT_EQ(colorToRGB(clBtnShadow), rgb(4, 5, 6));

    QPalette changed = QApplication::palette();
    changed.setColor(QPalette::Dark, QColor(90, 91, 92));
    QApplication::setPalette(changed);
    EXPECT_EQ(toQColor(clBtnShadow), QColor(90, 91, 92));

    QPalette own;
    own.setColor(QPalette::Button, QColor(200, 201, 202));
    EXPECT_EQ(toQColor(clBtnFace, own), QColor(200, 201, 202));
}

TEST_F(ColorsTest, UnknownSystemColoursAreBlack)
{
    for (TColor unknown : {SystemColor + 25, SystemColor + 31, SystemColor + 0x1234, 0xFFFFFFFFu})
        EXPECT_EQ(colorToRGB(unknown), clBlack) << std::hex << unknown;
    for (TColor index = 0; index <= 30; ++index)
        EXPECT_TRUE(toQColor(SystemColor + index).isValid()) << index;
}
