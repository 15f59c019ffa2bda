// The three cursors of the preview control, drawn as two-colour 32 x 32
// cursors: black outlines, white insides, transparent around.
#include "preview/RaduZovovaz.h"

#include <QBitmap>
#include <QCursor>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kSize = 32;

// Draws |shape| into a cursor: filled white, outlined black; |marks| are
// drawn black on top.
QCursor makeCursor(const QPainterPath &shape, const QPainterPath &marks, qreal markWidth, QPoint hotSpot)
{
    QBitmap bits(kSize, kSize); // 1: black, 0: white
    QBitmap mask(kSize, kSize); // 1: drawn, 0: transparent
    bits.fill(Qt::color0);
    mask.fill(Qt::color0);
    {
        QPainter m(&mask);
        m.setPen(QPen(Qt::color1, 1));
        m.setBrush(Qt::color1);
        m.drawPath(shape);
        m.setPen(QPen(Qt::color1, markWidth, Qt::SolidLine, Qt::FlatCap));
        m.setBrush(Qt::NoBrush);
        m.drawPath(marks);
    }
    {
        QPainter b(&bits);
        b.setPen(QPen(Qt::color1, 1));
        b.setBrush(Qt::NoBrush);
        b.drawPath(shape);
        b.setPen(QPen(Qt::color1, markWidth, Qt::SolidLine, Qt::FlatCap));
        b.drawPath(marks);
    }
    return QCursor(bits, mask, hotSpot.x(), hotSpot.y());
}

QCursor openHand()
{
    QPainterPath hand;
    hand.setFillRule(Qt::WindingFill);
    // Four fingers standing up, the middle ones longest.
    hand.addRoundedRect(QRectF(6.5, 7.5, 4, 12), 2, 2);
    hand.addRoundedRect(QRectF(10.5, 3.5, 4, 15), 2, 2);
    hand.addRoundedRect(QRectF(14.5, 3.5, 4, 15), 2, 2);
    hand.addRoundedRect(QRectF(18.5, 6.5, 4, 13), 2, 2);
    // The palm, and the thumb reaching out to the left.
    hand.addRoundedRect(QRectF(6.5, 14.5, 16, 12), 5, 5);
    QPainterPath thumb;
    thumb.moveTo(7, 24);
    thumb.lineTo(2.5, 17.5);
    thumb.quadTo(2.5, 14.5, 5, 15.5);
    thumb.lineTo(9, 20);
    thumb.closeSubpath();
    hand = hand.united(thumb).simplified();
    // Lines between the fingers.
    QPainterPath marks;
    for (qreal x : {10.5, 14.5, 18.5}) {
        marks.moveTo(x, 10);
        marks.lineTo(x, 17);
    }
    return makeCursor(hand, marks, 1, QPoint(9, 9));
}

QCursor magnifier(bool plus)
{
    QPainterPath glass;
    glass.setFillRule(Qt::WindingFill);
    glass.addEllipse(QPointF(10.5, 9.5), 8, 8);
    QPainterPath handle;
    handle.moveTo(15.5, 16.5);
    handle.lineTo(25, 26);
    handle.lineTo(27.5, 23.5);
    handle.lineTo(18, 14);
    handle.closeSubpath();
    glass = glass.united(handle).simplified();
    QPainterPath marks;
    marks.moveTo(6, 9.5);
    marks.lineTo(15, 9.5);
    if (plus) {
        marks.moveTo(10.5, 5);
        marks.lineTo(10.5, 14);
    }
    return makeCursor(glass, marks, 2, QPoint(6, 5));
}

} // namespace

QCursor LoadPreviewCursor(const QString &Name)
{
    if (Name == QLatin1String("CR_HANDDRAG"))
        return openHand();
    if (Name == QLatin1String("CR_ZOOMIN"))
        return magnifier(true);
    if (Name == QLatin1String("CR_ZOOMOUT"))
        return magnifier(false);
    return QCursor(Qt::ArrowCursor);
}
