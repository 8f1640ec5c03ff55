#include <GL/glew.h>

#include "SceneRenderer.h"
#include "ScreenQuad.h"

#include "Camera.h"
#include "GlPass.h"
#include "GlSetup.h"
#include "Graftal.h"
#include "Logger.h"
#include "Scene.h"
#include "VisibleFace.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

// The shader's uniforms, looked up by name in the current program; a name the program
// lacks is -1, which OpenGL ignores.
struct SceneRenderer::Uniforms
{
    GLint isGraftal = -1, meshColor = -1, texSampler = -1, maskSampler = -1, alphaRange = -1,
          lodBias = -1;
    // Without a program (its shader did not build) nothing is set.
    bool valid = false;

    static Uniforms current()
    {
        Uniforms u;
        GLint program = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        if (program == 0)
            return u;
        u.valid = true;
        u.isGraftal = glGetUniformLocation(GLuint(program), "isGraftal");
        u.meshColor = glGetUniformLocation(GLuint(program), "meshColor");
        u.texSampler = glGetUniformLocation(GLuint(program), "texSampler");
        u.maskSampler = glGetUniformLocation(GLuint(program), "maskSampler");
        u.alphaRange = glGetUniformLocation(GLuint(program), "alphaRange");
        u.lodBias = glGetUniformLocation(GLuint(program), "lodBias");
        return u;
    }
};

namespace {
// The light of the shaded and toon modes, from the upper left front: of the eye when it
// comes along with the camera, of the model when it stays with the model. How it lights a
// surface is light.glsl's.
const Vector3 TowardsLight = Vector3(-0.4, 0.6, 0.8).normalized();

// The batch's quads, each vertex with its root's normal when `rootNormals` has them (the
// lit graftal program lights the roots by them).
void drawQuads(GraftalInstance::QuadBatch &batch, std::vector<float> &rootNormals)
{
    if (batch.empty())
        return;
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, batch.positions.data());
    glColorPointer(4, GL_FLOAT, 0, batch.colors.data());
    if (!rootNormals.empty()) {
        glEnableClientState(GL_NORMAL_ARRAY);
        glNormalPointer(GL_FLOAT, 0, rootNormals.data());
    }
    for (GLenum unit : {GL_TEXTURE0, GL_TEXTURE1}) {
        glClientActiveTexture(unit);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, 0, batch.texCoords.data());
    }
    // The shaders tint a graftal by its secondary colour's red: how much of it the fade
    // would hide, where every graftal is shown (0 otherwise).
    const bool marked = !batch.marks.empty();
    if (marked) {
        glEnableClientState(GL_SECONDARY_COLOR_ARRAY);
        glSecondaryColorPointer(3, GL_FLOAT, 0, batch.marks.data());
    }
    // The third set of coordinates carries each vertex's tint (brightness, hue's cosine and
    // sine); without tints every vertex has the one that changes nothing.
    const bool tinted = !batch.tints.empty();
    if (tinted) {
        glClientActiveTexture(GL_TEXTURE2);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(3, GL_FLOAT, 0, batch.tints.data());
    } else {
        glMultiTexCoord3f(GL_TEXTURE2, 1.0f, 1.0f, 0.0f);
    }
    glDrawArrays(GL_QUADS, 0, batch.vertexCount());
    if (tinted) {
        glClientActiveTexture(GL_TEXTURE2);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
    if (marked) {
        glDisableClientState(GL_SECONDARY_COLOR_ARRAY);
        glSecondaryColor3f(0.0f, 0.0f, 0.0f);
    }
    for (GLenum unit : {GL_TEXTURE1, GL_TEXTURE0}) {
        glClientActiveTexture(unit);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    batch.clear();
    rootNormals.clear();
}
} // namespace

SceneRenderer::SceneRenderer() = default;
SceneRenderer::~SceneRenderer() = default;

bool SceneRenderer::initialize(QString &error)
{
    usable = glsetup::loadEntryPoints(error);
    if (!usable)
        return false;
    // Without the flat program the fixed pipeline draws the model and the graftals.
    flatProgram.build({QStringLiteral(":object_color.frag")}, shaderMessages);
    // The shaded modes and outlines need programs of their own; without them every
    // style draws flat, without lines.
    QString problem;
    if (!lit.build(problem))
        styleMessages += problem;
    if (!outlinePrograms[0].build({QStringLiteral(":outlines.frag")}, problem) ||
        !outlinePrograms[1].build({QStringLiteral(":outlines.frag")}, problem, "#define THIN\n"))
        styleMessages += (styleMessages.isEmpty() ? QString() : QStringLiteral("\n")) + problem;
    // Without it big models' frames are drawn whole.
    if (!stepCopy.build({QStringLiteral(":copy.frag")}, problem))
        styleMessages += (styleMessages.isEmpty() ? QString() : QStringLiteral("\n")) + problem;
    // Without it antialiased frames take only samples of their own.
    if (!edges.build(problem))
        styleMessages += (styleMessages.isEmpty() ? QString() : QStringLiteral("\n")) + problem;
    if (!styleMessages.isEmpty())
        Logger(QStringLiteral("app.gl.render"))
            .warn(QStringLiteral("shaded drawing and outlines are not available: %1")
                      .arg(styleMessages));
    return true;
}

