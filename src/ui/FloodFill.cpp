#include "FloodFill.h"

#include <cstdlib>
#include <vector>

namespace floodfill {

QImage similarRegion(const QImage &source, QPoint seed, int tolerance)
{
    if (!source.rect().contains(seed))
        return QImage();
    const QImage image = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = image.width(), h = image.height();
    QImage region(w, h, QImage::Format_Alpha8);
    region.fill(0);
    const QRgb origin = image.pixel(seed);
    auto similar = [&](int x, int y) {
        const QRgb c = reinterpret_cast<const QRgb *>(image.constScanLine(y))[x];
        return std::abs(qRed(c) - qRed(origin)) <= tolerance &&
               std::abs(qGreen(c) - qGreen(origin)) <= tolerance &&
               std::abs(qBlue(c) - qBlue(origin)) <= tolerance &&
               std::abs(qAlpha(c) - qAlpha(origin)) <= tolerance;
    };
    auto marked = [&](int x, int y) { return region.constScanLine(y)[x] != 0; };
    // Runs of a row are filled whole; the rows above and below are searched for new runs.
    std::vector<QPoint> pending{seed};
    while (!pending.empty()) {
        const QPoint p = pending.back();
        pending.pop_back();
        const int y = p.y();
        if (marked(p.x(), y))
            continue;
        int left = p.x(), right = p.x();
        while (left > 0 && !marked(left - 1, y) && similar(left - 1, y))
            --left;
        while (right < w - 1 && !marked(right + 1, y) && similar(right + 1, y))
            ++right;
        uchar *row = region.scanLine(y);
        for (int x = left; x <= right; ++x)
            row[x] = 255;
        for (int ny : {y - 1, y + 1}) {
            if (ny < 0 || ny >= h)
                continue;
            bool inRun = false;
            for (int x = left; x <= right; ++x) {
                const bool open = !marked(x, ny) && similar(x, ny);
                if (open && !inRun)
                    pending.push_back({x, ny});
                inRun = open;
            }
        }
    }
    return region;
}

} // namespace floodfill
