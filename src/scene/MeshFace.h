#pragma once

#include "Vertex.h"

// One triangle of the loaded model, on which graftals can be placed. A model may have
// millions of them, so only the corner positions are kept; vertex(k) gives the corner
// as a Vertex (its normal and extra vectors are zero).
class MeshFace
{
public:
    Vector3 corners[3];
    Vector3 edge1;  // corner 1 - corner 0
    Vector3 edge2;  // corner 2 - corner 0
    Vector3 normal; // unit normal of edge1 x edge2; zero for a degenerate triangle
    int faceIndex;  // over the whole model: meshes in file order, faces in mesh order
    int meshIndex;

    MeshFace(const Vector3 &p0, const Vector3 &p1, const Vector3 &p2, int meshIndex, int faceIndex);

    Vertex vertex(int k) const { return Vertex(corners[k].x, corners[k].y, corners[k].z); }
    // The point at barycentric (u, v): corner 0 + u edge1 + v edge2, with the face normal.
    Vertex pointAt(double u, double v) const;
    // The barycentric (u, v) of a point of the face's plane, the inverse of pointAt; false
    // for a degenerate face or numbers that are not finite.
    bool barycentricOf(const Vector3 &point, double &u, double &v) const;
};

#include <type_traits>
static_assert(std::is_trivially_destructible_v<MeshFace>, "faces are released without destruction");
