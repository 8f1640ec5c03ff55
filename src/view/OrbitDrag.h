#pragma once

#include "Camera.h"

#include <QPoint>
#include <Qt>

class Scene;

// The input of the orbit mode: a left drag turns the eye round the model's centre
// (turntable), a right drag pans, the wheel comes closer or goes further; and "Frame
// model", which brings the whole model into view in every mode. Each step sets the
// scene's camera from the camera the drag started with, so that a drag never drifts.
class OrbitDrag
{
public:
    static constexpr double DegreesPerPixel = 0.375;
    // Each notch of the wheel changes the distance to the centre by this share.
    static constexpr double WheelStep = 0.1;

    // A press at a position in device pixels starts a drag (left: orbit, right: pan).
    void press(const Scene &scene, Qt::MouseButton button, const QPoint &devicePos);
    // The pointer at a position in device pixels: the scene's camera follows the drag.
    void move(Scene &scene, const QPoint &devicePos) const;
    // Ends the drag; whether one ran.
    bool release();
    bool active() const { return kind != None; }

    // The wheel turned by `angleDelta` eighths of a degree (120 a notch; positive: closer).
    static void wheel(Scene &scene, int angleDelta);
    // "Frame model": the scene's camera looks at the whole model, in the view's size.
    static void frame(Scene &scene);
    // The centre of the model's box in world coordinates.
    static Vector3 centreOf(const Scene &scene);

private:
    enum Kind
    {
        None,
        Orbit,
        Pan
    } kind = None;
    Camera start;
    QPoint pressPos;
};
