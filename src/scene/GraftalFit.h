#pragma once

#include <QString>
#include <algorithm>
#include <cmath>

// The graftal scale that suits a model's size: graftal sizes are in the model's own units,
// so a graftal of base size 1 is a speck on a building and a boulder on a bead.
namespace graftalfit {
// A fitted graftal of base size 1 is this share of the model's largest side.
constexpr double Share = 0.02;
// A model starts fitted when a graftal of base size 1 would be larger than this share of
// its largest side, or smaller than the other.
constexpr double LargestShare = 1.0 / 5.0;
constexpr double SmallestShare = 1.0 / 500.0;

inline double largestSide(const float extent[3])
{
    const float largest = std::max({extent[0], extent[1], extent[2]});
    return largest > 0.0f && std::isfinite(largest) ? double(largest) : 0.0;
}
// The fitted scale, or 0 for a model without size.
inline double fitted(const float extent[3])
{
    return Share * largestSide(extent);
}
// Whether a model of this size should start fitted rather than at scale 1.
inline bool wanted(const float extent[3])
{
    const double side = largestSide(extent);
    return side > 0.0 && (1.0 > LargestShare * side || 1.0 < SmallestShare * side);
}
// "Graftal scale fitted to this model: × 0.05"
inline QString message(double scale)
{
    return QStringLiteral("Graftal scale fitted to this model: %1 %2")
        .arg(QString::fromUtf8("\u00d7"), QString::number(scale, 'g', 3));
}
} // namespace graftalfit
