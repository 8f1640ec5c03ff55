#pragma once

#include "MeshFace.h"

#include <atomic>
#include <cstddef>

// Normals smoothed by angle over a whole model, for models whose files say nothing about
// smoothing. The corners of faces meeting at one position (the same coordinates to the
// bit, whatever their meshes or point numbers: 3DS and STL faces need not share points)
// take the sum of the normals of those faces whose normal lies within `degrees` of their
// own face's, each weighted by the angle its face has at that position; a face whose
// normal is farther off keeps an edge there. Linear in the faces: positions are found
// through a hash table, and a corner is compared with at most MaxCompared faces around
// its position (beyond that, those faces are first sorted into at most MaxGroups groups
// by direction, and a corner takes its group's sum).
namespace smoothnormals {

constexpr size_t MaxCompared = 64;
constexpr size_t MaxGroups = 16;

// Nine floats per face into `normals` (corners 0, 1, 2), for 0 < degrees <= 180. A
// degenerate face takes the sum of every face at the position. False, with `normals`
// half written, when `cancel` was set meanwhile.
bool compute(const MeshFace *faces, size_t count, double degrees, float *normals,
             const std::atomic_bool *cancel = nullptr);

} // namespace smoothnormals
