#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How the reader reads files: only regular files (opened without blocking, so a named pipe
// or a device cannot hold it), whole, up to a size.
namespace readerfiles {

enum class Links
{
    Follow, // the model the user chose may be reached through a link
    Refuse, // what a model refers to (textures, material and buffer files) is never a link
};

enum class Read
{
    Done,
    TooLarge, // larger than maxBytes
    Failed,   // `problem` says why in a few words
};
Read readWhole(const std::string &path, uint64_t maxBytes, Links links,
               std::vector<unsigned char> &bytes, std::string &problem);

// What lies at a path, without following a link there.
enum class Kind
{
    Missing,
    Regular,
    Link,
    Other, // a directory, pipe, device or socket
};
Kind kindOf(const std::string &path);

// The folder a path is in ("." for a bare name) and the name after its last slash.
std::string folderOf(const std::string &path);
std::string nameOf(const std::string &path);

} // namespace readerfiles
