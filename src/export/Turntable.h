#pragma once

#include "Camera.h"

// The camera of each frame of a turntable: the eye goes round the model's centre by
// `degrees` over `frames` frames, frame 1 being the start view. Each frame's camera comes
// from the start camera and its number alone, so frames rendered apart are the same.
struct Turntable
{
    Camera start;
    Vector3 centre;
    int frames = 1;
    double degrees = 360.0;

    // `centre` in model coordinates, as the scene's box gives it.
    Turntable(const Camera &startCamera, const float modelCentre[3], int frameCount,
              double totalDegrees);
    Camera cameraOf(int number) const;
};
