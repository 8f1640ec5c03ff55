#include "Camera.h"

#include <algorithm>
#include <cmath>

namespace {
const Vector3 WorldUp(0.0, 1.0, 0.0);
const Vector3 Ahead(0.0, 0.0, -1.0);

// Turns points by `degrees` counter-clockwise about `axis` (Matrix4::rotation turns the
// other way).
Matrix4 turning(const Vector3 &axis, double degrees)
{
    return Matrix4::rotation(axis, -degrees);
}

double degreesOf(double radians)
{
    return radians * 180.0 / M_PI;
}
} // namespace

Matrix4 Camera::zUp()
{
    return Matrix4::rotation(Vector3(1.0, 0.0, 0.0), 90.0);
}

Camera Camera::fitted(const float extent[3], const float center[3], const Matrix4 &turn) const
{
    // The smallest side of the box becomes ModelSize long. Flat or point-like models
    // (a zero extent) are scaled by their other extents, or not at all.
    double s = 0.0;
    for (int k = 0; k < 3; ++k)
        if (extent[k] > 0.0f && std::isfinite(extent[k]))
            s = std::max(s, ModelSize / double(extent[k]));
    if (!(s > 0.0) || !std::isfinite(s))
        s = 1.0;
    Camera c = *this;
    c.normalization =
        Matrix4::translation(-double(center[0]), -double(center[1]), -double(center[2]))
            .preMultiplied(Matrix4::scaling(s));
    c.orientation = turn;
    c.modelMatrix = c.normalization.preMultiplied(c.orientation);
    double diagonal = 0.0;
    for (int k = 0; k < 3; ++k)
        if (std::isfinite(extent[k]))
            diagonal += double(extent[k]) * double(extent[k]);
    c.reach = 0.5 * std::sqrt(diagonal) * s;
    return c;
}

Camera Camera::reset(const float extent[3], const float center[3], const Matrix4 &turn)
{
    Camera c;
    c.cameraTranslation.preMultiply(Matrix4::translation(0.0, 0.0, -ResetDistance));
    c.worldForward = Ahead;
    c.worldEye = Vector3(0.0, 0.0, ResetDistance);
    c = c.fitted(extent, center, turn);
    return c.turned(0.0, 0.0).moved(0.0, 0.0, 0.0);
}

Vector3 Camera::pitchAxis() const
{
    Vector3 p = Vector3::cross(WorldUp, worldForward).normalized();
    if (p.lengthSquared() == 0.0) {
        // Looking straight up or down: pitch about the eye's own horizontal axis
        // instead, so the camera can turn back.
        const Matrix4 toWorld = cameraRotation.inverse();
        p = (toWorld.transformPoint(Vector3(1.0, 0.0, 0.0)) - toWorld.transformPoint(Vector3::zero))
                .normalized()
                .negated();
    }
    return p;
}

Matrix4 Camera::turn(double yaw, double pitch) const
{
    return Matrix4::rotation(pitchAxis(), pitch)
        .preMultiplied(Matrix4::rotation(WorldUp, -yaw))
        .preMultiplied(cameraRotation);
}

Matrix4 Camera::move(double right, double up, double along) const
{
    return Matrix4::translation(worldForward * -along)
        .preMultiplied(Matrix4::translation(WorldUp * -up))
        .preMultiplied(Matrix4::translation(pitchAxis() * -right))
        .preMultiplied(cameraTranslation);
}

Camera Camera::lookingThrough(const Matrix4 &rotation) const
{
    Camera c = *this;
    c.worldForward = rotation.inverse().transformPoint(Ahead);
    c.viewDir = orientation.preMultiplied(rotation).inverse().transformPoint(Ahead).normalized();
    return c;
}

Camera Camera::standingAt(const Matrix4 &translation) const
{
    Camera c = *this;
    c.worldEye = translation.inverse().transformPoint(Vector3::zero);
    c.eye = modelMatrix.preMultiplied(translation).inverse().transformPoint(Vector3::zero);
    return c;
}

Camera Camera::turned(double yaw, double pitch) const
{
    const Matrix4 r = turn(yaw, pitch);
    Camera c = lookingThrough(r);
    c.cameraRotation = r;
    return c;
}

Camera Camera::moved(double right, double up, double along) const
{
    const Matrix4 t = move(right, up, along);
    Camera c = standingAt(t);
    c.cameraTranslation = t;
    return c;
}

Matrix4 Camera::modelView() const
{
    return modelMatrix.preMultiplied(cameraTranslation).preMultiplied(cameraRotation);
}

Camera::DepthRange Camera::depthRange() const
{
    DepthRange range;
    range.narrowing = narrowing > 0.0 && narrowing <= 1.0 ? narrowing : 1.0;
    if (!(reach > 0.0) || !std::isfinite(reach))
        return range;
    // The box's centre is the world's origin. Graftals may stand out of the box by up to
    // its size; the planes leave them that much room on either side.
    const Vector3 toCentre = Vector3::zero - worldEye;
    const Matrix4 toWorld = cameraRotation.inverse();
    const Vector3 forward = (toWorld.transformPoint(Ahead) - toWorld.transformPoint(Vector3::zero));
    const double along = Vector3::dot(toCentre, forward.normalized());
    const double room = 3.0 * reach;
    range.farPlane = std::max(along + room, room);
    // 24 bits of depth keep a ratio of 10^4 between the planes well apart.
    range.nearPlane = std::max(along - room, range.farPlane * 1e-4);
    return range;
}

Matrix4 Camera::projection(int width, int height) const
{
    return perspective(width, height, depthRange());
}