bool SceneRenderer::LitPrograms::build(QString &problem)
{
    QFile lightFile(QStringLiteral(":light.glsl"));
    if (!lightFile.open(QIODevice::ReadOnly | QIODevice::Text)) {
        problem = QStringLiteral("the shader :light.glsl cannot be opened");
        return false;
    }
    const QByteArray light = lightFile.readAll();
    const QStringList both{QStringLiteral(":shaded.vert"), QStringLiteral(":shaded.frag")};
    for (int toon = 0; toon < 2; ++toon)
        for (int textured = 0; textured < 2; ++textured) {
            const QByteArray defines = QByteArray(toon ? "#define TOON\n" : "") +
                                       QByteArray(textured ? "#define TEXTURED\n" : "");
            if (!model[toon][textured].build(both, problem, defines + light))
                return false;
        }
    for (int toon = 0; toon < 2; ++toon)
        if (!graftals[toon].build(both, problem,
                                  QByteArray(toon ? "#define TOON\n" : "") + "#define GRAFTAL\n" + light))
            return false;
    // The mask is on the second unit; every other sampler reads the first.
    GLint previous = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
    for (const ShaderProgram &p : graftals) {
        glUseProgram(p.name());
        glUniform1i(p.uniform("maskSampler"), 1);
    }
    glUseProgram(GLuint(previous));
    return true;
}

GLuint SceneRenderer::modelProgram(Shading shading) const
{
    return shading == Shading::Flat || !lit.valid() ? flatProgram.name()
                                                    : lit.of(shading, false).name();
}

void SceneRenderer::modelPass(GlPass &pass, const Scene &scene)
{
    // Open sheets show from behind too (every pass, picking included).
    pass.enable(GL_DEPTH_TEST)
        .depthFunc(GL_LESS)
        .depthMask(true)
        .disable(GL_BLEND)
        .disable(GL_POLYGON_OFFSET_FILL)
        .enable(GL_CULL_FACE, !scene.style.twoSided)
        .textures();
}

bool SceneRenderer::outlinesReady(int width, int height)
{
    return outlinePrograms[1].valid() && OffscreenTarget::supported() &&
           outlineTarget.resize(width, height);
}

namespace {
// Where the model's box falls on screen, in normalised device coordinates (x0, y0, x1, y1)
// with a few pixels' margin for the lines beside it, through the matrices current now; the
// whole screen when a corner of the box lies behind the eye.
std::array<float, 4> screenBoxOf(const Scene &scene, int width, int height)
{
    const std::array<float, 4> whole = {-1.0f, -1.0f, 1.0f, 1.0f};
    double mv[16], pr[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, pr);
    double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
    for (int corner = 0; corner < 8; ++corner) {
        double v[4] = {corner & 1 ? scene.boundsMax[0] : scene.boundsMin[0],
                       corner & 2 ? scene.boundsMax[1] : scene.boundsMin[1],
                       corner & 4 ? scene.boundsMax[2] : scene.boundsMin[2], 1.0};
        double eye[4] = {0, 0, 0, 0}, clip[4] = {0, 0, 0, 0};
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                eye[i] += mv[j * 4 + i] * v[j];
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                clip[i] += pr[j * 4 + i] * eye[j];
        if (!(clip[3] > 1e-9))
            return whole;
        for (int k = 0; k < 2; ++k) {
            lo[k] = std::min(lo[k], clip[k] / clip[3]);
            hi[k] = std::max(hi[k], clip[k] / clip[3]);
        }
    }
    const double margin[2] = {8.0 / width, 8.0 / height}; // four pixels
    std::array<float, 4> box;
    for (int k = 0; k < 2; ++k) {
        box[k] = float(std::clamp(lo[k] - margin[k], -1.0, 1.0));
        box[k + 2] = float(std::clamp(hi[k] + margin[k], -1.0, 1.0));
    }
    return box;
}
} // namespace

