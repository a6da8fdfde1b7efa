#include "widgets/Gradlabl.h"

#include "PaintProbe.h"

#include <QFontMetrics>
#include <gtest/gtest.h>
#include <memory>

using namespace runtime;
using test::TestPalette;

namespace {

constexpr QRgb White = 0xFFFFFFFF;

class GradLabelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        window->setAutoFillBackground(true);
        QPalette colours = window->palette();
        colours.setColor(QPalette::Window, Qt::white);
        window->setPalette(colours);
        window->resize(460, 90);
        label = new TGradLabel(window.get());
        label->setGeometry(10, 10, 200, 40);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(24);
        font.setBold(true);
        label->setFont(font);
        label->setCaption(QStringLiteral("WIDE 1.2"));
        // Band i has red i and nothing else, so a pixel names its band.
        label->setStartColor(clBlack);
        label->setEndColor(rgb(254, 0, 0));
    }

    QImage render() { return test::renderChild(*window, *label); }

    // Where the letters are: the caption in the label's font, unsmoothed and unhinted, its
    // line's top-left corner at (1, 1).
    QImage letters() const
    {
        QImage mask(label->size(), QImage::Format_RGB32);
        mask.fill(Qt::white);
        QPainter painter(&mask);
        const QFont font = label->paintFont();
        EXPECT_EQ(font.styleStrategy() & QFont::NoAntialias, QFont::NoAntialias);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(1, 1 + QFontMetrics(font).ascent()), label->Caption());
        return mask;
    }
    static bool isLetter(const QImage& mask, int x, int y)
    {
        return mask.rect().contains(x, y) && mask.pixel(x, y) != White;
    }
    static bool isBand(QRgb pixel) { return qGreen(pixel) == 0 && qBlue(pixel) == 0; }
    // Next to a letter on a diagonal, where the outline is drawn.
    static bool isOutline(const QImage& mask, int x, int y)
    {
        return isLetter(mask, x - 1, y - 1) || isLetter(mask, x + 1, y - 1) ||
               isLetter(mask, x - 1, y + 1) || isLetter(mask, x + 1, y + 1);
    }
    int textWidth() const { return label->textBounds().width(); }
    // Calls check(x, y, pixel) for each pixel, row by row, up to the first fatal failure.
    template <class Check> static void eachPixel(const QImage& image, Check check)
    {
        for (int y = 0; y < image.height() && !HasFatalFailure(); ++y)
            for (int x = 0; x < image.width() && !HasFatalFailure(); ++x)
                check(x, y, image.pixel(x, y));
    }

    TestPalette palette;
    std::unique_ptr<QWidget> window;
    TGradLabel* label = nullptr;
};

} // namespace

