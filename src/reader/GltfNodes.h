#pragma once

#include <cstddef>
#include <string>

// A glTF file's node hierarchy, counted before assimp reads the file: assimp makes a node
// of its own for every time a node is named as a child, so a file of a few hundred bytes
// whose nodes name one another many times over unfolds into millions of nodes and takes
// the reader's whole memory. Only the JSON's "nodes" are looked at ("children", "mesh").
namespace gltfnodes {

// False, with `problem`, when the hierarchy unfolds into more mesh placements than the
// application takes, into more nodes than the reader builds, or loops. A file whose JSON
// cannot be followed passes: assimp's own reading refuses it.
bool check(const unsigned char *data, size_t size, bool binary, std::string &problem);

} // namespace gltfnodes