void SceneRenderer::drawOutlinedPicture(const Camera &camera, int width, int height,
                                        const std::array<float, 4> &box,
                                        const ViewStyle &style) const
{
    const Camera::DepthRange depth = camera.depthRange();
    const int lineWidth = std::clamp(style.outlineWidth, 1, 16); // twice 8 when supersampled
    const ShaderProgram &outlineProgram = outlinePrograms[lineWidth == 1];
    // Every pixel of the quad takes the picture's depth, whatever is there.
    GlPass pass;
    pass.program(outlineProgram.name())
        .textures()
        .enable(GL_DEPTH_TEST)
        .depthFunc(GL_ALWAYS)
        .depthMask(true)
        .disable(GL_BLEND)
        .disable(GL_CULL_FACE)
        .disable(GL_POLYGON_OFFSET_FILL);
    glUniform2f(outlineProgram.uniform("reach"), float(lineWidth / 2), float(lineWidth - lineWidth / 2));
    const unsigned int rgb = style.outlineColor;
    glUniform3f(outlineProgram.uniform("lineColor"), float((rgb >> 16) & 0xff) / 255.0f,
                float((rgb >> 8) & 0xff) / 255.0f, float(rgb & 0xff) / 255.0f);
    glUniform1i(outlineProgram.uniform("colorSampler"), 0);
    glUniform1i(outlineProgram.uniform("depthSampler"), 1);
    glUniform2f(outlineProgram.uniform("texel"), 1.0f / float(width), 1.0f / float(height));
    glUniform1f(outlineProgram.uniform("nearPlane"), float(depth.nearPlane));
    glUniform1f(outlineProgram.uniform("farPlane"), float(depth.farPlane));
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, outlineTarget.depthTexture());
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, outlineTarget.colorTexture());
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    // Only where the model can be: the screen around it already has the background.
    screenquad::draw(box[0], box[1], box[2], box[3]);
}

bool SceneRenderer::inUse(const Scene &scene, const Graftal *g)
{
    if (g == scene.currentGraftal())
        return true;
    for (const auto &[key, list] : scene.instancesByKey())
        if (key.second == int(g->id()) && !list.empty() && list.front()->graftal() == g)
            return true;
    return false;
}

void SceneRenderer::prepareTextures(const Scene &scene)
{
    if (!usable)
        return;
    if (const Graftal *current = scene.currentGraftal())
        graftalTextures.ensure(current);
    const Graftal *previous = nullptr;
    for (const auto &[key, list] : scene.instancesByKey()) {
        const Graftal *g = list.empty() ? nullptr : list.front()->graftal();
        if (g && g != previous)
            graftalTextures.ensure(g);
        previous = g;
    }
}

void SceneRenderer::clear(const Scene &scene, bool pick) const
{
    GlPass pass;
    pass.depthMask(true);
    if (pick) {
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    } else {
        const QColor &c = scene.background;
        glClearColor(float(c.redF()), float(c.greenF()), float(c.blueF()), 1.0f);
    }
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void SceneRenderer::applyCamera(const Camera &camera, int width, int height) const
{
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(camera.projection(width, height).data());
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    camera.cameraRotation.glMultiply();
    camera.cameraTranslation.glMultiply();
}

Vector3 SceneRenderer::lightTowards(const Camera &camera, const ViewStyle &style)
{
    if (!style.lightOnModel)
        return TowardsLight;
    // Kept in the frame the model stands in, which the camera turns about.
    const Matrix4 &turn = camera.cameraRotation;
    return (turn.transformPoint(TowardsLight) - turn.transformPoint(Vector3::zero)).normalized();
}

void SceneRenderer::setLight(const Camera &camera, const ViewStyle &style) const
{
    if (!lit.valid())
        return;
    const Vector3 l = lightTowards(camera, style);
    GLint previous = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
    for (const ShaderProgram *p : {&lit.model[0][0], &lit.model[0][1], &lit.model[1][0],
                                   &lit.model[1][1], &lit.graftals[0], &lit.graftals[1]}) {
        glUseProgram(p->name());
        glUniform3f(p->uniform("towardsLight"), float(l.x), float(l.y), float(l.z));
        glUniform1f(p->uniform("bands"), float(std::clamp(style.bands, 2, 6)));
    }
    glUseProgram(GLuint(previous));
}

void SceneRenderer::draw(const Scene &scene, const Camera &camera, const RenderSettings &settings,
                         int width, int height)
{
    GlPass frame;
    frame.target();
    if (usable && settings.pickPicture) {
        drawPickPicture(scene);
        return;
    }
    clear(scene, false);
    if (!usable || !scene.loaded())
        return;
    const ViewStyle &style = settings.style;
    // With outlines the model is drawn off screen first, then onto the target with its
    // lines and its depth; graftals go onto the target after that.
    GLint target = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &target);
    const bool outlined = style.outlines && outlinesReady(width, height);
    if (outlined) {
        glBindFramebuffer(GL_FRAMEBUFFER, outlineTarget.framebuffer());
        clear(scene, false);
    }
    // A big model's part may be drawn already, over several turns.
    const bool stepped = frameSteps.holds(stepKey(scene, camera, style, width, height, false));
    if (stepped)
        frameSteps.copyToBound(stepCopy);
    setLight(camera, style);
    applyCamera(camera, width, height);
    // Overlays may stand anywhere; without them the lines need only the model's part.
    const bool overlaid = settings.overlays && (scene.axesShown() || scene.trailShown());
    std::array<float, 4> box = {-1.0f, -1.0f, 1.0f, 1.0f};
    {
        GlPass pass;
        modelPass(pass, scene);
        pass.program(modelProgram(style.shading));
        if (settings.overlays && scene.axesShown())
            drawAxes();
        // Textures show where the model is lit; "Flat" keeps the materials' colours.
        const bool textured = style.shading != Shading::Flat && lit.valid();
        if (stepped)
            camera.modelMatrix.glMultiply(); // where drawing the model leaves the matrix
        else
            drawModel(scene, camera, textured ? ModelColours::Textured : ModelColours::Materials,
                      style.shading);
        if (outlined && !overlaid)
            box = screenBoxOf(scene, width, height);
        if (settings.overlays && scene.trailShown())
            drawTrail(scene);
    }
    if (outlined) {
        glBindFramebuffer(GL_FRAMEBUFFER, GLuint(target));
        drawOutlinedPicture(camera, width, height, box, style);
    }
    // A software renderer sorts what is drawn into bins ahead of filling pixels: left to
    // run on, it holds the bins of the whole model and of every graftal quad at once, and
    // keeps them for later frames (hundreds of MiB over a turntable). Pictures let the model
    // be filled first; the time it takes is the same.
    if (finishModelFirst)
        glFinish();
    drawGraftals(scene, camera, settings);
}

