#pragma once

#include "TransferWriter.h"

#include <cstddef>
#include <string>

// Reads a model file held in memory and writes what the application needs of it (meshes,
// materials with their diffuse images, where the meshes stand) into the result file, in
// the layout of ModelTransfer. 3DS files (and files of no other known format) are read
// with lib3ds, after StructureCheck; the formats assimp reads go to assimpexport. A file
// that cannot be read is not an error of the reader: it writes a refusal that says why.
//
// Returns 0 when a result (a model or a refusal) was written to `resultFd`, otherwise one
// of ModelTransfer's exit codes. `path` names the file, for its format and the files it
// refers to.
int exportModel(const std::string &path, const unsigned char *data, size_t size, int resultFd,
                const ExportLimits &limits);
