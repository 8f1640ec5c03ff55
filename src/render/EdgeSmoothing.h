#pragma once

#include "OffscreenTarget.h"
#include "ShaderProgram.h"

#include <QString>

// How an antialiased frame takes the samples asked of it. A software renderer multisamples
// at about three times a frame's cost; it draws a picture at 1.5 times the size for about
// 1.5 times, and smooths a picture's edges in one pass over it for about 0.4 times: the
// samples go from the cheapest way to the costliest, each step smoother.
struct SamplePlan
{
    double scale = 1.0;       // drawn at this many times the size, then brought down
    int multisamples = 1;     // samples a pixel of the drawing
    bool smoothEdges = false; // the picture's edges smoothed after it is drawn

    // 1 sample: none of it. 2: the edges smoothed. 4: drawn at 1.5 times the size (2.25
    // samples a pixel) and brought down. 8 and 16: drawn at twice the size, multisampled
    // (2 and 4, as far as `maxSamples` goes) unless outlines are drawn, which come from a
    // picture of the model pixel by pixel. A picture that cannot be drawn larger (beyond `maxSide`)
    // is multisampled or smoothed at its own size.
    static SamplePlan of(int samples, bool outlined, int maxSamples, int maxSide, int width,
                         int height);
    bool plain() const { return scale == 1.0 && multisamples == 1 && !smoothEdges; }
    int scaled(int side) const;
};

// The pass that smooths a finished picture's edges: the picture is drawn into its source
// (or brought down into it), then onto the bound framebuffer through the smoothing.
class EdgeSmoothing
{
public:
    bool build(QString &problem) { return program.build({QStringLiteral(":edges.frag")}, problem); }
    // Whether it can smooth a width x height picture (its program built, its source that size).
    bool ready(int width, int height);
    const OffscreenTarget &source() const { return picture; }
    // Draws the source smoothed over the whole bound framebuffer, leaving OpenGL's state
    // as it found it.
    void apply() const;

private:
    ShaderProgram program;
    OffscreenTarget picture{true};
};
