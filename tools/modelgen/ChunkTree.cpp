#include "ChunkTree.h"

#include "ChunkIds.h"

#include <cstring>

int64_t Chunk::length() const
{
    int64_t n = 6 + data.size();
    for (const Chunk &c : children)
        n += c.length();
    return n;
}

QByteArray Chunk::bytes() const
{
    QByteArray out = chunkdata::word(id);
    out += chunkdata::dword(uint32_t(lengthOverride >= 0 ? lengthOverride : length()));
    out += data;
    for (const Chunk &c : children)
        out += c.bytes();
    return out;
}

QVector<Chunk *> Chunk::all()
{
    QVector<Chunk *> list{this};
    for (Chunk &c : children)
        list += c.all();
    return list;
}

namespace chunkdata {
QByteArray word(uint16_t v)
{
    QByteArray b(2, '\0');
    b[0] = char(v & 0xff);
    b[1] = char(v >> 8);
    return b;
}

QByteArray dword(uint32_t v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xff);
    return b;
}

QByteArray real(float v)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    return dword(bits);
}

QByteArray name(const QByteArray &text)
{
    return text.left(63) + QByteArray(1, '\0');
}
} // namespace chunkdata

using namespace chunkdata;
using namespace ChunkId;

namespace {
QByteArray colorF(float r, float g, float b)
{
    return real(r) + real(g) + real(b);
}
} // namespace

