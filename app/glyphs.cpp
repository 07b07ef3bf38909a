#include "app/glyphs.h"

#include <QPainter>
#include <QPainterPath>

namespace {

QPixmap Blank(int width, int height)
{
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void Antialiased(QPainter& painter)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
}

} // namespace

QPixmap OpenGlyph()
{
    QPixmap pixmap = Blank(32, 32);
    QPainter p(&pixmap);
    Antialiased(p);
    // Folder back with its tab.
    QPainterPath back;
    back.moveTo(2, 8);
    back.lineTo(11, 8);
    back.lineTo(13, 11);
    back.lineTo(28, 11);
    back.lineTo(28, 27);
    back.lineTo(2, 27);
    back.closeSubpath();
    p.setPen(QPen(QColor(150, 110, 20), 1));
    p.setBrush(QColor(230, 180, 60));
    p.drawPath(back);
    // The picture sticking out of the folder: sky, sun and a hill.
    const QRect photo(8, 4, 19, 15);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(QColor(170, 215, 250));
    p.drawRect(photo);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 210, 40));
    p.drawEllipse(QPointF(22, 8.5), 2.5, 2.5);
    QPainterPath hill;
    hill.moveTo(8.5, 19);
    hill.lineTo(14, 11);
    hill.lineTo(18, 15);
    hill.lineTo(21, 12);
    hill.lineTo(26.5, 19);
    hill.closeSubpath();
    p.setBrush(QColor(60, 150, 60));
    p.drawPath(hill);
    // Folder front, tilted open.
    QPainterPath front;
    front.moveTo(5, 15);
    front.lineTo(31, 15);
    front.lineTo(27, 27);
    front.lineTo(1, 27);
    front.closeSubpath();
    p.setPen(QPen(QColor(150, 110, 20), 1));
    p.setBrush(QColor(250, 205, 90));
    p.drawPath(front);
    return pixmap;
}

QPixmap HelpGlyph()
{
    QPixmap pixmap = Blank(32, 32);
    QPainter p(&pixmap);
    Antialiased(p);
    // Speech bubble with a tail at the lower left.
    QPainterPath bubble;
    bubble.addEllipse(QRectF(3, 2, 26, 22));
    QPainterPath tail;
    tail.moveTo(8, 19);
    tail.lineTo(5, 30);
    tail.lineTo(15, 22);
    tail.closeSubpath();
    bubble = bubble.united(tail);
    p.setPen(QPen(QColor(20, 60, 140), 1.5));
    p.setBrush(QColor(60, 120, 210));
    p.drawPath(bubble);
    // The letter i.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 7.5), 2.2, 2.2);
    p.drawRoundedRect(QRectF(14, 11, 4, 10), 1, 1);
    return pixmap;
}

QPixmap CloseGlyph()
{
    QPixmap pixmap = Blank(32, 32);
    QPainter p(&pixmap);
    Antialiased(p);
    p.setPen(QPen(QColor(120, 0, 0), 7, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(7, 7), QPointF(25, 25));
    p.drawLine(QPointF(25, 7), QPointF(7, 25));
    p.setPen(QPen(QColor(220, 30, 30), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(7, 7), QPointF(25, 25));
    p.drawLine(QPointF(25, 7), QPointF(7, 25));
    return pixmap;
}

QPixmap NotepadGlyph()
{
    QPixmap pixmap = Blank(18, 18);
    QPainter p(&pixmap);
    // Sheet with ruled lines and a spiral binding along the top.
    p.setPen(QColor(80, 80, 80));
    p.setBrush(QColor(255, 255, 225));
    p.drawRect(3, 3, 12, 14);
    p.setPen(QColor(120, 150, 200));
    for (int y = 7; y <= 15; y += 2)
        p.drawLine(5, y, 13, y);
    p.setPen(QColor(40, 40, 40));
    for (int x = 5; x <= 13; x += 2)
        p.drawLine(x, 1, x, 4);
    return pixmap;
}

QPixmap ZoomPicture()
{
    QPixmap pixmap = Blank(85, 20);
    QPainter p(&pixmap);
    Antialiased(p);
    // Glass on the left, the handle towards the lower right.
    p.setPen(QPen(QColor(90, 60, 30), 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(46.5, 12.5), QPointF(51.5, 17.5));
    p.setPen(QPen(QColor(60, 60, 60), 2));
    p.setBrush(QColor(200, 230, 250, 200));
    p.drawEllipse(QPointF(40, 8), 6.5, 6.5);
    p.setPen(QPen(Qt::white, 1.2));
    p.drawArc(QRectF(36, 4, 6, 6), 90 * 16, 90 * 16);
    return pixmap;
}

QPixmap SignPicture()
{
    QPixmap pixmap = Blank(37, 20);
    QPainter p(&pixmap);
    p.setPen(QColor(0, 0, 0));
    p.setBrush(Qt::white);
    p.drawRect(3, 2, 30, 15);
    p.drawLine(18, 2, 18, 17);
    // "+" on the left half, "-" on the right.
    p.drawLine(7, 9, 14, 9);
    p.drawLine(7, 10, 14, 10);
    p.drawLine(10, 6, 10, 13);
    p.drawLine(11, 6, 11, 13);
    p.drawLine(22, 9, 29, 9);
    p.drawLine(22, 10, 29, 10);
    return pixmap;
}
