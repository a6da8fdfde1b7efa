#include "widgets/RecycleBinPicture.h"

#include "widgets/PaintDensity.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

// Everything is drawn on a 160 x 120 design grid and scaled, so the picture and the icons
// share one drawing.
namespace {

const QColor BinDark(24, 92, 58);
const QColor BinBody(44, 140, 86);
const QColor BinLight(110, 196, 140);
const QColor Paper(250, 250, 244);
const QColor PaperEdge(120, 120, 110);
const QColor Ink(150, 160, 175);

// Three chasing arrows round a centre.
void recycleArrows(QPainter& painter, QPointF centre, qreal radius, qreal width)
{
    painter.save();
    QPen pen(Qt::white, width, Qt::SolidLine, Qt::FlatCap);
    painter.setBrush(Qt::NoBrush);
    const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    for (int k = 0; k < 3; ++k) {
        const qreal start = 90 + 120 * k + 12;
        const qreal span = 78;
        painter.setPen(pen);
        painter.drawArc(circle, qRound(start * 16), qRound(span * 16));
        // The head points along the arc, where it ends.
        const qreal end = qDegreesToRadians(start + span);
        const QPointF tip(centre.x() + radius * std::cos(end), centre.y() - radius * std::sin(end));
        const QPointF along(-std::sin(end), -std::cos(end));
        const QPointF across(std::cos(end), -std::sin(end));
        const qreal head = width * 1.9;
        QPolygonF arrow;
        arrow << tip + along * head << tip + across * head * 0.9 - along * 0.2
              << tip - across * head * 0.9 - along * 0.2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawPolygon(arrow);
        painter.setBrush(Qt::NoBrush);
    }
    painter.restore();
}

// The bin, its mouth spanning left to right at the top.
void bin(QPainter& painter, qreal left, qreal top, qreal width, qreal height)
{
    const qreal taper = width * 0.09;
    const qreal rim = height * 0.12;
    QPainterPath body;
    body.moveTo(left + 2, top + rim * 0.5);
    body.lineTo(left + width - 2, top + rim * 0.5);
    body.lineTo(left + width - taper, top + height - 4);
    body.quadTo(left + width - taper, top + height, left + width - taper - 4, top + height);
    body.lineTo(left + taper + 4, top + height);
    body.quadTo(left + taper, top + height, left + taper, top + height - 4);
    body.closeSubpath();

    QLinearGradient shade(left, 0, left + width, 0);
    shade.setColorAt(0, BinBody.darker(115));
    shade.setColorAt(0.35, BinLight);
    shade.setColorAt(1, BinBody.darker(135));
    painter.setPen(QPen(BinDark, 1.5));
    painter.setBrush(shade);
    painter.drawPath(body);

    // Ribs down the front, either side of the arrows.
    painter.setPen(QPen(BinDark.lighter(115), 1.2));
    for (const qreal t : {1 / 6.0, 5 / 6.0}) {
        const qreal xTop = left + 2 + (width - 4) * t;
        const qreal xBottom = left + taper + (width - 2 * taper) * t;
        painter.drawLine(QPointF(xTop, top + rim + 2), QPointF(xBottom, top + height - 4));
    }

    // The rim, and the dark mouth behind it.
    painter.setPen(Qt::NoPen);
    painter.setBrush(BinDark.darker(160));
    painter.drawEllipse(QRectF(left + 3, top - rim * 0.1, width - 6, rim * 0.9));
    painter.setPen(QPen(BinDark, 1.5));
    painter.setBrush(BinBody);
    painter.drawRoundedRect(QRectF(left - 2, top + rim * 0.3, width + 4, rim * 0.7), 3, 3);

    recycleArrows(painter, QPointF(left + width / 2, top + height * 0.58), width * 0.19,
                  width * 0.055);
}

// A written page with a folded corner, turned by angle degrees about its centre.
void page(QPainter& painter, QPointF centre, qreal width, qreal angle)
{
    const qreal height = width * 1.3;
    const qreal fold = width * 0.3;
    painter.save();
    painter.translate(centre);
    painter.rotate(angle);
    QPolygonF sheet;
    sheet << QPointF(-width / 2, -height / 2) << QPointF(width / 2 - fold, -height / 2)
          << QPointF(width / 2, -height / 2 + fold) << QPointF(width / 2, height / 2)
          << QPointF(-width / 2, height / 2);
    painter.setPen(QPen(PaperEdge, 1));
    painter.setBrush(Paper);
    painter.drawPolygon(sheet);
    QPolygonF corner;
    corner << QPointF(width / 2 - fold, -height / 2)
           << QPointF(width / 2 - fold, -height / 2 + fold)
           << QPointF(width / 2, -height / 2 + fold);
    painter.setBrush(Paper.darker(115));
    painter.drawPolygon(corner);
    painter.setPen(QPen(Ink, 1.2));
    for (int line = 0; line < 4; ++line) {
        const qreal y = -height / 2 + fold + 3 + line * (height - fold - 6) / 4;
        const qreal right = line == 3 ? 0 : width / 2 - 3;
        painter.drawLine(QPointF(-width / 2 + 3, y), QPointF(right, y));
    }
    painter.restore();
}

// A crumpled ball of paper.
void paperBall(QPainter& painter, QPointF centre, qreal radius)
{
    painter.save();
    QRadialGradient light(centre - QPointF(radius * 0.4, radius * 0.4), radius * 1.6);
    light.setColorAt(0, Paper);
    light.setColorAt(1, Paper.darker(135));
    QPainterPath ball;
    for (int k = 0; k < 9; ++k) {
        const qreal a = qDegreesToRadians(k * 40.0);
        const qreal r = radius * (k % 2 ? 0.86 : 1.0);
        const QPointF point(centre.x() + r * std::cos(a), centre.y() + r * std::sin(a));
        if (k == 0)
            ball.moveTo(point);
        else
            ball.lineTo(point);
    }
    ball.closeSubpath();
    painter.setPen(QPen(PaperEdge, 1));
    painter.setBrush(light);
    painter.drawPath(ball);
    painter.setPen(QPen(PaperEdge.lighter(130), 0.9));
    painter.drawLine(centre + QPointF(-radius * 0.5, -radius * 0.2),
                     centre + QPointF(radius * 0.1, radius * 0.2));
    painter.drawLine(centre + QPointF(radius * 0.1, radius * 0.2),
                     centre + QPointF(radius * 0.5, -radius * 0.3));
    painter.drawLine(centre + QPointF(-radius * 0.2, radius * 0.6),
                     centre + QPointF(radius * 0.1, radius * 0.2));
    painter.restore();
}

// A flattened drink can.
void can(QPainter& painter, QPointF centre, qreal length, qreal angle)
{
    painter.save();
    painter.translate(centre);
    painter.rotate(angle);
    const qreal thick = length * 0.45;
    QLinearGradient metal(0, -thick / 2, 0, thick / 2);
    metal.setColorAt(0, QColor(230, 232, 236));
    metal.setColorAt(0.5, QColor(200, 60, 50));
    metal.setColorAt(1, QColor(140, 40, 36));
    painter.setPen(QPen(QColor(90, 30, 28), 1));
    painter.setBrush(metal);
    painter.drawRoundedRect(QRectF(-length / 2, -thick / 2, length, thick), 2.5, 2.5);
    painter.setBrush(QColor(210, 212, 216));
    painter.drawRect(QRectF(length / 2 - 3, -thick / 2 + 1, 3, thick - 2));
    painter.restore();
}

// Dashes showing where the rubbish flies from.
void trail(QPainter& painter, QPointF from, QPointF to)
{
    painter.save();
    QPen pen(QColor(120, 150, 180), 1.4, Qt::DashLine, Qt::RoundCap);
    pen.setDashPattern({2.5, 3});
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QPainterPath path(from);
    path.quadTo(QPointF((from.x() + to.x()) / 2, std::min(from.y(), to.y()) - 10), to);
    painter.drawPath(path);
    painter.restore();
}

} // namespace

