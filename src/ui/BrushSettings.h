#pragma once

#include <QList>
#include <QString>

class QSettings;

// The painter's brush choices, and where they are remembered between sessions. The
// defaults are the plain pen: hard, 15 px, opaque, straight from the pointer.
struct BrushSettings
{
    int size = 15;        // pixels, 1 to 100
    int opacity = 100;    // percent, 1 to 100
    int hardness = 100;   // percent: 100 a hard tip, 0 soft from the centre out
    bool smoothEdge = false;
    int taper = 0;        // percent of the stroke's length over which each end narrows
    bool speedThins = false;
    int smoothing = 0;    // 0 to 100: how far the drawn line trails the pointer

    bool operator==(const BrushSettings &) const = default;
    // Every value within its range.
    BrushSettings clamped() const;

    static BrushSettings load(QSettings &settings);
    void save(QSettings &settings) const;
};

struct BrushPreset
{
    QString name;
    BrushSettings brush;
};

namespace brushpresets {
// The presets that come with the program: "Hard pen" first.
QList<BrushPreset> shipped();
// The shipped presets, then the ones saved under other names; a saved preset with a
// shipped name takes that one's place.
QList<BrushPreset> load(QSettings &settings);
// Saves (or replaces) the preset called `name`.
void save(QSettings &settings, const QString &name, const BrushSettings &brush);
} // namespace brushpresets

// The mirror toggle is the canvas's, not the brush's, but is remembered beside it.
namespace brushmirror {
bool load(QSettings &settings);
void save(QSettings &settings, bool on);
} // namespace brushmirror
