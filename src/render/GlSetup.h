#pragma once

// OpenGL set-up: the surface format and the entry points (shader programs are built by
// ShaderProgram). Loading the entry points needs the OpenGL context current.

#include <QString>

namespace glsetup {

// The surface format views and pictures need (alpha, depth, compatibility profile); must
// be set before the application object exists.
void setDefaultSurfaceFormat();

// Loads the entry points; false with the reason when OpenGL 2.0 is not there.
bool loadEntryPoints(QString &error);
// Test-only: makes loadEntryPoints behave as if OpenGL 2.0 were missing.
void simulateMissingOpenGl2(bool missing);

} // namespace glsetup
