#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>

// A 3DS file written chunk by chunk, for the files lib3ds's own writer cannot make: files
// with unusual, extreme or damaged structure, keyframer nodes without ids, and the
// structure-aware fuzzing of the model loader.
struct Chunk
{
    uint16_t id = 0;
    QByteArray data; // what comes before the sub-chunks
    QVector<Chunk> children;
    int64_t lengthOverride = -1; // written instead of the real length when not negative

    Chunk() = default;
    Chunk(uint16_t chunkId, const QByteArray &bytes = {}) : id(chunkId), data(bytes) {}
    Chunk &add(uint16_t childId, const QByteArray &childData = {})
    {
        children.append(Chunk(childId, childData));
        return children.last();
    }
    int64_t length() const;
    QByteArray bytes() const;
    // Every chunk of the tree, this one first, depth first.
    QVector<Chunk *> all();
};

// Little-endian pieces of chunk data.
namespace chunkdata {
QByteArray word(uint16_t v);
QByteArray dword(uint32_t v);
QByteArray real(float v);
QByteArray name(const QByteArray &text); // NUL-terminated
} // namespace chunkdata

// Seeded random models with everything lib3ds reads: meshes with points, faces, material
// groups, smoothing groups, texture coordinates and mesh matrices; materials; background,
// gradient and fog settings; keyframer nodes with position, rotation and scale tracks. Each
// file is valid; `mutate` then damages it at chunk boundaries.
class ChunkFuzzer
{
public:
    explicit ChunkFuzzer(uint32_t seed) : state(seed ? seed : 1) {}

    uint32_t next();
    uint32_t below(uint32_t n) { return n ? next() % n : 0; }
    float unit() { return float(next() % 10001) / 10000.0f; }

    Chunk model();
    // One to three changes: a length, an id, a count, a duplicated, reordered, removed or
    // inserted chunk, a chunk of id 0; or the file cut short anywhere.
    QByteArray mutate(Chunk tree);

private:
    uint32_t state;
    Chunk mesh(const QByteArray &name, int materials);
    Chunk material(const QByteArray &name);
    Chunk objectNode(uint16_t id, uint16_t parent, const QByteArray &name, bool withId);
    QByteArray track(int keys, int valueFloats);
};
