#include <GL/glew.h>

#include "GlSetup.h"

#include "ShaderProgram.h"

#include <QFile>
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

void buildObjectColorProgram(unsigned int &shaderName, unsigned int &programName, QString &log)
{
    QFile file(QStringLiteral(":object_color.frag"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        log = QStringLiteral("the fragment shader resource cannot be opened");
        return;
    }
    const QByteArray source = file.readAll();
    const char *text = source.constData();

    const GLuint shader = glCreateShader(GL_FRAGMENT_SHADER);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (!compiled)
        log = glInfoLog(shader, false);

    const GLuint program = glCreateProgram();
    glAttachShader(program, shader);
    glLinkProgram(program);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked)
        log += (log.isEmpty() ? QString() : QStringLiteral("\n")) + glInfoLog(program, true);
    glUseProgram(program);
    shaderName = shader;
    programName = program;
}

} // namespace glsetup
