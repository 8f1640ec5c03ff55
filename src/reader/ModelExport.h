#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reads a 3DS file held in memory with lib3ds and writes what the application needs of it
// (meshes, materials, where the keyframer places the meshes at frame 1) into the result
// file, in the layout of ModelTransfer. A file that cannot be read is not an error of the
// reader: it writes a refusal that says why.
struct ExportLimits
{
    uint64_t memoryBytes = 0; // what lib3ds and the reader may hold
    uint64_t outputBytes = 0; // the largest result
};

// Returns 0 when a result (a model or a refusal) was written to `resultFd`, otherwise one
// of ModelTransfer's exit codes.
int exportModel(const unsigned char *data, size_t size, int resultFd, const ExportLimits &limits);

// Writes a refusal with the given reason.
int writeRefusal(int resultFd, const std::string &reason);

// "the model needs more than N MB"
std::string needsMoreThan(uint64_t bytes);