SamplePlan SceneRenderer::planFor(const RenderSettings &settings, int width, int height) const
{
    const int asked = settings.style.antialiasing && !settings.pickPicture
                          ? std::clamp(settings.samples, 1, 16)
                          : 1;
    GLint maxSamples = 1, maxSide = 0;
    glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSide);
    return SamplePlan::of(asked, settings.style.outlines, maxSamples, maxSide, width, height);
}

void SceneRenderer::drawFinished(const Scene &scene, const Camera &camera,
                                 const RenderSettings &settings, int width, int height)
{
    SamplePlan plan = planFor(settings, width, height);
    if (plan.smoothEdges && !edges.ready(width, height))
        plan.smoothEdges = false;
    const int drawWidth = plan.scaled(width), drawHeight = plan.scaled(height);
    // Drawn at the picture's own size straight into the smoothing's source; otherwise
    // into samples of their own, brought down after.
    const bool direct = plan.scale == 1.0 && plan.multisamples == 1;
    if (plan.plain() || !OffscreenTarget::supported() ||
        (!direct && !sampledTarget.resize(drawWidth, drawHeight, plan.multisamples)) ||
        (plan.multisamples > 1 && plan.scale > 1.0 &&
         !resolvedTarget.resize(drawWidth, drawHeight))) {
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        draw(scene, camera, settings, width, height);
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        return;
    }
    RenderSettings scaled = settings;
    scaled.style.outlineWidth = int(std::lround(settings.style.outlineWidth * plan.scale));
    scaled.detailScale = settings.detailScale * plan.scale;
    GlPass pass;
    pass.target().enable(GL_MULTISAMPLE, plan.multisamples > 1);
    GLint target = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &target);
    {
        const OffscreenTarget::Binding binding(direct ? edges.source() : sampledTarget);
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        draw(scene, camera, scaled, drawWidth, drawHeight);
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
    }
    // Multisamples resolve at their own size; a larger picture comes down through linear
    // filtering, which at 1.5 and 2 times is about a box filter over each pixel's part.
    const auto blit = [](GLuint from, GLuint to, int fromWidth, int fromHeight, int toWidth,
                         int toHeight) {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, from);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, to);
        glBlitFramebuffer(0, 0, fromWidth, fromHeight, 0, 0, toWidth, toHeight,
                          GL_COLOR_BUFFER_BIT, fromWidth == toWidth ? GL_NEAREST : GL_LINEAR);
    };
    GLuint source = sampledTarget.framebuffer();
    if (plan.multisamples > 1 && plan.scale > 1.0) {
        blit(source, resolvedTarget.framebuffer(), drawWidth, drawHeight, drawWidth, drawHeight);
        source = resolvedTarget.framebuffer();
    }
    if (!direct)
        blit(source, plan.smoothEdges ? edges.source().framebuffer() : GLuint(target), drawWidth,
             drawHeight, width, height);
    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(target));
    if (plan.smoothEdges) {
        glViewport(0, 0, width, height);
        edges.apply();
    }
}

