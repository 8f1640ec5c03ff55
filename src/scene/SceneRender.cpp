// Drawing the scene and reading back the face-id picture.
#include <GL/glew.h>

#include "GlObjects.h"
#include "Graftal.h"
#include "Logger.h"
#include "Scene.h"

#include <algorithm>
#include <vector>

namespace {
// A model's render arrays go into OpenGL in buffers of this many faces (about 4.5 MB of
// positions): each buffer is a short piece of work, and the software renderer pays for
// clearing a new buffer's memory by its size.
constexpr size_t FacesPerBuffer = size_t(1) << 17;
constexpr size_t BytesPerFace = 9 * (3 * sizeof(float) + 1);

// One range of faces in OpenGL buffers: positions, normals, colours and face-id colours.
struct ModelBuffers
{
    GlBuffer positions, normals, colors, idColors;
    size_t faces = 0;
};

ModelBuffers uploadRange(const RenderArrays &a, size_t first, size_t faces)
{
    auto upload = [](GlBuffer &buffer, const void *data, size_t bytes) {
        buffer = GlBuffer(genBuffer());
        glBindBuffer(GL_ARRAY_BUFFER, buffer.get());
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(bytes), data, GL_STATIC_DRAW);
    };
    ModelBuffers b;
    b.faces = faces;
    const size_t at = first * 9, values = faces * 9;
    upload(b.positions, &a.positions[at], values * sizeof(float));
    upload(b.normals, &a.normals[at], values * sizeof(float));
    upload(b.colors, &a.colors[at], values * sizeof(float));
    upload(b.idColors, &a.idColors[at], values);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return b;
}
} // namespace

struct Scene::GlState
{
    std::vector<ModelBuffers> model;
    // The buffers of a staged model, filled a few at a time.
    std::vector<ModelBuffers> staged;
    // The face-id picture is drawn off screen so that it never shows in the view.
    GlFramebuffer pickFramebuffer;
    GlRenderbuffer pickColor, pickDepth;
    int pickTargetWidth = 0;
    int pickTargetHeight = 0;
};

Scene::Scene()
    : logger(std::make_unique<Logger>(QStringLiteral("app.gl.scene"))),
      gl(std::make_unique<GlState>())
{
}

Scene::~Scene()
{
    discardStagedModel();
    clearInstances();
}

void Scene::setGlReady(bool ready)
{
    contextReady = ready;
    if (ready && pendingArrays)
        uploadBuffers();
}

void Scene::releaseBuffers()
{
    gl->model.clear();
}

void Scene::uploadBuffers()
{
    if (!pendingArrays)
        return;
    releaseBuffers();
    for (size_t first = 0; first < faceTotal; first += FacesPerBuffer)
        gl->model.push_back(
            uploadRange(*pendingArrays, first, std::min(FacesPerBuffer, faceTotal - first)));
    // Drawing uses the buffers only.
    pendingArrays.reset();
}

bool Scene::uploadStaged(size_t bytes)
{
    if (!staged || !contextReady)
        return true;
    const size_t total = staged->model->faceCount;
    size_t budget = std::max<size_t>(bytes / BytesPerFace, 1);
    while (staged->uploadedFaces < total && budget > 0) {
        const size_t faces = std::min(FacesPerBuffer, total - staged->uploadedFaces);
        gl->staged.push_back(uploadRange(staged->model->arrays, staged->uploadedFaces, faces));
        staged->uploadedFaces += faces;
        budget -= std::min(budget, faces);
    }
    staged->uploaded = staged->uploadedFaces == total;
    return staged->uploaded;
}

void Scene::takeStagedBuffers()
{
    gl->model = std::move(gl->staged);
    gl->staged.clear();
}

void Scene::discardStagedModel()
{
    gl->staged.clear();
    staged.reset();
}

