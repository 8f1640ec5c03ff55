#pragma once

#include "Vector3.h"

// A point of a mesh or of a surface together with its normal.
class Vertex
{
public:
    Vector3 positionVector;
    Vector3 normalVector;
    Vector3 extra;

    Vertex() = default;
    Vertex(const Vector3 &position, const Vector3 &normal)
        : positionVector(position), normalVector(normal)
    {
    }
    Vertex(double x, double y, double z) : positionVector(x, y, z) {}

    Vector3 &position() { return positionVector; }
    const Vector3 &position() const { return positionVector; }
    Vector3 &normal() { return normalVector; }
    const Vector3 &normal() const { return normalVector; }
};
