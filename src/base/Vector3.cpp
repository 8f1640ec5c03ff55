#include <GL/glew.h>

#include "Vector3.h"

#include <cmath>

constinit const Vector3 Vector3::zero{0.0, 0.0, 0.0};

void Vector3::normalize()
{
    const double length = std::sqrt(lengthSquared());
    if (length == 0.0)
        return;
    const double r = 1.0 / length;
    x *= r;
    y *= r;
    z *= r;
}

void Vector3::emitVertex() const
{
    glVertex3dv(data());
}
