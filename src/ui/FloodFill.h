#pragma once

#include <QImage>
#include <QPoint>

namespace floodfill {
// How far apart two colours may be, in every channel (alpha included), to count as similar.
constexpr int DefaultTolerance = 8;

// The pixels joined to `seed` (sideways or up and down) through pixels whose colour is
// within `tolerance` of the seed's, as an 8-bit alpha picture of the image's size (255 in
// the region). Empty when the seed lies outside the image.
QImage similarRegion(const QImage &image, QPoint seed, int tolerance = DefaultTolerance);
} // namespace floodfill
