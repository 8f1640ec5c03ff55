#include <GL/glew.h>

#include "GlSetup.h"

#include "Graftal.h"

#include <QFile>
#include <QImage>

namespace {
bool missingOpenGl2 = false;
constexpr int MipmapLevels = 9; // 256 x 256 down to 1 x 1

QString infoLog(GLuint id, bool isProgram)
{
    GLint length = 0;
    isProgram ? glGetProgramiv(id, GL_INFO_LOG_LENGTH, &length)
              : glGetShaderiv(id, GL_INFO_LOG_LENGTH, &length);
    QByteArray log(std::max(length, 1), '\0');
    isProgram ? glGetProgramInfoLog(id, length, nullptr, log.data())
              : glGetShaderInfoLog(id, length, nullptr, log.data());
    return QString::fromLocal8Bit(log).trimmed();
}
} // namespace

namespace glsetup {

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
        log = infoLog(shader, false);

    const GLuint program = glCreateProgram();
    glAttachShader(program, shader);
    glLinkProgram(program);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked)
        log += (log.isEmpty() ? QString() : QStringLiteral("\n")) + infoLog(program, true);
    glUseProgram(program);
    shaderName = shader;
    programName = program;
}

void uploadGraftalTextures(const Graftal *g)
{
    if (!glIsEnabled(GL_TEXTURE_2D))
        glEnable(GL_TEXTURE_2D);
    const int last = g->levelCount() - 1;
    const double step = last * 0.125 + 0.5;
    for (int unit = 0; unit < 2; ++unit) {
        glActiveTexture(GLenum(GL_TEXTURE0 + unit));
        glBindTexture(GL_TEXTURE_2D, g->textureIds[unit]);
        glEnable(GL_TEXTURE_2D);
        // A graftal is one picture, not a tile: near its edges the filter of the coarse
        // levels must not reach round to the opposite edge (the roots would show as a
        // line along the top of every small graftal).
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        double x = 0.0;
        for (int level = 0; level < MipmapLevels; ++level) {
            const int side = 1 << (8 - level);
            const int detail = std::min(int(x), last);
            x += step;
            const QImage image = (unit == 0 ? g->levelTexture(detail, QSize(side, side))
                                            : g->levelMask(detail, QSize(side, side)))
                                     .convertToFormat(QImage::Format_RGBA8888)
                                     .mirrored();
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
            glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
            glTexImage2D(GL_TEXTURE_2D, level, 4, image.width(), image.height(), 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, image.constBits());
        }
    }
}

} // namespace glsetup
