#include "MeshFace.h"

MeshFace::MeshFace(const Vector3 &p0, const Vector3 &p1, const Vector3 &p2, int meshIndex, int faceIndex)
    : vertices{Vertex(p0.x, p0.y, p0.z), Vertex(p1.x, p1.y, p1.z), Vertex(p2.x, p2.y, p2.z)},
      edge1(p1 - p0), edge2(p2 - p0), normal(Vector3::cross(edge1, edge2).normalized()),
      faceIndex(faceIndex), meshIndex(meshIndex)
{
}

Vertex MeshFace::pointAt(double u, double v) const
{
    return Vertex(vertices[0].position() + u * edge1 + v * edge2, normal);
}
