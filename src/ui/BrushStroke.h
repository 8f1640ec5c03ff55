#pragma once

#include "BrushSettings.h"
#include "StrokeLayer.h"

#include <QPointF>
#include <vector>

// One stroke of the brush as the pointer makes it: follows the pointer directly or on a
// pulled string (smoothing), narrows its ends (taper) and draws each step onto the stroke
// layer, mirrored about the layer's vertical centre line when asked. The plain brush (hard,
// no smooth edge, no taper) draws with the layer's round pen, as the painter always has.
class BrushStroke
{
public:
    explicit BrushStroke(StrokeLayer &target) : layer(target) {}

    // Starts at `at` (image pixels) with a tip `width` pixels wide there. `string` is the
    // pulled string's length in image pixels (0 draws straight from the pointer).
    void start(const BrushSettings &brush, bool mirrored, double string, const QPointF &at,
               double width);
    void moveTo(const QPointF &at, double width);
    // The pointer let go at `at`: a smoothed line is drawn on to it. A tapered stroke is
    // drawn whole at each step, its ends narrowed for the length it has then.
    void finish(const QPointF &at);

    // Where the drawn line has got to.
    QPointF drawnPoint() const { return path.empty() ? QPointF() : path.back().at; }

    // How much a mouse moving at `pixelsPerMs` (screen pixels) thins the tip: 1 slow, down
    // to MinSpeedScale fast.
    static constexpr double MinSpeedScale = 0.25;
    static double speedScale(double pixelsPerMs);

private:
    struct Sample
    {
        QPointF at;
        double width;
        double length; // along the drawn line from its start
    };
    bool plain() const;
    void append(const QPointF &at, double width);
    double taperScale(double length) const;
    void drawStep(const Sample &from, const Sample &to, double fromScale, double toScale);
    void redrawTapered();

    StrokeLayer &layer;
    BrushSettings brush;
    bool mirrored = false;
    double string = 0;
    std::vector<Sample> path;
};

// Follows the pointer's speed over a mouse stroke, steadied over a few events.
class SpeedGauge
{
public:
    void start(const QPointF &at, quint64 ms);
    // The tip's scale after the pointer reached `at` (screen pixels) at `ms`.
    double scaleAt(const QPointF &at, quint64 ms);

private:
    QPointF last;
    quint64 lastMs = 0;
    double speed = 0;
};
