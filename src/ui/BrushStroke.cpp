#include "BrushStroke.h"

#include <algorithm>
#include <cmath>

namespace {
double distance(const QPointF &a, const QPointF &b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}
} // namespace

bool BrushStroke::plain() const
{
    return brush.hardness >= 100 && !brush.smoothEdge && brush.taper == 0;
}

void BrushStroke::start(const BrushSettings &chosen, bool mirror, double stringLength,
                        const QPointF &at, double width)
{
    brush = chosen.clamped();
    mirrored = mirror;
    string = std::max(0.0, stringLength);
    path.clear();
    path.push_back({at, width, 0});
    if (plain()) {
        const QRect changed = layer.dot(at, width);
        if (mirrored)
            layer.mirror(changed);
    } else {
        drawStep(path.back(), path.back(), 1, 1);
    }
}

void BrushStroke::moveTo(const QPointF &at, double width)
{
    if (path.empty())
        return;
    QPointF target = at;
    if (string > 0) {
        // The drawn point is pulled along only once the pointer is a string's length away.
        const QPointF from = path.back().at;
        const double gap = distance(at, from);
        if (gap <= string)
            return;
        target = from + (at - from) * (1 - string / gap);
    }
    append(target, width);
}

void BrushStroke::finish(const QPointF &at)
{
    if (path.empty())
        return;
    // Without smoothing the line is already at the pointer, a tapered one drawn whole.
    if (string > 0 && distance(at, path.back().at) > 0)
        append(at, path.back().width);
}

void BrushStroke::append(const QPointF &at, double width)
{
    const Sample from = path.back();
    path.push_back({at, width, from.length + distance(at, from.at)});
    if (brush.taper > 0)
        redrawTapered();
    else
        drawStep(from, path.back(), 1, 1);
}

double BrushStroke::taperScale(double length) const
{
    if (brush.taper == 0 || path.empty())
        return 1;
    const double ramp = path.back().length * brush.taper / 100.0;
    if (ramp <= 0)
        return 1;
    const double u = std::min({1.0, length / ramp, (path.back().length - length) / ramp});
    // Full quickly and pointed at the very end, like a blade of grass.
    return 1 - (1 - u) * (1 - u);
}

void BrushStroke::drawStep(const Sample &from, const Sample &to, double fromScale,
                           double toScale)
{
    QRect changed;
    if (plain()) {
        changed = layer.segment(from.at, to.at, to.width);
    } else {
        changed = layer.sweep(from.at, to.at, from.width * fromScale, to.width * toScale,
                              {brush.hardness, brush.smoothEdge});
    }
    if (mirrored)
        layer.mirror(changed);
}

void BrushStroke::redrawTapered()
{
    // The ends depend on the whole length: the stroke so far is drawn again.
    layer.clear();
    const bool keepMirror = mirrored;
    mirrored = false;
    drawStep(path[0], path[0], taperScale(0), taperScale(0));
    for (size_t i = 1; i < path.size(); ++i)
        drawStep(path[i - 1], path[i], taperScale(path[i - 1].length), taperScale(path[i].length));
    mirrored = keepMirror;
    if (mirrored)
        layer.mirror(layer.bounds());
}

double BrushStroke::speedScale(double pixelsPerMs)
{
    // Full size up to 0.3 pixels a millisecond, the least from 2.5 on.
    constexpr double Slow = 0.3, Fast = 2.5;
    const double u = std::clamp((pixelsPerMs - Slow) / (Fast - Slow), 0.0, 1.0);
    return 1 - u * (1 - MinSpeedScale);
}

void SpeedGauge::start(const QPointF &at, quint64 ms)
{
    last = at;
    lastMs = ms;
    speed = 0;
}

double SpeedGauge::scaleAt(const QPointF &at, quint64 ms)
{
    const double elapsed = std::max<double>(1, double(ms) - double(lastMs));
    const double now = distance(at, last) / elapsed;
    // Steadied, so that one uneven event does not make a bead on the line.
    speed = speed == 0 ? now : 0.5 * speed + 0.5 * now;
    last = at;
    lastMs = ms;
    return BrushStroke::speedScale(speed);
}
