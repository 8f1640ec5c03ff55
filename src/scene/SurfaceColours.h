#pragma once

#include <QImage>
#include <QList>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

struct RenderArrays;

// The colour a textured model shows at any point of its faces, for the graftals that
// stand there: the faces' texture coordinates and small copies of the textures. Kept
// only while some face shows a texture, so an untextured model costs nothing here.
class SurfaceColours
{
public:
    using Rgb = std::array<float, 3>;

    // From the render arrays of `faces` faces (three corners a face, in face order) and the
    // textures their faces index.
    void build(const RenderArrays &arrays, size_t faces, const QList<QImage> &textures);
    void clear();
    bool empty() const { return faceTexture.empty(); }

    // The texture's colour at barycentric (u, v) of the face (corner 0 + u edge 1 + v edge 2);
    // nothing where the face shows no texture or its image could not be had.
    std::optional<Rgb> at(int faceIndex, double u, double v) const;

    // The largest side a kept copy of a texture has; a root's colour needs no more.
    static constexpr int MaxSide = 256;

private:
    std::vector<float> texCoords; // six a face: (u, v) of each corner, v = 0 at the bottom
    std::vector<int16_t> faceTexture;
    QList<QImage> images; // Format_RGBA8888, top row first; null where there was none
};
