#include "ToolIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTransform>

namespace toolicons {

namespace {
void arrow(QPainter &p, QPointF from, QPointF to)
{
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::max(1.0, std::hypot(to.x() - from.x(), to.y() - from.y()));
    const QPointF n(-d.y(), d.x());
    p.drawLine(to, to - 7 * d + 6 * n);
    p.drawLine(to, to - 7 * d - 6 * n);
}
} // namespace

QIcon icon(Kind kind)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(40, 40, 40);
    p.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    switch (kind) {
    case Kind::Pick: // a dropper
        p.save();
        p.translate(16, 16);
        p.rotate(45);
        p.setBrush(QColor(120, 170, 230));
        p.drawRoundedRect(QRectF(-4, -4, 8, 18), 2, 2);
        p.setBrush(ink);
        p.drawRoundedRect(QRectF(-6, -13, 12, 9), 3, 3);
        p.restore();
        break;
    case Kind::Fill: { // a tipped bucket with a drop
        p.save();
        p.translate(14, 17);
        p.rotate(-30);
        p.setBrush(QColor(230, 230, 230));
        p.drawRect(QRectF(-8, -8, 16, 16));
        p.restore();
        QPainterPath drop;
        drop.moveTo(26, 16);
        drop.cubicTo(22, 24, 24, 28, 26, 28);
        drop.cubicTo(28, 28, 30, 24, 26, 16);
        p.setBrush(QColor(40, 110, 220));
        p.drawPath(drop);
        break;
    }
    case Kind::Import:
    case Kind::Export:
        p.setBrush(QColor(250, 250, 250));
        p.drawRect(QRectF(4, 12, 18, 16));
        p.setPen(QPen(QColor(30, 130, 60), 3, Qt::SolidLine, Qt::RoundCap));
        if (kind == Kind::Import)
            arrow(p, {28, 3}, {14, 20});
        else
            arrow(p, {12, 20}, {28, 4});
        break;
    case Kind::Duplicate:
        p.setBrush(QColor(250, 250, 250));
        p.drawRect(QRectF(4, 4, 16, 16));
        p.drawRect(QRectF(12, 12, 16, 16));
        break;
    case Kind::Remove:
        p.setPen(QPen(QColor(200, 40, 40), 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 8), QPointF(24, 24));
        p.drawLine(QPointF(24, 8), QPointF(8, 24));
        break;
    case Kind::Left:
        p.setPen(QPen(ink, 3.5, Qt::SolidLine, Qt::RoundCap));
        arrow(p, {27, 16}, {5, 16});
        break;
    case Kind::Right:
        p.setPen(QPen(ink, 3.5, Qt::SolidLine, Qt::RoundCap));
        arrow(p, {5, 16}, {27, 16});
        break;
    case Kind::Mirror: { // a leaf and its reflection about a dashed axis
        QPainterPath left;
        left.moveTo(13, 27);
        left.cubicTo(2, 22, 3, 10, 11, 4);
        left.cubicTo(14, 12, 15, 20, 13, 27);
        p.setBrush(QColor(70, 160, 80));
        p.drawPath(left);
        p.setBrush(QColor(70, 160, 80, 110));
        p.drawPath(QTransform(-1, 0, 0, 1, 32, 0).map(left));
        p.setPen(QPen(QColor(40, 120, 230), 1.5, Qt::DashLine));
        p.drawLine(QPointF(16, 1), QPointF(16, 31));
        break;
    }
    }
    return QIcon(pixmap);
}

} // namespace toolicons
