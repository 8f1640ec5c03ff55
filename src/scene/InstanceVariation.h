#pragma once

#include "Vector3.h"

#include <QPointF>
#include <QtGlobal>

struct GraftalVariation;
class MeshFace;

// How one instance of a graftal differs from the graftal: its size and half width as
// factors, the direction its card stands in (the surface normal tilted by its lean) and
// its colour's brightness factor and hue turn. The identity changes nothing.
//
// The amounts are drawn from a seed made of where the instance stands alone (the face, by
// its index and mesh, and the exact bits of its barycentric coordinates), never from when it
// was made or drawn: the window, every picture and every frame of a turntable, and the
// scene after saving and reading it again, show each instance alike.
struct InstanceVariation
{
    double size = 1.0;
    double width = 1.0;
    Vector3 up;           // unit; the surface normal when there is no lean
    bool leans = false;   // whether `up` is tilted away from the normal
    float value = 1.0f;   // the colour's brightness factor
    float hueCos = 1.0f;  // cosine and sine of the hue's turn about the grey axis
    float hueSin = 0.0f;

    static quint64 seedOf(const MeshFace &face, const QPointF &barycentric);
    // The numbers in [-1, 1] the seed gives, the k-th of them.
    static double unit(quint64 seed, int k);
    // The variation `amounts` give an instance of this seed standing on `face` with that
    // normal.
    static InstanceVariation drawn(const GraftalVariation &amounts, quint64 seed,
                                   const MeshFace &face, const Vector3 &normal);
};
