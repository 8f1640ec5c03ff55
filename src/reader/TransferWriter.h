#pragma once

#include "ModelTransfer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ExportLimits
{
    uint64_t memoryBytes = 0; // what the readers and the reader's own work may hold
    uint64_t outputBytes = 0; // the largest result
};

// A decoded texture image: RGBA8 rows, top row first.
struct TextureImage
{
    uint32_t width = 0, height = 0;
    std::vector<unsigned char> rgba;
};

// Everything a result holds but the meshes' points and faces, which `fillMesh` writes
// straight into the result: the points (3 floats each), texture coordinates (2 floats),
// point colours (4 bytes) and faces of mesh `index`, with room for the counts its record
// gives. Texture coordinates and colours start as zeros.
struct TransferContent
{
    std::vector<ModelTransfer::MeshRecord> meshes;
    std::vector<ModelTransfer::MaterialRecord> materials;
    std::vector<ModelTransfer::PlacementRecord> placements;
    const std::vector<TextureImage> *textures = nullptr;
    std::string notes;
    std::function<void(size_t index, float *points, float *texCoords, unsigned char *colors,
                       ModelTransfer::FaceRecord *faces)>
        fillMesh;
};

// Returns 0 when the result (or a refusal because it would be too large) was written to
// `resultFd`, otherwise one of ModelTransfer's exit codes.
int writeTransfer(int resultFd, const TransferContent &content, const ExportLimits &limits);

// Writes a refusal with the given reason.
int writeRefusal(int resultFd, const std::string &reason);

// "the model needs more than N MB"
std::string needsMoreThan(uint64_t bytes);

// "the model has N triangles; at most 16777215 can be shown" and the like: the reasons
// both readers give for models beyond what the application takes.
std::string tooManyTriangles(uint64_t faces);
std::string tooManyObjects();
std::string tooManyMaterials();
