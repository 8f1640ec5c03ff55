#include <GL/glew.h>

#include "Matrix4.h"

#include <cmath>

// Constant-initialised: valid before any other code runs.
constinit const Matrix4 Matrix4::identity{};

bool operator==(const Matrix4 &a, const Matrix4 &b)
{
    for (int i = 0; i < 16; ++i)
        if (a.m[i] != b.m[i])
            return false;
    return true;
}

Matrix4 Matrix4::preMultiplied(const Matrix4 &b) const
{
    Matrix4 r;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k)
                sum += b.m[k * 4 + row] * m[col * 4 + k];
            r.m[col * 4 + row] = sum;
        }
    return r;
}

Vector3 Matrix4::transformPoint(const Vector3 &p) const
{
    double h[4];
    for (int k = 0; k < 4; ++k)
        h[k] = m[k] * p.x + m[4 + k] * p.y + m[8 + k] * p.z + m[12 + k];
    if (h[3] == 0.0)
        return {h[0], h[1], h[2]};
    const double r = 1.0 / h[3];
    return {h[0] * r, h[1] * r, h[2] * r};
}

Matrix4 Matrix4::inverse() const
{
    Matrix4 r;
    if (m[3] == 0.0 && m[7] == 0.0 && m[11] == 0.0 && m[15] == 1.0) {
        // Affine: invert the 3 x 3 block and carry the translation across.
        const double a = m[0], b = m[4], c = m[8];
        const double d = m[1], e = m[5], f = m[9];
        const double g = m[2], h = m[6], i = m[10];
        const double c00 = e * i - f * h, c01 = -(d * i - f * g), c02 = d * h - e * g;
        const double det = a * c00 + b * c01 + c * c02;
        if (det == 0.0)
            return r;
        const double s = 1.0 / det;
        // Inverse = adjugate / det; adjugate is the transposed cofactor matrix.
        const double inv[3][3] = {
            {c00 * s, -(b * i - c * h) * s, (b * f - c * e) * s},
            {c01 * s, (a * i - c * g) * s, -(a * f - c * d) * s},
            {c02 * s, -(a * h - b * g) * s, (a * e - b * d) * s},
        };
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col)
                r.m[col * 4 + row] = inv[row][col];
        const double t[3] = {m[12], m[13], m[14]};
        for (int row = 0; row < 3; ++row)
            r.m[12 + row] = -(inv[row][0] * t[0] + inv[row][1] * t[1] + inv[row][2] * t[2]);
        r.m[3] = r.m[7] = r.m[11] = 0.0;
        r.m[15] = 1.0;
        return r;
    }

    // General: cofactors from 2 x 2 sub-determinants.
    const double *a = m;
    double inv[16];
    inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] +
             a[9] * a[7] * a[14] + a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
    inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] -
             a[8] * a[7] * a[14] - a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
    inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] +
             a[8] * a[7] * a[13] + a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
    inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] -
              a[8] * a[6] * a[13] - a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
    inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] -
             a[9] * a[3] * a[14] - a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
    inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] +
             a[8] * a[3] * a[14] + a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
    inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] -
             a[8] * a[3] * a[13] - a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
    inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] +
              a[8] * a[2] * a[13] + a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
    inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] +
             a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
    inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] -
             a[4] * a[3] * a[14] - a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
    inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] +
              a[4] * a[3] * a[13] + a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
    inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] -
              a[4] * a[2] * a[13] - a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
    inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] -
             a[5] * a[3] * a[10] - a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
    inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] +
             a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
    inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] -
              a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
    inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] +
              a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
    // Expansion along the first row (m0, m4, m8, m12).
    const double det = a[0] * inv[0] + a[4] * inv[1] + a[8] * inv[2] + a[12] * inv[3];
    if (det == 0.0)
        return r;
    const double s = 1.0 / det;
    for (int i = 0; i < 16; ++i)
        r.m[i] = inv[i] * s;
    return r;
}

void Matrix4::glMultiply() const
{
    glMultMatrixd(m);
}

Matrix4 Matrix4::scaling(double s)
{
    Matrix4 r;
    r.m[0] = r.m[5] = r.m[10] = s;
    return r;
}

Matrix4 Matrix4::translation(const Vector3 &t)
{
    Matrix4 r;
    r.m[12] = t.x;
    r.m[13] = t.y;
    r.m[14] = t.z;
    return r;
}

Matrix4 Matrix4::rotation(const Vector3 &axis, double degrees)
{
    Matrix4 r;
    const double length = std::sqrt(axis.lengthSquared());
    if (length == 0.0)
        return r;
    const double radians = degrees * 0.017453292519943295;
    const double s = std::sin(radians), c = std::cos(radians), t = 1.0 - c;
    const double x = axis.x / length, y = axis.y / length, z = axis.z / length;
    r.m[0] = x * x * t + c;
    r.m[1] = x * y * t - z * s;
    r.m[2] = x * z * t + y * s;
    r.m[4] = x * y * t + z * s;
    r.m[5] = y * y * t + c;
    r.m[6] = y * z * t - x * s;
    r.m[8] = x * z * t - y * s;
    r.m[9] = y * z * t + x * s;
    r.m[10] = z * z * t + c;
    return r;
}
