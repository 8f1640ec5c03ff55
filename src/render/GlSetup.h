#pragma once

// OpenGL set-up: entry points and the shader program. Each needs the OpenGL context
// current.

#include <QString>

namespace glsetup {

// The surface format views and pictures need (alpha, depth, compatibility profile); must
// be set before the application object exists.
void setDefaultSurfaceFormat();

// Loads the entry points; false with the reason when OpenGL 2.0 is not there.
bool loadEntryPoints(QString &error);
// Test-only: makes loadEntryPoints behave as if OpenGL 2.0 were missing.
void simulateMissingOpenGl2(bool missing);

// Compiles and links the built-in fragment shader `object_color.frag` and makes it the
// current program; `log` gets the compiler's and linker's complaints. The names are
// returned for their owner to keep.
void buildObjectColorProgram(unsigned int &shader, unsigned int &program, QString &log);

} // namespace glsetup
