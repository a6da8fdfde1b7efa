#include "widgets/Label3dB.h"

#include "PaintProbe.h"

#include <QFontMetrics>
#include <gtest/gtest.h>
#include <memory>

using namespace runtime;
using test::TestPalette;

namespace {

constexpr QRgb Aqua = 0xFF00FFFF;

// The bounding box of every pixel inside area that differs from the background.
QRect inkBounds(const QImage& image, const QRect& area, QRgb background)
{
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixel(x, y) != background)
                bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}

class Label3DBorderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        window->setAutoFillBackground(true);
        window->resize(220, 100);
        label = new TLabel3DBorder(window.get());
        label->setGeometry(10, 10, 120, 30);
        label->setColor(clAqua);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(13);
        label->setFont(font);
    }

    QImage render() { return test::renderChild(*window, *label); }
    QRect ink() { return inkBounds(render(), label->textRect(), Aqua); }
    int lineHeight() const { return QFontMetrics(label->font()).height(); }

    TestPalette palette;
    std::unique_ptr<QWidget> window;
    TLabel3DBorder* label = nullptr;
};

} // namespace

TEST_F(Label3DBorderTest, StartsAsAPlainLabelOfItsDefaultSize)
{
    TLabel3DBorder fresh;
    EXPECT_EQ(fresh.size(), QSize(84, 21));
    EXPECT_EQ(fresh.BorderStyle(), bsNone);
    EXPECT_EQ(fresh.HorisontalAlign(), haTop);
    EXPECT_EQ(fresh.Alignment(), taLeftJustify);
    EXPECT_TRUE(fresh.ShowAccelChar());
    EXPECT_FALSE(fresh.WordWrap());
    EXPECT_FALSE(fresh.Transparent());
    EXPECT_TRUE(fresh.ParentColor());
    EXPECT_TRUE(fresh.Enabled());
    EXPECT_EQ(fresh.focusPolicy(), Qt::NoFocus);
    fresh.setText(QStringLiteral("a long caption that does not fit in 84 pixels"));
    EXPECT_EQ(fresh.size(), QSize(84, 21));
    EXPECT_EQ(fresh.Caption(), fresh.text());
}

TEST_F(Label3DBorderTest, EachStyleDrawsItsFramesAndKeepsTheTextInPlace)
{
    struct Ring
    {
        QRgb first;
        QRgb second;
    };
    struct Expected
    {
        TBorderStyle style;
        Ring outer;
        Ring inner;
    };
    const Ring none{Aqua, Aqua};
    const Expected table[] = {
        {bsNone, none, none},
        {bsLight, {TestPalette::Shadow, TestPalette::Highlight}, none},
        {bsMedium, {0xFF000000, TestPalette::Highlight}, none},
        {bsHeavy, {TestPalette::Shadow, TestPalette::Highlight}, {0xFF000000, TestPalette::Face}},
        {bsFrame,
         {TestPalette::Shadow, TestPalette::Highlight},
         {TestPalette::Highlight, TestPalette::Shadow}},
        {bsRaisedFrame,
         {TestPalette::Highlight, TestPalette::Shadow},
         {TestPalette::Shadow, TestPalette::Highlight}},
    };
    label->setCaption(QStringLiteral("Hg"));
    const int w = label->width();
    const int h = label->height();
    QRect textAtNone;
    for (const Expected& row : table) {
        label->setBorderStyle(row.style);
        const QImage image = render();
        SCOPED_TRACE(int(row.style));
        for (int ring = 0; ring < 2; ++ring) {
            const Ring& colours = ring == 0 ? row.outer : row.inner;
            const int at = ring;
            EXPECT_EQ(image.pixel(w / 2, at), colours.first) << "top, ring " << ring;
            EXPECT_EQ(image.pixel(at, h / 2), colours.first) << "left, ring " << ring;
            EXPECT_EQ(image.pixel(at, at), colours.first) << "top-left, ring " << ring;
            EXPECT_EQ(image.pixel(w - 1 - at, h / 2), colours.second) << "right, ring " << ring;
            EXPECT_EQ(image.pixel(w / 2, h - 1 - at), colours.second) << "bottom, ring " << ring;
            // The second colour takes the top-right and bottom-left corners.
            EXPECT_EQ(image.pixel(w - 1 - at, at), colours.second) << "top-right, ring " << ring;
            EXPECT_EQ(image.pixel(at, h - 1 - at), colours.second) << "bottom-left, ring " << ring;
        }
        EXPECT_EQ(image.pixel(w / 2, 2), Aqua);
        EXPECT_EQ(image.pixel(w - 3, h / 2), Aqua);

        const QRect text = inkBounds(image, QRect(2, 2, w - 4, h - 4), Aqua);
        ASSERT_FALSE(text.isEmpty());
        EXPECT_GE(text.left(), 3);
        EXPECT_GE(text.top(), 3);
        if (row.style == bsNone)
            textAtNone = text;
        EXPECT_EQ(text, textAtNone);
    }
}

