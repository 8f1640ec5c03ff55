#pragma once

// Owners of OpenGL object names. Include <GL/glew.h> before this header. Each holder
// deletes its name when it goes; the OpenGL context that made the name must then be
// current.

#include <GL/glew.h>

#include <utility>

template <void (*Delete)(GLuint)> class GlName
{
public:
    GlName() = default;
    explicit GlName(GLuint name) : id(name) {}
    GlName(const GlName &) = delete;
    GlName &operator=(const GlName &) = delete;
    GlName(GlName &&other) noexcept : id(std::exchange(other.id, 0)) {}
    GlName &operator=(GlName &&other) noexcept
    {
        if (this != &other) {
            reset();
            id = std::exchange(other.id, 0);
        }
        return *this;
    }
    ~GlName() { reset(); }

    GLuint get() const { return id; }
    explicit operator bool() const { return id != 0; }
    void reset()
    {
        if (id)
            Delete(id);
        id = 0;
    }

private:
    GLuint id = 0;
};

namespace gldelete {
inline void buffer(GLuint id)
{
    glDeleteBuffers(1, &id);
}
inline void texture(GLuint id)
{
    glDeleteTextures(1, &id);
}
inline void framebuffer(GLuint id)
{
    glDeleteFramebuffers(1, &id);
}
inline void renderbuffer(GLuint id)
{
    glDeleteRenderbuffers(1, &id);
}
inline void shader(GLuint id)
{
    glDeleteShader(id);
}
inline void program(GLuint id)
{
    glDeleteProgram(id);
}
} // namespace gldelete

using GlBuffer = GlName<gldelete::buffer>;
using GlTexture = GlName<gldelete::texture>;
using GlFramebuffer = GlName<gldelete::framebuffer>;
using GlRenderbuffer = GlName<gldelete::renderbuffer>;
using GlShader = GlName<gldelete::shader>;
using GlProgram = GlName<gldelete::program>;

inline GLuint genBuffer()
{
    GLuint id = 0;
    glGenBuffers(1, &id);
    return id;
}

inline GLuint genTexture()
{
    GLuint id = 0;
    glGenTextures(1, &id);
    return id;
}
