#include "widgets/Gradlabl.h"

#include "widgets/PaintDensity.h"

#include <QPainter>
#include <cstdint>
#include <cstdlib>

using namespace runtime;

namespace {

// Multiplies, then divides to the nearest whole number, halves away from zero; -1 for a
// zero divisor or a result that does not fit.
int mulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    std::int64_t product = static_cast<std::int64_t>(number) * numerator;
    std::int64_t divisor = denominator;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    const std::int64_t half = divisor / 2;
    const std::int64_t result =
        product >= 0 ? (product + half) / divisor : (product - half) / divisor;
    if (result > INT32_MAX || result < -INT32_MAX)
        return -1;
    return static_cast<int>(result);
}

// Bitwise operations over whole pixels of two images of one size and format.
void xorPixels(QImage& target, const QImage& source)
{
    for (int y = 0; y < target.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(target.scanLine(y));
        const auto* from = reinterpret_cast<const quint32*>(source.constScanLine(y));
        for (int x = 0; x < target.width(); ++x)
            line[x] ^= from[x];
    }
}

// The mask is monochrome: white keeps every bit, anything else clears them.
void andMask(QImage& target, const QImage& mask)
{
    const QRgb white = qRgb(255, 255, 255);
    for (int y = 0; y < target.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(target.scanLine(y));
        const auto* bits = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        for (int x = 0; x < target.width(); ++x) {
            if (bits[x] != white)
                line[x] = 0;
        }
    }
}

} // namespace

TGradLabel::TGradLabel(QWidget* owner) : QWidget(owner)
{
    setFocusPolicy(Qt::NoFocus);
    resize(120, 60);
    QFont face(QStringLiteral("Arial"));
    face.setPointSize(26);
    face.setBold(true);
    setFont(face);
    buildColorTable();
}

void TGradLabel::setCaption(const QString& value)
{
    if (value == m_caption)
        return;
    m_caption = value;
    update();
}

void TGradLabel::setBorderColor(TColor value)
{
    if (value == m_borderColor)
        return;
    m_borderColor = value;
    if (m_txType == TyBitmap || m_txType == TyOutline)
        update();
}

void TGradLabel::setShadow(bool value)
{
    if (value == m_shadow)
        return;
    m_shadow = value;
    update();
}

void TGradLabel::setShadowColor(TColor value)
{
    if (value == m_shadowColor)
        return;
    m_shadowColor = value;
    if (m_shadow)
        update();
}

void TGradLabel::setTexture(const QImage& value)
{
    m_texture = value.copy();
    update();
}

void TGradLabel::setStartColor(TColor value)
{
    if (value == m_startColor)
        return;
    m_startColor = value;
    buildColorTable();
    if (m_txType == TyHGradient || m_txType == TyVGradient)
        update();
}

void TGradLabel::setEndColor(TColor value)
{
    if (value == m_endColor)
        return;
    m_endColor = value;
    buildColorTable();
    if (m_txType == TyHGradient || m_txType == TyVGradient)
        update();
}

void TGradLabel::setTxType(TextureType value)
{
    if (value == m_txType)
        return;
    m_txType = value;
    update();
}

void TGradLabel::setShadowDeep(int value)
{
    if (value == m_shadowDeep || value < 0 || value >= 10)
        return;
    m_shadowDeep = value;
    if (m_shadow)
        update();
}

void TGradLabel::buildColorTable()
{
    // System colours are taken as they are now; a later change of the desktop's colours
    // shows with the next change of either colour.
    const TColor start = colorToRGB(m_startColor);
    const TColor end = colorToRGB(m_endColor);
    const int r1 = redOf(start), g1 = greenOf(start), b1 = blueOf(start);
    const int r2 = redOf(end), g2 = greenOf(end), b2 = blueOf(end);
    const int divisor = m_numberOfColors - 1;
    for (int i = 0; i < 256; ++i) {
        m_colorTable[static_cast<std::size_t>(i)] =
            rgb(r1 + mulDiv(i, r2 - r1, divisor), g1 + mulDiv(i, g2 - g1, divisor),
                b1 + mulDiv(i, b2 - b1, divisor));
    }
}

// Band i of the table runs from MulDiv(i, length, 255) to MulDiv(i + 1, length, 255)
// along the length; band 255 starts at the far edge and is clipped away.
QImage TGradLabel::gradient(const QSize& size, Qt::Orientation direction) const
{
    QImage bitmap(size, QImage::Format_ARGB32_Premultiplied);
    bitmap.fill(Qt::white);
    QPainter painter(&bitmap);
    const bool across = direction == Qt::Horizontal;
    const int length = across ? size.width() : size.height();
    for (int i = 0; i < 256; ++i) {
        const int from = mulDiv(i, length, 255);
        const int to = mulDiv(i + 1, length, 255);
        const QRect band = across ? QRect(from, 0, to - from, size.height())
                                  : QRect(0, from, size.width(), to - from);
        painter.fillRect(band, toQColor(m_colorTable[static_cast<std::size_t>(i)]));
    }
    return bitmap;
}

