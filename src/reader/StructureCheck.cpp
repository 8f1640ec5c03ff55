#include "StructureCheck.h"

#include "ChunkIds.h"
#include "ModelTransfer.h"

#include <array>
#include <cstdio>
#include <vector>

namespace {

using namespace ChunkId;

bool isNodeTag(uint16_t id)
{
    return id >= 0xB001 && id <= 0xB007;
}

bool isMaterialSubContainer(uint16_t id)
{
    switch (id) {
    // Colours and percentages wrap COLOR_* and *_PERCENTAGE chunks.
    case 0xA010:
    case 0xA020:
    case 0xA030:
    case 0xA040:
    case 0xA041:
    case 0xA050:
    case 0xA052:
    case 0xA053:
    case 0xA084:
    // Texture, mask and reflection maps wrap their parameter chunks.
    case 0xA200:
    case 0xA33A:
    case 0xA210:
    case 0xA230:
    case 0xA204:
    case 0xA33C:
    case 0xA33D:
    case 0xA220:
    case 0xA33E:
    case 0xA340:
    case 0xA342:
    case 0xA344:
    case 0xA348:
    case 0xA346:
    case 0xA34A:
    case 0xA34C:
        return true;
    default:
        return false;
    }
}

// Sizes of what lib3ds allocates per item, rounded up, and of what the reader writes.
constexpr uint64_t ObjectBytes = 768;
constexpr uint64_t MaterialBytes = 3072;
constexpr uint64_t NodeBytes = 512;
constexpr uint64_t KeyBytes = 112;
constexpr uint64_t PointBytes = 12 + 2 + 12; // point, flags, and the point handed on
constexpr uint64_t TexelBytes = 8;
constexpr uint64_t FaceBytes = 96 + 16;   // lib3ds's face and the face handed on
constexpr uint64_t BaseBytes = 32u << 20; // the reader's own code and stack

constexpr int MaxDepth = 64;

std::string hex(uint16_t id)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", id);
    return text;
}

std::string number(uint64_t n)
{
    return std::to_string(n);
}

class Checker
{
public:
    Checker(const unsigned char *bytes, size_t length) : data(bytes), size(int64_t(length)) {}

    bool run(std::string &problem, StructureCheck::Totals &totals)
    {
        if (size < 6)
            return fail(problem, "the file is too short to be a 3DS file");
        const uint16_t id = word(0);
        if (id != M3DMAGIC && id != MLIBMAGIC && id != CMAGIC)
            return fail(problem, "the file does not start like a 3DS file");
        const uint32_t length = dword(2);
        if (length < 6 || length > uint64_t(size))
            return fail(problem, "the main chunk's length does not fit the file");
        if (!container(id, 0, length, 0))
            return fail(problem, why);
        t.estimatedBytes = uint64_t(size) + BaseBytes + t.objects * ObjectBytes +
                           t.materials * MaterialBytes + t.nodes * NodeBytes + t.keys * KeyBytes +
                           t.points * PointBytes + t.texels * TexelBytes + t.faces * FaceBytes;
        totals = t;
        return true;
    }

private:
    const unsigned char *data;
    int64_t size;
    std::string why;
    StructureCheck::Totals t;
    std::vector<uint16_t> faceCountStack;
    int64_t meshPointCount = 0;
    // Keys per track of the node being read: tracks of one node add up over chunks.
    std::array<uint64_t, HIDE_TRACK_TAG - POS_TRACK_TAG + 1> nodeTrackKeys{};

    static bool fail(std::string &problem, const std::string &text)
    {
        problem = text;
        return false;
    }

    bool bad(const std::string &text)
    {
        why = text;
        return false;
    }

    uint16_t word(int64_t at) const { return uint16_t(data[at] | (data[at + 1] << 8)); }
    uint32_t dword(int64_t at) const
    {
        return uint32_t(data[at]) | (uint32_t(data[at + 1]) << 8) | (uint32_t(data[at + 2]) << 16) |
               (uint32_t(data[at + 3]) << 24);
    }

    // Offset just past a NUL-terminated name starting at `at` inside [at, end), or -1.
    int64_t afterString(int64_t at, int64_t end) const
    {
        for (int64_t i = at; i < end && i < at + 64; ++i)
            if (data[i] == 0)
                return i + 1;
        return -1;
    }

    bool count(uint64_t &total, uint64_t add, uint64_t limit, const char *what)
    {
        total += add;
        if (total > limit)
            return bad("the file has more " + std::string(what) + " than Tuftmill reads (at most " +
                       number(limit) + ")");
        return true;
    }

