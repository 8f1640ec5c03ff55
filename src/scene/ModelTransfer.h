#pragma once

// The model as the reader process hands it to the application: one block of memory that
// the reader writes into a shared memory file and the application maps and checks before
// it uses anything in it. Plain C++ without Qt: the reader links neither Qt nor the
// application, and the application does not link lib3ds.
//
// Layout, every section starting at a multiple of 8 bytes:
//   Header
//   message            messageBytes of UTF-8 (why the file was refused), no terminator
//   MeshRecord         meshCount, in file order
//   MaterialRecord     materialCount
//   PlacementRecord    placementCount: where the keyframer puts each mesh
//   points             pointCount x 3 floats, mesh after mesh
//   FaceRecord         faceCount, mesh after mesh

#include <cstddef>
#include <cstdint>

namespace ModelTransfer {

constexpr char Magic[8] = {'T', 'U', 'F', 'T', 'M', 'D', 'L', '1'};

enum Status : uint32_t
{
    Loaded = 0,
    Refused = 1,
};

// What the reader accepts. Reading cost in lib3ds grows with the square of some of these
// (it keeps objects, materials, nodes and animation keys in sorted linked lists), so they
// are kept where a load stays within a few seconds.
constexpr uint64_t MaxFaces = 0xFFFFFF; // face ids are 24 bits, 0 meaning no face
constexpr uint32_t MaxObjects = 20000;  // meshes, cameras and lights
constexpr uint32_t MaxMaterials = 5000;
constexpr uint32_t MaxNodes = 10000;
constexpr uint64_t MaxKeys = 200000;        // animation keys in the whole file
constexpr uint64_t MaxKeysPerTrack = 10000; // over every chunk of one track of one node
constexpr uint32_t NameBytes = 64;
constexpr uint64_t MaxPointsPerMesh = 65535; // 3DS point indices are 16 bits
constexpr uint64_t MaxPoints = uint64_t(MaxObjects) * MaxPointsPerMesh;

// Exit codes of the reader besides 0 (a result was written).
enum ExitCode : int
{
    ExitUsage = 2,       // bad command line or no result file
    ExitOutOfMemory = 3, // an allocation of the reader failed
    ExitWriteFailed = 4, // the result could not be written
};

struct Header
{
    char magic[8];
    uint32_t status;
    uint32_t messageBytes;
    uint32_t meshCount;
    uint32_t materialCount;
    uint32_t placementCount;
    uint32_t reserved;
    uint64_t pointCount;
    uint64_t faceCount;
};

struct MeshRecord
{
    char name[NameBytes]; // NUL-terminated
    uint32_t pointCount;
    uint32_t faceCount;
    float matrix[16]; // the mesh's own frame, column after column
};

struct MaterialRecord
{
    float diffuse[3];
};

// One object node of the keyframer showing a mesh, evaluated at the frame the scene uses.
struct PlacementRecord
{
    uint32_t mesh;
    float pivot[3];
    float matrix[16]; // column after column
};

constexpr int32_t NoMaterial = -1;

struct FaceRecord
{
    uint16_t points[3]; // indices into the mesh's own points
    uint16_t reserved;
    uint32_t smoothing; // smoothing groups, one bit each
    int32_t material;   // index of the material, or NoMaterial
};

static_assert(sizeof(Header) == 48);
static_assert(sizeof(MeshRecord) == 136);
static_assert(sizeof(MaterialRecord) == 12);
static_assert(sizeof(PlacementRecord) == 80);
static_assert(sizeof(FaceRecord) == 16);

constexpr uint64_t aligned(uint64_t n)
{
    return (n + 7) / 8 * 8;
}

// Where each section starts. In 64-bit arithmetic no 32-bit count can overflow it; the
// point and face counts must have been checked against their limits first.
struct Layout
{
    uint64_t message, meshes, materials, placements, points, faces, end;

    static Layout of(const Header &h)
    {
        Layout l{};
        l.message = aligned(sizeof(Header));
        l.meshes = aligned(l.message + h.messageBytes);
        l.materials = aligned(l.meshes + uint64_t(h.meshCount) * sizeof(MeshRecord));
        l.placements = aligned(l.materials + uint64_t(h.materialCount) * sizeof(MaterialRecord));
        l.points = aligned(l.placements + uint64_t(h.placementCount) * sizeof(PlacementRecord));
        l.faces = aligned(l.points + h.pointCount * 12);
        l.end = l.faces + h.faceCount * sizeof(FaceRecord);
        return l;
    }
};

} // namespace ModelTransfer
