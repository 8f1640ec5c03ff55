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

QRect StrokeLayer::dot(const QPointF &at, qreal width)
{
    return stroke(at, at, width, true);
}

QRect StrokeLayer::segment(const QPointF &from, const QPointF &to, qreal width)
{
    return stroke(from, to, width, false);
}

QRect StrokeLayer::stroke(const QPointF &from, const QPointF &to, qreal width, bool point)
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
    const QRect changed = span.adjusted(-reach, -reach, reach, reach) & layer.rect();
    touched |= changed;
    return changed;
}

void StrokeLayer::clear()
{
    if (!touched.isEmpty())
        layer.fill(Qt::transparent);
    touched = QRect();
}

namespace {
// The share of a pixel at `d` from the tip's centre that a tip of radius `r` covers.
inline double coverage(double d, double r, double soft, double ramp, bool smooth)
{
    double edge = std::clamp((r + ramp / 2 - d) / ramp, 0.0, 1.0);
    if (smooth)
        edge = edge * edge * (3 - 2 * edge);
    const double band = soft * r;
    if (band > 0 && d > r - band) {
        const double x = std::min(1.0, (d - (r - band)) / band);
        edge = std::min(edge, 1 - x * x * (3 - 2 * x));
    }
    return edge;
}
} // namespace

QRect StrokeLayer::sweep(const QPointF &from, const QPointF &to, qreal fromWidth, qreal toWidth,
                         const Tip &tip)
{
    const double r0 = std::max(0.0, fromWidth / 2), r1 = std::max(0.0, toWidth / 2);
    const double ramp = tip.smoothEdge ? 2.5 : 1.0;
    const double soft = 1 - std::clamp(tip.hardness, 0, 100) / 100.0;
    const double reach = std::max(r0, r1) + ramp;
    const QRect box =
        QRectF(from, to).normalized().adjusted(-reach, -reach, reach, reach).toAlignedRect() &
        layer.rect();
    if (box.isEmpty())
        return {};
    // The ink at each alpha, premultiplied.
    QRgb shade[256];
    for (int a = 0; a < 256; ++a)
        shade[a] = qRgba(ink.red() * a / 255, ink.green() * a / 255, ink.blue() * a / 255, a);
    const double dx = to.x() - from.x(), dy = to.y() - from.y();
    const double length2 = dx * dx + dy * dy;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        auto *out = reinterpret_cast<QRgb *>(layer.scanLine(y));
        const double py = y + 0.5 - from.y();
        for (int x = box.left(); x <= box.right(); ++x) {
            const double px = x + 0.5 - from.x();
            const double t =
                length2 > 0 ? std::clamp((px * dx + py * dy) / length2, 0.0, 1.0) : 0.0;
            const double ex = px - t * dx, ey = py - t * dy;
            const double r = r0 + (r1 - r0) * t;
            const double d2 = ex * ex + ey * ey;
            const double outer = r + ramp / 2;
            if (d2 >= outer * outer)
                continue;
            const int a = int(std::lround(coverage(std::sqrt(d2), r, soft, ramp, tip.smoothEdge) * 255));
            if (a > int(qAlpha(out[x])))
                out[x] = shade[a];
        }
    }
    touched |= box;
    return box;
}

void StrokeLayer::mirror(const QRect &area)
{
    const int w = layer.width();
    const QRect own = area & layer.rect();
    if (own.isEmpty())
        return;
    for (int y = own.top(); y <= own.bottom(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(layer.scanLine(y));
        for (int x = own.left(); x <= own.right(); ++x) {
            QRgb &a = row[x];
            QRgb &b = row[w - 1 - x];
            if (a == b)
                continue;
            const QRgb m = qRgba(std::max(qRed(a), qRed(b)), std::max(qGreen(a), qGreen(b)),
                                 std::max(qBlue(a), qBlue(b)), std::max(qAlpha(a), qAlpha(b)));
            a = b = m;
        }
    }
    touched |= own;
    touched |= QRect(w - 1 - own.right(), own.top(), own.width(), own.height());
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
