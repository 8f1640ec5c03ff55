#include <GL/glew.h>

#include "EdgeSmoothing.h"

#include "GlPass.h"
#include "ScreenQuad.h"

#include <algorithm>
#include <cmath>

SamplePlan SamplePlan::of(int samples, bool outlined, int maxSamples, int maxSide, int width,
                          int height)
{
    SamplePlan plan;
    if (samples <= 1)
        return plan;
    const int side = std::max(width, height);
    plan.scale = samples <= 2 ? 1.0 : (samples <= 4 ? 1.5 : 2.0);
    if (plan.scaled(side) > maxSide)
        plan.scale = 1.0;
    if (plan.scale == 2.0) {
        plan.multisamples = outlined ? 1 : std::clamp(samples / 4, 1, std::max(maxSamples, 1));
    } else if (plan.scale == 1.0 && samples > 4 && !outlined) {
        plan.multisamples = std::clamp(samples, 1, std::max(maxSamples, 1));
    }
    plan.smoothEdges = plan.multisamples == 1 && plan.scale == 1.0;
    return plan;
}

int SamplePlan::scaled(int side) const
{
    return int(std::lround(side * scale));
}

bool EdgeSmoothing::ready(int width, int height)
{
    return program.valid() && OffscreenTarget::supported() && picture.resize(width, height);
}

void EdgeSmoothing::apply() const
{
    GlPass pass;
    pass.program(program.name()).disable(GL_DEPTH_TEST).disable(GL_BLEND).textures();
    glUniform1i(program.uniform("colorSampler"), 0);
    glUniform2f(program.uniform("texel"), 1.0f / float(picture.width()),
                1.0f / float(picture.height()));
    // Read between pixels too: one fetch there blends two of them.
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, picture.colorTexture());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    screenquad::draw();
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
}
