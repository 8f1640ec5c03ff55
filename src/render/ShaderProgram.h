#pragma once

#include "GlObjects.h"

#include <QString>
#include <QStringList>
#include <vector>

// What the compiler said of a shader, or the linker of a program.
QString glInfoLog(GLuint id, bool isProgram);

// A linked program of built-in shaders (resources named *.vert and *.frag), owning its
// shader and program names. The context must be current for every call and when it goes.
// One source can make several programs: `defines` ("#define TOON\n", say) comes first in
// each of its shaders.
class ShaderProgram
{
public:
    // Compiles and links the shaders; false with the compiler's and linker's complaints.
    bool build(const QStringList &resources, QString &log, const QByteArray &defines = {});
    bool valid() const { return linked; }
    GLuint name() const { return program.get(); }
    GLint uniform(const char *uniformName) const;

private:
    std::vector<GlShader> shaders;
    GlProgram program;
    bool linked = false;
};
