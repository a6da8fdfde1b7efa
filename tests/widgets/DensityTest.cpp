#include "widgets/Gradlabl.h"
#include "widgets/RecycleBinPicture.h"

#include <QWidget>
#include <gtest/gtest.h>

namespace {

// What a control paints into an image of the given pixel density, as on a screen of it.
QImage painted(QWidget& control, qreal ratio)
{
    QImage image((QSizeF(control.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    control.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace

// On a dense screen the banner's letters and the picture get pixels of their own; the
// bounds stay in the window's units.
TEST(PaintDensity, BannerAndPictureAreDrawnInTheScreensPixels)
{
    QWidget window;
    auto* banner = new TGradLabel(&window);
    banner->setGeometry(0, 0, 120, 21);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(19);
    font.setBold(true);
    banner->setFont(font);
    banner->setCaption(QStringLiteral("VORLAX 1.2"));
    banner->setShadow(true);
    auto* picture = new RecycleBinPicture(&window);
    picture->move(0, 30);
    EXPECT_EQ(picture->size(), QSize(160, 120));

    struct Row
    {
        QWidget* control;
        std::function<QImage(qreal)> drawing;
    };
    const Row rows[] = {
        {banner, [&](qreal ratio) { return banner->paintedLayer(ratio); }},
        {picture, [&](qreal ratio) { return picture->picture(ratio); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.control->metaObject()->className());
        const QImage single = row.drawing(1);
        const QImage dense = row.drawing(2);
        EXPECT_EQ(single.size(), row.control->size());
        EXPECT_EQ(dense.size(), row.control->size() * 2);
        EXPECT_EQ(dense.deviceIndependentSize(), QSizeF(row.control->size()));
        // Drawn afresh, not the single-density drawing blown up.
        EXPECT_FALSE(dense.convertToFormat(QImage::Format_ARGB32_Premultiplied) ==
                     single.scaled(single.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                         .convertToFormat(QImage::Format_ARGB32_Premultiplied));
        // And that is what a paint at each density shows.
        for (const qreal ratio : {1.0, 2.0}) {
            QImage expected =
                row.drawing(ratio).convertToFormat(QImage::Format_ARGB32_Premultiplied);
            expected.setDevicePixelRatio(ratio);
            EXPECT_TRUE(painted(*row.control, ratio) == expected) << "at ratio " << ratio;
        }
    }
}