QImage TGradLabel::horizontalGradient(const QSize& size) const
{
    return gradient(size, Qt::Horizontal);
}

QImage TGradLabel::verticalGradient(const QSize& size) const
{
    return gradient(size, Qt::Vertical);
}

QFont TGradLabel::paintFont() const
{
    QFont face = font();
    face.setStyleStrategy(QFont::NoAntialias);
    face.setHintingPreference(QFont::PreferNoHinting);
    return face;
}

QRect TGradLabel::textBounds() const
{
    const QFontMetrics metrics(paintFont());
    return QRect(1, 1, metrics.horizontalAdvance(m_caption), metrics.height());
}

// Text placed by the top-left corner of its line, as the system's text output places it.
void TGradLabel::textOut(QPainter& canvas, int x, int y) const
{
    canvas.drawText(QPoint(x, y + canvas.fontMetrics().ascent()), m_caption);
}

void TGradLabel::outline(QPainter& canvas, int x, int y, TColor color) const
{
    const QPen fontColor = canvas.pen();
    canvas.setPen(toQColor(color));
    textOut(canvas, x + 1, y + 1);
    textOut(canvas, x - 1, y + 1);
    textOut(canvas, x - 1, y - 1);
    textOut(canvas, x + 1, y - 1);
    canvas.setPen(fontColor);
    textOut(canvas, x, y);
}

void TGradLabel::shadow(QPainter& canvas, int x, int y, int offset, TColor color) const
{
    const QPen fontColor = canvas.pen();
    canvas.setPen(toQColor(color));
    textOut(canvas, x + offset, y + offset);
    canvas.setPen(fontColor);
    textOut(canvas, x, y);
}

// The letters take the picture, stretched over the text's bounding box; everything around
// them keeps what was there. Background XOR picture, AND the letters' mask, XOR picture,
// all in the surface's own pixels, so a dense screen gets letters of its own density.
void TGradLabel::pictureFill(QPainter& canvas, const QImage& surface, int x, int y,
                             const QImage& picture) const
{
    const QFontMetrics metrics(canvas.font());
    const QSize size(metrics.horizontalAdvance(m_caption), metrics.height());
    if (size.isEmpty())
        return;
    const qreal ratio = surface.devicePixelRatio();
    const QSize pixels = (QSizeF(size) * ratio).toSize();

    QImage mask(pixels, QImage::Format_RGB32);
    mask.setDevicePixelRatio(ratio);
    mask.fill(Qt::white);
    {
        QPainter letters(&mask);
        letters.setFont(canvas.font());
        letters.setPen(Qt::black);
        letters.drawText(QPoint(0, metrics.ascent()), m_caption);
    }

    QImage work = surface.copy(QRect((QPointF(x, y) * ratio).toPoint(), pixels));
    // An empty picture stretches to nothing: the letters end up black.
    const QImage stretched =
        picture.isNull() ? QImage()
                         : picture.convertToFormat(work.format())
                               .scaled(pixels, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (!stretched.isNull())
        xorPixels(work, stretched);
    andMask(work, mask);
    if (!stretched.isNull())
        xorPixels(work, stretched);

    const auto mode = canvas.compositionMode();
    canvas.setCompositionMode(QPainter::CompositionMode_Source);
    canvas.drawImage(x, y, work);
    canvas.setCompositionMode(mode);
}

void TGradLabel::Paint(QPainter& canvas, const QImage& surface)
{
    const int x = 1;
    const int y = 1;
    canvas.setFont(paintFont());
    canvas.setPen(palette().color(QPalette::WindowText));
    if (m_shadow)
        shadow(canvas, x, y, m_shadowDeep, m_shadowColor);
    switch (m_txType) {
    case TyBitmap:
        outline(canvas, x, y, m_borderColor);
        pictureFill(canvas, surface, x, y, m_texture);
        break;
    // The control's size in the surface's pixels is the gradient's resolution.
    case TyHGradient:
        pictureFill(canvas, surface, x, y, horizontalGradient(surface.size()));
        break;
    case TyVGradient:
        pictureFill(canvas, surface, x, y, verticalGradient(surface.size()));
        break;
    case TyOutline:
        outline(canvas, x, y, m_borderColor);
        break;
    }
}

QImage TGradLabel::paintedLayer(qreal ratio)
{
    QImage surface((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    surface.setDevicePixelRatio(ratio);
    surface.fill(Qt::transparent);
    QPainter canvas(&surface);
    Paint(canvas, surface);
    return surface;
}

void TGradLabel::paintEvent(QPaintEvent*)
{
    // The control has no surface of its own: it paints on a clear layer laid over its
    // parent, so the picture fill can read back what is already drawn. The layer has the
    // density of what is really painted on: the window on its screen, or a grab's image.
    QPainter target(this);
    target.drawImage(0, 0, paintedLayer(paintedDensity(target, *this)));
}
