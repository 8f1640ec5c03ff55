#include "ViewLooks.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QRegion>
#include <cmath>

QCursor brushCursor(int radius, double devicePixelRatio, bool erasing)
{
    const int r = int(std::lround(radius / devicePixelRatio));
    if (r < 3)
        return QCursor(Qt::CrossCursor);
    const int side = 2 * r + 3;
    QPixmap ring(side, side);
    ring.fill(Qt::transparent);
    QPainter painter(&ring);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF middle(side / 2.0, side / 2.0);
    painter.setPen(QPen(QColor(0, 0, 0, 200), 3.0));
    painter.drawEllipse(middle, r, r);
    painter.setPen(QPen(erasing ? QColor(255, 120, 120) : QColor(255, 255, 255), 1.2));
    painter.drawEllipse(middle, r, r);
    painter.drawLine(middle - QPointF(3, 0), middle + QPointF(3, 0));
    painter.drawLine(middle - QPointF(0, 3), middle + QPointF(0, 3));
    painter.end();
    return QCursor(ring, side / 2, side / 2);
}

QLabel *makeEmptyViewHint(QWidget *view)
{
    auto *hint = new QLabel(QStringLiteral("Open a model (3DS, OBJ, glTF, FBX, PLY, STL and more)\n"
                                           "with \"Open 3DS file\" below, "
                                           "then paint the selected graftal onto it."),
                            view);
    hint->setAlignment(Qt::AlignCenter);
    hint->setStyleSheet(QStringLiteral("color: #606060; background: transparent;"));
    hint->setAttribute(Qt::WA_TransparentForMouseEvents);
    return hint;
}

namespace {
class RenderFrameShade : public QWidget
{
public:
    RenderFrameShade(QWidget *view, std::function<QRect()> frameOf)
        : QWidget(view), frame(std::move(frameOf))
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setGeometry(view->rect());
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const QRect inside = frame();
        if (inside.isEmpty())
            return;
        QPainter painter(this);
        QRegion outside(rect());
        outside -= inside;
        painter.setClipRegion(outside);
        painter.fillRect(rect(), QColor(0, 0, 0, 110));
        painter.setClipping(false);
        painter.setPen(QPen(QColor(255, 255, 255, 160), 1.0));
        painter.drawRect(inside.adjusted(0, 0, -1, -1));
    }

private:
    std::function<QRect()> frame;
};
} // namespace

QWidget *makeRenderFrameShade(QWidget *view, std::function<QRect()> frame)
{
    return new RenderFrameShade(view, std::move(frame));
}
