#include "InstanceVariation.h"

#include "GraftalVariation.h"
#include "MeshFace.h"

#include <bit>
#include <cmath>

namespace {
constexpr quint64 Golden = 0x9e3779b97f4a7c15ull;

// SplitMix64's finaliser: every bit of the input reaches every bit of the output.
quint64 mix(quint64 z)
{
    z += Golden;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

// What each of the seed's numbers drives.
enum Draw
{
    SizeDraw,
    WidthDraw,
    LeanDraw,
    LeanAxisDraw,
    ValueDraw,
    HueDraw
};

constexpr double Degree = M_PI / 180.0;

// A unit direction in the plane at right angles to `normal`, along the face's first edge
// when it has one.
Vector3 tangentOf(const MeshFace &face, const Vector3 &normal)
{
    Vector3 t = face.edge1 - normal * Vector3::dot(face.edge1, normal);
    if (t.lengthSquared() < 1e-24)
        t = Vector3::cross(normal, std::abs(normal.x) < 0.9 ? Vector3(1, 0, 0) : Vector3(0, 1, 0));
    return t.normalized();
}
} // namespace

quint64 InstanceVariation::seedOf(const MeshFace &face, const QPointF &barycentric)
{
    quint64 h = mix(quint64(quint32(face.meshIndex)));
    h = mix(h ^ quint64(quint32(face.faceIndex)));
    h = mix(h ^ std::bit_cast<quint64>(double(barycentric.x())));
    return mix(h ^ std::bit_cast<quint64>(double(barycentric.y())));
}

double InstanceVariation::unit(quint64 seed, int k)
{
    // 53 bits, as many as a double holds, spread over [-1, 1).
    return double(mix(seed + quint64(k + 1) * Golden) >> 11) * 0x1p-52 - 1.0;
}

InstanceVariation InstanceVariation::drawn(const GraftalVariation &amounts, quint64 seed,
                                           const MeshFace &face, const Vector3 &normal)
{
    InstanceVariation v;
    v.size = 1.0 + amounts.size * unit(seed, SizeDraw);
    v.width = 1.0 + amounts.width * unit(seed, WidthDraw);
    v.up = normal;
    const double lean = amounts.lean * unit(seed, LeanDraw) * Degree;
    if (lean != 0.0 && normal.lengthSquared() > 0.0) {
        // Tilted about an axis of the tangent plane, in a direction of its own.
        const Vector3 t1 = tangentOf(face, normal);
        const Vector3 t2 = Vector3::cross(normal, t1);
        const double azimuth = M_PI * unit(seed, LeanAxisDraw);
        const Vector3 axis = t1 * std::cos(azimuth) + t2 * std::sin(azimuth);
        v.up = (normal * std::cos(lean) + Vector3::cross(axis, normal) * std::sin(lean)).normalized();
        v.leans = true;
    }
    v.value = float(1.0 + amounts.value * unit(seed, ValueDraw));
    const double hue = amounts.hue * unit(seed, HueDraw) * Degree;
    v.hueCos = float(std::cos(hue));
    v.hueSin = float(std::sin(hue));
    return v;
}
