#include "CanvasView.h"

#include <algorithm>

bool CanvasView::zoomStep(int direction, const QPointF &anchor)
{
    const int next = direction > 0 ? std::min(factor * 2, MaxZoom) : std::max(factor / 2, 1);
    if (next == factor)
        return false;
    const QPointF held = toImage(anchor);
    factor = next;
    corner = anchor - held * factor;
    clampCorner();
    return true;
}

void CanvasView::reset()
{
    factor = 1;
    corner = QPointF();
}

void CanvasView::pan(const QPointF &delta)
{
    corner += delta;
    clampCorner();
}

void CanvasView::clampCorner()
{
    const double lowest = frameSide - double(frameSide) * factor;
    // Whole screen pixels, so that image pixels stay sharp squares.
    corner = QPointF(std::clamp(double(qRound(corner.x())), lowest, 0.0),
                     std::clamp(double(qRound(corner.y())), lowest, 0.0));
}