Matrix4 Camera::perspective(int width, int height, const DepthRange &depth)
{
    const double n = depth.nearPlane, f = depth.farPlane;
    // What gluPerspective builds.
    const double focal = 1.0 / (std::tan(FieldOfView * M_PI / 360.0) * depth.narrowing);
    const double aspect = double(width) / double(std::max(1, height));
    Matrix4 p;
    p[0] = focal / aspect;
    p[5] = focal;
    p[10] = (f + n) / (n - f);
    p[11] = -1.0;
    p[14] = 2.0 * f * n / (n - f);
    p[15] = 0.0;
    return p;
}

Camera Camera::placed(const Matrix4 &rotation, const Vector3 &eyeInWorld) const
{
    Camera c = lookingThrough(rotation);
    const Matrix4 t = Matrix4::translation(eyeInWorld.negated());
    c = c.standingAt(t);
    c.cameraRotation = rotation;
    c.cameraTranslation = t;
    return c;
}

Camera Camera::orbited(double yaw, double pitch, const Vector3 &centre) const
{
    const Matrix4 toWorld = cameraRotation.inverse();
    const Matrix4 spin = turning(WorldUp, -yaw);
    const Vector3 forward = spin.transformPoint(toWorld.transformPoint(Ahead)).normalized();
    // The level axis across the view; straight up or down, the eye's own right axis laid
    // level.
    Vector3 level = Vector3::cross(forward, WorldUp);
    if (level.lengthSquared() < 1e-12) {
        level = spin.transformPoint(toWorld.transformPoint(Vector3(1.0, 0.0, 0.0)));
        level.y = 0.0;
    }
    level.normalize();
    // Turning about the level axis changes the view's elevation by just the angle.
    const double elevation = degreesOf(std::asin(std::clamp(forward.y, -1.0, 1.0)));
    const double tilt = std::clamp(elevation - pitch, -MaxElevation, MaxElevation) - elevation;
    const Matrix4 orbit = spin.preMultiplied(turning(level, tilt));
    const Vector3 eyeAt = centre + orbit.transformPoint(worldEye - centre);
    return placed(orbit.inverse().preMultiplied(cameraRotation), eyeAt);
}

Camera Camera::dolly(double factor, const Vector3 &centre) const
{
    if (!(factor > 0.0) || !std::isfinite(factor))
        return *this;
    return placed(cameraRotation, centre + (worldEye - centre) * factor);
}

Camera Camera::panned(double right, double up) const
{
    const Matrix4 toWorld = cameraRotation.inverse();
    return placed(cameraRotation, worldEye + toWorld.transformPoint(Vector3(right, up, 0.0)));
}

Camera Camera::framed(const float boxMin[3], const float boxMax[3], int width, int height) const
{
    const Matrix4 toWorld = cameraRotation.inverse();
    const Vector3 right = toWorld.transformPoint(Vector3(1.0, 0.0, 0.0));
    const Vector3 up = toWorld.transformPoint(Vector3(0.0, 1.0, 0.0));
    const Vector3 forward = toWorld.transformPoint(Ahead);
    const Vector3 mid((double(boxMin[0]) + boxMax[0]) * 0.5, (double(boxMin[1]) + boxMax[1]) * 0.5,
                      (double(boxMin[2]) + boxMax[2]) * 0.5);
    const Vector3 centre = modelMatrix.transformPoint(mid);
    // The box takes at most this share of the picture's height and width.
    constexpr double Fill = 0.85;
    const double tanUp = std::tan(FieldOfView * M_PI / 360.0) * narrowing * Fill;
    const double tanAcross = tanUp * double(std::max(1, width)) / double(std::max(1, height));
    const double closest = reach > 0.0 ? reach * 0.01 : NearPlane * 10.0;
    double distance = closest;
    for (int corner = 0; corner < 8; ++corner) {
        const Vector3 p(corner & 1 ? boxMax[0] : boxMin[0], corner & 2 ? boxMax[1] : boxMin[1],
                        corner & 4 ? boxMax[2] : boxMin[2]);
        const Vector3 d = modelMatrix.transformPoint(p) - centre;
        const double depth = Vector3::dot(d, forward);
        distance = std::max({distance, std::abs(Vector3::dot(d, right)) / tanAcross - depth,
                             std::abs(Vector3::dot(d, up)) / tanUp - depth, closest - depth});
    }
    return placed(cameraRotation, centre - forward * distance);
}

Camera Camera::facing(const Vector3 &direction, const Vector3 &centre) const
{
    const Vector3 back = direction.normalized();
    if (back.lengthSquared() == 0.0)
        return *this;
    // Looking along the vertical, the picture's up is the world's -Z (as from above).
    Vector3 right = Vector3::cross(WorldUp, back);
    if (right.lengthSquared() < 1e-12)
        right = Vector3::cross(Vector3(0.0, 0.0, back.y > 0.0 ? -1.0 : 1.0), back);
    right.normalize();
    const Vector3 up = Vector3::cross(back, right);
    // World to eye: the rows are the eye's right, up and back axes.
    Matrix4 rotation;
    const Vector3 rows[3] = {right, up, back};
    for (int r = 0; r < 3; ++r) {
        rotation.m[0 + r] = rows[r].x;
        rotation.m[4 + r] = rows[r].y;
        rotation.m[8 + r] = rows[r].z;
    }
    const double distance = std::sqrt((worldEye - centre).lengthSquared());
    return placed(rotation, centre + back * distance);
}

Camera Camera::forPicture(int viewWidth, int viewHeight, int width, int height) const
{
    Camera c = *this;
    const double view = double(std::max(1, viewWidth)) / double(std::max(1, viewHeight));
    const double picture = double(std::max(1, width)) / double(std::max(1, height));
    // The view's whole height for pictures narrower than the view, else a band of it.
    c.narrowing = std::min(1.0, view / picture);
    return c;
}
