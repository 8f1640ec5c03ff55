#include "Turntable.h"

Turntable::Turntable(const Camera &startCamera, const float modelCentre[3], int frameCount,
                     double totalDegrees)
    : start(startCamera),
      centre(startCamera.modelMatrix.transformPoint(
          Vector3(modelCentre[0], modelCentre[1], modelCentre[2]))),
      frames(frameCount), degrees(totalDegrees)
{
}

Camera Turntable::cameraOf(int number) const
{
    if (number <= 1)
        return start;
    return start.orbited(degrees * double(number - 1) / double(frames), 0.0, centre);
}
