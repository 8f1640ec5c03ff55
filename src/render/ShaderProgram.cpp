#include <GL/glew.h>

#include "ShaderProgram.h"

#include <QFile>

QString glInfoLog(GLuint id, bool isProgram)
{
    GLint length = 0;
    isProgram ? glGetProgramiv(id, GL_INFO_LOG_LENGTH, &length)
              : glGetShaderiv(id, GL_INFO_LOG_LENGTH, &length);
    QByteArray log(std::max(length, 1), '\0');
    isProgram ? glGetProgramInfoLog(id, length, nullptr, log.data())
              : glGetShaderInfoLog(id, length, nullptr, log.data());
    return QString::fromLocal8Bit(log).trimmed();
}

bool ShaderProgram::build(const QStringList &resources, QString &log, const QByteArray &defines)
{
    linked = false;
    shaders.clear();
    program = GlProgram(glCreateProgram());
    for (const QString &resource : resources) {
        QFile file(resource);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            log = QStringLiteral("the shader %1 cannot be opened").arg(resource);
            return false;
        }
        const QByteArray source = defines + file.readAll();
        const char *text = source.constData();
        const GLenum kind =
            resource.endsWith(QLatin1String(".vert")) ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER;
        shaders.emplace_back(glCreateShader(kind));
        const GLuint shader = shaders.back().get();
        glShaderSource(shader, 1, &text, nullptr);
        glCompileShader(shader);
        GLint compiled = GL_FALSE;
        glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
        if (!compiled) {
            log = QStringLiteral("%1: %2").arg(resource, glInfoLog(shader, false));
            return false;
        }
        glAttachShader(program.get(), shader);
    }
    glLinkProgram(program.get());
    GLint done = GL_FALSE;
    glGetProgramiv(program.get(), GL_LINK_STATUS, &done);
    if (!done) {
        log = glInfoLog(program.get(), true);
        return false;
    }
    linked = true;
    return true;
}

GLint ShaderProgram::uniform(const char *uniformName) const
{
    return linked ? glGetUniformLocation(program.get(), uniformName) : -1;
}
