#include "ModelExport.h"

#include "AssimpExport.h"
#include "ModelTransfer.h"
#include "StructureCheck.h"
#include "TextureSet.h"

#include <algorithm>
#include <cstring>
#include <lib3ds/file.h>
#include <lib3ds/io.h>
#include <lib3ds/material.h>
#include <lib3ds/mesh.h>
#include <lib3ds/node.h>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

using namespace ModelTransfer;

namespace {

// lib3ds reads through these callbacks from the bytes in memory. Reads past the end fail
// and raise the error flag instead of touching memory outside the buffer.
struct MemoryStream
{
    const unsigned char *data;
    long size;
    long position = 0;
    bool error = false;
};

Lib3dsBool streamError(void *self)
{
    return static_cast<MemoryStream *>(self)->error ? LIB3DS_TRUE : LIB3DS_FALSE;
}

long streamSeek(void *self, long offset, Lib3dsIoSeek origin)
{
    auto *s = static_cast<MemoryStream *>(self);
    long base = 0;
    switch (origin) {
    case LIB3DS_SEEK_SET:
        base = 0;
        break;
    case LIB3DS_SEEK_CUR:
        base = s->position;
        break;
    case LIB3DS_SEEK_END:
        base = s->size;
        break;
    }
    if (offset > s->size || offset < -s->size || base + offset < 0 || base + offset > s->size) {
        s->error = true;
        return -1;
    }
    s->position = base + offset;
    return 0;
}

long streamTell(void *self)
{
    return static_cast<MemoryStream *>(self)->position;
}

size_t streamRead(void *self, void *buffer, size_t size)
{
    auto *s = static_cast<MemoryStream *>(self);
    const size_t available = size_t(s->size - s->position);
    const size_t n = std::min(size, available);
    if (n < size) {
        s->error = true;
        std::memset(static_cast<char *>(buffer) + n, 0, size - n);
    }
    std::memcpy(buffer, s->data + s->position, n);
    s->position += long(n);
    return n;
}

size_t streamWrite(void *self, const void *, size_t)
{
    static_cast<MemoryStream *>(self)->error = true;
    return 0;
}

struct FileDeleter
{
    void operator()(Lib3dsFile *file) const { lib3ds_file_free(file); }
};
using FilePtr = std::unique_ptr<Lib3dsFile, FileDeleter>;

// lib3ds's names are fixed arrays that its reader may fill to the last byte.
std::string nameOf(const char (&name)[64])
{
    return std::string(name, strnlen(name, sizeof name - 1));
}

void copyMatrix(float out[16], const Lib3dsMatrix m)
{
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            out[column * 4 + row] = m[column][row];
}

struct Model
{
    std::vector<Lib3dsMesh *> meshes;
    std::vector<Lib3dsMaterial *> materials;
    std::vector<PlacementRecord> placements;
    uint64_t points = 0;
    uint64_t faces = 0;
};

// Meshes, materials and placements in the order the application numbers them. Names are
// looked up through hashes: lib3ds's own lookups walk the whole list for every name.
bool collect(Lib3dsFile *file, Model &model, std::string &problem)
{
    std::unordered_map<std::string, uint32_t> meshByName;
    for (Lib3dsMesh *mesh = file->meshes; mesh; mesh = mesh->next) {
        if ((mesh->faces > 0 && !mesh->faceL) || (mesh->points > 0 && !mesh->pointL) ||
            mesh->points > MaxPointsPerMesh) {
            problem = "mesh \"" + nameOf(mesh->name) + "\" lost its points or faces";
            return false;
        }
        for (Lib3dsDword i = 0; i < mesh->faces; ++i)
            for (int k = 0; k < 3; ++k)
                if (mesh->faceL[i].points[k] >= mesh->points) {
                    problem = "mesh \"" + nameOf(mesh->name) +
                              "\" has a face that uses a point it does not have";
                    return false;
                }
        meshByName.emplace(nameOf(mesh->name), uint32_t(model.meshes.size()));
        model.meshes.push_back(mesh);
        model.points += mesh->points;
        model.faces += mesh->faces;
    }
    if (model.faces > MaxFaces) {
        problem = tooManyTriangles(model.faces);
        return false;
    }
    for (Lib3dsMaterial *m = file->materials; m; m = m->next)
        model.materials.push_back(m);

    auto meshNamed = [&](const char(&name)[64]) -> int64_t {
        const auto found = meshByName.find(nameOf(name));
        return found == meshByName.end() ? -1 : int64_t(found->second);
    };
    if (!file->nodes) {
        // Without a keyframer every mesh stands where its points are: one node per mesh,
        // named after it, with no animation.
        for (Lib3dsMesh *mesh : model.meshes) {
            PlacementRecord p{};
            p.mesh = uint32_t(meshNamed(mesh->name));
            for (int k = 0; k < 4; ++k)
                p.matrix[k * 5] = 1.0f;
            model.placements.push_back(p);
        }
        return true;
    }
    lib3ds_file_eval(file, 1.0f);
    std::vector<Lib3dsNode *> pending{file->nodes};
    while (!pending.empty()) {
        Lib3dsNode *node = pending.back();
        pending.pop_back();
        for (; node; node = node->next) {
            if (node->childs)
                pending.push_back(node->childs);
            if (node->type != LIB3DS_OBJECT_NODE)
                continue;
            int64_t mesh = meshNamed(node->data.object.instance);
            if (mesh < 0)
                mesh = meshNamed(node->name);
            if (mesh < 0)
                continue;
            PlacementRecord p{};
            p.mesh = uint32_t(mesh);
            std::copy(node->data.object.pivot, node->data.object.pivot + 3, p.pivot);
            copyMatrix(p.matrix, node->matrix);
            model.placements.push_back(p);
        }
    }
    return true;
}

// A material's first texture map, looked up beside the model.
int32_t textureOf(const Lib3dsMaterial *m, TextureSet &textures)
{
    const std::string name = nameOf(m->texture1_map.name);
    return name.empty() ? NoTexture : textures.fromFile(name);
}

int write(int fd, const Model &model, TextureSet &textures, const ExportLimits &limits)
{
    TransferContent content;
    std::unordered_map<std::string, int32_t> materialByName;
    for (size_t i = 0; i < model.materials.size(); ++i) {
        const Lib3dsMaterial *m = model.materials[i];
        MaterialRecord r{};
        std::copy(m->diffuse, m->diffuse + 3, r.diffuse);
        r.texture = textureOf(m, textures);
        content.materials.push_back(r);
        // The first material of a name is the one faces of that name use.
        materialByName.emplace(nameOf(m->name), int32_t(i));
    }
    content.placements = model.placements;
    for (const Lib3dsMesh *mesh : model.meshes) {
        MeshRecord record{};
        const std::string name = nameOf(mesh->name);
        std::memcpy(record.name, name.data(), name.size());
        record.pointCount = uint32_t(mesh->points);
        record.faceCount = uint32_t(mesh->faces);
        copyMatrix(record.matrix, mesh->matrix);
        // Texture coordinates count only when every point has its own.
        if (mesh->texelL && mesh->texels == mesh->points && mesh->points > 0)
            record.flags = HasTexCoords;
        content.meshes.push_back(record);
    }
    content.textures = &textures.images();
    content.notes = textures.notes();

    // Faces of one mesh usually share a material: look each name up once.
    std::string lastName;
    int32_t lastMaterial = NoMaterial;
    bool looked = false;
    content.fillMesh = [&](size_t i, float *points, float *texCoords, unsigned char *,
                           FaceRecord *faces) {
        const Lib3dsMesh *mesh = model.meshes[i];
        for (Lib3dsDword p = 0; p < mesh->points; ++p, points += 3)
            std::copy(mesh->pointL[p].pos, mesh->pointL[p].pos + 3, points);
        if (content.meshes[i].flags & HasTexCoords)
            for (Lib3dsDword p = 0; p < mesh->texels; ++p, texCoords += 2)
                std::copy(mesh->texelL[p], mesh->texelL[p] + 2, texCoords);
        for (Lib3dsDword f = 0; f < mesh->faces; ++f, ++faces) {
            const Lib3dsFace &face = mesh->faceL[f];
            std::copy(face.points, face.points + 3, faces->points);
            faces->smoothing = face.smoothing;
            const std::string material = nameOf(face.material);
            if (material.empty()) {
                faces->material = NoMaterial;
                continue;
            }
            if (!looked || material != lastName) {
                const auto found = materialByName.find(material);
                lastMaterial = found == materialByName.end() ? NoMaterial : found->second;
                lastName = material;
                looked = true;
            }
            faces->material = lastMaterial;
        }
    };
    return writeTransfer(fd, content, limits);
}

} // namespace

