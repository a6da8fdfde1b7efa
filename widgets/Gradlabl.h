#pragma once

#include "runtime/Colors.h"

#include <QImage>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>

enum TextureType : std::uint8_t { TyBitmap, TyHGradient, TyVGradient, TyOutline };

// A caption painted in a large decorative style from the control's top-left corner: the
// letters filled with a gradient or a picture, outlined, with a drop shadow. It takes no
// focus, no keys and never sizes itself. Letters are drawn without smoothing, so they can
// serve as the exact mask of the picture fill, and without hinting, which at banner sizes
// can close the gap a face keeps between letters (a bold "1." became one bar). The layer
// it paints has the pixel density of what it is painted on.
class TGradLabel : public QWidget
{
    Q_OBJECT
public:
    static constexpr int BandCount = 255;

    explicit TGradLabel(QWidget* owner = nullptr);

    const QString& Caption() const { return m_caption; }
    void setCaption(const QString& value);
    runtime::TColor BorderColor() const { return m_borderColor; }
    void setBorderColor(runtime::TColor value);
    bool Shadow() const { return m_shadow; }
    void setShadow(bool value);
    runtime::TColor ShadowColor() const { return m_shadowColor; }
    void setShadowColor(runtime::TColor value);
    // A copy of the given picture; the caller keeps its own.
    const QImage& Texture() const { return m_texture; }
    void setTexture(const QImage& value);
    runtime::TColor StartColor() const { return m_startColor; }
    void setStartColor(runtime::TColor value);
    runtime::TColor EndColor() const { return m_endColor; }
    void setEndColor(runtime::TColor value);
    TextureType TxType() const { return m_txType; }
    void setTxType(TextureType value);
    // 0 to 9 pixels right and down; other values are ignored.
    int ShadowDeep() const { return m_shadowDeep; }
    void setShadowDeep(int value);

    // The gradient's colours as plain values: entry 0 is the start colour, entry 254 the
    // end colour, entry 255 lies beyond the drawn bands.
    const std::array<runtime::TColor, 256>& colorTable() const { return m_colorTable; }
    // The gradient bitmaps at a given size, left to right and top to bottom.
    QImage horizontalGradient(const QSize& size) const;
    QImage verticalGradient(const QSize& size) const;

    // The font the caption is painted with: the control's font, never smoothed or hinted.
    QFont paintFont() const;
    // The rectangle of the caption's text at (1, 1), as wide and high as the text.
    QRect textBounds() const;
    // What the control paints, on a clear layer of its size at a device pixel ratio.
    QImage paintedLayer(qreal ratio);

protected:
    void paintEvent(QPaintEvent* event) override;
    void Paint(QPainter& canvas, const QImage& surface);

private:
    void buildColorTable();
    QImage gradient(const QSize& size, Qt::Orientation direction) const;
    void textOut(QPainter& canvas, int x, int y) const;
    void outline(QPainter& canvas, int x, int y, runtime::TColor color) const;
    void shadow(QPainter& canvas, int x, int y, int offset, runtime::TColor color) const;
    void pictureFill(QPainter& canvas, const QImage& surface, int x, int y,
                     const QImage& picture) const;

    std::array<runtime::TColor, 256> m_colorTable{};
    QImage m_texture;
    runtime::TColor m_startColor = runtime::clMaroon;
    runtime::TColor m_endColor = runtime::clGreen;
    TextureType m_txType = TyHGradient;
    bool m_shadow = false;
    runtime::TColor m_shadowColor = runtime::clBtnShadow;
    runtime::TColor m_borderColor = runtime::clNavy;
    int m_numberOfColors = BandCount;
    int m_shadowDeep = 1;
    QString m_caption;
};
