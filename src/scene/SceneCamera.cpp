// The scene's camera operations: thin calls on its Camera value. The previews of a drag
// keep the eye vectors the drag looks along in the scene's camera, as its next step and
// its commit start from them.
#include "Scene.h"

#include "UpAxis.h"

void Scene::fitModel()
{
    cam = cam.fitted(extent, center);
}

void Scene::resetCamera()
{
    cam = Camera::reset(extent, center, upaxis::orientationFor(style.up, currentPath));
}

void Scene::orientModel()
{
    cam = cam.fitted(extent, center, upaxis::orientationFor(style.up, currentPath))
              .lookingThrough(cam.cameraRotation)
              .standingAt(cam.cameraTranslation);
}

Vector3 Scene::pitchAxis() const
{
    return cam.pitchAxis();
}

Matrix4 Scene::previewRotation(double yaw, double pitch)
{
    const Matrix4 r = cam.turn(yaw, pitch);
    cam = cam.lookingThrough(r);
    return r;
}

Matrix4 Scene::previewTranslation(double right, double up, double along)
{
    const Matrix4 t = cam.move(right, up, along);
    cam = cam.standingAt(t);
    return t;
}

Camera Scene::previewTurn(double yaw, double pitch)
{
    const Matrix4 r = previewRotation(yaw, pitch);
    Camera shown = cam;
    shown.cameraRotation = r;
    return shown;
}

Camera Scene::previewMove(double right, double up)
{
    const Matrix4 t = previewTranslation(right, up, 0.0);
    Camera shown = cam;
    shown.cameraTranslation = t;
    return shown;
}

Matrix4 Scene::rotateCamera(double yaw, double pitch)
{
    const Matrix4 r = previewRotation(yaw, pitch);
    r.glMultiply();
    return r;
}

Matrix4 Scene::translateCamera(double right, double up, double along)
{
    const Matrix4 t = previewTranslation(right, up, along);
    t.glMultiply();
    return t;
}

void Scene::commitRotation(double yaw, double pitch)
{
    cam.cameraRotation = previewRotation(yaw, pitch);
}

void Scene::commitTranslation(double right, double up, double along)
{
    cam.cameraTranslation = previewTranslation(right, up, along);
}

void Scene::applyCameraRotation() const
{
    cam.cameraRotation.glMultiply();
}

void Scene::applyCameraTranslation() const
{
    cam.cameraTranslation.glMultiply();
}
