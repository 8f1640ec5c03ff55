#include "ModelExport.h"

#include "ModelTransfer.h"
#include "StructureCheck.h"

#include <algorithm>
#include <cstring>
#include <lib3ds/file.h>
#include <lib3ds/io.h>
#include <lib3ds/material.h>
#include <lib3ds/mesh.h>
#include <lib3ds/node.h>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <unistd.h>
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

// A result file being filled through a shared mapping.
class ResultMapping
{
public:
    ResultMapping(int fd, uint64_t size) : length(size)
    {
        if (ftruncate(fd, off_t(size)) != 0)
            return;
        void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p != MAP_FAILED)
            base = static_cast<char *>(p);
    }
    ~ResultMapping()
    {
        if (base)
            munmap(base, length);
    }
    ResultMapping(const ResultMapping &) = delete;
    ResultMapping &operator=(const ResultMapping &) = delete;

    char *at(uint64_t offset) const { return base + offset; }
    bool valid() const { return base != nullptr; }

private:
    uint64_t length;
    char *base = nullptr;
};

Header headerFor(Status status)
{
    Header h{};
    std::memcpy(h.magic, Magic, sizeof Magic);
    h.status = status;
    return h;
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
        problem = "the model has " + std::to_string(model.faces) + " triangles; at most " +
                  std::to_string(MaxFaces) + " can be shown";
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

int write(int fd, const Model &model, const ExportLimits &limits)
{
    Header h = headerFor(Loaded);
    h.meshCount = uint32_t(model.meshes.size());
    h.materialCount = uint32_t(model.materials.size());
    h.placementCount = uint32_t(model.placements.size());
    h.pointCount = model.points;
    h.faceCount = model.faces;
    const Layout layout = Layout::of(h);
    if (layout.end > limits.outputBytes)
        return writeRefusal(fd, needsMoreThan(limits.outputBytes));

    ResultMapping out(fd, layout.end);
    if (!out.valid())
        return ExitWriteFailed;
    std::memcpy(out.at(0), &h, sizeof h);

    auto *meshes = reinterpret_cast<MeshRecord *>(out.at(layout.meshes));
    auto *points = reinterpret_cast<float *>(out.at(layout.points));
    auto *faces = reinterpret_cast<FaceRecord *>(out.at(layout.faces));
    std::unordered_map<std::string, int32_t> materialByName;
    auto *materials = reinterpret_cast<MaterialRecord *>(out.at(layout.materials));
    for (size_t i = 0; i < model.materials.size(); ++i) {
        const Lib3dsMaterial *m = model.materials[i];
        std::copy(m->diffuse, m->diffuse + 3, materials[i].diffuse);
        // The first material of a name is the one faces of that name use.
        materialByName.emplace(nameOf(m->name), int32_t(i));
    }
    std::memcpy(out.at(layout.placements), model.placements.data(),
                model.placements.size() * sizeof(PlacementRecord));

    // Faces of one mesh usually share a material: look each name up once.
    std::string lastName;
    int32_t lastMaterial = NoMaterial;
    bool looked = false;
    for (size_t i = 0; i < model.meshes.size(); ++i) {
        const Lib3dsMesh *mesh = model.meshes[i];
        MeshRecord &record = meshes[i];
        const std::string name = nameOf(mesh->name);
        std::memcpy(record.name, name.data(), name.size());
        record.pointCount = uint32_t(mesh->points);
        record.faceCount = uint32_t(mesh->faces);
        copyMatrix(record.matrix, mesh->matrix);
        for (Lib3dsDword p = 0; p < mesh->points; ++p, points += 3)
            std::copy(mesh->pointL[p].pos, mesh->pointL[p].pos + 3, points);
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
    }
    return 0;
}

} // namespace

std::string needsMoreThan(uint64_t bytes)
{
    return "the model needs more than " + std::to_string(bytes >> 20) + " MB";
}

int writeRefusal(int resultFd, const std::string &reason)
{
    Header h = headerFor(Refused);
    h.messageBytes = uint32_t(reason.size());
    const Layout layout = Layout::of(h);
    ResultMapping out(resultFd, layout.end);
    if (!out.valid())
        return ExitWriteFailed;
    std::memcpy(out.at(0), &h, sizeof h);
    std::memcpy(out.at(layout.message), reason.data(), reason.size());
    return 0;
}

int exportModel(const unsigned char *data, size_t size, int resultFd, const ExportLimits &limits)
{
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
    return write(resultFd, model, limits);
}