void SceneRenderer::drawModel(const Scene &scene, const Camera &camera, ModelColours colours,
                              Shading shading, size_t first, size_t end) const
{
    const Uniforms uniforms = Uniforms::current();
    if (uniforms.valid) {
        glUniform1i(uniforms.isGraftal, 0);
        glUniform1i(uniforms.texSampler, 0);
        glUniform1i(uniforms.maskSampler, 1);
    }
    camera.modelMatrix.glMultiply();
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    if (scene.modelBuffers().empty())
        return;
    const bool textured = colours == ModelColours::Textured && shading != Shading::Flat;
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    const std::vector<ModelBuffers> &buffers = scene.modelBuffers();
    for (size_t i = first; i < std::min(end, buffers.size()); ++i) {
        const ModelBuffers &b = buffers[i];
        glBindBuffer(GL_ARRAY_BUFFER, b.positions.get());
        glVertexPointer(3, GL_FLOAT, 0, nullptr);
        glBindBuffer(GL_ARRAY_BUFFER, b.normals.get());
        glNormalPointer(GL_FLOAT, 0, nullptr);
        if (colours == ModelColours::FaceIds) {
            glBindBuffer(GL_ARRAY_BUFFER, b.idColors.get());
            glColorPointer(3, GL_UNSIGNED_BYTE, 0, nullptr);
        } else {
            glBindBuffer(GL_ARRAY_BUFFER, b.colors.get());
            glColorPointer(3, GL_FLOAT, 0, nullptr);
        }
        const bool anyTexture = !b.byTexture.empty() && (b.byTexture.size() > 1 ||
                                                         b.byTexture.front().texture >= 0);
        if (textured && anyTexture)
            drawTexturedRange(scene, b, shading);
        else
            glDrawArrays(GL_TRIANGLES, 0, GLsizei(b.faces * 3));
    }
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void SceneRenderer::drawTexturedRange(const Scene &scene, const ModelBuffers &b,
                                      Shading shading) const
{
    const std::vector<ModelTexture> &textures = scene.modelTextures();
    glClientActiveTexture(GL_TEXTURE0);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, b.texCoords.get());
    glTexCoordPointer(2, GL_FLOAT, 0, nullptr);
    glActiveTexture(GL_TEXTURE0);
    for (const TextureElements &e : b.byTexture) {
        // A texture whose image could not be had leaves its faces their colours.
        const bool shown = e.texture >= 0 && size_t(e.texture) < textures.size() &&
                           textures[size_t(e.texture)].width > 0;
        glUseProgram(lit.of(shading, shown).name());
        glBindTexture(GL_TEXTURE_2D, shown ? textures[size_t(e.texture)].texture.get() : 0);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, e.indices.get());
        glDrawElements(GL_TRIANGLES, e.count, GL_UNSIGNED_INT, nullptr);
    }
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glUseProgram(lit.of(shading, false).name());
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}

void SceneRenderer::drawGraftals(const Scene &scene, const Camera &camera,
                                 const RenderSettings &settings)
{
    const ViewStyle &style = settings.style;
    // In the shaded modes the mesh colour at a graftal's root is lit as the model is there.
    const bool litRoots = style.shading != Shading::Flat && lit.valid();
    // Colours blend by the graftal's alpha; the picture itself stays opaque, or the
    // window would show through wherever a graftal is translucent. Cards seen from
    // behind are not drawn.
    GlPass pass;
    pass.program(litRoots ? lit.graftals[style.shading == Shading::Toon].name()
                          : flatProgram.name())
        .textures()
        .enable(GL_BLEND)
        .blendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE)
        .enable(GL_DEPTH_TEST)
        .depthFunc(GL_LESS)
        .depthMask(true)
        .enable(GL_CULL_FACE)
        .disable(GL_POLYGON_OFFSET_FILL);
    const Uniforms uniforms = Uniforms::current();
    // Without a program the fixed pipeline's texturing shows them.
    glActiveTexture(GL_TEXTURE0);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    if (uniforms.valid) {
        glUniform1i(uniforms.isGraftal, 1);
        glUniform1f(uniforms.lodBias, float(std::log2(std::max(settings.detailScale, 1e-3))));
    }

    drawOrder = scene.allInstances().empty() ? scene.collectInstances() : scene.allInstances();
    // Farthest first, so that nearer graftals blend over farther ones.
    std::vector<std::pair<double, GraftalInstance *>> byDistance;
    byDistance.reserve(drawOrder.size());
    for (GraftalInstance *instance : drawOrder)
        byDistance.emplace_back(instance->distanceSquaredToEye(camera.eye), instance);
    std::sort(byDistance.begin(), byDistance.end(),
              [](const auto &a, const auto &b) { return a.first > b.first; });
    for (size_t i = 0; i < byDistance.size(); ++i)
        drawOrder[i] = byDistance[i].second;

    // The opaque texels first, with their depth, so that whatever they cover stays hidden
    // in any order; then the translucent ones, farthest first, without depth, blended over
    // them. Texels fainter than a 64th are clear: they hide nothing and draw nothing.
    constexpr float OpaqueFrom = 0.9f, ClearBelow = 1.0f / 64.0f;
    const float ranges[2][2] = {{OpaqueFrom, 2.0f}, {ClearBelow, OpaqueFrom}};
    for (const auto &range : ranges) {
        glDepthMask(range[0] == OpaqueFrom ? GL_TRUE : GL_FALSE);
        if (uniforms.valid)
            glUniform2f(uniforms.alphaRange, range[0], range[1]);
        else if (range[0] != OpaqueFrom)
            break; // without a program every texel is drawn once, as it comes
        // Where every graftal is shown their opaque texels go nearest first: the coat is
        // thick, and what lies behind nearer texels then fails the depth test before it is
        // shaded. (The fade's own frames keep the farthest first that they always had.)
        drawGraftalPass(scene, camera, settings, uniforms,
                        settings.showAllGraftals && range[0] == OpaqueFrom);
    }
    // The flat program's next use is no graftal.
    if (uniforms.valid)
        glUniform1i(uniforms.isGraftal, 0);
}