    // Size of the data that precedes the sub-chunks of a container; -1 if it does not fit,
    // -2 if it is wrong (then `why` says how).
    int64_t prefixOf(uint16_t id, int64_t body, int64_t end)
    {
        switch (id) {
        case NAMED_OBJECT: {
            const int64_t after = afterString(body, end);
            return after < 0 ? -1 : after - body;
        }
        case FACE_ARRAY: {
            if (end - body < 2)
                return -1;
            const int64_t faces = word(body);
            faceCountStack.push_back(uint16_t(faces));
            if (2 + 8 * faces > end - body)
                return -1;
            // lib3ds computes face normals from these indices as soon as it has read
            // the mesh, so every index must name one of the mesh's points.
            for (int64_t f = 0; f < faces; ++f)
                for (int k = 0; k < 3; ++k)
                    if (word(body + 2 + 8 * f + 2 * k) >= meshPointCount) {
                        why = "a face at offset " + number(uint64_t(body)) +
                              " uses a point that does not exist";
                        return -2;
                    }
            t.faces += uint64_t(faces);
            return 2 + 8 * faces;
        }
        case N_CAMERA:
            return 32;
        case N_DIRECT_LIGHT:
            return 12;
        case DL_SPOTLIGHT:
            return 20;
        case V_GRADIENT:
            return 4;
        case FOG:
        case LAYER_FOG:
        case DISTANCE_CUE:
            return 16;
        case VIEWPORT_LAYOUT:
        case VIEWPORT_LAYOUT_OLD:
            return 14;
        default:
            return 0;
        }
    }

    static bool isContainer(uint16_t parent, uint16_t id)
    {
        switch (id) {
        case MDATA:
        case KFDATA:
        case MAT_ENTRY:
        case NAMED_OBJECT:
        case N_TRI_OBJECT:
        case FACE_ARRAY:
        case N_CAMERA:
        case N_DIRECT_LIGHT:
        case DL_SPOTLIGHT:
        case AMBIENT_LIGHT:
        case SOLID_BGND:
        case V_GRADIENT:
        case FOG:
        case LAYER_FOG:
        case DISTANCE_CUE:
        case DEFAULT_VIEW:
        case VIEWPORT_LAYOUT:
        case VIEWPORT_LAYOUT_OLD:
            return true;
        default:
            break;
        }
        if (isNodeTag(id))
            return parent == KFDATA;
        return parent == MAT_ENTRY && isMaterialSubContainer(id);
    }

    // What a container adds to the totals before its children are read.
    bool enter(uint16_t parent, uint16_t id)
    {
        if (id == NAMED_OBJECT && parent == MDATA)
            return count(t.objects, 1, ModelTransfer::MaxObjects, "objects");
        if (id == MAT_ENTRY && parent == MDATA)
            return count(t.materials, 1, ModelTransfer::MaxMaterials, "materials");
        if (isNodeTag(id) && parent == KFDATA) {
            nodeTrackKeys.fill(0);
            return count(t.nodes, 1, ModelTransfer::MaxNodes, "keyframer nodes");
        }
        return true;
    }

    // Checks the children of a chunk whose header starts at `start`.
    bool container(uint16_t id, int64_t start, int64_t length, int depth)
    {
        if (depth > MaxDepth)
            return bad("the chunks are nested too deeply");
        const int64_t body = start + 6;
        const int64_t end = start + length;
        if (id == N_TRI_OBJECT)
            meshPointCount = lastPointCount(body, end);
        const size_t faceLevels = faceCountStack.size();
        const int64_t prefix = prefixOf(id, body, end);
        if (prefix == -2)
            return false;
        if (prefix < 0 || body + prefix > end)
            return bad("chunk " + hex(id) + " at offset " + number(uint64_t(start)) +
                       " is cut short");
        int64_t at = body + prefix;
        bool ok = true;
        while (ok && at < end) {
            if (end - at < 6) {
                ok = bad("chunk " + hex(id) + " at offset " + number(uint64_t(start)) +
                         " ends in a partial chunk");
                break;
            }
            const uint16_t child = word(at);
            const uint32_t childLength = dword(at + 2);
            if (childLength < 6 || childLength > uint64_t(end - at)) {
                ok = bad("chunk " + hex(child) + " at offset " + number(uint64_t(at)) +
                         " has a length that does not fit inside its parent");
                break;
            }
            if (isContainer(id, child))
                ok = enter(id, child) && container(child, at, childLength, depth + 1);
            else
                ok = leaf(id, child, at, childLength);
            at += childLength;
        }
        faceCountStack.resize(faceLevels);
        return ok;
    }

    // The point count a mesh ends up with: that of its last point list.
    int64_t lastPointCount(int64_t body, int64_t end) const
    {
        int64_t points = 0;
        for (int64_t at = body; end - at >= 6;) {
            const uint32_t length = dword(at + 2);
            if (length < 6 || length > uint64_t(end - at))
                break; // reported when the children are checked
            if (word(at) == POINT_ARRAY && length >= 8)
                points = word(at + 6);
            at += length;
        }
        return points;
    }

