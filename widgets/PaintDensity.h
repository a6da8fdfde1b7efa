#pragma once

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QWidget>

// The device pixel ratio of what a painter really paints on: the backing store of the
// window on its screen, or the image a grab renders into; the widget's own when unknown.
inline qreal paintedDensity(const QPainter& painter, const QWidget& widget)
{
    const QPaintEngine* engine = painter.paintEngine();
    const QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
    return device ? device->devicePixelRatio() : widget.devicePixelRatio();
}