void Scene::clearView(bool pick)
{
    if (pick)
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    else
        glClearColor(float(background.redF()), float(background.greenF()),
                     float(background.blueF()), 1.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

namespace {
struct Uniforms
{
    GLint isGraftal = -1, meshColor = -1, texSampler = -1, maskSampler = -1;

    static Uniforms current()
    {
        Uniforms u;
        GLint program = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        if (program == 0)
            return u;
        u.isGraftal = glGetUniformLocation(GLuint(program), "isGraftal");
        u.meshColor = glGetUniformLocation(GLuint(program), "meshColor");
        u.texSampler = glGetUniformLocation(GLuint(program), "texSampler");
        u.maskSampler = glGetUniformLocation(GLuint(program), "maskSampler");
        return u;
    }
    bool valid() const
    {
        return isGraftal >= 0 || meshColor >= 0 || texSampler >= 0 || maskSampler >= 0;
    }
};
} // namespace

void Scene::render(int flags)
{
    const Uniforms uniforms = Uniforms::current();
    if (uniforms.valid())
        glUniform1i(uniforms.isGraftal, 0);

    if (flags & ShowPickBuffer) {
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        if (!pickBuffer.empty()) {
            glWindowPos2i(0, 0);
            glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
            glDrawPixels(pickWidth, pickHeight, GL_RGB, GL_UNSIGNED_BYTE, pickBuffer.data());
        }
        return;
    }

    if (showAxes && !(flags & (PickPass | Picture)))
        drawAxes();

    modelMatrix.glMultiply();
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    if (uniforms.valid()) {
        glUniform1i(uniforms.isGraftal, 0);
        glUniform1i(uniforms.texSampler, 0);
        glUniform1i(uniforms.maskSampler, 1);
    }

    if (!gl->model.empty()) {
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        for (const ModelBuffers &b : gl->model) {
            glBindBuffer(GL_ARRAY_BUFFER, b.positions.get());
            glVertexPointer(3, GL_FLOAT, 0, nullptr);
            glBindBuffer(GL_ARRAY_BUFFER, b.normals.get());
            glNormalPointer(GL_FLOAT, 0, nullptr);
            if (flags & PickPass) {
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

    if (flags & PickPass)
        return;

    if (!(flags & Picture)) {
        if (showTrail)
            drawTrail();
        recordEye();
    }

    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    // Colours blend by the graftal's alpha; the picture itself stays opaque, or the
    // window would show through wherever a graftal is translucent.
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE);

    drawOrder = allInstanceList.empty() ? collectInstances() : allInstanceList;
    if (uniforms.valid())
        glUniform1i(uniforms.isGraftal, 1);

    // Farthest first, so that nearer graftals blend over farther ones.
    std::vector<std::pair<double, GraftalInstance *>> byDistance;
    byDistance.reserve(drawOrder.size());
    for (GraftalInstance *instance : drawOrder)
        byDistance.emplace_back(instance->distanceSquaredToEye(), instance);
    std::sort(byDistance.begin(), byDistance.end(),
              [](const auto &a, const auto &b) { return a.first > b.first; });
    for (size_t i = 0; i < byDistance.size(); ++i)
        drawOrder[i] = byDistance[i].second;

    // Quads are drawn in runs that share a graftal and a mesh colour, farthest first as
    // sorted; textures and the colour change only between runs.
    GraftalInstance::QuadBatch batch;
    auto flush = [&batch] {
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
    };
    const Graftal *boundGraftal = nullptr;
    int colouredMesh = -1;
    for (GraftalInstance *instance : drawOrder) {
        const Graftal *g = instance->graftal();
        if (g->textureIds[0] == 0)
            continue; // nothing uploaded yet: nothing to show
        const int mesh = instance->face()->meshIndex;
        if (mesh != colouredMesh || g != boundGraftal)
            flush();
        if (mesh != colouredMesh) {
            const Rgb c = colorsByMesh.value(mesh, Rgb{1.0f, 1.0f, 1.0f});
            glUniform3f(uniforms.meshColor, c[0], c[1], c[2]);
            colouredMesh = mesh;
        }
        if (g != boundGraftal) {
            glActiveTexture(GL_TEXTURE0);
            glBindTexture(GL_TEXTURE_2D, g->textureIds[0]);
            glActiveTexture(GL_TEXTURE1);
            glBindTexture(GL_TEXTURE_2D, g->textureIds[1]);
            boundGraftal = g;
        }
        instance->draw(batch);
    }
    flush();
}

void Scene::refreshPickBuffer()
{
    if (!isLoaded || !contextReady || viewportWidth <= 0 || viewportHeight <= 0)
        return;
    const int w = viewportWidth, h = viewportHeight;

    GLint previousFramebuffer = 0;
    GLint previousViewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFramebuffer);
    glGetIntegerv(GL_VIEWPORT, previousViewport);

    const bool offscreen = GLEW_VERSION_3_0 || GLEW_ARB_framebuffer_object;
    if (offscreen) {
        if (!gl->pickFramebuffer || gl->pickTargetWidth != w || gl->pickTargetHeight != h) {
            gl->pickFramebuffer.reset();
            gl->pickColor.reset();
            gl->pickDepth.reset();
            GLuint ids[3] = {0, 0, 0};
            glGenFramebuffers(1, &ids[0]);
            glGenRenderbuffers(2, &ids[1]);
            gl->pickFramebuffer = GlFramebuffer(ids[0]);
            gl->pickColor = GlRenderbuffer(ids[1]);
            gl->pickDepth = GlRenderbuffer(ids[2]);
            glBindRenderbuffer(GL_RENDERBUFFER, ids[1]);
            glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, w, h);
            glBindRenderbuffer(GL_RENDERBUFFER, ids[2]);
            glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, w, h);
            glBindRenderbuffer(GL_RENDERBUFFER, 0);
            glBindFramebuffer(GL_FRAMEBUFFER, ids[0]);
            glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                      ids[1]);
            glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, ids[2]);
            gl->pickTargetWidth = w;
            gl->pickTargetHeight = h;
        }
        glBindFramebuffer(GL_FRAMEBUFFER, gl->pickFramebuffer.get());
    }
    glViewport(0, 0, w, h);

    clearView(true);
    applyCameraRotation();
    applyCameraTranslation();
    render(PickPass);

    pickBuffer.assign(size_t(w + 1) * size_t(h + 1) * 3, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, pickBuffer.data());
    pickWidth = w;
    pickHeight = h;

    if (offscreen)
        glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previousFramebuffer));
    glViewport(previousViewport[0], previousViewport[1], previousViewport[2], previousViewport[3]);
    glFlush();
}

const MeshFace *Scene::pickFace(int x, int y) const
{
    if (pickBuffer.empty() || x < 0 || y < 0 || x >= pickWidth || y >= pickHeight)
        return nullptr;
    const size_t row = size_t(pickHeight - 1 - y);
    const size_t at = (row * size_t(pickWidth) + size_t(x)) * 3;
    const quint32 id =
        (quint32(pickBuffer[at]) << 16) | (quint32(pickBuffer[at + 1]) << 8) | pickBuffer[at + 2];
    if (id == 0 || id > faceTotal)
        return nullptr;
    return &faceStore[id - 1];
}

void Scene::drawAxes() const
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

void Scene::drawTrail() const
{
    if (trail.size() <= 1)
        return;
    glLineWidth(25.0f);
    glColor3f(0.5f, 0.5f, 0.5f);
    glBegin(GL_LINE_STRIP);
    for (const Vector3 &p : trail)
        p.emitVertex();
    glEnd();
}

void Scene::recordEye()
{
    trail.append(eye);
    if (trail.size() > TrailLength)
        trail.removeFirst();
}
