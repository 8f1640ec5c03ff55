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
    // The round pen; both return the pixels they may have changed.
    QRect dot(const QPointF &at, qreal width);
    QRect segment(const QPointF &from, const QPointF &to, qreal width);
    // How a shaped tip's alpha falls from its centre to its edge.
    struct Tip
    {
        int hardness = 100; // percent: at 100 only the edge's pixel is part covered
        bool smoothEdge = false;
    };
    // A round tip of `fromWidth` at `from` swept to `to` while its width becomes `toWidth`;
    // each pixel keeps the most the tip covered it. Returns the pixels it may have changed.
    QRect sweep(const QPointF &from, const QPointF &to, qreal fromWidth, qreal toWidth,
                const Tip &tip);
    // Makes the layer the same on both sides of its vertical centre line within `area` and
    // its mirror image, each pixel the stronger of itself and its mirror.
    void mirror(const QRect &area);
    // Empties the layer and keeps its colour.
    void clear();
    // Covers every pixel where `region` (an 8-bit alpha picture of the layer's size) is set.
    void cover(const QImage &region);

    bool isEmpty() const { return touched.isEmpty(); }
    QRect bounds() const { return touched; }
    const QImage &image() const { return layer; }

    // Lays the layer on `target` (premultiplied ARGB of the layer's size) at `strength`
    // (0 to 1): over it, or when erasing, cutting that much of it away.
    void mergeOnto(QImage &target, qreal strength, bool erase) const;

private:
    QRect stroke(const QPointF &from, const QPointF &to, qreal width, bool point);

    QImage layer;
    QColor ink;
    QRect touched;
};
