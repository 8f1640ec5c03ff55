// The model in OpenGL buffers, uploaded at once or a slice at a time, and the face-id
// picture the renderer makes of it.
#include <GL/glew.h>

#include "GlObjects.h"
#include "Logger.h"
#include "Scene.h"
#include "SmoothNormals.h"

#include <algorithm>
#include <map>
#include <vector>

namespace {
// A model's render arrays go into OpenGL in buffers of this many faces (about 4.5 MB of
// positions): each buffer is a short piece of work, and the software renderer pays for
// clearing a new buffer's memory by its size.
constexpr size_t FacesPerBuffer = size_t(1) << 17;
constexpr size_t BytesPerFace = 9 * (3 * sizeof(float) + 1) + 6 * sizeof(float) + 3 * 4;

ModelBuffers uploadRange(const RenderArrays &a, size_t first, size_t faces)
{
    auto upload = [](GlBuffer &buffer, GLenum target, const void *data, size_t bytes) {
        buffer = GlBuffer(genBuffer());
        glBindBuffer(target, buffer.get());
        glBufferData(target, GLsizeiptr(bytes), data, GL_STATIC_DRAW);
    };
    ModelBuffers b;
    b.faces = faces;
    const size_t at = first * 9, values = faces * 9;
    upload(b.positions, GL_ARRAY_BUFFER, &a.positions[at], values * sizeof(float));
    upload(b.normals, GL_ARRAY_BUFFER, &a.normals[at], values * sizeof(float));
    upload(b.colors, GL_ARRAY_BUFFER, &a.colors[at], values * sizeof(float));
    upload(b.idColors, GL_ARRAY_BUFFER, &a.idColors[at], values);
    upload(b.texCoords, GL_ARRAY_BUFFER, &a.texCoords[first * 6], faces * 6 * sizeof(float));
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    // The range's vertices by the texture their face shows, in face order.
    std::map<int, std::vector<GLuint>> byTexture;
    for (size_t f = 0; f < faces; ++f) {
        std::vector<GLuint> &list = byTexture[a.faceTexture[first + f]];
        for (GLuint k = 0; k < 3; ++k)
            list.push_back(GLuint(f * 3) + k);
    }
    for (const auto &[texture, vertices] : byTexture) {
        TextureElements e;
        e.texture = texture;
        e.count = GLsizei(vertices.size());
        upload(e.indices, GL_ELEMENT_ARRAY_BUFFER, vertices.data(),
               vertices.size() * sizeof(GLuint));
        b.byTexture.push_back(std::move(e));
    }
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    return b;
}

std::vector<ModelTexture> uploadTextures(const QList<QImage> &images)
{
    std::vector<ModelTexture> textures;
    for (const QImage &image : images) {
        ModelTexture t;
        // OpenGL's first row is v = 0, the image's bottom row.
        const QImage rows = image.convertToFormat(QImage::Format_RGBA8888).mirrored();
        if (!rows.isNull()) {
            t.texture = GlTexture(genTexture());
            t.width = rows.width();
            t.height = rows.height();
            glBindTexture(GL_TEXTURE_2D, t.texture.get());
            glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, t.width, t.height, 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, rows.constBits());
            glGenerateMipmap(GL_TEXTURE_2D);
        }
        textures.push_back(std::move(t));
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    return textures;
}
} // namespace

struct Scene::GlState
{
    std::vector<ModelBuffers> model;
    std::vector<ModelTexture> textures;
    // The buffers of a staged model, filled a few at a time, and its textures, made once
    // its buffers are all there.
    std::vector<ModelBuffers> staged;
    std::vector<ModelTexture> stagedTextures;
    // While the model shows normals smoothed by angle, its file's own normals (one buffer
    // a range); smoothed normals on their way in, and the buffers made of them so far.
    std::vector<GlBuffer> fileNormals;
    struct SmoothStaged
    {
        double degrees = 0.0;
        LargeBuffer<float> normals;
        std::vector<GlBuffer> buffers;
    };
    std::unique_ptr<SmoothStaged> smooth;

    // The model's buffers are new: they hold their file's normals.
    void forgetSmoothing()
    {
        fileNormals.clear();
        smooth.reset();
    }
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
    gl->forgetSmoothing();
    normalsAngle = 0.0;
    gl->model.clear();
    gl->textures.clear();
}

