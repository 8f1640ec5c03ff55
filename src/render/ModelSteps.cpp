#include <GL/glew.h>

#include "ModelSteps.h"

#include "GlPass.h"
#include "ScreenQuad.h"

bool ModelSteps::next(const Key &key, int width, int height, const std::vector<size_t> &bufferFaces,
                      size_t faces, size_t &first, size_t &end)
{
    if (!OffscreenTarget::supported() || !picture.resize(width, height)) {
        started = false;
        return false;
    }
    const bool fresh = !started || key != shownKey || total != bufferFaces.size();
    if (fresh) {
        shownKey = key;
        drawn = 0;
        total = bufferFaces.size();
        started = true;
    }
    first = end = drawn;
    // At least one buffer a call, however big.
    for (size_t sum = 0; end < total && (end == first || sum + bufferFaces[end] <= faces); ++end)
        sum += bufferFaces[end];
    return true;
}

void ModelSteps::copyToBound(const ShaderProgram &copy) const
{
    GlPass pass;
    pass.program(copy.name())
        .disable(GL_BLEND)
        .enable(GL_DEPTH_TEST)
        .depthFunc(GL_ALWAYS)
        .depthMask(true)
        .textures();
    glUniform1i(copy.uniform("colorSampler"), 0);
    glUniform1i(copy.uniform("depthSampler"), 1);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, picture.depthTexture());
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, picture.colorTexture());
    screenquad::draw();
}
