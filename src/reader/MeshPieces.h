#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Turns a triangle mesh as a general reader hands it over (one vertex per corner, or
// shared vertices with any attributes) into what the transfer takes: points shared by
// the corners that are the same vertex, at most 65,535 points a piece. All steps take time
// linear in the size of the mesh.
//
// Corners are the same vertex when position, normal, texture coordinates and colour are
// equal to the bit. A mesh without normals is smoothed by angle: at each position the
// faces are sorted by the direction they face, a face going with the first group whose
// first face is less than `SmoothingAngle` from it (at most 8 groups a point, then the
// nearest), and each group gets its own point, so that the application's smoothing over
// shared points leaves sharp edges sharp.
namespace meshpieces {

constexpr double SmoothingAngle = 80.0; // degrees
constexpr uint32_t MaxPoints = 65535;

// Attribute arrays with their strides in floats; null for none.
struct Input
{
    size_t vertexCount = 0;
    const float *positions = nullptr; // stride positionStride
    size_t positionStride = 3;
    const float *normals = nullptr; // stride 3
    const float *texCoords = nullptr;
    size_t texCoordStride = 3;
    const float *colors = nullptr; // RGBA, stride 4, 0 to 1
    std::vector<std::array<uint32_t, 3>> triangles;
};

struct Piece
{
    std::vector<float> points;         // 3 a point
    std::vector<float> texCoords;      // 2 a point
    std::vector<unsigned char> colors; // RGBA8 a point
    std::vector<std::array<uint16_t, 3>> faces;
};

std::vector<Piece> split(const Input &input);

} // namespace meshpieces
