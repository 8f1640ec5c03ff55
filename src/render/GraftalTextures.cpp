#include <GL/glew.h>

#include "GraftalTextures.h"

#include "Graftal.h"

#include <QImage>

namespace {
constexpr int MipmapLevels = 9; // 256 x 256 down to 1 x 1
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
    GLint previousUnit = GL_TEXTURE0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &previousUnit);
    for (int unit = 0; unit < 2; ++unit) {
        glActiveTexture(GLenum(GL_TEXTURE0 + unit));
        glBindTexture(GL_TEXTURE_2D, unit == 0 ? entry.texture.get() : entry.mask.get());
        glEnable(GL_TEXTURE_2D);
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
            const QImage image = (unit == 0 ? g->levelTexture(detail, QSize(side, side))
                                            : g->levelMask(detail, QSize(side, side)))
                                     .convertToFormat(QImage::Format_RGBA8888)
                                     .mirrored();
            glTexImage2D(GL_TEXTURE_2D, level, 4, image.width(), image.height(), 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, image.constBits());
        }
    }
    glActiveTexture(GLenum(previousUnit));
}
