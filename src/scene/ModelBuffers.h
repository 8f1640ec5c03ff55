#pragma once

#include "GlObjects.h"

#include <cstddef>
#include <vector>

// The vertices of one range's faces that show one texture, as an element buffer over the
// range's vertex buffers: draw them with
// glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_INT, 0) with `indices` bound to
// GL_ELEMENT_ARRAY_BUFFER and the range's buffers as attributes.
struct TextureElements
{
    int texture = -1; // index into Scene::modelTextures(); -1: the faces without a texture
    GlBuffer indices; // GLuint vertex numbers within the range, three a face
    GLsizei count = 0;
};

// One range of a model's faces in OpenGL buffers: three vertices a face, with positions
// and normals (3 floats), colours (3 floats), face-id colours (3 bytes) and texture
// coordinates (2 floats, v = 0 at the image's bottom row) each; and, for every texture
// the range's faces show (and once for the faces without one), the element buffer of
// those faces. Every face of the range is in exactly one of them.
struct ModelBuffers
{
    GlBuffer positions, normals, colors, idColors, texCoords;
    std::vector<TextureElements> byTexture;
    size_t faces = 0;
};

// A model's texture in OpenGL: RGBA, mipmapped, repeating, its rows uploaded bottom row
// first so that texture coordinate v = 0 is the image's bottom row. A texture whose image
// could not be had is 0 with size 0 (its faces then show their colours).
struct ModelTexture
{
    GlTexture texture;
    int width = 0, height = 0;
};
