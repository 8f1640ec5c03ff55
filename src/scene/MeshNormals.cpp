#include "MeshNormals.h"

#include <cmath>
#include <lib3ds/mesh.h>
#include <vector>

namespace {
constexpr float Epsilon = 1e-8f;

float dot(const float *a, const float *b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Unit length, or the largest axis for a vector too short to scale.
void normalize(float *c)
{
    const float l = float(std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]));
    if (std::fabs(l) < Epsilon) {
        if (c[0] >= c[1] && c[0] >= c[2]) {
            c[0] = 1.0f;
            c[1] = c[2] = 0.0f;
        } else if (c[1] >= c[2]) {
            c[1] = 1.0f;
            c[0] = c[2] = 0.0f;
        } else {
            c[2] = 1.0f;
            c[0] = c[1] = 0.0f;
        }
    } else {
        const float m = 1.0f / l;
        c[0] *= m;
        c[1] *= m;
        c[2] *= m;
    }
}
} // namespace

void calculateVertexNormals(const Lib3dsMesh *mesh, float *normals)
{
    const size_t faces = mesh->faces;
    if (faces == 0)
        return;
    // The faces around each point, the latest first (the order the sums are made in).
    std::vector<unsigned> start(size_t(mesh->points) + 1, 0);
    for (size_t i = 0; i < faces; ++i)
        for (int j = 0; j < 3; ++j)
            ++start[mesh->faceL[i].points[j] + 1];
    for (size_t p = 0; p < mesh->points; ++p)
        start[p + 1] += start[p];
    std::vector<unsigned> around(faces * 3);
    std::vector<unsigned> fill(start.begin(), start.end() - 1);
    for (size_t i = faces; i-- > 0;)
        for (int j = 0; j < 3; ++j) {
            const unsigned p = mesh->faceL[i].points[j];
            around[fill[p]++] = unsigned(i);
        }

    std::vector<const float *> seen;
    for (size_t i = 0; i < faces; ++i) {
        const Lib3dsFace &f = mesh->faceL[i];
        for (int j = 0; j < 3; ++j) {
            float n[3];
            if (f.smoothing) {
                n[0] = n[1] = n[2] = 0.0f;
                seen.clear();
                const unsigned p = f.points[j];
                for (unsigned at = start[p]; at < start[p + 1]; ++at) {
                    const Lib3dsFace &other = mesh->faceL[around[at]];
                    bool found = false;
                    for (const float *earlier : seen)
                        if (std::fabs(double(dot(earlier, other.normal)) - 1.0) < 1e-5) {
                            found = true;
                            break;
                        }
                    if (!found && (f.smoothing & other.smoothing)) {
                        n[0] += other.normal[0];
                        n[1] += other.normal[1];
                        n[2] += other.normal[2];
                        seen.push_back(other.normal);
                    }
                }
            } else {
                n[0] = f.normal[0];
                n[1] = f.normal[1];
                n[2] = f.normal[2];
            }
            normalize(n);
            float *out = normals + 9 * i + 3 * j;
            out[0] = n[0];
            out[1] = n[1];
            out[2] = n[2];
        }
    }
}
