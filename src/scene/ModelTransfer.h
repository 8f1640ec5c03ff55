#pragma once

// The model as the reader process hands it to the application: one block of memory that
// the reader writes into a shared memory file and the application maps and checks before
// it uses anything in it. Plain C++ without Qt: the reader links neither Qt nor the
// application, and the application does not link lib3ds.
//
// Layout, every section starting at a multiple of 8 bytes:
//   Header
//   message            messageBytes of UTF-8 (why the file was refused), no terminator
//   notes              noteBytes of UTF-8: lines for the status line, '\n' between them
//   MeshRecord         meshCount, in file order
//   MaterialRecord     materialCount
//   TextureRecord      textureCount
//   PlacementRecord    placementCount: where the keyframer puts each mesh
//   points             pointCount x 3 floats, mesh after mesh
//   texture coords     pointCount x 2 floats (u, v; v = 0 at the image's bottom row)
//   point colours      pointCount x 4 bytes (RGBA), used by meshes marked HasColors
//   FaceRecord         faceCount, mesh after mesh
//   texels             texelBytes: each texture's RGBA8 rows, top row first, in texture
//                      order, each image padded to a multiple of 8 bytes
//
// Models in other formats than 3DS arrive in the same form: meshes already placed (their
// own frame and their one placement the identity) and turned into the 3DS frame, Z up.

#include <cstddef>
#include <cstdint>

namespace ModelTransfer {

constexpr char Magic[8] = {'T', 'U', 'F', 'T', 'M', 'D', 'L', '2'};

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
constexpr uint32_t MaxTextures = MaxMaterials; // one diffuse image per material at most
constexpr uint32_t MaxTextureSide = 8192;      // pixels, either way
constexpr uint32_t MaxNoteBytes = 8192;

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
    uint32_t textureCount;
    uint64_t pointCount;
    uint64_t faceCount;
    uint32_t noteBytes;
    uint32_t reserved;
    uint64_t texelBytes;
};

enum MeshFlags : uint32_t
{
    HasTexCoords = 1, // its points' texture coordinates mean something
    HasColors = 2,    // its faces take the colours of their points, not their material's
};

struct MeshRecord
{
    char name[NameBytes]; // NUL-terminated
    uint32_t pointCount;
    uint32_t faceCount;
    float matrix[16]; // the mesh's own frame, column after column
    uint32_t flags;   // MeshFlags
    uint32_t reserved;
};

constexpr int32_t NoTexture = -1;

struct MaterialRecord
{
    float diffuse[3];
    int32_t texture; // index of its diffuse image, or NoTexture
};

struct TextureRecord
{
    uint32_t width, height;
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

static_assert(sizeof(Header) == 64);
static_assert(sizeof(MeshRecord) == 144);
static_assert(sizeof(MaterialRecord) == 16);
static_assert(sizeof(TextureRecord) == 8);
static_assert(sizeof(PlacementRecord) == 80);
static_assert(sizeof(FaceRecord) == 16);

constexpr uint64_t aligned(uint64_t n)
{
    return (n + 7) / 8 * 8;
}

// The bytes one texture takes in the texels section; sides must have been checked.
constexpr uint64_t texelBytesOf(const TextureRecord &t)
{
    return aligned(uint64_t(t.width) * t.height * 4);
}

// Where each section starts. In 64-bit arithmetic no 32-bit count can overflow it; the
// point, face and texel counts must have been checked against their limits first.
struct Layout
{
    uint64_t message, notes, meshes, materials, textures, placements, points, texCoords,
        pointColors, faces, texels, end;

    static Layout of(const Header &h)
    {
        Layout l{};
        l.message = aligned(sizeof(Header));
        l.notes = aligned(l.message + h.messageBytes);
        l.meshes = aligned(l.notes + h.noteBytes);
        l.materials = aligned(l.meshes + uint64_t(h.meshCount) * sizeof(MeshRecord));
        l.textures = aligned(l.materials + uint64_t(h.materialCount) * sizeof(MaterialRecord));
        l.placements = aligned(l.textures + uint64_t(h.textureCount) * sizeof(TextureRecord));
        l.points = aligned(l.placements + uint64_t(h.placementCount) * sizeof(PlacementRecord));
        l.texCoords = aligned(l.points + h.pointCount * 12);
        l.pointColors = aligned(l.texCoords + h.pointCount * 8);
        l.faces = aligned(l.pointColors + h.pointCount * 4);
        l.texels = aligned(l.faces + h.faceCount * sizeof(FaceRecord));
        l.end = l.texels + h.texelBytes;
        return l;
    }
};

} // namespace ModelTransfer
