#include "VisibleFace.h"

#include "Camera.h"
#include "MeshFace.h"
#include "Scene.h"

#include <cmath>

namespace visibleface {
namespace {
// Clear of the near and far planes, in eye distance. Depth in the depth buffer crowds
// towards the far plane: a tenth of the way short of it still leaves a face's depth well
// below the cleared depth in single precision and 24 bits.
constexpr double FarShare = 0.9;
constexpr double NearShare = 1.01;
// Clear of the picture's edges, in pixels.
constexpr double EdgeMargin = 1.0;
// A circle of radius sqrt(2)/2 anywhere holds a pixel centre; one pixel leaves room.
constexpr double InnerRadius = 1.0;

struct Projected
{
    double x = 0.0, y = 0.0; // pixels from the lower left, as OpenGL's window coordinates
};

// The corner in the picture, or false when it lies outside it or off the depth range.
bool project(const Matrix4 &m, const Vector3 &p, int width, int height,
             const Camera::DepthRange &depth, Projected &out)
{
    const double cx = m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12];
    const double cy = m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13];
    // The perspective makes the fourth component the distance ahead of the eye.
    const double cw = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
    if (!(cw > depth.nearPlane * NearShare && cw < depth.farPlane * FarShare))
        return false;
    out.x = (cx / cw + 1.0) * 0.5 * width;
    out.y = (cy / cw + 1.0) * 0.5 * height;
    return out.x >= EdgeMargin && out.x <= width - EdgeMargin && out.y >= EdgeMargin &&
           out.y <= height - EdgeMargin;
}
} // namespace

bool surelyShows(const Scene &scene, const Camera &camera, int width, int height)
{
    const Matrix4 clip = camera.modelView().preMultiplied(camera.projection(width, height));
    const Camera::DepthRange depth = camera.depthRange();
    // Drawn two-sided, a face shows whichever way it turns.
    const double facing = scene.style.twoSided ? -1.0 : 1.0;
    for (int f = 0; f < scene.faceCount(); ++f) {
        const MeshFace &face = *scene.face(f);
        Projected p[3];
        if (!project(clip, face.corners[0], width, height, depth, p[0]) ||
            !project(clip, face.corners[1], width, height, depth, p[1]) ||
            !project(clip, face.corners[2], width, height, depth, p[2]))
            continue;
        // Twice the area, positive when the corners go anticlockwise on screen: the front
        // faces, the only ones drawn unless the model is drawn two-sided.
        double area2 =
            (p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[2].x - p[0].x) * (p[1].y - p[0].y);
        if (facing < 0.0)
            area2 = std::abs(area2);
        if (!(area2 > 0.0))
            continue;
        const double perimeter = std::hypot(p[1].x - p[0].x, p[1].y - p[0].y) +
                                 std::hypot(p[2].x - p[1].x, p[2].y - p[1].y) +
                                 std::hypot(p[0].x - p[2].x, p[0].y - p[2].y);
        // The inscribed circle's radius is twice the area over the perimeter.
        if (area2 >= InnerRadius * perimeter)
            return true;
    }
    return false;
}
} // namespace visibleface
