#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Checks the chunk structure of a 3DS file before lib3ds reads it: every length inside its
// parent, counts that fit their chunks, face indices inside their mesh, and the sizes that
// decide how long lib3ds takes and how much memory it needs (objects, materials, nodes,
// animation keys). lib3ds trusts all of these; a file that passes still goes to lib3ds only
// inside the reader process, so this check is about clear messages and early refusals,
// not about safety.
class StructureCheck
{
public:
    struct Totals
    {
        uint64_t objects = 0; // named objects: meshes, cameras, lights
        uint64_t materials = 0;
        uint64_t nodes = 0;
        uint64_t keys = 0;   // animation keys of all tracks
        uint64_t points = 0; // of all point arrays
        uint64_t faces = 0;  // of all face arrays
        uint64_t texels = 0;
        // Bytes lib3ds and the reader will hold for this file, the file itself included.
        uint64_t estimatedBytes = 0;
    };

    // True when the file may go to lib3ds; otherwise `problem` says why.
    static bool run(const unsigned char *data, size_t size, std::string &problem,
                    Totals *totals = nullptr);
};