void SceneRenderer::drawGraftalPass(const Scene &scene, const Camera &camera,
                                    const RenderSettings &settings, const Uniforms &uniforms,
                                    bool nearestFirst) const
{
    const ViewStyle &style = settings.style;
    const GraftalFade fade = settings.graftalFade();
    // Quads are drawn in runs that share a graftal and a mesh colour, farthest first as
    // sorted; textures and the colour change only between runs.
    const bool litRoots = style.shading != Shading::Flat && lit.valid();
    GraftalInstance::QuadBatch batch;
    std::vector<float> rootNormals;
    const Graftal *boundGraftal = nullptr;
    // The mesh whose colour the shader has; on a textured face the root's colour comes
    // with each quad instead, under a white mesh colour.
    constexpr int TexturedRoots = -2;
    int colouredMesh = -1;
    const SurfaceColours &surface = scene.surfaceColours();
    for (size_t i = 0; i < drawOrder.size(); ++i) {
        GraftalInstance *instance = drawOrder[nearestFirst ? drawOrder.size() - 1 - i : i];
        const Graftal *g = instance->graftal();
        const std::array<unsigned int, 2> names = graftalTextures.names(g);
        if (names[0] == 0)
            continue; // no textures made yet: nothing to show
        const MeshFace *face = instance->face();
        std::optional<SurfaceColours::Rgb> texel;
        if (litRoots && !surface.empty())
            texel = surface.at(face->faceIndex, instance->barycentric.x(),
                               instance->barycentric.y());
        const int mesh = texel ? TexturedRoots : face->meshIndex;
        if (mesh != colouredMesh || g != boundGraftal)
            drawQuads(batch, rootNormals);
        if (mesh != colouredMesh) {
            const Scene::Rgb c = texel ? Scene::Rgb{1.0f, 1.0f, 1.0f}
                                       : scene.meshColors().value(mesh, Scene::Rgb{1.0f, 1.0f, 1.0f});
            if (uniforms.valid)
                glUniform3f(uniforms.meshColor, c[0], c[1], c[2]);
            colouredMesh = mesh;
        }
        if (g != boundGraftal) {
            glActiveTexture(GL_TEXTURE0);
            glBindTexture(GL_TEXTURE_2D, names[0]);
            glActiveTexture(GL_TEXTURE1);
            glBindTexture(GL_TEXTURE_2D, names[1]);
            boundGraftal = g;
        }
        const int before = batch.vertexCount();
        instance->draw(batch, camera.viewDir, style.graftalScale,
                       texel ? *texel : SurfaceColours::Rgb{1.0f, 1.0f, 1.0f}, fade);
        if (litRoots)
            for (int v = before; v < batch.vertexCount(); ++v)
                rootNormals.insert(rootNormals.end(), {float(instance->normal.x),
                                                       float(instance->normal.y),
                                                       float(instance->normal.z)});
    }
    drawQuads(batch, rootNormals);
}

void SceneRenderer::drawPickPicture(const Scene &scene) const
{
    GlPass pass;
    pass.program(flatProgram.name()).disable(GL_BLEND).disable(GL_DEPTH_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const Scene::PickPicture &pick = scene.pickPicture();
    if (pick.rgb.empty())
        return;
    glWindowPos2i(0, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glDrawPixels(pick.width, pick.height, GL_RGB, GL_UNSIGNED_BYTE, pick.rgb.data());
}

void SceneRenderer::refreshPicking(Scene &scene)
{
    const int w = scene.viewportWidth, h = scene.viewportHeight;
    if (!usable || !scene.loaded() || !scene.glReady() || w <= 0 || h <= 0)
        return;
    // Off screen where OpenGL can, so that the picture never shows in the view.
    const bool offscreen = OffscreenTarget::supported() && pickTarget.resize(w, h);
    const OffscreenTarget *target = offscreen ? &pickTarget : nullptr;
    drawFaceIds(scene, scene.camera(), target, w, h);
    Scene::PickPicture pick;
    pick.rgb.assign(size_t(w + 1) * size_t(h + 1) * 3, 0);
    readFaceIds(target, 0, h, w, pick.rgb.data());
    pick.width = w;
    pick.height = h;
    scene.setPickPicture(std::move(pick));
    glFlush();
}

void SceneRenderer::drawFaceIds(const Scene &scene, const Camera &camera,
                                const OffscreenTarget *target, int width, int height,
                                size_t first, size_t end) const
{
    // Exact colours: one sample a pixel, nothing blended or dithered.
    GlPass pass;
    pass.target();
    if (target)
        glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer());
    modelPass(pass, scene);
    pass.program(flatProgram.name()).disable(GL_MULTISAMPLE).disable(GL_DITHER);
    if (first == 0)
        clear(scene, true);
    applyCamera(camera, width, height);
    drawModel(scene, camera, ModelColours::FaceIds, Shading::Flat, first, end);
}

void SceneRenderer::readFaceIds(const OffscreenTarget *target, int y, int rows, int width,
                                unsigned char *rgb)
{
    GlPass pass;
    pass.target();
    if (target)
        glBindFramebuffer(GL_READ_FRAMEBUFFER, target->framebuffer());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, y, width, rows, GL_RGB, GL_UNSIGNED_BYTE, rgb);
}

