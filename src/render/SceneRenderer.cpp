#include <GL/glew.h>

#include "SceneRenderer.h"

#include "Camera.h"
#include "GlSetup.h"
#include "Graftal.h"
#include "Scene.h"

#include <algorithm>
#include <optional>

namespace {
// The shader's uniforms, looked up by name in the current program; a name the program
// lacks is -1, which OpenGL ignores.
struct Uniforms
{
    GLint isGraftal = -1, meshColor = -1, texSampler = -1, maskSampler = -1;
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
        return u;
    }
};

void drawQuads(GraftalInstance::QuadBatch &batch)
{
    if (batch.empty())
        return;
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, batch.positions.data());
    glColorPointer(4, GL_FLOAT, 0, batch.colors.data());
    for (GLenum unit : {GL_TEXTURE0, GL_TEXTURE1}) {
        glClientActiveTexture(unit);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, 0, batch.texCoords.data());
    }
    glDrawArrays(GL_QUADS, 0, batch.vertexCount());
    for (GLenum unit : {GL_TEXTURE1, GL_TEXTURE0}) {
        glClientActiveTexture(unit);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    batch.clear();
}
} // namespace

SceneRenderer::SceneRenderer() = default;
SceneRenderer::~SceneRenderer() = default;

bool SceneRenderer::initialize(QString &error)
{
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    usable = glsetup::loadEntryPoints(error);
    if (!usable)
        return false;
    GLuint shaderName = 0, programName = 0;
    glsetup::buildObjectColorProgram(shaderName, programName, shaderMessages);
    shader = GlShader(shaderName);
    program = GlProgram(programName);
    return true;
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
    glLoadMatrixd(Camera::perspective(width, height).data());
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    camera.cameraRotation.glMultiply();
    camera.cameraTranslation.glMultiply();
}

void SceneRenderer::draw(const Scene &scene, const Camera &camera, const RenderSettings &settings,
                         int width, int height)
{
    if (usable && settings.pickPicture) {
        drawPickPicture(scene);
        return;
    }
    clear(scene, false);
    if (!usable || !scene.loaded())
        return;
    applyCamera(camera, width, height);
    if (settings.overlays && scene.axesShown())
        drawAxes();
    drawModel(scene, camera, false);
    if (settings.overlays && scene.trailShown())
        drawTrail(scene);
    drawGraftals(scene, camera, settings.style.graftalScale);
}

void SceneRenderer::drawModel(const Scene &scene, const Camera &camera, bool ids) const
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
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    for (const ModelBuffers &b : scene.modelBuffers()) {
        glBindBuffer(GL_ARRAY_BUFFER, b.positions.get());
        glVertexPointer(3, GL_FLOAT, 0, nullptr);
        glBindBuffer(GL_ARRAY_BUFFER, b.normals.get());
        glNormalPointer(GL_FLOAT, 0, nullptr);
        if (ids) {
            glBindBuffer(GL_ARRAY_BUFFER, b.idColors.get());
            glColorPointer(3, GL_UNSIGNED_BYTE, 0, nullptr);
        } else {
            glBindBuffer(GL_ARRAY_BUFFER, b.colors.get());
            glColorPointer(3, GL_FLOAT, 0, nullptr);
        }
        glDrawArrays(GL_TRIANGLES, 0, GLsizei(b.faces * 3));
    }
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void SceneRenderer::drawGraftals(const Scene &scene, const Camera &camera, double graftalScale)
{
    const Uniforms uniforms = Uniforms::current();
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    // Colours blend by the graftal's alpha; the picture itself stays opaque, or the
    // window would show through wherever a graftal is translucent.
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE);
    if (uniforms.valid)
        glUniform1i(uniforms.isGraftal, 1);

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

    // Quads are drawn in runs that share a graftal and a mesh colour, farthest first as
    // sorted; textures and the colour change only between runs.
    GraftalInstance::QuadBatch batch;
    const Graftal *boundGraftal = nullptr;
    int colouredMesh = -1;
    for (GraftalInstance *instance : drawOrder) {
        const Graftal *g = instance->graftal();
        const std::array<unsigned int, 2> names = graftalTextures.names(g);
        if (names[0] == 0)
            continue; // no textures made yet: nothing to show
        const int mesh = instance->face()->meshIndex;
        if (mesh != colouredMesh || g != boundGraftal)
            drawQuads(batch);
        if (mesh != colouredMesh) {
            const Scene::Rgb c = scene.meshColors().value(mesh, Scene::Rgb{1.0f, 1.0f, 1.0f});
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
        instance->draw(batch, camera.viewDir, graftalScale);
    }
    drawQuads(batch);
}

void SceneRenderer::drawPickPicture(const Scene &scene) const
{
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
    std::optional<OffscreenTarget::Binding> binding;
    GLint previousViewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, previousViewport);
    if (offscreen)
        binding.emplace(pickTarget);

    clear(scene, true);
    applyCamera(scene.camera(), w, h);
    drawModel(scene, scene.camera(), true);

    Scene::PickPicture pick;
    pick.rgb.assign(size_t(w + 1) * size_t(h + 1) * 3, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, pick.rgb.data());
    pick.width = w;
    pick.height = h;
    scene.setPickPicture(std::move(pick));
    binding.reset();
    glViewport(previousViewport[0], previousViewport[1], previousViewport[2], previousViewport[3]);
    glFlush();
}

QImage SceneRenderer::picture(const Scene &scene, const Camera &camera,
                              const RenderSettings &settings, int width, int height,
                              QString &error)
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
    QImage image(width, height, QImage::Format_RGBA8888);
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
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        RenderSettings forFile = settings;
        forFile.overlays = false;
        forFile.pickPicture = false;
        draw(scene, camera, forFile, width, height);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
        drawn = glGetError() == GL_NO_ERROR;
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
    }
    if (!drawn) {
        pictureTarget = OffscreenTarget();
        error = QStringLiteral("OpenGL could not draw a picture of %1 x %2 pixels")
                    .arg(width)
                    .arg(height);
        return {};
    }
    // OpenGL's rows run bottom up.
    return std::move(image).mirrored();
}

void SceneRenderer::setPixmapTexture(const QImage &picture)
{
    pixmapTexture = GlTexture(genTexture());
    const QImage image = picture.convertToFormat(QImage::Format_RGBA8888).mirrored();
    glBindTexture(GL_TEXTURE_2D, pixmapTexture.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width(), image.height(), 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, image.constBits());
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
    if (!usable || !scene.loaded() || !scene.glReady() || !pictureTarget.resize(width, height))
        return true;
    const OffscreenTarget::Binding binding(pictureTarget);
    clear(scene, true);
    applyCamera(camera, width, height);
    drawModel(scene, camera, true);
    // Read in strips: a picture of 8192 x 8192 would need 200 MB at once.
    constexpr int Strip = 64;
    std::vector<unsigned char> rows(size_t(width) * Strip * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    for (int y = 0; y < height; y += Strip) {
        const int n = std::min(Strip, height - y);
        glReadPixels(0, y, width, n, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
        const auto end = rows.begin() + std::ptrdiff_t(size_t(width) * size_t(n) * 3);
        if (std::any_of(rows.begin(), end, [](unsigned char c) { return c != 0; }))
            return true;
    }
    return false;
}