uint32_t ChunkFuzzer::next()
{
    // xorshift32: small, fast and the same on every machine.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

Chunk ChunkFuzzer::material(const QByteArray &materialName)
{
    Chunk m(MAT_ENTRY);
    m.add(MAT_NAME, name(materialName));
    m.add(MAT_AMBIENT).add(COLOR_24, QByteArray(3, char(next())));
    m.add(MAT_DIFFUSE).add(COLOR_F, colorF(unit(), unit(), unit()));
    return m;
}

Chunk ChunkFuzzer::mesh(const QByteArray &meshName, int materials)
{
    Chunk object(NAMED_OBJECT, name(meshName));
    Chunk &tri = object.add(N_TRI_OBJECT);
    const int points = 3 + int(below(40));
    QByteArray pointData = word(uint16_t(points));
    const float offset = float(below(200)) - 100.0f;
    for (int i = 0; i < points; ++i)
        pointData += real(offset + 50 * unit()) + real(50 * unit()) + real(50 * unit());
    tri.add(POINT_ARRAY, pointData);
    if (below(2)) {
        QByteArray flags = word(uint16_t(points));
        for (int i = 0; i < points; ++i)
            flags += word(uint16_t(below(8)));
        tri.add(POINT_FLAG_ARRAY, flags);
    }
    if (below(2)) {
        QByteArray texels = word(uint16_t(points));
        for (int i = 0; i < points; ++i)
            texels += real(unit()) + real(unit());
        tri.add(TEX_VERTS, texels);
    }
    QByteArray matrix;
    for (int i = 0; i < 12; ++i)
        matrix += real(i % 4 == i / 4 ? 1.0f : (i >= 9 ? offset * unit() : 0.0f));
    tri.add(MESH_MATRIX, matrix);

    const int faces = int(below(60));
    QByteArray faceData = word(uint16_t(faces));
    for (int i = 0; i < faces; ++i)
        faceData += word(uint16_t(below(points))) + word(uint16_t(below(points))) +
                    word(uint16_t(below(points))) + word(uint16_t(below(8)));
    Chunk &faceArray = tri.add(FACE_ARRAY, faceData);
    for (int m = 0; m < materials && faces > 0; ++m) {
        if (below(2))
            continue;
        const int listed = 1 + int(below(uint32_t(faces)));
        QByteArray group = name("mat" + QByteArray::number(m)) + word(uint16_t(listed));
        for (int i = 0; i < listed; ++i)
            group += word(uint16_t(below(uint32_t(faces))));
        faceArray.add(MSH_MAT_GROUP, group);
    }
    if (below(3)) {
        QByteArray groups;
        for (int i = 0; i < faces; ++i)
            groups += dword(below(4) ? (1u << below(32)) : next());
        faceArray.add(SMOOTH_GROUP, groups);
    }
    return object;
}

QByteArray ChunkFuzzer::track(int keys, int valueFloats)
{
    QByteArray t = word(0) + dword(0) + dword(0) + dword(uint32_t(keys));
    for (int k = 0; k < keys; ++k) {
        const uint16_t flags = uint16_t(below(4) == 0 ? below(32) : 0);
        t += dword(uint32_t(k * (1 + below(10)))) + word(flags);
        for (int bit = 0; bit < 5; ++bit)
            if (flags & (1 << bit))
                t += real(unit());
        for (int v = 0; v < valueFloats; ++v)
            t += real(v == 0 && valueFloats == 4 ? 6.28f * unit() : 2.0f * unit());
    }
    return t;
}

Chunk ChunkFuzzer::objectNode(uint16_t id, uint16_t parent, const QByteArray &nodeName, bool withId)
{
    Chunk node(OBJECT_NODE_TAG);
    if (withId)
        node.add(NODE_ID, word(id));
    node.add(NODE_HDR, name(nodeName) + word(0) + word(0) + word(parent));
    node.add(PIVOT, colorF(unit(), unit(), unit()));
    node.add(POS_TRACK_TAG, track(1 + int(below(4)), 3));
    node.add(ROT_TRACK_TAG, track(1 + int(below(3)), 4));
    node.add(SCL_TRACK_TAG, track(1, 3));
    return node;
}

Chunk ChunkFuzzer::model()
{
    Chunk root(M3DMAGIC);
    root.add(M3D_VERSION, dword(3));
    Chunk &mdata = root.add(MDATA);
    mdata.add(MESH_VERSION, dword(3));
    mdata.add(MASTER_SCALE, real(1.0f));
    const int materials = int(below(4));
    for (int m = 0; m < materials; ++m)
        mdata.children.append(material("mat" + QByteArray::number(m)));
    if (below(2)) {
        mdata.add(SOLID_BGND).add(COLOR_F, colorF(unit(), unit(), unit()));
        mdata.add(USE_SOLID_BGND);
    }
    if (below(2)) {
        Chunk &gradient = mdata.add(V_GRADIENT, real(unit()));
        for (int i = 0; i < 3; ++i)
            gradient.add(COLOR_F, colorF(unit(), unit(), unit()));
    }
    if (below(2))
        mdata.add(FOG, real(1) + real(unit()) + real(100) + real(unit()))
            .add(COLOR_F, colorF(unit(), unit(), unit()));
    const int meshes = 1 + int(below(5));
    for (int i = 0; i < meshes; ++i)
        mdata.children.append(mesh("mesh" + QByteArray::number(i), materials));

    if (below(3)) {
        Chunk &kf = root.add(KFDATA);
        kf.add(KFHDR, word(5) + name("fuzz") + dword(100));
        // Nodes with or without ids, children after their parents, as exporters write them.
        const bool withIds = below(2);
        for (int i = 0; i < meshes; ++i) {
            const uint16_t parent = i > 0 && below(2) ? uint16_t(below(uint32_t(i))) : 0xFFFF;
            kf.children.append(
                objectNode(uint16_t(i), parent, "mesh" + QByteArray::number(i), withIds));
        }
    }
    return root;
}

QByteArray ChunkFuzzer::mutate(Chunk tree)
{
    const int changes = 1 + int(below(3));
    for (int c = 0; c < changes; ++c) {
        QVector<Chunk *> chunks = tree.all();
        Chunk *target = chunks[int(below(uint32_t(chunks.size())))];
        switch (below(9)) {
        case 0: { // a length that lies
            const int64_t real = target->length();
            const int64_t choices[] = {
                0, 5, 6, real - 1, real + 1, real + int64_t(below(64)), 0x7FFFFFFF, 0xFFFFFFFF};
            target->lengthOverride = choices[below(8)];
            break;
        }
        case 1: // another id
            target->id = below(3) ? uint16_t(next()) : uint16_t(0);
            break;
        case 2: // a count pushed up, down or to an extreme
            if (target->data.size() >= 2) {
                const uint16_t values[] = {0, 1, 0xFFFF, 0x7FFF, uint16_t(next())};
                const QByteArray w = word(values[below(5)]);
                target->data[0] = w[0];
                target->data[1] = w[1];
            }
            break;
        case 3: // a chunk twice
            if (!target->children.isEmpty()) {
                const Chunk copy = target->children[int(below(uint32_t(target->children.size())))];
                target->children.append(copy);
            }
            break;
        case 4: // children reordered
            if (target->children.size() > 1) {
                const int a = int(below(uint32_t(target->children.size())));
                const int b = int(below(uint32_t(target->children.size())));
                std::swap(target->children[a], target->children[b]);
            }
            break;
        case 5: // a chunk gone
            if (!target->children.isEmpty())
                target->children.removeAt(int(below(uint32_t(target->children.size()))));
            break;
        case 6: { // a chunk of id 0 or of a random id, with random content
            QByteArray junk;
            for (uint32_t i = below(24); i > 0; --i)
                junk += char(next());
            target->children.insert(int(below(uint32_t(target->children.size() + 1))),
                                    Chunk(below(2) ? 0 : uint16_t(next()), junk));
            break;
        }
        case 7: // a byte of data changed
            if (!target->data.isEmpty())
                target->data[int(below(uint32_t(target->data.size())))] = char(next());
            break;
        default: { // cut short, anywhere
            const QByteArray bytes = tree.bytes();
            return bytes.left(int(below(uint32_t(bytes.size()))));
        }
        }
    }
    return tree.bytes();
}
