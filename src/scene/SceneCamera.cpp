// The camera: the model is centred, scaled and stood upright in front of an eye that
// turns in place and moves freely. The modelview matrix is
// cameraRotation · cameraTranslation · modelMatrix.
#include "Scene.h"

#include <cmath>

namespace {
const Vector3 WorldUp(0.0, 1.0, 0.0);
const Vector3 Ahead(0.0, 0.0, -1.0);
} // namespace

void Scene::fitModel()
{
    // The smallest side of the box becomes ModelSize long. Flat or point-like models
    // (a zero extent) are scaled by their other extents, or not at all.
    double s = 0.0;
    for (int k = 0; k < 3; ++k)
        if (extent[k] > 0.0f && std::isfinite(extent[k]))
            s = std::max(s, ModelSize / double(extent[k]));
    if (!(s > 0.0) || !std::isfinite(s))
        s = 1.0;
    normalization = Matrix4::translation(-double(center[0]), -double(center[1]), -double(center[2]))
                        .preMultiplied(Matrix4::scaling(s));
    orientation = Matrix4::rotation(Vector3(1.0, 0.0, 0.0), 90.0);
    modelMatrix = normalization.preMultiplied(orientation);
}

void Scene::resetCamera()
{
    cameraRotation.setIdentity();
    cameraTranslation.setIdentity();
    cameraTranslation.preMultiply(Matrix4::translation(0.0, 0.0, -ResetDistance));
    worldForward = Ahead;
    worldEye = Vector3(0.0, 0.0, ResetDistance);
    fitModel();
    cameraRotation = rotationFor(0.0, 0.0);
    cameraTranslation = translationFor(0.0, 0.0, 0.0);
}

Vector3 Scene::pitchAxis() const
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

Matrix4 Scene::rotationFor(double yaw, double pitch)
{
    const Vector3 p = pitchAxis();
    const Matrix4 r = Matrix4::rotation(p, pitch)
                          .preMultiplied(Matrix4::rotation(WorldUp, -yaw))
                          .preMultiplied(cameraRotation);
    worldForward = r.inverse().transformPoint(Ahead);
    viewDir = orientation.preMultiplied(r).inverse().transformPoint(Ahead).normalized();
    return r;
}

Matrix4 Scene::translationFor(double right, double up, double along)
{
    const Vector3 p = pitchAxis();
    const Matrix4 t = Matrix4::translation(worldForward * -along)
                          .preMultiplied(Matrix4::translation(WorldUp * -up))
                          .preMultiplied(Matrix4::translation(p * -right))
                          .preMultiplied(cameraTranslation);
    worldEye = t.inverse().transformPoint(Vector3::zero);
    eye = modelMatrix.preMultiplied(t).inverse().transformPoint(Vector3::zero);
    return t;
}

Matrix4 Scene::rotateCamera(double yaw, double pitch)
{
    const Matrix4 r = rotationFor(yaw, pitch);
    r.glMultiply();
    return r;
}

Matrix4 Scene::translateCamera(double right, double up, double along)
{
    const Matrix4 t = translationFor(right, up, along);
    t.glMultiply();
    return t;
}

void Scene::commitRotation(double yaw, double pitch)
{
    cameraRotation = rotationFor(yaw, pitch);
}

void Scene::commitTranslation(double right, double up, double along)
{
    cameraTranslation = translationFor(right, up, along);
}

void Scene::applyCameraRotation() const
{
    cameraRotation.glMultiply();
}

void Scene::applyCameraTranslation() const
{
    cameraTranslation.glMultiply();
}
