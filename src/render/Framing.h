#pragma once

#include "Camera.h"

class Scene;
class SceneRenderer;

namespace framing {
// "Frame model" for a width x height picture: the whole model in view, looking at its
// centre from where `from` looks. When that shows none of it (a sheet seen edge-on or from
// its culled back), the eye turns to face the model's largest side, then the others.
Camera showingModel(SceneRenderer &renderer, const Scene &scene, const Camera &from, int width,
                    int height);
} // namespace framing
