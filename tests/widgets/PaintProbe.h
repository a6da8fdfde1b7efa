#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QWidget>

namespace test {

// Counts the paint events a widget receives.
class PaintProbe : public QObject
{
public:
    explicit PaintProbe(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// Lets every pending update be delivered.
inline void settle()
{
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

// Shows a window and waits until the probed widget has painted once.
inline bool showAndPaint(QWidget& window, PaintProbe& probe)
{
    window.show();
    QElapsedTimer timer;
    timer.start();
    while (probe.count == 0 && timer.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    settle();
    return probe.count > 0;
}

// The window painted into an image, cut to one child's bounds.
inline QImage renderChild(QWidget& window, const QWidget& child)
{
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    window.render(&image);
    return image.copy(child.geometry()).convertToFormat(QImage::Format_RGB32);
}

// The desktop colours the tests draw with, distinct from each other and from the
// backgrounds; the application's own palette is put back afterwards.
struct TestPalette
{
    static constexpr QRgb Face = 0xFF0A141E;      // 10, 20, 30
    static constexpr QRgb Shadow = 0xFF28323C;    // 40, 50, 60
    static constexpr QRgb Highlight = 0xFF46505A; // 70, 80, 90
    static constexpr QRgb Grey = 0xFF646E78;      // 100, 110, 120
    static constexpr QRgb Parent = 0xFFF0E6DC;    // 240, 230, 220
    static constexpr QRgb Text = 0xFF000000;

    TestPalette() : saved(QApplication::palette())
    {
        QPalette palette = saved;
        palette.setColor(QPalette::Button, QColor::fromRgb(Face));
        palette.setColor(QPalette::Dark, QColor::fromRgb(Shadow));
        palette.setColor(QPalette::Light, QColor::fromRgb(Highlight));
        palette.setColor(QPalette::Window, QColor::fromRgb(Parent));
        palette.setColor(QPalette::WindowText, QColor::fromRgb(Text));
        palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor::fromRgb(Grey));
        QApplication::setPalette(palette);
    }
    ~TestPalette() { QApplication::setPalette(saved); }
    TestPalette(const TestPalette&) = delete;
    TestPalette& operator=(const TestPalette&) = delete;

    QPalette saved;
};

} // namespace test
