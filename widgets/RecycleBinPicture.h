#pragma once

#include <QImage>
#include <QSize>

// The main window's picture: rubbish dropping into a recycle bin, drawn for 160 x 120.
QImage rubbishPicture(const QSize& size = QSize(160, 120));

// The program's icon: the bin with a page going in, on a clear square.
QImage programIcon(int size);
