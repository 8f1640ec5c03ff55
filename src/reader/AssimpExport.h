#pragma once

#include "TransferWriter.h"

#include <cstddef>
#include <string>

// Models in formats other than 3DS, read with assimp (OBJ, glTF, FBX, PLY, STL, Collada,
// 3MF, OFF, DirectX, AC3D, ASE, LightWave) and handed over in the transfer layout: meshes
// placed where the file's nodes put them (once per node that shows them), turned into the
// 3DS frame with Z up, with their materials' colours and diffuse textures.
namespace assimpexport {

// Whether the file's extension names a format read this way.
bool readsFormatOf(const std::string &path);

// `data` holds the model file at `path`; files it names (materials, buffers, images) are
// read beside it. Returns as exportModel does.
int exportModel(const std::string &path, const unsigned char *data, size_t size, int resultFd,
                const ExportLimits &limits);

} // namespace assimpexport
