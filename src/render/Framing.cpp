#include "Framing.h"

#include "Scene.h"
#include "SceneRenderer.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace framing {
Camera showingModel(SceneRenderer &renderer, const Scene &scene, const Camera &from, int width,
                    int height)
{
    const Camera framed = from.framed(scene.boundsMin, scene.boundsMax, width, height);
    if (!scene.loaded() || renderer.modelInView(scene, framed, width, height))
        return framed;
    // The box's sides, largest first: each seen from its outside, then from within.
    std::array<int, 3> axes{};
    std::iota(axes.begin(), axes.end(), 0);
    const float *e = scene.extent;
    std::stable_sort(axes.begin(), axes.end(), [e](int a, int b) {
        return e[(a + 1) % 3] * e[(a + 2) % 3] > e[(b + 1) % 3] * e[(b + 2) % 3];
    });
    const Vector3 origin = from.modelMatrix.transformPoint(Vector3::zero);
    const Vector3 centre = from.modelMatrix.transformPoint(
        Vector3(scene.center[0], scene.center[1], scene.center[2]));
    for (int axis : axes)
        for (double sign : {1.0, -1.0}) {
            Vector3 normal;
            normal[axis] = sign;
            const Vector3 direction = from.modelMatrix.transformPoint(normal) - origin;
            const Camera facing = from.facing(direction, centre)
                                      .framed(scene.boundsMin, scene.boundsMax, width, height);
            if (renderer.modelInView(scene, facing, width, height))
                return facing;
        }
    return framed;
}
} // namespace framing
