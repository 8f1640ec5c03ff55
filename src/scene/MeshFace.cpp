#include "MeshFace.h"

#include <cmath>

MeshFace::MeshFace(const Vector3 &p0, const Vector3 &p1, const Vector3 &p2, int mesh, int face)
    : corners{p0, p1, p2}, edge1(p1 - p0), edge2(p2 - p0),
      normal(Vector3::cross(edge1, edge2).normalized()), faceIndex(face), meshIndex(mesh)
{
}

Vertex MeshFace::pointAt(double u, double v) const
{
    return Vertex(corners[0] + u * edge1 + v * edge2, normal);
}

bool MeshFace::barycentricOf(const Vector3 &point, double &u, double &v) const
{
    const Vector3 d = point - corners[0];
    const double e11 = Vector3::dot(edge1, edge1);
    const double e12 = Vector3::dot(edge1, edge2);
    const double e22 = Vector3::dot(edge2, edge2);
    const double d1 = Vector3::dot(d, edge1), d2 = Vector3::dot(d, edge2);
    const double det = e11 * e22 - e12 * e12;
    if (!(std::abs(det) > 0.0))
        return false;
    u = (e22 * d1 - e12 * d2) / det;
    v = (e11 * d2 - e12 * d1) / det;
    return std::isfinite(u) && std::isfinite(v);
}
