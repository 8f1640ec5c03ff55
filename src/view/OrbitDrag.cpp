#include "OrbitDrag.h"

#include "Scene.h"

#include <cmath>

Vector3 OrbitDrag::centreOf(const Scene &scene)
{
    const float *c = scene.center;
    return scene.camera().modelMatrix.transformPoint(Vector3(c[0], c[1], c[2]));
}

void OrbitDrag::press(const Scene &scene, Qt::MouseButton button, const QPoint &devicePos)
{
    kind = button == Qt::LeftButton ? Orbit : button == Qt::RightButton ? Pan : None;
    start = scene.camera();
    pressPos = devicePos;
}

void OrbitDrag::move(Scene &scene, const QPoint &devicePos) const
{
    const QPoint d = devicePos - pressPos;
    if (kind == Orbit) {
        scene.setCamera(
            start.orbited(d.x() * DegreesPerPixel, d.y() * DegreesPerPixel, centreOf(scene)));
    } else if (kind == Pan) {
        // A pixel at the centre's distance: the model follows the pointer.
        const double distance = std::sqrt((start.worldEye - centreOf(scene)).lengthSquared());
        const double unit = 2.0 * distance * std::tan(Camera::FieldOfView * M_PI / 360.0) /
                            std::max(1, scene.viewportHeight);
        scene.setCamera(start.panned(-d.x() * unit, d.y() * unit));
    }
}

bool OrbitDrag::release()
{
    const bool ran = kind != None;
    kind = None;
    return ran;
}

void OrbitDrag::wheel(Scene &scene, int angleDelta)
{
    const double notches = angleDelta / 120.0;
    scene.setCamera(scene.camera().dolly(std::pow(1.0 - WheelStep, notches), centreOf(scene)));
}

void OrbitDrag::frame(Scene &scene)
{
    scene.setCamera(scene.camera().framed(scene.boundsMin, scene.boundsMax, scene.viewportWidth,
                                          scene.viewportHeight));
}
