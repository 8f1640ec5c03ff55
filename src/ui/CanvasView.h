#pragma once

#include <QPointF>

// How the painter's fixed square frame shows its image: a whole-number zoom (1, 2, 4 or 8
// screen pixels per image pixel) and where the image's corner lies in the frame. The
// image always covers the frame.
class CanvasView
{
public:
    static constexpr int MaxZoom = 8;

    explicit CanvasView(int side) : frameSide(side) {}

    int zoom() const { return factor; }
    QPointF offset() const { return corner; }
    // The image position under a frame position, and back.
    QPointF toImage(const QPointF &frame) const { return (frame - corner) / factor; }
    QPointF toFrame(const QPointF &image) const { return image * factor + corner; }

    // One step in (+1) or out (-1), keeping the image point under `anchor` where it is.
    bool zoomStep(int direction, const QPointF &anchor);
    void reset();
    void pan(const QPointF &delta);

private:
    void clampCorner();

    int frameSide;
    int factor = 1;
    QPointF corner;
};