void Scene::uploadBuffers()
{
    if (!pendingArrays)
        return;
    releaseBuffers();
    for (size_t first = 0; first < faceTotal; first += FacesPerBuffer)
        gl->model.push_back(
            uploadRange(*pendingArrays, first, std::min(FacesPerBuffer, faceTotal - first)));
    gl->textures = uploadTextures(pendingTextures);
    // Drawing uses the buffers only.
    pendingArrays.reset();
    pendingTextures.clear();
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
    if (staged->uploadedFaces == total && !staged->uploaded)
        gl->stagedTextures = uploadTextures(staged->model->textures);
    staged->uploaded = staged->uploadedFaces == total;
    return staged->uploaded;
}

void Scene::takeStagedBuffers()
{
    gl->forgetSmoothing();
    normalsAngle = 0.0;
    gl->model = std::move(gl->staged);
    gl->staged.clear();
    gl->textures = std::move(gl->stagedTextures);
    gl->stagedTextures.clear();
}

void Scene::discardStagedModel()
{
    gl->staged.clear();
    gl->stagedTextures.clear();
    staged.reset();
}

void Scene::stageSmoothNormals(double degrees, const LargeBuffer<MeshFace> *faces,
                               LargeBuffer<float> normals)
{
    gl->smooth.reset();
    // Only for the buffers of the faces they were computed from.
    if (faces != faceStore.get() || !normals.valid() || gl->model.empty() || pendingArrays)
        return;
    gl->smooth = std::make_unique<GlState::SmoothStaged>();
    gl->smooth->degrees = degrees;
    gl->smooth->normals = std::move(normals);
}

bool Scene::smoothNormalsStaged() const
{
    return gl->smooth != nullptr;
}

bool Scene::uploadSmoothNormals(size_t bytes)
{
    GlState::SmoothStaged *s = gl->smooth.get();
    if (!s || !contextReady)
        return true;
    // One buffer a range, as the model's own.
    size_t budget = std::max<size_t>(bytes / (9 * sizeof(float)), 1);
    while (s->buffers.size() < gl->model.size() && budget > 0) {
        const size_t range = s->buffers.size(), faces = gl->model[range].faces;
        if (range * FacesPerBuffer + faces > faceTotal) {
            gl->smooth.reset();
            return true;
        }
        GlBuffer b(genBuffer());
        glBindBuffer(GL_ARRAY_BUFFER, b.get());
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(faces * 9 * sizeof(float)),
                     &s->normals[range * FacesPerBuffer * 9], GL_STATIC_DRAW);
        s->buffers.push_back(std::move(b));
        budget -= std::min(budget, faces);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    if (s->buffers.size() < gl->model.size())
        return false;
    // All at once, so that no frame shows some ranges smoothed and others not.
    const bool keepFileNormals = gl->fileNormals.empty();
    for (size_t r = 0; r < gl->model.size(); ++r) {
        if (keepFileNormals)
            gl->fileNormals.push_back(std::move(gl->model[r].normals));
        gl->model[r].normals = std::move(s->buffers[r]);
    }
    normalsAngle = s->degrees;
    gl->smooth.reset();
    return true;
}

void Scene::showFileNormals()
{
    gl->smooth.reset();
    if (gl->fileNormals.size() == gl->model.size())
        for (size_t r = 0; r < gl->model.size(); ++r)
            gl->model[r].normals = std::move(gl->fileNormals[r]);
    gl->fileNormals.clear();
    normalsAngle = 0.0;
}

void Scene::followSmoothAngle()
{
    const double wanted = style.smoothAngle;
    if (wanted == normalsAngle && !gl->smooth)
        return;
    if (!(wanted > 0.0)) {
        showFileNormals();
        return;
    }
    if (!contextReady || gl->model.empty())
        return;
    LargeBuffer<float> normals(faceTotal * 9);
    if (!normals.valid() ||
        !smoothnormals::compute(faceStore->data(), faceTotal, wanted, normals.data())) {
        logger->warn(QStringLiteral("there is not enough memory to smooth the model's normals"));
        return;
    }
    stageSmoothNormals(wanted, faceStore.get(), std::move(normals));
    uploadSmoothNormals(SIZE_MAX);
}

const std::vector<ModelBuffers> &Scene::modelBuffers() const
{
    return gl->model;
}

const std::vector<ModelTexture> &Scene::modelTextures() const
{
    return gl->textures;
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
    return &(*faceStore)[id - 1];
}

void Scene::recordEye()
{
    trail.append(cam.eye);
    if (trail.size() > TrailLength)
        trail.removeFirst();
}
