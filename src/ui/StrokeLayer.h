#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRect>

// What one stroke (or one fill) covers before it lands on the edited image. The layer is
// drawn in the stroke's colour at full strength, so that a stroke crossing itself covers
// those pixels once; it is merged once, at the stroke's strength, when the stroke ends.
class StrokeLayer
{
public:
    explicit StrokeLayer(int side);

    // Empties the layer; what follows is drawn in `color`'s red, green and blue.
    void begin(const QColor &color);
    void dot(const QPointF &at, qreal width);
    void segment(const QPointF &from, const QPointF &to, qreal width);
    // Covers every pixel where `region` (an 8-bit alpha picture of the layer's size) is set.
    void cover(const QImage &region);

    bool isEmpty() const { return touched.isEmpty(); }
    QRect bounds() const { return touched; }
    const QImage &image() const { return layer; }

    // Lays the layer on `target` (premultiplied ARGB of the layer's size) at `strength`
    // (0 to 1): over it, or when erasing, cutting that much of it away.
    void mergeOnto(QImage &target, qreal strength, bool erase) const;

private:
    void stroke(const QPointF &from, const QPointF &to, qreal width, bool point);

    QImage layer;
    QColor ink;
    QRect touched;
};
