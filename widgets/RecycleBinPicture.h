#pragma once

#include <QImage>
#include <QSize>
#include <QWidget>

// The main window's picture: rubbish dropping into a recycle bin, drawn for 160 x 120.
QImage rubbishPicture(const QSize& size = QSize(160, 120));

// The program's icon: the bin with a page going in, on a clear square.
QImage programIcon(int size);

// The picture as a control of its own size, drawn afresh for the pixel density it is
// painted at, so a dense screen shows it sharp rather than scaled up.
class RecycleBinPicture : public QWidget
{
public:
    explicit RecycleBinPicture(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {160, 120}; }
    // The picture at the control's size, in pixels of the given device pixel ratio.
    const QImage& picture(qreal ratio);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
};
