#pragma once

#include "Matrix4.h"

#include <QPair>
#include <QtGlobal>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class Graftal;
class GraftalInstance;
class MeshFace;

// Where a point in model coordinates shows through `toClip` (model to clip coordinates,
// column after column) in a window of `width` x `height` pixels, origin top left; false
// when it lies behind the eye.
inline bool windowPoint(const double *m, const Vector3 &p, int width, int height, double &wx,
                        double &wy)
{
    // Clip coordinates; w is the distance in front of the eye.
    const double w = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
    if (!(w > 0.0))
        return false;
    const double cx = (m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12]) / w;
    const double cy = (m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13]) / w;
    wx = (cx + 1.0) * 0.5 * width;
    wy = (1.0 - cy) * 0.5 * height;
    return true;
}

// The graftals of one graftal filed by the screen cell their anchor shows in, so that the
// eraser finds those under the brush without looking at all the others. Built before the
// eraser is used (or by its first event); it holds while the graftals, the camera and
// the view size stay. The eraser keeps it true as it takes graftals off.
struct BrushIndex
{
    static constexpr int Cell = 32; // pixels
    struct Anchor
    {
        float x, y; // where it shows, in device pixels from the top left
        const MeshFace *face;
        quint32 list;  // which of `keys`
        quint32 place; // its place in that list when the index was built
    };
    enum : quint8
    {
        Kept = 0,
        Gone = 1,
        Going = 2
    };

    bool built = false;
    // What it was built for: it holds while these stay.
    const Graftal *graftal = nullptr;
    quint64 revision = 0;
    Matrix4 camera;
    int width = 0, height = 0, columns = 0, rows = 0;
    std::vector<quint32> cellStart; // anchors of cell c: [cellStart[c], cellStart[c + 1])
    std::vector<Anchor> anchors;
    std::vector<QPair<int, int>> keys;
    std::vector<std::vector<quint8>> state; // per list, per place at build time

    void reset() { *this = BrushIndex(); }
};

// The current graftal's instances filed by the face they stand on, for the density brush:
// an event counts those on the faces under it without looking at the others. A mesh's
// list is filed when the brush first reaches one of its faces; the filing holds while
// the instances change only through the brush (`revision` says so).
struct DensityFiling
{
    const Graftal *graftal = nullptr;
    quint64 revision = 0;
    std::unordered_set<int> meshes;
    std::unordered_map<const MeshFace *, std::vector<GraftalInstance *>> byFace;

    void reset() { *this = DensityFiling(); }
};

// What one density stroke has covered so far: the pixels it has weighed (each once), and
// per cell of the screen the graftals its covered part wants and those standing there.
// It holds while the camera and the view size stay.
struct DensityStroke
{
    struct Account
    {
        double wanted = 0.0;
        qint64 standing = 0;
    };
    Matrix4 camera;
    int width = 0, height = 0;
    std::vector<quint8> covered; // per pixel, rows from the top
    std::unordered_map<quint64, Account> cells;

    void reset() { *this = DensityStroke(); }
};
