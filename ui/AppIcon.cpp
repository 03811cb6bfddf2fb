#include "AppIcon.h"

#include <QPainter>
#include <QPainterPath>

QPixmap AppEmblem(int Size) {
    QPixmap Pixmap(Size, Size);
    Pixmap.fill(Qt::transparent);
    QPainter P(&Pixmap);
    P.setRenderHint(QPainter::Antialiasing);
    P.scale(Size / 48.0, Size / 48.0);

    QLinearGradient Fill(0, 0, 0, 48);
    Fill.setColorAt(0, QColor(0x3b, 0x8e, 0xea));
    Fill.setColorAt(1, QColor(0x1a, 0x4f, 0xa3));
    P.setPen(Qt::NoPen);
    P.setBrush(Fill);
    P.drawRoundedRect(QRectF(2, 2, 44, 44), 9, 9);

    // A beamed pair of eighth notes.
    P.setBrush(Qt::white);
    P.drawEllipse(QRectF(11, 30, 10, 8));
    P.drawEllipse(QRectF(27, 27, 10, 8));
    P.drawRect(QRectF(18.5, 12, 2.5, 22));
    P.drawRect(QRectF(34.5, 9, 2.5, 22));
    QPainterPath Beam;
    Beam.moveTo(18.5, 12);
    Beam.lineTo(37, 9);
    Beam.lineTo(37, 14);
    Beam.lineTo(18.5, 17);
    Beam.closeSubpath();
    P.drawPath(Beam);
    return Pixmap;
}

QIcon AppIcon() {
    QIcon Icon;
    for (int Size : {16, 24, 32, 48, 64, 128})
        Icon.addPixmap(AppEmblem(Size));
    return Icon;
}

QPixmap AllowPicture(bool Allowed) {
    QPixmap Pixmap(AllowPictureSize, AllowPictureSize);
    Pixmap.fill(Qt::transparent);
    QPainter P(&Pixmap);
    P.setRenderHint(QPainter::Antialiasing);
    P.setPen(QPen(Allowed ? QColor(0x1e, 0x7b, 0x34) : QColor(0x9f, 0x1c, 0x1c), 1));
    P.setBrush(Allowed ? QColor(0x3c, 0xb3, 0x4f) : QColor(0xd9, 0x3a, 0x3a));
    P.drawEllipse(QRectF(1.5, 1.5, 15, 15));
    P.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    P.setBrush(Qt::NoBrush);
    if (Allowed)
        P.drawPolyline(QPolygonF({QPointF(5.2, 9.2), QPointF(7.8, 11.8), QPointF(12.8, 6.4)}));
    else
        P.drawLine(QPointF(5, 9), QPointF(13, 9));
    return Pixmap;
}
