// Loading a 3DS model into faces, per-mesh lists, mesh colours and render arrays.
#include "Scene.h"

#include "Logger.h"
#include "MeshNormals.h"

#include <QtConcurrent/QtConcurrentMap>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <lib3ds/file.h>
#include <lib3ds/material.h>
#include <lib3ds/mesh.h>
#include <lib3ds/node.h>
#include <new>

namespace {
// Colour of faces that come before any face with a known material.
constexpr Scene::Rgb DefaultColor{0.8f, 0.8f, 0.8f};

Matrix4 fromLib3ds(const Lib3dsMatrix m)
{
    Matrix4 r;
    for (int col = 0; col < 4; ++col)
        for (int row = 0; row < 4; ++row)
            r[col * 4 + row] = m[col][row];
    return r;
}

struct Box
{
    double min[3] = {DBL_MAX, DBL_MAX, DBL_MAX};
    double max[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};

    void add(const Vector3 &v)
    {
        for (int k = 0; k < 3; ++k) {
            min[k] = std::min(min[k], v[k]);
            max[k] = std::max(max[k], v[k]);
        }
    }
    bool usable() const
    {
        for (int k = 0; k < 3; ++k)
            if (!std::isfinite(min[k]) || !std::isfinite(max[k]) || min[k] > max[k])
                return false;
        return true;
    }
};

// The box of the meshes as the keyframer nodes place them at the evaluated frame:
// each object node's mesh, taken out of its own mesh frame, moved by the pivot and
// the node's matrix.
void addNodes(Lib3dsFile *file, Lib3dsNode *node, Box &box, int depth)
{
    for (; node && depth < 512; node = node->next) {
        if (node->type == LIB3DS_OBJECT_NODE) {
            Lib3dsMesh *mesh = lib3ds_file_mesh_by_name(file, node->data.object.instance);
            if (!mesh)
                mesh = lib3ds_file_mesh_by_name(file, node->name);
            if (mesh) {
                const Vector3 pivot(node->data.object.pivot[0], node->data.object.pivot[1],
                                    node->data.object.pivot[2]);
                const Matrix4 m = fromLib3ds(mesh->matrix)
                                      .inverse()
                                      .preMultiplied(Matrix4::translation(pivot.negated()))
                                      .preMultiplied(fromLib3ds(node->matrix));
                for (Lib3dsDword i = 0; i < mesh->points; ++i) {
                    const float *p = mesh->pointL[i].pos;
                    box.add(m.transformPoint(Vector3(p[0], p[1], p[2])));
                }
            }
        }
        addNodes(file, node->childs, box, depth + 1);
    }
}
} // namespace

std::array<unsigned char, 3> Scene::faceIdColor(int faceIndex)
{
    const quint32 id = quint32(faceIndex) + 1;
    return {static_cast<unsigned char>((id >> 16) & 0xff),
            static_cast<unsigned char>((id >> 8) & 0xff), static_cast<unsigned char>(id & 0xff)};
}

struct Scene::ModelBuffers
{
    size_t faces = 0;
    LargeBuffer<MeshFace> faceStore;
    std::unique_ptr<RenderArrays> arrays = std::make_unique<RenderArrays>();
};

std::unique_ptr<Scene::ModelBuffers> Scene::allocateBuffers(Lib3dsFile *file)
{
    auto buffers = std::make_unique<ModelBuffers>();
    for (Lib3dsMesh *mesh = file->meshes; mesh; mesh = mesh->next)
        buffers->faces += mesh->faces;
    const size_t n = buffers->faces;
    RenderArrays &a = *buffers->arrays;
    a.positions = LargeBuffer<float>(n * 9);
    a.normals = LargeBuffer<float>(n * 9);
    a.colors = LargeBuffer<float>(n * 9);
    a.idColors = LargeBuffer<unsigned char>(n * 9);
    buffers->faceStore = LargeBuffer<MeshFace>(n);
    if (!a.positions.valid() || !a.normals.valid() || !a.colors.valid() || !a.idColors.valid() ||
        !buffers->faceStore.valid())
        return nullptr;
    return buffers;
}

bool Scene::loadModel(const QString &path, QString &error)
{
    QString problem;
    Lib3dsFilePtr file = Model3dsReader::read(path, problem);
    if (!file) {
        error = QStringLiteral("3DS file couldn't be loaded");
        if (!problem.isEmpty())
            error += QStringLiteral("\n%1: %2").arg(path, problem);
        logger->warn(QStringLiteral("%1 not loaded: %2").arg(path, problem));
        return false;
    }

    std::unique_ptr<ModelBuffers> buffers = allocateBuffers(file.get());
    if (!buffers) {
        error = QStringLiteral(
                    "3DS file couldn't be loaded\n%1: there is not enough memory for its triangles")
                    .arg(path);
        logger->warn(QStringLiteral("%1 not loaded: out of memory").arg(path));
        return false;
    }

    // Only a model that was read completely replaces the current one.
    currentPath = path;
    model = std::move(file);
    isLoaded = true;
    background = Qt::white;
    clearInstances();
    measureModel();
    buildRenderArrays(std::move(buffers));
    if (contextReady)
        uploadBuffers();
    resetCamera();
    refreshPickBuffer();
    return true;
}

