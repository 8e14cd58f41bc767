#include "res/Resources.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

// The application icon: a truck whose trailer carries a zipper, on a rounded teal tile. Drawn on
// a 256-unit grid and scaled to the requested size.
QImage DrawApplicationIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    p.setPen(Qt::NoPen);

    const QColor deep(0x1b, 0x4f, 0x66);
    QLinearGradient tile(0, 0, 0, 256);
    tile.setColorAt(0, QColor(0x34, 0x9a, 0xb3));
    tile.setColorAt(1, deep);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);

    // Trailer with a zipper along its side.
    p.setBrush(QColor(0xf6, 0xf3, 0xea));
    p.drawRoundedRect(QRectF(24, 68, 136, 100), 8, 8);
    p.setBrush(deep);
    p.drawRect(QRectF(36, 114, 112, 8));
    for (int i = 0; i < 7; ++i)
        p.drawRect(QRectF(38 + i * 16, i % 2 ? 122 : 106, 10, 8));

    // Cab.
    QPainterPath cab;
    cab.moveTo(168, 92);
    cab.lineTo(206, 92);
    cab.lineTo(232, 128);
    cab.lineTo(232, 168);
    cab.lineTo(168, 168);
    cab.closeSubpath();
    p.setBrush(QColor(0xf2, 0x9a, 0x2e));
    p.drawPath(cab);
    QPainterPath window;
    window.moveTo(178, 102);
    window.lineTo(202, 102);
    window.lineTo(220, 128);
    window.lineTo(178, 128);
    window.closeSubpath();
    p.setBrush(QColor(0xd4, 0xec, 0xf3));
    p.drawPath(window);

    // Chassis and wheels.
    p.setBrush(QColor(0x24, 0x24, 0x24));
    p.drawRect(QRectF(24, 168, 208, 12));
    for (int x : {62, 126, 202})
    {
        p.setBrush(QColor(0x24, 0x24, 0x24));
        p.drawEllipse(QPointF(x, 188), 22, 22);
        p.setBrush(QColor(0xc8, 0xc8, 0xc8));
        p.drawEllipse(QPointF(x, 188), 9, 9);
    }
    return image;
}
