#pragma once

#include "Matrix4.h"

#include <QPair>
#include <QtGlobal>
#include <vector>

class Graftal;
class MeshFace;

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
