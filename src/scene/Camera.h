#pragma once

#include "Matrix4.h"
#include "Vector3.h"

// What the view looks through: the model is centred, scaled and stood upright in front of
// an eye that turns in place and moves freely. The modelview matrix is
// cameraRotation · cameraTranslation · modelMatrix.
//
// A value: every operation is a function of the camera it is called on. A drag's preview
// is a camera whose eye vectors follow the drag while its matrices stay; the scene keeps
// that camera, so the next step of the drag takes its pitch axis from where the previous
// step looked.
struct Camera
{
    static constexpr double ResetDistance = 800.0;
    static constexpr double ModelSize = 100.0;
    static constexpr double FieldOfView = 45.0;
    static constexpr double NearPlane = double(0.1f);
    static constexpr double FarPlane = 4000.0;

    Vector3 worldForward;
    Vector3 worldEye;
    Vector3 viewDir;
    Vector3 eye;
    Matrix4 cameraTranslation;
    Matrix4 cameraRotation;
    Matrix4 modelMatrix;
    Matrix4 normalization;
    Matrix4 orientation;
    // Half the diagonal of the model's box in world units (0 without a model): the near and
    // far planes follow it and the eye's distance, so that a model of any size draws whole.
    double reach = 0.0;
    // The share of the view's height a picture of this camera shows (1: all of it): a
    // picture wider than the view shows the band of the view its aspect cuts out.
    double narrowing = 1.0;
    // This camera for a width x height picture of what a viewWidth x viewHeight view shows
    // within the largest rectangle of the picture's aspect.
    Camera forPicture(int viewWidth, int viewHeight, int width, int height) const;

    // The turn that stands the model's Z axis up, as 3DS files have it.
    static Matrix4 zUp();
    // The matrices that centre the box of the given extents and centre, scale its smallest
    // side to ModelSize and stand it up as `turn` does; the eye is left where it is.
    Camera fitted(const float extent[3], const float center[3], const Matrix4 &turn = zUp()) const;
    // The camera a newly loaded model is seen through: from ResetDistance along +Z.
    static Camera reset(const float extent[3], const float center[3], const Matrix4 &turn = zUp());

    // The axis a pitch turns about: across the view, level with the world.
    Vector3 pitchAxis() const;
    // The rotation a turn by yaw and pitch (degrees) from this camera gives.
    Matrix4 turn(double yaw, double pitch) const;
    // The translation a move by right, up and along (world units) from this camera gives.
    Matrix4 move(double right, double up, double along) const;
    // This camera with its view direction as `rotation` turns it (its matrices unchanged).
    Camera lookingThrough(const Matrix4 &rotation) const;
    // This camera with its eye where `translation` puts it (its matrices unchanged).
    Camera standingAt(const Matrix4 &translation) const;
    // The camera after a committed turn or move.
    Camera turned(double yaw, double pitch) const;
    Camera moved(double right, double up, double along) const;

    // Orbiting, panning and framing set the rotation and the eye's place in the world at
    // once; the eye vectors follow. Degrees and world units throughout; the centre of the
    // model's box is the world's origin.
    static constexpr double MaxElevation = 89.0;
    // This camera with `rotation` and its eye at `eyeInWorld`.
    Camera placed(const Matrix4 &rotation, const Vector3 &eyeInWorld) const;
    // Turntable: the eye goes round `centre`, yaw degrees about the world's vertical axis
    // (positive: the model turns right), then pitch degrees over the view's level axis
    // (positive: the eye rises), looking at the centre as it looked before. The view never
    // tips over the top or bottom: its elevation stays within MaxElevation.
    Camera orbited(double yaw, double pitch, const Vector3 &centre) const;
    // The eye `factor` times as far from `centre`, on the same line, looking the same way.
    Camera dolly(double factor, const Vector3 &centre) const;
    // The eye moved across the view: right and up as the picture shows them.
    Camera panned(double right, double up) const;
    // The eye moved along the view direction so that the box (model coordinates) fills a
    // width x height picture with a margin, looking at the box's centre.
    Camera framed(const float boxMin[3], const float boxMax[3], int width, int height) const;

    // Model coordinates to eye coordinates.
    Matrix4 modelView() const;
    // The depth the near and far planes enclose, in eye distance: the model's box and room
    // for graftals about it, wherever the eye is; the fixed planes without a model. With it
    // the share of the view's height the picture shows.
    struct DepthRange
    {
        double nearPlane = NearPlane, farPlane = FarPlane;
        double narrowing = 1.0;
    };
    DepthRange depthRange() const;
    // The projection of a picture of the given size through this camera's depth range.
    Matrix4 projection(int width, int height) const;
    static Matrix4 perspective(int width, int height, const DepthRange &depth);
    // The eye on the line through `centre` along `direction` (world), looking at the centre
    // with the world's vertical up the picture where it can be.
    Camera facing(const Vector3 &direction, const Vector3 &centre) const;
};