ModelSteps::Key SceneRenderer::stepKey(const Scene &scene, const Camera &camera,
                                       const ViewStyle &style, int width, int height,
                                       bool faceIds)
{
    ModelSteps::Key key{double(width), double(height), double(faceIds),
                        double(style.shading), double(style.lightOnModel), double(style.bands),
                        double(scene.style.twoSided), double(scene.background.rgb()),
                        style.smoothAngle,
                        double(reinterpret_cast<quintptr>(scene.modelBuffers().data())),
                        double(scene.modelBuffers().size()), double(scene.faceCount())};
    for (const Matrix4 &m : {camera.modelView(), camera.projection(width, height)})
        key.insert(key.end(), m.data(), m.data() + 16);
    return key;
}

namespace {
std::vector<size_t> facesOf(const std::vector<ModelBuffers> &buffers)
{
    std::vector<size_t> faces;
    faces.reserve(buffers.size());
    for (const ModelBuffers &b : buffers)
        faces.push_back(b.faces);
    return faces;
}
} // namespace

bool SceneRenderer::stepFrame(const Scene &scene, const Camera &camera,
                              const RenderSettings &settings, int width, int height,
                              size_t faces)
{
    // A multisampled frame, or one without a model, is drawn whole.
    const SamplePlan plan = planFor(settings, width, height);
    if (!usable || !scene.loaded() || !stepCopy.valid() || settings.pickPicture ||
        plan.multisamples > 1) {
        frameSteps.reset();
        return true;
    }
    const int w = plan.scaled(width), h = plan.scaled(height);
    const ViewStyle &style = settings.style;
    const ModelSteps::Key key = stepKey(scene, camera, style, w, h, false);
    if (faces == 0)
        return frameSteps.holds(key);
    size_t first = 0, end = 0;
    if (!frameSteps.next(key, w, h, facesOf(scene.modelBuffers()), faces, first, end))
        return true;
    if (first < end) {
        GlPass pass;
        pass.target();
        glBindFramebuffer(GL_FRAMEBUFFER, frameSteps.target().framebuffer());
        modelPass(pass, scene);
        pass.program(modelProgram(style.shading));
        if (first == 0)
            clear(scene, false);
        setLight(camera, style);
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        applyCamera(camera, w, h);
        const bool textured = style.shading != Shading::Flat && lit.valid();
        drawModel(scene, camera, textured ? ModelColours::Textured : ModelColours::Materials,
                  style.shading, first, end);
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        // The share's work is done now, in this call, not in a later one.
        glFinish();
        frameSteps.advance(end);
    }
    return frameSteps.complete();
}

bool SceneRenderer::stepPicking(Scene &scene, size_t faces)
{
    const int w = scene.viewportWidth, h = scene.viewportHeight;
    if (!usable || !scene.loaded() || !scene.glReady() || w <= 0 || h <= 0 ||
        !OffscreenTarget::supported()) {
        refreshPicking(scene);
        return true;
    }
    size_t first = 0, end = 0;
    if (!pickSteps.next(stepKey(scene, scene.camera(), ViewStyle(), w, h, true), w, h,
                        facesOf(scene.modelBuffers()), faces, first, end)) {
        refreshPicking(scene);
        return true;
    }
    // Nothing is picked from another view's picture meanwhile.
    if (first == 0)
        scene.setPickPicture({});
    drawFaceIds(scene, scene.camera(), &pickSteps.target(), w, h, first, end);
    glFinish();
    pickSteps.advance(end);
    // Once whole it is read, and only then: a later call starts another.
    if (pickSteps.complete()) {
        Scene::PickPicture pick;
        pick.rgb.assign(size_t(w + 1) * size_t(h + 1) * 3, 0);
        readFaceIds(&pickSteps.target(), 0, h, w, pick.rgb.data());
        pick.width = w;
        pick.height = h;
        scene.setPickPicture(std::move(pick));
        pickSteps.reset();
    }
    return !pickSteps.underway();
}

void SceneRenderer::keepFinishedFrame(int width, int height)
{
    if (!OffscreenTarget::supported() || !finishedFrame.resize(width, height))
        return;
    GLint bound = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(bound));
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, finishedFrame.framebuffer());
    glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(bound));
}

