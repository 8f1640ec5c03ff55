#include "MeshFace.h"

MeshFace::MeshFace(const Vector3 &p0, const Vector3 &p1, const Vector3 &p2, int mesh, int face)
    : corners{p0, p1, p2}, edge1(p1 - p0), edge2(p2 - p0),
      normal(Vector3::cross(edge1, edge2).normalized()), faceIndex(face), meshIndex(mesh)
{
}

Vertex MeshFace::pointAt(double u, double v) const
{
    return Vertex(corners[0] + u * edge1 + v * edge2, normal);
}