QImage rubbishPicture(const QSize& size)
{
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size.width() / 160.0, size.height() / 120.0);

    QLinearGradient sky(0, 0, 0, 120);
    sky.setColorAt(0, QColor(206, 228, 244));
    sky.setColorAt(0.78, QColor(240, 246, 250));
    sky.setColorAt(0.78, QColor(214, 222, 206));
    sky.setColorAt(1, QColor(190, 202, 180));
    painter.fillRect(QRectF(0, 0, 160, 120), sky);

    // The bin's shadow on the floor.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 45));
    painter.drawEllipse(QRectF(66, 106, 80, 10));

    trail(painter, QPointF(14, 56), QPointF(44, 22));
    trail(painter, QPointF(30, 86), QPointF(70, 40));
    bin(painter, 70, 48, 68, 62);
    page(painter, QPointF(102, 36), 20, 24);
    paperBall(painter, QPointF(52, 24), 9);
    can(painter, QPointF(80, 38), 20, -35);
    return picture;
}

QImage programIcon(int size)
{
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    bin(painter, 12, 22, 40, 40);
    page(painter, QPointF(32, 13), 15, 18);
    return icon;
}

RecycleBinPicture::RecycleBinPicture(QWidget* parent) : QWidget(parent)
{
    resize(sizeHint());
}

const QImage& RecycleBinPicture::picture(qreal ratio)
{
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (m_picture.size() != pixels || m_picture.devicePixelRatio() != ratio) {
        m_picture = rubbishPicture(pixels);
        m_picture.setDevicePixelRatio(ratio);
    }
    return m_picture;
}

void RecycleBinPicture::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, picture(paintedDensity(painter, *this)));
}
