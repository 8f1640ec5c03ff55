#pragma once

#include "GlObjects.h"

#include <functional>
#include <vector>

// The OpenGL state one drawing pass draws with, set for as long as the pass lives: every
// setting it makes comes back as it was when it goes, so that no pass relies on what
// another set or leaves its own behind. The context must be current throughout.
class GlPass
{
public:
    GlPass() = default;
    ~GlPass();
    GlPass(const GlPass &) = delete;
    GlPass &operator=(const GlPass &) = delete;

    GlPass &enable(GLenum capability, bool on = true);
    GlPass &disable(GLenum capability) { return enable(capability, false); }
    GlPass &depthMask(bool write);
    GlPass &depthFunc(GLenum test);
    GlPass &blendFunc(GLenum sourceRgb, GLenum destinationRgb, GLenum sourceAlpha,
                      GLenum destinationAlpha);
    GlPass &program(GLuint name);
    // The textures of units 0 and 1, their fixed-pipeline switches and the active unit come
    // back as they were, whatever the pass binds.
    GlPass &textures();
    // The framebuffers drawn into and read from and the viewport come back as they were.
    GlPass &target();

private:
    std::vector<std::function<void()>> undo; // run last first
};
