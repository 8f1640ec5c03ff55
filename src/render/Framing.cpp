#include "Framing.h"

#include "Scene.h"
#include "SceneRenderer.h"

#include <algorithm>
#include <array>
#include <numeric>

#include <cfloat>

namespace framing {
namespace {
// The box of the faces as they are drawn; a model's box from its keyframer nodes may lie
// elsewhere (meshes that their nodes move are drawn where their points are).
struct Box
{
    float min[3] = {FLT_MAX, FLT_MAX, FLT_MAX}, max[3] = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
};

Box drawnBox(const Scene &scene)
{
    Box b;
    for (int f = 0; f < scene.faceCount(); ++f)
        for (const Vector3 &p : scene.face(f)->corners)
            for (int k = 0; k < 3; ++k) {
                b.min[k] = std::min(b.min[k], float(p[k]));
                b.max[k] = std::max(b.max[k], float(p[k]));
            }
    if (!(b.min[0] <= b.max[0]))
        for (int k = 0; k < 3; ++k) {
            b.min[k] = scene.boundsMin[k];
            b.max[k] = scene.boundsMax[k];
        }
    return b;
}
} // namespace

Camera showingModel(SceneRenderer &renderer, const Scene &scene, const Camera &from, int width,
                    int height)
{
    const Box box = drawnBox(scene);
    const Camera framed = from.framed(box.min, box.max, width, height);
    if (!scene.loaded() || renderer.modelInView(scene, framed, width, height))
        return framed;
    // The box's sides, largest first: each seen from its outside, then from within.
    std::array<int, 3> axes{};
    std::iota(axes.begin(), axes.end(), 0);
    const float e[3] = {box.max[0] - box.min[0], box.max[1] - box.min[1], box.max[2] - box.min[2]};
    std::stable_sort(axes.begin(), axes.end(), [&e](int a, int b) {
        return e[(a + 1) % 3] * e[(a + 2) % 3] > e[(b + 1) % 3] * e[(b + 2) % 3];
    });
    const Vector3 origin = from.modelMatrix.transformPoint(Vector3::zero);
    const Vector3 centre = from.modelMatrix.transformPoint(
        Vector3((double(box.min[0]) + box.max[0]) * 0.5, (double(box.min[1]) + box.max[1]) * 0.5,
                (double(box.min[2]) + box.max[2]) * 0.5));
    for (int axis : axes)
        for (double sign : {1.0, -1.0}) {
            Vector3 normal;
            normal[axis] = sign;
            const Vector3 direction = from.modelMatrix.transformPoint(normal) - origin;
            const Camera facing =
                from.facing(direction, centre).framed(box.min, box.max, width, height);
            if (renderer.modelInView(scene, facing, width, height))
                return facing;
        }
    return framed;
}
} // namespace framing