    bool leaf(uint16_t parent, uint16_t id, int64_t start, int64_t length)
    {
        const int64_t body = start + 6;
        const int64_t end = start + length;
        const int64_t n = length - 6;
        auto counted = [&](int64_t itemSize, uint64_t &total) {
            if (n < 2 || 2 + itemSize * word(body) > n)
                return bad("chunk " + hex(id) + " at offset " + number(uint64_t(start)) +
                           " holds fewer entries than it claims");
            total += word(body);
            return true;
        };
        switch (id) {
        case POINT_ARRAY:
            return parent != N_TRI_OBJECT || counted(12, t.points);
        case POINT_FLAG_ARRAY: {
            uint64_t flags = 0;
            return parent != N_TRI_OBJECT || counted(2, flags);
        }
        case TEX_VERTS:
            return parent != N_TRI_OBJECT || counted(8, t.texels);
        case MSH_MAT_GROUP: {
            if (parent != FACE_ARRAY)
                return true;
            const int64_t after = afterString(body, end);
            if (after < 0 || end - after < 2)
                return bad("a material group at offset " + number(uint64_t(start)) +
                           " is cut short");
            const int64_t entries = word(after);
            if (2 + 2 * entries > end - after)
                return bad("a material group at offset " + number(uint64_t(start)) +
                           " holds fewer faces than it claims");
            const uint16_t faces = faceCountStack.empty() ? 0 : faceCountStack.back();
            for (int64_t i = 0; i < entries; ++i)
                if (word(after + 2 + 2 * i) >= faces)
                    return bad("a material group at offset " + number(uint64_t(start)) +
                               " names a face that does not exist");
            return true;
        }
        case NODE_HDR:
            if (isNodeTag(parent) && afterString(body, end) < 0)
                return bad("a node header at offset " + number(uint64_t(start)) + " is cut short");
            return true;
        case POS_TRACK_TAG:
        case SCL_TRACK_TAG:
        case COL_TRACK_TAG:
            return !isNodeTag(parent) || track(id, body, end, 12);
        case ROT_TRACK_TAG:
            return !isNodeTag(parent) || track(id, body, end, 16);
        case FOV_TRACK_TAG:
        case ROLL_TRACK_TAG:
        case HOT_TRACK_TAG:
        case FALL_TRACK_TAG:
            return !isNodeTag(parent) || track(id, body, end, 4);
        case HIDE_TRACK_TAG:
            return !isNodeTag(parent) || track(id, body, end, 0);
        case MORPH_TRACK_TAG:
            return !isNodeTag(parent) || track(id, body, end, -1);
        default:
            return true;
        }
    }

    // A key track: flags, two reserved words, a key count, then the keys. Every key must
    // lie inside the chunk; valueSize -1 means a NUL-terminated name.
    bool track(uint16_t id, int64_t body, int64_t end, int valueSize)
    {
        if (end - body < 14)
            return bad("track " + hex(id) + " is cut short");
        const int64_t keys = int32_t(dword(body + 10));
        if (keys < 0 || uint64_t(keys) * 6 > uint64_t(end - body - 14))
            return bad("track " + hex(id) + " holds fewer keys than it claims");
        // lib3ds keeps the keys of a track in a sorted list and reads each chunk of the
        // same track into it, so the keys of one track add up across its chunks.
        uint64_t &trackKeys = nodeTrackKeys[id - POS_TRACK_TAG];
        trackKeys += uint64_t(keys);
        if (trackKeys > ModelTransfer::MaxKeysPerTrack)
            return bad("a track of the animation has more keys than Tuftmill reads (at most " +
                       number(ModelTransfer::MaxKeysPerTrack) + ")");
        if (!count(t.keys, uint64_t(keys), ModelTransfer::MaxKeys, "animation keys"))
            return false;
        int64_t at = body + 14;
        for (int64_t k = 0; k < keys; ++k) {
            if (end - at < 6)
                return bad("track " + hex(id) + " holds fewer keys than it claims");
            const uint16_t flags = word(at + 4);
            at += 6;
            for (int bit = 0; bit < 5; ++bit)
                if (flags & (1 << bit))
                    at += 4;
            if (valueSize < 0) {
                const int64_t after = at <= end ? afterString(at, end) : -1;
                if (after < 0)
                    return bad("track " + hex(id) + " holds fewer keys than it claims");
                at = after;
            } else {
                at += valueSize;
            }
            if (at > end)
                return bad("track " + hex(id) + " holds fewer keys than it claims");
        }
        return true;
    }
};

} // namespace

bool StructureCheck::run(const unsigned char *data, size_t size, std::string &problem,
                         Totals *totals)
{
    Checker checker(data, size);
    Totals found;
    const bool ok = checker.run(problem, found);
    if (totals)
        *totals = found;
    return ok;
}
