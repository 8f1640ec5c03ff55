#include "StrokeLayer.h"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>

StrokeLayer::StrokeLayer(int side) : layer(side, side, QImage::Format_ARGB32_Premultiplied)
{
    layer.fill(Qt::transparent);
}

void StrokeLayer::begin(const QColor &color)
{
    if (!touched.isEmpty())
        layer.fill(Qt::transparent);
    touched = QRect();
    ink = QColor(color.red(), color.green(), color.blue());
}

void StrokeLayer::dot(const QPointF &at, qreal width)
{
    stroke(at, at, width, true);
}

void StrokeLayer::segment(const QPointF &from, const QPointF &to, qreal width)
{
    stroke(from, to, width, false);
}

void StrokeLayer::stroke(const QPointF &from, const QPointF &to, qreal width, bool point)
{
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QBrush(ink), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (point)
        p.drawPoint(from);
    else
        p.drawLine(from, to);
    const int reach = int(std::ceil(width / 2)) + 2;
    const QRect span = QRectF(from, to).normalized().toAlignedRect();
    touched |= span.adjusted(-reach, -reach, reach, reach) & layer.rect();
}

void StrokeLayer::cover(const QImage &region)
{
    const QRgb value = ink.rgba();
    const int h = std::min(region.height(), layer.height());
    const int w = std::min(region.width(), layer.width());
    int left = w, right = -1, top = h, bottom = -1;
    for (int y = 0; y < h; ++y) {
        const uchar *in = region.constScanLine(y);
        auto *out = reinterpret_cast<QRgb *>(layer.scanLine(y));
        for (int x = 0; x < w; ++x) {
            if (in[x]) {
                out[x] = value;
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = y;
            }
        }
    }
    if (right >= 0)
        touched |= QRect(QPoint(left, top), QPoint(right, bottom));
}

namespace {
inline uint scaled(uint value, uint factor)
{
    // value * factor / 255, rounded
    const uint t = value * factor + 128;
    return (t + (t >> 8)) >> 8;
}
} // namespace

void StrokeLayer::mergeOnto(QImage &target, qreal strength, bool erase) const
{
    const uint s = uint(std::lround(std::clamp(strength, 0.0, 1.0) * 255));
    const QRect area = touched & target.rect();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(layer.constScanLine(y));
        auto *out = reinterpret_cast<QRgb *>(target.scanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb src = in[x];
            if (qAlpha(src) == 0)
                continue;
            const uint a = scaled(uint(qAlpha(src)), s);
            const uint keep = 255 - a;
            const QRgb dst = out[x];
            if (erase) {
                out[x] = qRgba(
                    int(scaled(uint(qRed(dst)), keep)), int(scaled(uint(qGreen(dst)), keep)),
                    int(scaled(uint(qBlue(dst)), keep)), int(scaled(uint(qAlpha(dst)), keep)));
            } else {
                out[x] = qRgba(int(scaled(uint(qRed(src)), s) + scaled(uint(qRed(dst)), keep)),
                               int(scaled(uint(qGreen(src)), s) + scaled(uint(qGreen(dst)), keep)),
                               int(scaled(uint(qBlue(src)), s) + scaled(uint(qBlue(dst)), keep)),
                               int(a + scaled(uint(qAlpha(dst)), keep)));
            }
        }
    }
}