TEST_F(Label3DBorderTest, TextFollowsAlignmentAndPlacementOnOneLineUnlessAtTheTop)
{
    label->setGeometry(10, 10, 160, 70);
    label->setCaption(QStringLiteral("Mm"));
    EXPECT_LE(ink().left(), 4);
    label->setAlignment(taRightJustify);
    EXPECT_GE(ink().right(), 160 - 3 - 3);
    label->setAlignment(taCenter);
    EXPECT_NEAR(ink().center().x(), 80, 2);
    EXPECT_LE(ink().top(), 3 + lineHeight() / 2);
    label->setHorisontalAlign(haCenter);
    EXPECT_NEAR(ink().center().y(), 35, 3);
    label->setHorisontalAlign(haBottom);
    EXPECT_GE(ink().bottom(), 70 - 3 - lineHeight() / 2);

    // Line breaks, and word wrap, make more lines only at the top.
    label->setWordWrap(true);
    for (const char* caption : {"First\nSecond", "alpha beta gamma delta epsilon"}) {
        label->setCaption(QString::fromLatin1(caption));
        label->setHorisontalAlign(haTop);
        EXPECT_GT(ink().height(), lineHeight()) << caption;
        for (THorisontalAlign placement : {haCenter, haBottom}) {
            label->setHorisontalAlign(placement);
            EXPECT_LE(ink().height(), lineHeight()) << caption << " " << int(placement);
        }
    }
    label->setWordWrap(false);
    label->setHorisontalAlign(haTop);
    EXPECT_LE(ink().height(), lineHeight());
}

TEST_F(Label3DBorderTest, AmpersandsFollowShowAccelChar)
{
    const QFontMetrics metrics(label->font());
    label->setCaption(QStringLiteral("Save"));
    const QImage plain = render();
    label->setCaption(QStringLiteral("&Save"));
    const QImage marked = render();
    // Only an underline below the baseline tells the two apart.
    const int baseline = 3 + metrics.ascent();
    int differing = 0;
    for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x) {
            if (plain.pixel(x, y) != marked.pixel(x, y)) {
                ++differing;
                EXPECT_GE(y, baseline - 1) << x << "," << y;
            }
        }
    }
    EXPECT_GT(differing, 0);

    label->setShowAccelChar(false);
    EXPECT_GT(ink().width(), inkBounds(plain, label->textRect(), Aqua).width());

    label->setCaption(QStringLiteral("A&B"));
    const QImage literal = render();
    label->setShowAccelChar(true);
    label->setCaption(QStringLiteral("A&&B"));
    EXPECT_EQ(render(), literal);
}

TEST_F(Label3DBorderTest, DisabledTextIsDrawnOnceInGrey)
{
    label->setBorderStyle(bsHeavy);
    label->setCaption(QStringLiteral("Stopped"));
    const QRect enabled = ink();
    label->setEnabled(false);
    EXPECT_FALSE(label->Enabled());
    const QImage image = render();
    EXPECT_EQ(inkBounds(image, label->textRect(), Aqua), enabled);
    bool grey = false;
    const QRect area = label->textRect();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            grey = grey || pixel == TestPalette::Grey;
            EXPECT_NE(pixel, 0xFF000000u) << x << "," << y;
            EXPECT_NE(pixel, TestPalette::Highlight) << x << "," << y;
        }
    }
    EXPECT_TRUE(grey);
}

TEST_F(Label3DBorderTest, BackgroundIsOwnParentsOrNone)
{
    label->setBorderStyle(bsLight);
    const QPoint inside(60, 15);
    EXPECT_FALSE(label->ParentColor());
    EXPECT_EQ(render().pixel(inside), Aqua);

    label->setTransparent(true);
    QImage image = render();
    EXPECT_EQ(image.pixel(inside), TestPalette::Parent);
    EXPECT_EQ(image.pixel(60, 0), TestPalette::Shadow);
    EXPECT_EQ(image.pixel(119, 15), TestPalette::Highlight);
    label->setCaption(QStringLiteral("Hg"));
    EXPECT_FALSE(inkBounds(render(), label->textRect(), TestPalette::Parent).isEmpty());

    label->setTransparent(false);
    label->setParentColor(true);
    QPalette parentColours = window->palette();
    parentColours.setColor(QPalette::Window, QColor(200, 10, 10));
    window->setPalette(parentColours);
    EXPECT_EQ(render().pixel(inside), qRgb(200, 10, 10));
    label->setColor(clYellow);
    EXPECT_FALSE(label->ParentColor());
    EXPECT_EQ(render().pixel(inside), qRgb(255, 255, 0));
}

TEST_F(Label3DBorderTest, SettingTheCurrentValueDoesNotRepaint)
{
    test::PaintProbe probe(label);
    ASSERT_TRUE(test::showAndPaint(*window, probe));
    auto paintsAfter = [&](auto change) {
        probe.count = 0;
        change();
        test::settle();
        return probe.count;
    };
    EXPECT_EQ(paintsAfter([&] { label->setBorderStyle(bsNone); }), 0);
    EXPECT_GT(paintsAfter([&] { label->setBorderStyle(bsHeavy); }), 0);
    EXPECT_EQ(paintsAfter([&] { label->setBorderStyle(bsHeavy); }), 0);
    EXPECT_EQ(paintsAfter([&] { label->setHorisontalAlign(haTop); }), 0);
    EXPECT_GT(paintsAfter([&] { label->setHorisontalAlign(haCenter); }), 0);
    EXPECT_EQ(paintsAfter([&] { label->setHorisontalAlign(haCenter); }), 0);
    EXPECT_GT(paintsAfter([&] { label->setText(QStringLiteral("C:\\Temp")); }), 0);
    EXPECT_EQ(paintsAfter([&] { label->setText(QStringLiteral("C:\\Temp")); }), 0);
    EXPECT_EQ(paintsAfter([&] { label->setColor(clAqua); }), 0);
    EXPECT_EQ(paintsAfter([&] { label->setAlignment(taLeftJustify); }), 0);
}
