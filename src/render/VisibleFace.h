#pragma once

class Scene;
struct Camera;

// Whether the model is sure to show in a picture, without drawing it: a face that turns its
// front to the camera, lies wholly inside the picture and between the near and far planes,
// and holds a circle of at least a pixel's radius (so that some pixel centre lies within it)
// is drawn into at least one pixel. False says only that no such face was found: the model
// may still show through faces larger than the picture, or cut by its edges.
namespace visibleface {
bool surelyShows(const Scene &scene, const Camera &camera, int width, int height);
} // namespace visibleface
