#include <GL/glew.h>

#include "GlSetup.h"

#include <QSurfaceFormat>

namespace {
bool missingOpenGl2 = false;
} // namespace

namespace glsetup {

void setDefaultSurfaceFormat()
{
    QSurfaceFormat format;
    format.setAlphaBufferSize(8);
    format.setDepthBufferSize(24);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    QSurfaceFormat::setDefaultFormat(format);
}

void simulateMissingOpenGl2(bool missing)
{
    missingOpenGl2 = missing;
}

bool loadEntryPoints(QString &error)
{
    const GLenum status = glewInit();
    // Under an EGL context GLEW reports that it found no GLX display although every
    // entry point loaded; only the version decides.
    const bool usable = status == GLEW_OK || status == GLEW_ERROR_NO_GLX_DISPLAY;
    if (usable && GLEW_VERSION_2_0 && !missingOpenGl2)
        return true;
    const char *version = reinterpret_cast<const char *>(glGetString(GL_VERSION));
    error = QStringLiteral("OpenGL 2.0 is not available (GLEW status %1, version %2)")
                .arg(status)
                .arg(QString::fromLatin1(version ? version : "unknown"));
    return false;
}

} // namespace glsetup