int exportModel(const std::string &path, const unsigned char *data, size_t size, int resultFd,
                const ExportLimits &limits)
{
    if (assimpexport::readsFormatOf(path))
        return assimpexport::exportModel(path, data, size, resultFd, limits);
    std::string problem;
    StructureCheck::Totals totals;
    if (!StructureCheck::run(data, size, problem, &totals))
        return writeRefusal(resultFd, problem);
    if (totals.estimatedBytes > limits.memoryBytes)
        return writeRefusal(resultFd, needsMoreThan(limits.memoryBytes));

    MemoryStream stream{data, long(size)};
    Lib3dsIo *io =
        lib3ds_io_new(&stream, streamError, streamSeek, streamTell, streamRead, streamWrite);
    if (!io)
        return ExitOutOfMemory;
    FilePtr file(lib3ds_file_new());
    const bool read = file && lib3ds_file_read(file.get(), io);
    lib3ds_io_free(io);
    if (!file)
        return ExitOutOfMemory;
    if (!read)
        return writeRefusal(resultFd, "the file's content could not be read");

    Model model;
    if (!collect(file.get(), model, problem))
        return writeRefusal(resultFd, problem);
    TextureSet textures(path, limits.memoryBytes / 4);
    return write(resultFd, model, textures, limits);
}
