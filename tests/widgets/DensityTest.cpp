#include "widgets/Gradlabl.h"
#include "widgets/RecycleBinPicture.h"

#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

// On a dense screen the banner's letters and the picture get pixels of their own; the
// bounds stay in the window's units.
TEST(PaintDensity, BannerAndPictureAreDrawnInTheScreensPixels)
{
    QWidget window;
    auto* banner = new TGradLabel(&window);
    banner->setGeometry(0, 0, 120, 21);
    banner->setCaption(QStringLiteral("VORLAX 1.2"));
    banner->setShadow(true);
    auto* picture = new RecycleBinPicture(&window);
    const std::pair<QWidget*, std::function<QImage(qreal)>> rows[] = {
        {banner, [&](qreal ratio) { return banner->paintedLayer(ratio); }},
        {picture, [&](qreal ratio) { return picture->picture(ratio); }},
    };
    for (const auto& [control, drawing] : rows) {
        SCOPED_TRACE(control->metaObject()->className());
        const QImage single = drawing(1).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QImage dense = drawing(2).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        EXPECT_EQ(dense.size(), control->size() * 2);
        EXPECT_EQ(dense.devicePixelRatio(), 2);
        // Drawn afresh, not the single-density drawing blown up.
        EXPECT_FALSE(dense == single.scaled(single.size() * 2));
        // And that is what a paint onto a device of that density shows.
        for (const QImage& expected : {single, dense}) {
            QImage painted(expected.size(), QImage::Format_ARGB32_Premultiplied);
            painted.setDevicePixelRatio(expected.devicePixelRatio());
            painted.fill(Qt::transparent);
            control->render(&painted, QPoint(), QRegion(), QWidget::DrawChildren);
            EXPECT_TRUE(painted == expected) << "at ratio " << expected.devicePixelRatio();
        }
    }
}
