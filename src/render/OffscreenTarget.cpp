#include <GL/glew.h>

#include "OffscreenTarget.h"

bool OffscreenTarget::supported()
{
    return GLEW_VERSION_3_0 || GLEW_ARB_framebuffer_object;
}

bool OffscreenTarget::resize(int width, int height, int samples)
{
    if (frame && width == targetWidth && height == targetHeight && samples == targetSamples)
        return complete;
    frame.reset();
    color.reset();
    depth.reset();
    colorMap.reset();
    depthMap.reset();
    GLuint id = 0;
    glGenFramebuffers(1, &id);
    frame = GlFramebuffer(id);
    if (textures) {
        GlPass keep;
        keep.textures();
        auto texture = [width, height](GlTexture &map, GLint format, GLenum layout, GLenum type) {
            map = GlTexture(genTexture());
            glBindTexture(GL_TEXTURE_2D, map.get());
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            glTexImage2D(GL_TEXTURE_2D, 0, format, width, height, 0, layout, type, nullptr);
        };
        texture(colorMap, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE);
        texture(depthMap, GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_NONE);
    } else {
        GLuint ids[2] = {0, 0};
        glGenRenderbuffers(2, ids);
        color = GlRenderbuffer(ids[0]);
        depth = GlRenderbuffer(ids[1]);
        const GLsizei n = samples > 1 ? samples : 0;
        glBindRenderbuffer(GL_RENDERBUFFER, color.get());
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, n, GL_RGBA8, width, height);
        glBindRenderbuffer(GL_RENDERBUFFER, depth.get());
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, n, GL_DEPTH_COMPONENT24, width, height);
        glBindRenderbuffer(GL_RENDERBUFFER, 0);
    }

    GlPass keep;
    keep.target();
    glBindFramebuffer(GL_FRAMEBUFFER, frame.get());
    if (textures) {
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colorMap.get(),
                               0);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, depthMap.get(),
                               0);
    } else {
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                  color.get());
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                  depth.get());
    }
    complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    targetWidth = width;
    targetHeight = height;
    targetSamples = samples;
    return complete;
}

OffscreenTarget::Binding::Binding(const OffscreenTarget &target)
{
    previous.target();
    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer());
    glViewport(0, 0, target.width(), target.height());
}

OffscreenTarget::Binding::~Binding() = default;