void Scene::measureModel()
{
    Lib3dsFile *file = model.get();
    if (!file->nodes) {
        for (Lib3dsMesh *mesh = file->meshes; mesh; mesh = mesh->next) {
            Lib3dsNode *node = lib3ds_node_new_object();
            if (!node)
                break;
            // At most 63 characters and the terminator.
            const size_t length = strnlen(mesh->name, sizeof(node->name) - 1);
            std::memcpy(node->name, mesh->name, length);
            node->name[length] = '\0';
            node->parent_id = LIB3DS_NO_PARENT;
            lib3ds_file_insert_node(file, node);
        }
    }
    lib3ds_file_eval(file, 1.0f);

    Box box;
    addNodes(file, file->nodes, box, 0);
    if (!box.usable()) {
        // No node shows a mesh, or the animation yields no finite placement: use the
        // meshes as they are stored.
        box = Box();
        for (Lib3dsMesh *mesh = file->meshes; mesh; mesh = mesh->next)
            for (Lib3dsDword i = 0; i < mesh->points; ++i)
                box.add(Vector3(mesh->pointL[i].pos[0], mesh->pointL[i].pos[1],
                                mesh->pointL[i].pos[2]));
    }
    if (!box.usable())
        box = Box{{0, 0, 0}, {0, 0, 0}};
    for (int k = 0; k < 3; ++k) {
        boundsMin[k] = float(box.min[k]);
        boundsMax[k] = float(box.max[k]);
        extent[k] = boundsMax[k] - boundsMin[k];
        center[k] = (boundsMin[k] + boundsMax[k]) * 0.5f;
    }
}

void Scene::buildRenderArrays(std::unique_ptr<ModelBuffers> buffers)
{
    Lib3dsFile *file = model.get();

    // One job per mesh. The colour carries over from face to face and from mesh to mesh,
    // so the colour each mesh starts with is settled first; then the meshes are built
    // side by side, each into its own range of faces and arrays.
    struct MeshJob
    {
        Lib3dsMesh *mesh;
        size_t firstFace;
        int meshIndex;
        Rgb startColor;
    };
    std::vector<MeshJob> jobs;
    size_t total = 0;
    Rgb color = DefaultColor;
    colorsByMesh.clear();
    int meshIndex = 0;
    for (Lib3dsMesh *mesh = file->meshes; mesh; mesh = mesh->next, ++meshIndex) {
        jobs.push_back({mesh, total, meshIndex, color});
        total += mesh->faces;
        // The colour the mesh ends with is that of its last face with a known material.
        for (Lib3dsDword i = mesh->faces; i-- > 0;) {
            const char *name = mesh->faceL[i].material;
            if (name[0] == '\0')
                continue;
            if (Lib3dsMaterial *material = lib3ds_file_material_by_name(file, name)) {
                color = {material->diffuse[0], material->diffuse[1], material->diffuse[2]};
                break;
            }
        }
        colorsByMesh.insert(meshIndex, color);
    }

    std::unique_ptr<RenderArrays> arrays = std::move(buffers->arrays);
    faceStore = std::move(buffers->faceStore);
    faceTotal = total;

    RenderArrays &a = *arrays;
    MeshFace *faces = faceStore.data();
    QtConcurrent::blockingMap(jobs, [file, &a, faces](const MeshJob &job) {
        Lib3dsMesh *mesh = job.mesh;
        calculateVertexNormals(mesh, &a.normals[job.firstFace * 9]);
        Rgb c = job.startColor;
        // Faces of one mesh usually share a material; look each name up once.
        const char *lastName = nullptr;
        Lib3dsMaterial *lastMaterial = nullptr;
        for (Lib3dsDword i = 0; i < mesh->faces; ++i) {
            const Lib3dsFace &face = mesh->faceL[i];
            if (face.material[0] != '\0') {
                if (!lastName || std::strcmp(lastName, face.material) != 0) {
                    lastName = face.material;
                    lastMaterial = lib3ds_file_material_by_name(file, face.material);
                }
                if (lastMaterial)
                    c = {lastMaterial->diffuse[0], lastMaterial->diffuse[1],
                         lastMaterial->diffuse[2]};
            }
            const size_t f = job.firstFace + i;
            const std::array<unsigned char, 3> id = faceIdColor(int(f));
            Vector3 corner[3];
            for (int k = 0; k < 3; ++k) {
                const float *p = mesh->pointL[face.points[k]].pos;
                corner[k] = Vector3(p[0], p[1], p[2]);
                const size_t at = f * 9 + size_t(k) * 3;
                for (int n = 0; n < 3; ++n) {
                    a.positions[at + n] = p[n];
                    a.colors[at + n] = c[n];
                    a.idColors[at + n] = id[n];
                }
            }
            new (&faces[f]) MeshFace(corner[0], corner[1], corner[2], job.meshIndex, int(f));
        }
    });

    meshFaceLists.clear();
    for (const MeshJob &job : jobs) {
        QList<const MeshFace *> list;
        list.reserve(int(job.mesh->faces));
        for (Lib3dsDword i = 0; i < job.mesh->faces; ++i)
            list.append(&faces[job.firstFace + i]);
        meshFaceLists.append(list);
    }
    pendingArrays = std::move(arrays);
}
