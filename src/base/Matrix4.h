#pragma once

#include "Vector3.h"

// A 4 x 4 transform in double precision, stored column-major as OpenGL expects:
// element i is row (i mod 4), column (i div 4); elements 12, 13, 14 hold a translation.
class Matrix4
{
public:
    double m[16];

    static const Matrix4 identity;

    constexpr Matrix4() : m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1} {} // the identity

    void setIdentity() { *this = identity; }

    double &operator[](int i) { return m[i]; }
    double operator[](int i) const { return m[i]; }
    double at(int row, int column) const { return m[column * 4 + row]; }
    const double *data() const { return m; }

    // A.preMultiplied(B) is B·A: A is applied first, then B.
    Matrix4 preMultiplied(const Matrix4 &b) const;
    void preMultiply(const Matrix4 &b) { *this = preMultiplied(b); }

    // M·(p, 1) divided by its fourth component. A point that the matrix sends to
    // infinity (fourth component 0) comes back undivided, as the direction (h0, h1, h2),
    // so the result is always finite for finite input.
    Vector3 transformPoint(const Vector3 &p) const;

    // The inverse; a singular matrix (exactly zero determinant) gives the identity.
    Matrix4 inverse() const;

    // Passes the sixteen elements, in storage order, to glMultMatrixd.
    void glMultiply() const;

    static Matrix4 scaling(double s);
    static Matrix4 translation(const Vector3 &t);
    static Matrix4 translation(double x, double y, double z)
    {
        return translation(Vector3(x, y, z));
    }
    // Rotation by the given degrees about the axis, as the transpose of what glRotated
    // builds: multiplied into OpenGL it turns points by the negative angle. A zero-length
    // axis names no rotation and gives the identity.
    static Matrix4 rotation(const Vector3 &axis, double degrees);

    friend bool operator==(const Matrix4 &a, const Matrix4 &b);
};