TEST_F(GradLabelTest, StartsWithItsDefaults)
{
    TGradLabel fresh;
    EXPECT_EQ(fresh.size(), QSize(120, 60));
    EXPECT_EQ(fresh.BorderColor(), clNavy);
    EXPECT_EQ(fresh.StartColor(), clMaroon);
    EXPECT_EQ(fresh.EndColor(), clGreen);
    EXPECT_EQ(fresh.TxType(), TyHGradient);
    EXPECT_FALSE(fresh.Shadow());
    EXPECT_EQ(fresh.ShadowColor(), 0x80000010u);
    EXPECT_EQ(fresh.ShadowDeep(), 1);
    EXPECT_EQ(fresh.font().family(), "Arial");
    EXPECT_EQ(fresh.font().pointSize(), 26);
    EXPECT_TRUE(fresh.font().bold());
    EXPECT_TRUE(fresh.Texture().isNull());
    EXPECT_TRUE(fresh.Caption().isEmpty());
    EXPECT_EQ(fresh.focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(fresh.colorTable()[0], clMaroon);
    EXPECT_EQ(fresh.colorTable()[254], clGreen);
}

TEST_F(GradLabelTest, ColourTableRoundsToNearestAndWrapsEachChannel)
{
    TGradLabel banner;
    banner.setStartColor(clNavy);
    banner.setEndColor(clPurple);
    EXPECT_EQ(banner.colorTable()[0], 0x800000u);
    EXPECT_EQ(banner.colorTable()[127], 0x800040u);
    EXPECT_EQ(banner.colorTable()[254], 0x800080u);
    // Past the last band: 255 * 128 / 254 = 128.50 rounds to 129.
    EXPECT_EQ(banner.colorTable()[255], 0x800081u);

    // Falling red: halves round away from zero, 200 - 0.5 and 200 - 1.5.
    banner.setStartColor(rgb(200, 255, 0));
    banner.setEndColor(rgb(73, 0, 255));
    const auto& table = banner.colorTable();
    EXPECT_EQ(redOf(table[1]), 199);
    EXPECT_EQ(redOf(table[3]), 198);
    EXPECT_EQ(redOf(table[127]), 136);
    EXPECT_EQ(table[254], rgb(73, 0, 255));
    // Entry 255 leaves the byte range on both sides and wraps.
    EXPECT_EQ(greenOf(table[255]), 255);
    EXPECT_EQ(blueOf(table[255]), 0);
    EXPECT_EQ(redOf(table[255]), 72);

    // System colours are resolved to what the desktop uses now.
    banner.setStartColor(clBtnShadow);
    EXPECT_EQ(banner.colorTable()[0], rgb(40, 50, 60));
}

TEST_F(GradLabelTest, GradientBitmapsLayTheBandsAcrossAndDown)
{
    const QImage across = label->horizontalGradient(QSize(510, 3));
    for (int x = 0; x < 510; ++x)
        ASSERT_EQ(qRed(across.pixel(x, 2)), x / 2) << x;
    const QImage down = label->verticalGradient(QSize(2, 255));
    for (int y = 0; y < 255; ++y)
        ASSERT_EQ(qRed(down.pixel(1, y)), y) << y;
}

TEST_F(GradLabelTest, LettersCarryTheGradientOverTheTextAndNothingElseChanges)
{
    // However wide the control, the text stays where it is and the gradient spans it,
    // first band to last.
    for (int controlWidth : {200, 440}) {
        SCOPED_TRACE(controlWidth);
        label->resize(controlWidth, 40);
        const QImage image = render();
        const QImage mask = letters();
        const int width = textWidth();
        int first = -1, last = -1, firstX = image.width(), lastX = -1;
        ASSERT_NO_FATAL_FAILURE(eachPixel(image, [&](int x, int y, QRgb pixel) {
            if (!isLetter(mask, x, y)) {
                ASSERT_EQ(pixel, White) << "background at " << x << "," << y;
                return;
            }
            ASSERT_TRUE(isBand(pixel)) << x << "," << y;
            EXPECT_NEAR(qRed(pixel), (x - 1 + 0.5) * 255 / width, 3) << x << "," << y;
            if (x < firstX) {
                firstX = x;
                first = qRed(pixel);
            }
            if (x > lastX) {
                lastX = x;
                last = qRed(pixel);
            }
        }));
        ASSERT_GE(lastX, 0);
        EXPECT_LE(first, 12);
        EXPECT_GE(last, 254 - 16);
    }
}

TEST_F(GradLabelTest, VerticalGradientRunsTopToBottom)
{
    label->setTxType(TyVGradient);
    const QImage image = render();
    const QImage mask = letters();
    const int height = label->textBounds().height();
    ASSERT_NO_FATAL_FAILURE(eachPixel(image, [&](int x, int y, QRgb pixel) {
        if (isLetter(mask, x, y))
            EXPECT_NEAR(qRed(pixel), (y - 1 + 0.5) * 255 / height, 7) << x << "," << y;
        else
            ASSERT_EQ(pixel, White) << x << "," << y;
    }));
}

TEST_F(GradLabelTest, ShadowLiesDeepPixelsRightAndDown)
{
    label->setShadow(true);
    for (int deep : {3, 1, 0}) {
        label->setShadowDeep(deep);
        const QImage image = render();
        const QImage mask = letters();
        int shadowPixels = 0;
        ASSERT_NO_FATAL_FAILURE(eachPixel(image, [&](int x, int y, QRgb pixel) {
            if (isLetter(mask, x, y)) {
                ASSERT_TRUE(isBand(pixel)) << deep << ": " << x << "," << y;
            } else if (isLetter(mask, x - deep, y - deep)) {
                ASSERT_EQ(pixel, TestPalette::Shadow) << deep << ": " << x << "," << y;
                ++shadowPixels;
            } else {
                ASSERT_EQ(pixel, White) << deep << ": " << x << "," << y;
            }
        }));
        if (deep > 0)
            EXPECT_GT(shadowPixels, 20) << deep;
        else
            EXPECT_EQ(shadowPixels, 0);
    }
}

TEST_F(GradLabelTest, OutlineRingsTheLettersInTheBorderColour)
{
    label->setTxType(TyOutline);
    label->setBorderColor(rgb(0, 200, 0));
    const QImage image = render();
    const QImage mask = letters();
    int ring = 0;
    ASSERT_NO_FATAL_FAILURE(eachPixel(image, [&](int x, int y, QRgb pixel) {
        const bool outline = isOutline(mask, x, y);
        if (isLetter(mask, x, y)) {
            ASSERT_EQ(pixel, TestPalette::Text) << x << "," << y;
        } else if (outline) {
            ASSERT_EQ(pixel, qRgb(0, 200, 0)) << x << "," << y;
            ++ring;
        } else {
            ASSERT_EQ(pixel, White) << x << "," << y;
        }
    }));
    EXPECT_GT(ring, 50);
}

TEST_F(GradLabelTest, PictureFillsTheLettersInsideTheirOutline)
{
    QImage picture(2, 1, QImage::Format_RGB32);
    picture.setPixel(0, 0, qRgb(255, 0, 0));
    picture.setPixel(1, 0, qRgb(0, 0, 255));
    label->setTxType(TyBitmap);
    label->setBorderColor(rgb(0, 200, 0));
    label->setTexture(picture);
    // The label keeps its own copy.
    picture.fill(Qt::yellow);
    EXPECT_EQ(label->Texture().pixel(0, 0), qRgb(255, 0, 0));

    const QImage image = render();
    const QImage mask = letters();
    const int middle = 1 + textWidth() / 2;
    int red = 0, blue = 0;
    ASSERT_NO_FATAL_FAILURE(eachPixel(image, [&](int x, int y, QRgb pixel) {
        const bool outline = isOutline(mask, x, y);
        if (isLetter(mask, x, y)) {
            // Either half of the picture, split in the middle of the text; the
            // column at the split may go either way.
            ASSERT_TRUE(pixel == qRgb(255, 0, 0) || pixel == qRgb(0, 0, 255)) << x;
            if (std::abs(x - middle) > 1) {
                ASSERT_EQ(pixel, x < middle ? qRgb(255, 0, 0) : qRgb(0, 0, 255)) << x << "," << y;
            }
            ++(pixel == qRgb(255, 0, 0) ? red : blue);
        } else if (outline) {
            ASSERT_EQ(pixel, qRgb(0, 200, 0)) << x << "," << y;
        } else {
            ASSERT_EQ(pixel, White) << x << "," << y;
        }
    }));
    EXPECT_GT(red, 20);
    EXPECT_GT(blue, 20);
}

TEST_F(GradLabelTest, ShadowDeepTakesOnlyZeroToNine)
{
    label->setShadowDeep(5);
    label->setShadowDeep(10);
    EXPECT_EQ(label->ShadowDeep(), 5);
    label->setShadowDeep(-1);
    EXPECT_EQ(label->ShadowDeep(), 5);
    label->setShadowDeep(0);
    EXPECT_EQ(label->ShadowDeep(), 0);
    label->setShadowDeep(9);
    EXPECT_EQ(label->ShadowDeep(), 9);
}

TEST_F(GradLabelTest, SettersRepaintOnlyWhenTheChangeShows)
{
    test::PaintProbe probe(label);
    ASSERT_TRUE(test::showAndPaint(*window, probe));
    auto paints = [&](auto change) {
        probe.count = 0;
        change();
        test::settle();
        return probe.count;
    };
    // A gradient without a shadow: the outline and shadow settings do not show.
    EXPECT_EQ(paints([&] { label->setBorderColor(clRed); }), 0);
    EXPECT_EQ(paints([&] { label->setShadowColor(clBlue); }), 0);
    EXPECT_EQ(paints([&] { label->setShadowDeep(4); }), 0);
    EXPECT_EQ(label->ShadowDeep(), 4);
    EXPECT_GT(paints([&] { label->setStartColor(clNavy); }), 0);
    EXPECT_GT(paints([&] { label->setEndColor(clPurple); }), 0);
    EXPECT_EQ(paints([&] { label->setEndColor(clPurple); }), 0);
    EXPECT_GT(paints([&] { label->setShadow(true); }), 0);
    EXPECT_EQ(paints([&] { label->setShadow(true); }), 0);
    EXPECT_GT(paints([&] { label->setShadowColor(clGreen); }), 0);
    EXPECT_GT(paints([&] { label->setShadowDeep(2); }), 0);
    EXPECT_EQ(paints([&] { label->setShadowDeep(12); }), 0);

    EXPECT_GT(paints([&] { label->setTxType(TyOutline); }), 0);
    EXPECT_GT(paints([&] { label->setBorderColor(clNavy); }), 0);
    EXPECT_EQ(paints([&] { label->setStartColor(clMaroon); }), 0);
    EXPECT_EQ(paints([&] { label->setTxType(TyOutline); }), 0);
    // The start colour chosen meanwhile is the gradient's when it returns.
    EXPECT_EQ(label->colorTable()[0], clMaroon);

    const QImage picture(4, 4, QImage::Format_RGB32);
    EXPECT_GT(paints([&] { label->setTexture(picture); }), 0);
    EXPECT_GT(paints([&] { label->setTexture(picture); }), 0);
    EXPECT_GT(paints([&] { label->setCaption(QStringLiteral("NEW")); }), 0);
    EXPECT_EQ(paints([&] { label->setCaption(QStringLiteral("NEW")); }), 0);
}
