#pragma once

#include "GlObjects.h"

#include <QObject>
#include <array>
#include <unordered_map>
#include <vector>

class Graftal;

// The two textures (levels of detail, masks) of each graftal drawn, made from its
// levels as mipmap chains: finer mipmap levels show its first levels of detail, coarser
// ones the later ones, so OpenGL's choice by on-screen size picks the level of detail.
//
// Textures are made only when asked for (the renderer asks for the graftals shown and the
// one about to be painted), so that a large library costs nothing until used. Every call
// but markStale needs the OpenGL context current, the destructor too; the names of a
// graftal that is deleted are freed at the next call that has the context.
class GraftalTextures
{
public:
    GraftalTextures() = default;
    GraftalTextures(const GraftalTextures &) = delete;
    GraftalTextures &operator=(const GraftalTextures &) = delete;

    // The texture and mask names of the graftal; zeros before its first build.
    std::array<unsigned int, 2> names(const Graftal *g) const;
    // The graftal's levels changed: its textures are made again when next asked for.
    void markStale(const Graftal *g);
    bool upToDate(const Graftal *g) const;
    // Makes the textures of the graftal unless they are up to date.
    void ensure(const Graftal *g);
    // Makes them now from its levels, reusing its names.
    void build(const Graftal *g);

private:
    struct Entry
    {
        GlTexture texture, mask;
        bool stale = false;
    };
    void freeOrphans();
    std::unordered_map<const Graftal *, Entry> entries;
    // Names of deleted graftals, freed when the context is next current.
    std::vector<Entry> orphans;
    // Ends the watch on deleted graftals when the textures go.
    QObject watcher;
};
