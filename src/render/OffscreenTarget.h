#pragma once

#include "GlObjects.h"
#include "GlPass.h"

// A framebuffer object of a colour and a depth renderbuffer, for drawing what must not
// show in the view (the face-id picture) or is larger than it (pictures for files).
class OffscreenTarget
{
public:
    // A sampled target keeps its colour and depth in textures that shaders can read.
    explicit OffscreenTarget(bool sampled = false) : textures(sampled) {}

    // Whether OpenGL here has framebuffer objects at all.
    static bool supported();
    // Makes the target width x height (of `samples` samples a pixel when above 1, for a
    // target of renderbuffers) unless it is that already; false when OpenGL cannot make
    // it complete.
    bool resize(int width, int height, int samples = 1);
    GLuint framebuffer() const { return frame.get(); }
    int width() const { return targetWidth; }
    int height() const { return targetHeight; }
    // The textures of a sampled target (RGBA8, 24-bit depth), nearest filtered.
    GLuint colorTexture() const { return colorMap.get(); }
    GLuint depthTexture() const { return depthMap.get(); }

    // Draws into the target for as long as it lives, with the viewport over all of it;
    // the framebuffer and viewport there were come back when it goes.
    class Binding
    {
    public:
        explicit Binding(const OffscreenTarget &target);
        ~Binding();
        Binding(const Binding &) = delete;
        Binding &operator=(const Binding &) = delete;

    private:
        GlPass previous;
    };

private:
    GlFramebuffer frame;
    GlRenderbuffer color, depth;
    GlTexture colorMap, depthMap;
    bool textures = false;
    int targetWidth = 0;
    int targetHeight = 0;
    int targetSamples = 1;
    bool complete = false;
};
