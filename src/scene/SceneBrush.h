#pragma once

#include <QPair>
#include <QtGlobal>
#include <vector>

class Graftal;
class MeshFace;

// The graftals of one graftal filed by the screen cell their anchor shows in, so that the
// eraser finds those under the brush without looking at all the others. Built when an
// erase stroke first needs it; it stays true while the camera and the view size stay,
// which they do during a stroke.
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
    const Graftal *graftal = nullptr;
    int width = 0, height = 0, columns = 0, rows = 0;
    std::vector<quint32> cellStart; // anchors of cell c: [cellStart[c], cellStart[c + 1])
    std::vector<Anchor> anchors;
    std::vector<QPair<int, int>> keys;
    std::vector<std::vector<quint8>> state; // per list, per place at build time

    void reset() { *this = BrushIndex(); }
};