void SceneRenderer::showFinishedFrame(const Scene &scene, int width, int height)
{
    clear(scene, false);
    if (!finishedFrame.framebuffer() || finishedFrame.width() != width ||
        finishedFrame.height() != height)
        return;
    GLint bound = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, finishedFrame.framebuffer());
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(bound));
    glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(bound));
}

QImage SceneRenderer::picture(const Scene &scene, const Camera &camera,
                              const RenderSettings &settings, int width, int height, QString &error)
{
    if (!usable || !scene.loaded() || !scene.glReady()) {
        error = QStringLiteral("there is no model to draw");
        return {};
    }
    GLint maxSide = 0, maxViewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSide);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, maxViewport);
    maxSide = std::min({maxSide, maxViewport[0], maxViewport[1]});
    if (width < 1 || height < 1 || width > maxSide || height > maxSide) {
        error = QStringLiteral("OpenGL here draws pictures of at most %1 x %1 pixels, not %2 x %3")
                    .arg(maxSide)
                    .arg(width)
                    .arg(height);
        return {};
    }
    // The picture is opaque (graftals blend only its colours), and says so: its files then
    // need no alpha, which makes a PNG smaller and quicker to write.
    QImage image(width, height, QImage::Format_RGBX8888);
    if (image.isNull()) {
        error = QStringLiteral("there is not enough memory for a picture of %1 x %2 pixels")
                    .arg(width)
                    .arg(height);
        return {};
    }
    while (glGetError() != GL_NO_ERROR) {
    }
    bool drawn = false;
    if (pictureTarget.resize(width, height)) {
        const OffscreenTarget::Binding binding(pictureTarget);
        RenderSettings forFile = settings;
        forFile.overlays = false;
        forFile.pickPicture = false;
        finishModelFirst = true;
        drawFinished(scene, camera, forFile, width, height);
        finishModelFirst = false;
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
        drawn = glGetError() == GL_NO_ERROR;
    }
    if (!drawn) {
        pictureTarget = OffscreenTarget();
        sampledTarget = OffscreenTarget();
        resolvedTarget = OffscreenTarget();
        error = QStringLiteral("OpenGL could not draw a picture of %1 x %2 pixels")
                    .arg(width)
                    .arg(height);
        return {};
    }
    // OpenGL's rows run bottom up; turned in place, so that a picture costs one buffer.
    const size_t row = size_t(width) * 4;
    std::vector<uchar> spare(row);
    for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
        std::memcpy(spare.data(), image.scanLine(top), row);
        std::memcpy(image.scanLine(top), image.scanLine(bottom), row);
        std::memcpy(image.scanLine(bottom), spare.data(), row);
    }
    return image;
}

void SceneRenderer::drawAxes() const
{
    glLineWidth(50.0f);
    glBegin(GL_LINES);
    glColor3f(1.0f, 0.0f, 0.0f);
    glVertex3f(200.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glColor3f(1.0f, 1.0f, 1.0f);
    glVertex3f(0.0f, 200.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glColor3f(0.0f, 0.0f, 1.0f);
    glVertex3f(0.0f, 0.0f, 200.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glEnd();
    glLineWidth(1.0f);
}

void SceneRenderer::drawTrail(const Scene &scene) const
{
    const QList<Vector3> &trail = scene.eyeTrail();
    if (trail.size() <= 1)
        return;
    glLineWidth(25.0f);
    glColor3f(0.5f, 0.5f, 0.5f);
    glBegin(GL_LINE_STRIP);
    for (const Vector3 &p : trail)
        p.emitVertex();
    glEnd();
}

bool SceneRenderer::modelInView(const Scene &scene, const Camera &camera, int width, int height)
{
    if (!usable || !scene.loaded() || !scene.glReady())
        return true;
    // Most views show some face whole: found without drawing the model, which costs as much
    // as the picture's own drawing of it.
    return visibleface::surelyShows(scene, camera, width, height) ||
           modelDrawnInView(scene, camera, width, height);
}

bool SceneRenderer::modelDrawnInView(const Scene &scene, const Camera &camera, int width,
                                     int height)
{
    if (!usable || !scene.loaded() || !scene.glReady() || !pictureTarget.resize(width, height))
        return true;
    drawFaceIds(scene, camera, &pictureTarget, width, height);
    // Read in strips: a picture of 8192 x 8192 would need 200 MB at once.
    constexpr int Strip = 64;
    std::vector<unsigned char> rows(size_t(width) * Strip * 3);
    for (int y = 0; y < height; y += Strip) {
        const int n = std::min(Strip, height - y);
        readFaceIds(&pictureTarget, y, n, width, rows.data());
        const auto end = rows.begin() + std::ptrdiff_t(size_t(width) * size_t(n) * 3);
        if (std::any_of(rows.begin(), end, [](unsigned char c) { return c != 0; }))
            return true;
    }
    return false;
}
