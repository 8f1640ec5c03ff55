#pragma once

// OpenGL set-up shared by the view and the picture command: entry points, the shader
// program and the graftal textures. Each needs the OpenGL context current.

#include <QString>

class Graftal;

namespace glsetup {

// Loads the entry points; false with the reason when OpenGL 2.0 is not there.
bool loadEntryPoints(QString &error);
// Test-only: makes loadEntryPoints behave as if OpenGL 2.0 were missing.
void simulateMissingOpenGl2(bool missing);

// Compiles and links the built-in fragment shader `object_color.frag` and makes it the
// current program; `log` gets the compiler's and linker's complaints. The names are
// returned for their owner to keep.
void buildObjectColorProgram(unsigned int &shader, unsigned int &program, QString &log);

// Uploads the graftal's levels into its two textures (`textureIds`: levels, masks) as
// mipmap chains: finer mipmap levels show its first levels of detail, coarser ones the
// later ones, so OpenGL's choice by on-screen size picks the level of detail.
void uploadGraftalTextures(const Graftal *g);

} // namespace glsetup
