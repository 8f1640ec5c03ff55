// The model in OpenGL buffers, uploaded at once or a slice at a time, and the face-id
// picture the renderer makes of it.
#include <GL/glew.h>

#include "GlObjects.h"
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

const std::vector<ModelBuffers> &Scene::modelBuffers() const
{
    return gl->model;
}

void Scene::setPickPicture(PickPicture picture)
{
    pick = std::move(picture);
}

const MeshFace *Scene::pickFace(int x, int y) const
{
    if (pick.rgb.empty() || x < 0 || y < 0 || x >= pick.width || y >= pick.height)
        return nullptr;
    const size_t row = size_t(pick.height - 1 - y);
    const size_t at = (row * size_t(pick.width) + size_t(x)) * 3;
    const quint32 id =
        (quint32(pick.rgb[at]) << 16) | (quint32(pick.rgb[at + 1]) << 8) | pick.rgb[at + 2];
    if (id == 0 || id > faceTotal)
        return nullptr;
    return &faceStore[id - 1];
}

void Scene::recordEye()
{
    trail.append(cam.eye);
    if (trail.size() > TrailLength)
        trail.removeFirst();
}
