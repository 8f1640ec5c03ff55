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
    Link,    // the name, or a folder on the way to it, is a link
    Other,   // a directory, pipe, device or socket
    Outside, // an absolute name or one with a ".." step
};

// A folder the files a model names are found beneath: a name is relative to it, with no
// ".." step and no link anywhere on the way (the kernel checks each step, so a folder
// swapped for a link meanwhile is refused too). Nothing but a regular file is ever opened
// for reading: a pipe or a device is looked at through a descriptor that cannot read.
class Beneath
{
public:
    // `folder` itself may be reached through links: the user chose the model there.
    explicit Beneath(const std::string &folder);
    ~Beneath();
    Beneath(const Beneath &) = delete;
    Beneath &operator=(const Beneath &) = delete;

    Kind kindOf(const std::string &name) const;
    // Reads the regular file `name` whole; anything else fails with `kind` saying what it is.
    Read readWhole(const std::string &name, uint64_t maxBytes, std::vector<unsigned char> &bytes,
                   Kind &kind, std::string &problem) const;

    struct Entry
    {
        std::string name;
        bool folder; // a real folder, not a link to one
    };
    // The entries of the folder `name` ("." for this one), at most `maxEntries` of them
    // looked at; false when it cannot be listed.
    bool list(const std::string &name, size_t maxEntries, std::vector<Entry> &entries) const;

private:
    int open(const std::string &name, int flags, Kind &kind) const;
    int dir = -1;
};

// The folder a path is in ("." for a bare name) and the name after its last slash.
std::string folderOf(const std::string &path);
std::string nameOf(const std::string &path);

} // namespace readerfiles
