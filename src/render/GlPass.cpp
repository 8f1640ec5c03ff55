#include <GL/glew.h>

#include "GlPass.h"

#include <array>
#include <ranges>

GlPass::~GlPass()
{
    for (auto &restore : std::views::reverse(undo))
        restore();
}

GlPass &GlPass::enable(GLenum capability, bool on)
{
    const bool was = glIsEnabled(capability);
    on ? glEnable(capability) : glDisable(capability);
    undo.emplace_back([capability, was] { was ? glEnable(capability) : glDisable(capability); });
    return *this;
}

GlPass &GlPass::depthMask(bool write)
{
    GLboolean was = GL_TRUE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &was);
    glDepthMask(write ? GL_TRUE : GL_FALSE);
    undo.emplace_back([was] { glDepthMask(was); });
    return *this;
}

GlPass &GlPass::depthFunc(GLenum test)
{
    GLint was = GL_LESS;
    glGetIntegerv(GL_DEPTH_FUNC, &was);
    glDepthFunc(test);
    undo.emplace_back([was] { glDepthFunc(GLenum(was)); });
    return *this;
}

GlPass &GlPass::blendFunc(GLenum sourceRgb, GLenum destinationRgb, GLenum sourceAlpha,
                          GLenum destinationAlpha)
{
    GLint was[4] = {GL_ONE, GL_ZERO, GL_ONE, GL_ZERO};
    glGetIntegerv(GL_BLEND_SRC_RGB, &was[0]);
    glGetIntegerv(GL_BLEND_DST_RGB, &was[1]);
    glGetIntegerv(GL_BLEND_SRC_ALPHA, &was[2]);
    glGetIntegerv(GL_BLEND_DST_ALPHA, &was[3]);
    glBlendFuncSeparate(sourceRgb, destinationRgb, sourceAlpha, destinationAlpha);
    undo.emplace_back([was] {
        glBlendFuncSeparate(GLenum(was[0]), GLenum(was[1]), GLenum(was[2]), GLenum(was[3]));
    });
    return *this;
}

GlPass &GlPass::program(GLuint name)
{
    GLint was = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &was);
    glUseProgram(name);
    undo.emplace_back([was] { glUseProgram(GLuint(was)); });
    return *this;
}

GlPass &GlPass::textures()
{
    GLint active = GL_TEXTURE0, bound[2] = {0, 0};
    bool on[2] = {false, false};
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    for (int unit = 0; unit < 2; ++unit) {
        glActiveTexture(GLenum(GL_TEXTURE0 + unit));
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound[unit]);
        on[unit] = glIsEnabled(GL_TEXTURE_2D);
    }
    glActiveTexture(GLenum(active));
    undo.emplace_back([active, bound, on] {
        for (int unit = 0; unit < 2; ++unit) {
            glActiveTexture(GLenum(GL_TEXTURE0 + unit));
            glBindTexture(GL_TEXTURE_2D, GLuint(bound[unit]));
            on[unit] ? glEnable(GL_TEXTURE_2D) : glDisable(GL_TEXTURE_2D);
        }
        glActiveTexture(GLenum(active));
    });
    return *this;
}

GlPass &GlPass::target()
{
    GLint draw = 0, read = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &draw);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
    std::array<GLint, 4> viewport{};
    glGetIntegerv(GL_VIEWPORT, viewport.data());
    undo.emplace_back([draw, read, viewport] {
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(draw));
        glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(read));
        glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    });
    return *this;
}
