#pragma once

// A point, direction or normal in double precision. The three components are stored
// contiguously (x, y, z) so that they can be handed to OpenGL as a double triple.
class Vector3
{
public:
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    static const Vector3 zero;

    constexpr Vector3() = default;
    constexpr Vector3(double x0, double y0, double z0) : x(x0), y(y0), z(z0) {}

    void setZero() { x = y = z = 0.0; }

    double &operator[](int i) { return (&x)[i]; }
    double operator[](int i) const { return (&x)[i]; }
    const double *data() const { return &x; }

    static double dot(const Vector3 &a, const Vector3 &b)
    {
        return a.x * b.x + a.y * b.y + a.z * b.z;
    }
    static Vector3 cross(const Vector3 &a, const Vector3 &b)
    {
        return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    }

    double lengthSquared() const { return dot(*this, *this); }
    // Scales to unit length; the zero vector stays as it is.
    void normalize();
    Vector3 normalized() const
    {
        Vector3 v = *this;
        v.normalize();
        return v;
    }
    Vector3 negated() const { return {-x, -y, -z}; }

    // Passes the components to glVertex3dv inside a glBegin/glEnd pair of the caller.
    void emitVertex() const;

    friend Vector3 operator+(const Vector3 &a, const Vector3 &b)
    {
        return {a.x + b.x, a.y + b.y, a.z + b.z};
    }
    friend Vector3 operator-(const Vector3 &a, const Vector3 &b)
    {
        return {a.x - b.x, a.y - b.y, a.z - b.z};
    }
    friend Vector3 operator*(const Vector3 &v, double s) { return {v.x * s, v.y * s, v.z * s}; }
    friend Vector3 operator*(double s, const Vector3 &v) { return v * s; }
    friend Vector3 operator/(const Vector3 &v, double d) { return v * (1.0 / d); }
    friend bool operator==(const Vector3 &a, const Vector3 &b) = default;
};
