#pragma once

#include "Vertex.h"

// One triangle of the loaded model, on which graftals can be placed.
class MeshFace
{
public:
    Vertex vertices[3];
    Vector3 edge1; // vertex 1 - vertex 0
    Vector3 edge2; // vertex 2 - vertex 0
    Vector3 normal; // unit normal of edge1 x edge2; zero for a degenerate triangle
    int faceIndex = 0; // over the whole model: meshes in file order, faces in mesh order
    int meshIndex = 0;

    MeshFace() = default;
    MeshFace(const Vector3 &p0, const Vector3 &p1, const Vector3 &p2, int meshIndex, int faceIndex);

    // The point at barycentric (u, v): vertex 0 + u edge1 + v edge2, with the face normal.
    Vertex pointAt(double u, double v) const;
};
