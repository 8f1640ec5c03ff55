#include <GL/glew.h>

#include "GraftalTextures.h"

#include "GlPass.h"
#include "Graftal.h"

#include <QImage>

namespace {
constexpr int MipmapLevels = 9; // 256 x 256 down to 1 x 1
constexpr int BleedPasses = 4;

// Gives every fully transparent texel the colour of its opaque neighbours (spreading a few
// texels out, the rest the average colour of the picture), its alpha staying 0: filtering
// then mixes no black of empty texels into the edges of what shows.
QImage bleedIntoTransparent(QImage image)
{
    image = std::move(image).convertToFormat(QImage::Format_RGBA8888);
    const int w = image.width(), h = image.height();
    uchar *bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    auto at = [&](int x, int y) { return bits + y * stride + x * 4; };
    std::vector<uchar> filled(size_t(w) * size_t(h));
    double sum[3] = {0, 0, 0};
    size_t opaque = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (at(x, y)[3] != 0) {
                filled[size_t(y) * w + x] = 1;
                for (int k = 0; k < 3; ++k)
                    sum[k] += at(x, y)[k];
                ++opaque;
            }
    if (opaque == 0 || opaque == filled.size())
        return image;
    std::vector<size_t> next;
    for (int pass = 0; pass < BleedPasses; ++pass) {
        next.clear();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (filled[size_t(y) * w + x])
                    continue;
                int total[3] = {0, 0, 0}, n = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = x + dx, ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h || !filled[size_t(ny) * w + nx])
                            continue;
                        for (int k = 0; k < 3; ++k)
                            total[k] += at(nx, ny)[k];
                        ++n;
                    }
                if (n == 0)
                    continue;
                for (int k = 0; k < 3; ++k)
                    at(x, y)[k] = uchar(total[k] / n);
                next.push_back(size_t(y) * w + x);
            }
        for (size_t i : next)
            filled[i] = 1;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (!filled[size_t(y) * w + x])
                for (int k = 0; k < 3; ++k)
                    at(x, y)[k] = uchar(sum[k] / double(opaque));
    return image;
}
} // namespace

std::array<unsigned int, 2> GraftalTextures::names(const Graftal *g) const
{
    const auto it = entries.find(g);
    if (it == entries.end())
        return {0, 0};
    return {it->second.texture.get(), it->second.mask.get()};
}

void GraftalTextures::markStale(const Graftal *g)
{
    const auto it = entries.find(g);
    if (it != entries.end())
        it->second.stale = true;
}

bool GraftalTextures::upToDate(const Graftal *g) const
{
    const auto it = entries.find(g);
    return it != entries.end() && !it->second.stale;
}

void GraftalTextures::ensure(const Graftal *g)
{
    if (!upToDate(g))
        build(g);
}

void GraftalTextures::freeOrphans()
{
    orphans.clear();
}

void GraftalTextures::build(const Graftal *g)
{
    freeOrphans();
    auto [it, made] = entries.try_emplace(g);
    Entry &entry = it->second;
    if (made) {
        entry.texture = GlTexture(genTexture());
        entry.mask = GlTexture(genTexture());
        QObject::connect(g, &QObject::destroyed, &watcher, [this, g] {
            const auto gone = entries.find(g);
            if (gone == entries.end())
                return;
            orphans.push_back(std::move(gone->second));
            entries.erase(gone);
        });
    }
    entry.stale = false;

    const int last = g->levelCount() - 1;
    const double step = last * 0.125 + 0.5;
    GlPass keep;
    keep.textures();
    for (int unit = 0; unit < 2; ++unit) {
        glActiveTexture(GLenum(GL_TEXTURE0 + unit));
        glBindTexture(GL_TEXTURE_2D, unit == 0 ? entry.texture.get() : entry.mask.get());
        // A graftal is one picture, not a tile: near its edges the filter of the coarse
        // levels must not reach round to the opposite edge (the roots would show as a
        // line along the top of every small graftal).
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        double x = 0.0;
        for (int level = 0; level < MipmapLevels; ++level) {
            const int side = 1 << (8 - level);
            const int detail = std::min(int(x), last);
            x += step;
            // The mask's colour is never shown (the mesh colour replaces it).
            const QImage image =
                (unit == 0 ? bleedIntoTransparent(g->levelTexture(detail, QSize(side, side)))
                           : g->levelMask(detail, QSize(side, side)))
                    .convertToFormat(QImage::Format_RGBA8888)
                    .mirrored();
            glTexImage2D(GL_TEXTURE_2D, level, 4, image.width(), image.height(), 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, image.constBits());
        }
    }
}
