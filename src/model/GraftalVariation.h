#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// How far the instances of one graftal may differ from it, each amount a ± range: size and
// width as fractions of the graftal's size and the card's half width, lean in degrees of
// tilt away from the surface normal, hue in degrees around the colour wheel, value as a
// fraction of the colour's brightness. All zero (the default) draws every instance alike.
//
// Kept in a file of our own beside the graftal's parameters, graftals/<base>.variation.json:
// {"format": "tuftmill-variation", "version": 1, "size": 0.3, "width": 0.2, "lean": 15,
//  "hue": 10, "value": 0.2}; a graftal without variation has no such file.
struct GraftalVariation
{
    double size = 0.0;
    double width = 0.0;
    double lean = 0.0;
    double hue = 0.0;
    double value = 0.0;

    // The largest amount of each; a file asking for more is not taken.
    static constexpr double MaxSize = 0.9;
    static constexpr double MaxWidth = 0.9;
    static constexpr double MaxLean = 90.0;
    static constexpr double MaxHue = 180.0;
    static constexpr double MaxValue = 1.0;
    // A variation file is a few dozen bytes; anything much larger is no variation file.
    static constexpr qint64 MaxFileBytes = 64 * 1024;

    bool none() const { return *this == GraftalVariation(); }
    // Whether the colours of the instances differ.
    bool tinted() const { return hue != 0.0 || value != 0.0; }
    bool operator==(const GraftalVariation &) const = default;

    // The file beside the graftal whose files have the base name `base`, in graftals/.
    static QString fileName(const QString &base);

    QByteArray toJson() const;
    // The amounts a file's bytes give; each key that is unknown or whose value is not a
    // number within its range is left at zero with a line in `notes` naming `path`. Bytes
    // that are no variation file at all give no variation and one note.
    static GraftalVariation fromJson(const QByteArray &bytes, const QString &path,
                                     QStringList &notes);
    // Reads `path` through the workspace's file rules (no links, regular files, at most
    // MaxFileBytes): no file gives no variation and no note; a file that cannot be read gives
    // no variation and a note.
    static GraftalVariation read(const QString &path, QStringList &notes);
};
