#include <GL/glew.h>

#include "OffscreenTarget.h"

bool OffscreenTarget::supported()
{
    return GLEW_VERSION_3_0 || GLEW_ARB_framebuffer_object;
}

bool OffscreenTarget::resize(int width, int height)
{
    if (frame && width == targetWidth && height == targetHeight)
        return complete;
    frame.reset();
    color.reset();
    depth.reset();
    GLuint ids[3] = {0, 0, 0};
    glGenFramebuffers(1, &ids[0]);
    glGenRenderbuffers(2, &ids[1]);
    frame = GlFramebuffer(ids[0]);
    color = GlRenderbuffer(ids[1]);
    depth = GlRenderbuffer(ids[2]);
    glBindRenderbuffer(GL_RENDERBUFFER, color.get());
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, depth.get());
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);

    GLint previous = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    glBindFramebuffer(GL_FRAMEBUFFER, frame.get());
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color.get());
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth.get());
    complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previous));
    targetWidth = width;
    targetHeight = height;
    return complete;
}

OffscreenTarget::Binding::Binding(const OffscreenTarget &target)
{
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFramebuffer);
    glGetIntegerv(GL_VIEWPORT, previousViewport);
    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer());
    glViewport(0, 0, target.width(), target.height());
}

OffscreenTarget::Binding::~Binding()
{
    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previousFramebuffer));
    glViewport(previousViewport[0], previousViewport[1], previousViewport[2], previousViewport[3]);
}
