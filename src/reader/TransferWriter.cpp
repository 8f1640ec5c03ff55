#include "TransferWriter.h"

#include <algorithm>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

using namespace ModelTransfer;

namespace {

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

} // namespace

std::string needsMoreThan(uint64_t bytes)
{
    return "the model needs more than " + std::to_string(bytes >> 20) + " MB";
}

std::string tooManyTriangles(uint64_t faces)
{
    return "the model has " + std::to_string(faces) + " triangles; at most " +
           std::to_string(MaxFaces) + " can be shown";
}

std::string tooManyObjects()
{
    return "the file has more objects than Tuftmill reads (at most " + std::to_string(MaxObjects) +
           ")";
}

std::string tooManyMaterials()
{
    return "the file has more materials than Tuftmill reads (at most " +
           std::to_string(MaxMaterials) + ")";
}

int writeRefusal(int resultFd, const std::string &reason)
{
    Header h = headerFor(Refused);
    h.messageBytes = uint32_t(std::min<size_t>(reason.size(), 4096));
    const Layout layout = Layout::of(h);
    ResultMapping out(resultFd, layout.end);
    if (!out.valid())
        return ExitWriteFailed;
    std::memcpy(out.at(0), &h, sizeof h);
    std::memcpy(out.at(layout.message), reason.data(), h.messageBytes);
    return 0;
}

int writeTransfer(int resultFd, const TransferContent &content, const ExportLimits &limits)
{
    static const std::vector<TextureImage> none;
    const std::vector<TextureImage> &textures = content.textures ? *content.textures : none;
    Header h = headerFor(Loaded);
    h.meshCount = uint32_t(content.meshes.size());
    h.materialCount = uint32_t(content.materials.size());
    h.placementCount = uint32_t(content.placements.size());
    h.textureCount = uint32_t(textures.size());
    h.noteBytes = uint32_t(std::min<size_t>(content.notes.size(), MaxNoteBytes));
    for (const MeshRecord &m : content.meshes) {
        h.pointCount += m.pointCount;
        h.faceCount += m.faceCount;
    }
    std::vector<TextureRecord> records;
    for (const TextureImage &t : textures) {
        records.push_back({t.width, t.height});
        h.texelBytes += texelBytesOf(records.back());
    }
    const Layout layout = Layout::of(h);
    if (layout.end > limits.outputBytes)
        return writeRefusal(resultFd, needsMoreThan(limits.outputBytes));

    ResultMapping out(resultFd, layout.end);
    if (!out.valid())
        return ExitWriteFailed;
    auto put = [&](uint64_t at, const void *data, size_t bytes) {
        if (bytes)
            std::memcpy(out.at(at), data, bytes);
    };
    put(0, &h, sizeof h);
    put(layout.notes, content.notes.data(), h.noteBytes);
    put(layout.meshes, content.meshes.data(), content.meshes.size() * sizeof(MeshRecord));
    put(layout.materials, content.materials.data(),
        content.materials.size() * sizeof(MaterialRecord));
    put(layout.textures, records.data(), records.size() * sizeof(TextureRecord));
    put(layout.placements, content.placements.data(),
        content.placements.size() * sizeof(PlacementRecord));
    uint64_t texel = layout.texels;
    for (size_t i = 0; i < textures.size(); ++i) {
        put(texel, textures[i].rgba.data(), textures[i].rgba.size());
        texel += texelBytesOf(records[i]);
    }

    auto *points = reinterpret_cast<float *>(out.at(layout.points));
    auto *texCoords = reinterpret_cast<float *>(out.at(layout.texCoords));
    auto *colors = reinterpret_cast<unsigned char *>(out.at(layout.pointColors));
    auto *faces = reinterpret_cast<FaceRecord *>(out.at(layout.faces));
    for (size_t i = 0; i < content.meshes.size(); ++i) {
        const MeshRecord &m = content.meshes[i];
        content.fillMesh(i, points, texCoords, colors, faces);
        points += size_t(m.pointCount) * 3;
        texCoords += size_t(m.pointCount) * 2;
        colors += size_t(m.pointCount) * 4;
        faces += m.faceCount;
    }
    return 0;
}
