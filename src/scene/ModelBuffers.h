#pragma once

#include "GlObjects.h"

#include <cstddef>

// One range of a model's faces in OpenGL buffers: three vertices a face, with positions
// and normals (3 floats), colours (3 floats) and face-id colours (3 bytes) each.
struct ModelBuffers
{
    GlBuffer positions, normals, colors, idColors;
    size_t faces = 0;
};
