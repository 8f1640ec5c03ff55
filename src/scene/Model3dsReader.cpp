#include "Model3dsReader.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QVector>

#include <cmath>
#include <cstring>
#include <lib3ds/file.h>
#include <lib3ds/io.h>
#include <lib3ds/mesh.h>
#include <lib3ds/node.h>

void Lib3dsFileDeleter::operator()(Lib3dsFile *file) const
{
    if (file)
        lib3ds_file_free(file);
}

namespace {

// Chunk identifiers of the 3DS format that lib3ds reads.
enum Chunk : quint16
{
    M3DMAGIC = 0x4D4D,
    MLIBMAGIC = 0x3DAA,
    CMAGIC = 0xC23D,
    MDATA = 0x3D3D,
    AMBIENT_LIGHT = 0x2100,
    SOLID_BGND = 0x1200,
    V_GRADIENT = 0x1300,
    FOG = 0x2200,
    LAYER_FOG = 0x2302,
    DISTANCE_CUE = 0x2300,
    DEFAULT_VIEW = 0x3000,
    VIEWPORT_LAYOUT_OLD = 0x7000,
    VIEWPORT_LAYOUT = 0x7001,
    MAT_ENTRY = 0xAFFF,
    NAMED_OBJECT = 0x4000,
    N_TRI_OBJECT = 0x4100,
    POINT_ARRAY = 0x4110,
    POINT_FLAG_ARRAY = 0x4111,
    FACE_ARRAY = 0x4120,
    MSH_MAT_GROUP = 0x4130,
    SMOOTH_GROUP = 0x4150,
    TEX_VERTS = 0x4140,
    N_DIRECT_LIGHT = 0x4600,
    DL_SPOTLIGHT = 0x4610,
    N_CAMERA = 0x4700,
    KFDATA = 0xB000,
    NODE_ID = 0xB030,
    NODE_HDR = 0xB010,
    POS_TRACK_TAG = 0xB020,
    ROT_TRACK_TAG = 0xB021,
    SCL_TRACK_TAG = 0xB022,
    FOV_TRACK_TAG = 0xB023,
    ROLL_TRACK_TAG = 0xB024,
    COL_TRACK_TAG = 0xB025,
    MORPH_TRACK_TAG = 0xB026,
    HOT_TRACK_TAG = 0xB027,
    FALL_TRACK_TAG = 0xB028,
    HIDE_TRACK_TAG = 0xB029,
};

bool isNodeTag(quint16 id)
{
    return id >= 0xB001 && id <= 0xB007;
}

bool isMaterialSubContainer(quint16 id)
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

constexpr int MaxDepth = 64;
constexpr int MaxNodes = 20000;
constexpr qint64 MaxKeysPerTrack = 20000;
constexpr int MaxNodeDepth = 256;

// What lib3ds makes of a node: id and parent are 0 unless the node's chunks say otherwise.
struct NodeInfo
{
    quint16 id = 0;
    quint16 parent = 0;
};

class StructureCheck
{
public:
    explicit StructureCheck(const QByteArray &bytes)
        : data(reinterpret_cast<const uchar *>(bytes.constData())), size(bytes.size())
    {
    }

    bool run(QString &problem)
    {
        if (size < 6)
            return fail(problem, QStringLiteral("the file is too short to be a 3DS file"));
        const quint16 id = word(0);
        if (id != M3DMAGIC && id != MLIBMAGIC && id != CMAGIC)
            return fail(problem, QStringLiteral("the file does not start like a 3DS file"));
        const quint32 length = dword(2);
        if (length < 6 || length > quint64(size))
            return fail(problem, QStringLiteral("the main chunk's length does not fit the file"));
        if (!container(id, 0, length, 0) || !nodesAreSound())
            return fail(problem, why);
        return true;
    }

private:
    const uchar *data;
    qint64 size;
    QString why;
    QVector<NodeInfo> nodes;
    quint16 lastFaceCount = 0;

    static bool fail(QString &problem, const QString &text)
    {
        problem = text;
        return false;
    }

    bool bad(const QString &text)
    {
        why = text;
        return false;
    }

    quint16 word(qint64 at) const { return quint16(data[at] | (data[at + 1] << 8)); }
    quint32 dword(qint64 at) const
    {
        return quint32(data[at]) | (quint32(data[at + 1]) << 8) | (quint32(data[at + 2]) << 16) |
               (quint32(data[at + 3]) << 24);
    }

    static QString hex(quint16 id)
    {
        return QStringLiteral("0x%1").arg(id, 4, 16, QLatin1Char('0'));
    }

    // Offset just past a NUL-terminated string starting at `at` inside [at, end), or -1.
    qint64 afterString(qint64 at, qint64 end) const
    {
        for (qint64 i = at; i < end && i < at + 64; ++i)
            if (data[i] == 0)
                return i + 1;
        return -1;
    }

    // Size of the data that precedes the sub-chunks of a container, or -1 if unknown.
    qint64 prefixOf(quint16 id, qint64 body, qint64 end)
    {
        switch (id) {
        case NAMED_OBJECT: {
            const qint64 after = afterString(body, end);
            return after < 0 ? -1 : after - body;
        }
        case FACE_ARRAY: {
            if (end - body < 2)
                return -1;
            const qint64 faces = word(body);
            lastFaceCount = quint16(faces);
            if (2 + 8 * faces > end - body)
                return -1;
            // lib3ds computes face normals from these indices as soon as it has read
            // the mesh, so every index must name one of the mesh's points.
            for (qint64 f = 0; f < faces; ++f)
                for (int k = 0; k < 3; ++k)
                    if (word(body + 2 + 8 * f + 2 * k) >= meshPointCount) {
                        why = QStringLiteral("a face at offset %1 uses a point that does not exist")
                                  .arg(body);
                        return -2;
                    }
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

    bool isContainer(quint16 parent, quint16 id) const
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
        if (parent == MAT_ENTRY && isMaterialSubContainer(id))
            return true;
        return false;
    }

    // Checks the children of a chunk whose header starts at `start`.
    bool container(quint16 id, qint64 start, qint64 length, int depth)
    {
        if (depth > MaxDepth)
            return bad(QStringLiteral("the chunks are nested too deeply"));
        const qint64 body = start + 6;
        const qint64 end = start + length;
        if (id == N_TRI_OBJECT)
            meshPointCount = lastPointCount(body, end);
        const qint64 prefix = prefixOf(id, body, end);
        if (prefix == -2)
            return false;
        if (prefix < 0 || body + prefix > end)
            return bad(
                QStringLiteral("chunk %1 at offset %2 is cut short").arg(hex(id)).arg(start));
        if (id == FACE_ARRAY)
            faceCountStack.append(lastFaceCount);
        if (isNodeTag(id))
            nodes.append(NodeInfo{});
        qint64 at = body + prefix;
        bool ok = true;
        while (ok && at < end) {
            if (end - at < 6) {
                ok = bad(QStringLiteral("chunk %1 at offset %2 ends in a partial chunk")
                             .arg(hex(id))
                             .arg(start));
                break;
            }
            const quint16 child = word(at);
            const quint32 childLength = dword(at + 2);
            if (childLength < 6 || childLength > quint64(end - at)) {
                ok = bad(
                    QStringLiteral(
                        "chunk %1 at offset %2 has a length that does not fit inside its parent")
                        .arg(hex(child))
                        .arg(at));
                break;
            }
            ok = isContainer(id, child) ? container(child, at, childLength, depth + 1)
                                        : leaf(id, child, at, childLength);
            at += childLength;
        }
        if (id == FACE_ARRAY)
            faceCountStack.removeLast();
        return ok;
    }

    QVector<quint16> faceCountStack;
    qint64 meshPointCount = 0;

    // The point count a mesh ends up with: that of its last point list.
    qint64 lastPointCount(qint64 body, qint64 end) const
    {
        qint64 count = 0;
        for (qint64 at = body; end - at >= 6;) {
            const quint32 length = dword(at + 2);
            if (length < 6 || length > quint64(end - at))
                break; // reported when the children are checked
            if (word(at) == POINT_ARRAY && length >= 8)
                count = word(at + 6);
            at += length;
        }
        return count;
    }

    bool leaf(quint16 parent, quint16 id, qint64 start, qint64 length)
    {
        const qint64 body = start + 6;
        const qint64 end = start + length;
        const qint64 n = length - 6;
        auto counted = [&](qint64 itemSize) {
            if (n < 2 || 2 + itemSize * word(body) > n)
                return bad(
                    QStringLiteral("chunk %1 at offset %2 holds fewer entries than it claims")
                        .arg(hex(id))
                        .arg(start));
            return true;
        };
        switch (id) {
        case POINT_ARRAY:
            return parent != N_TRI_OBJECT || counted(12);
        case POINT_FLAG_ARRAY:
            return parent != N_TRI_OBJECT || counted(2);
        case TEX_VERTS:
            return parent != N_TRI_OBJECT || counted(8);
        case MSH_MAT_GROUP: {
            if (parent != FACE_ARRAY)
                return true;
            const qint64 after = afterString(body, end);
            if (after < 0 || end - after < 2)
                return bad(QStringLiteral("a material group at offset %1 is cut short").arg(start));
            const qint64 count = word(after);
            if (2 + 2 * count > end - after)
                return bad(
                    QStringLiteral("a material group at offset %1 holds fewer faces than it claims")
                        .arg(start));
            const quint16 faces = faceCountStack.isEmpty() ? 0 : faceCountStack.last();
            for (qint64 i = 0; i < count; ++i)
                if (word(after + 2 + 2 * i) >= faces)
                    return bad(QStringLiteral(
                                   "a material group at offset %1 names a face that does not exist")
                                   .arg(start));
            return true;
        }
        case SMOOTH_GROUP:
            return true;
        case NODE_ID:
            if (isNodeTag(parent) && !nodes.isEmpty()) {
                if (n < 2)
                    return bad(QStringLiteral("a node id at offset %1 is cut short").arg(start));
                nodes.last().id = word(body);
            }
            return true;
        case NODE_HDR:
            if (isNodeTag(parent) && !nodes.isEmpty()) {
                const qint64 after = afterString(body, end);
                if (after < 0 || end - after < 6)
                    return bad(
                        QStringLiteral("a node header at offset %1 is cut short").arg(start));
                nodes.last().parent = word(after + 4);
            }
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
    bool track(quint16 id, qint64 body, qint64 end, int valueSize)
    {
        if (end - body < 14)
            return bad(QStringLiteral("track %1 is cut short").arg(hex(id)));
        const qint64 keys = qint32(dword(body + 10));
        if (keys > MaxKeysPerTrack)
            return bad(QStringLiteral("track %1 claims %2 keys").arg(hex(id)).arg(keys));
        qint64 at = body + 14;
        for (qint64 k = 0; k < keys; ++k) {
            if (end - at < 6)
                return bad(QStringLiteral("track %1 holds fewer keys than it claims").arg(hex(id)));
            const quint16 flags = word(at + 4);
            at += 6;
            for (int bit = 0; bit < 5; ++bit)
                if (flags & (1 << bit))
                    at += 4;
            if (valueSize < 0) {
                const qint64 after = at <= end ? afterString(at, end) : -1;
                if (after < 0)
                    return bad(
                        QStringLiteral("track %1 holds fewer keys than it claims").arg(hex(id)));
                at = after;
            } else {
                at += valueSize;
            }
            if (at > end)
                return bad(QStringLiteral("track %1 holds fewer keys than it claims").arg(hex(id)));
        }
        return true;
    }

    // The keyframer hierarchy must be a forest: unique ids, parents that exist, no loops,
    // and not deeper than lib3ds can walk.
    bool nodesAreSound()
    {
        if (nodes.size() > MaxNodes)
            return bad(
                QStringLiteral("the file has too many keyframer nodes (%1)").arg(nodes.size()));
        QHash<quint16, quint16> parentOf;
        for (const NodeInfo &node : std::as_const(nodes)) {
            if (node.id == 0xFFFF)
                continue;
            if (parentOf.contains(node.id))
                return bad(QStringLiteral("two keyframer nodes share the id %1").arg(node.id));
            parentOf.insert(node.id, node.parent);
        }
        for (const NodeInfo &node : std::as_const(nodes)) {
            if (node.parent == node.id && node.id != 0xFFFF)
                return bad(QStringLiteral("keyframer node %1 is its own parent").arg(node.id));
            int depth = 0;
            quint16 at = node.parent;
            while (at != 0xFFFF) {
                if (++depth > MaxNodeDepth)
                    return bad(
                        QStringLiteral("the keyframer nodes form a loop or are nested too deeply"));
                at = parentOf.value(at, 0xFFFF);
            }
        }
        return true;
    }
};

// lib3ds reads through these callbacks from the checked bytes. Reads past the end fail
// and raise the error flag instead of touching memory outside the buffer.
struct MemoryStream
{
    const QByteArray *bytes;
    long position = 0;
    bool error = false;
};

Lib3dsBool streamError(void *self)
{
    return static_cast<MemoryStream *>(self)->error ? LIB3DS_TRUE : LIB3DS_FALSE;
}

long streamSeek(void *self, long offset, Lib3dsIoSeek origin)
{
    auto *s = static_cast<MemoryStream *>(self);
    long base = 0;
    switch (origin) {
    case LIB3DS_SEEK_SET:
        base = 0;
        break;
    case LIB3DS_SEEK_CUR:
        base = s->position;
        break;
    case LIB3DS_SEEK_END:
        base = long(s->bytes->size());
        break;
    }
    const long target = base + offset;
    if (target < 0 || target > long(s->bytes->size())) {
        s->error = true;
        return -1;
    }
    s->position = target;
    return 0;
}

long streamTell(void *self)
{
    return static_cast<MemoryStream *>(self)->position;
}

size_t streamRead(void *self, void *buffer, size_t size)
{
    auto *s = static_cast<MemoryStream *>(self);
    const size_t available = size_t(s->bytes->size() - s->position);
    const size_t n = std::min(size, available);
    if (n < size) {
        s->error = true;
        std::memset(static_cast<char *>(buffer) + n, 0, size - n);
    }
    std::memcpy(buffer, s->bytes->constData() + s->position, n);
    s->position += long(n);
    return n;
}

size_t streamWrite(void *self, const void *, size_t)
{
    static_cast<MemoryStream *>(self)->error = true;
    return 0;
}

} // namespace

bool Model3dsReader::checkStructure(const QByteArray &bytes, QString &problem)
{
    StructureCheck check(bytes);
    return check.run(problem);
}

bool Model3dsReader::checkModel(Lib3dsFile *file, QString &problem)
{
    qint64 faces = 0;
    for (Lib3dsMesh *mesh = file->meshes; mesh; mesh = mesh->next)
        faces += mesh->faces;
    if (faces > MaxFaces) {
        problem = QStringLiteral("the model has %1 triangles; at most %2 can be shown")
                      .arg(faces)
                      .arg(MaxFaces);
        return false;
    }
    for (Lib3dsMesh *mesh = file->meshes; mesh; mesh = mesh->next) {
        if (mesh->faces > 0 && !mesh->faceL) {
            problem =
                QStringLiteral("mesh \"%1\" lost its faces").arg(QString::fromLatin1(mesh->name));
            return false;
        }
        for (Lib3dsDword i = 0; i < mesh->faces; ++i)
            for (int k = 0; k < 3; ++k)
                if (mesh->faceL[i].points[k] >= mesh->points) {
                    problem =
                        QStringLiteral("mesh \"%1\" has a face that uses a point it does not have")
                            .arg(QString::fromLatin1(mesh->name));
                    return false;
                }
        for (Lib3dsDword i = 0; i < mesh->points; ++i)
            for (int k = 0; k < 3; ++k)
                if (!std::isfinite(mesh->pointL[i].pos[k])) {
                    problem = QStringLiteral("mesh \"%1\" has a point with an invalid coordinate")
                                  .arg(QString::fromLatin1(mesh->name));
                    return false;
                }
    }
    return true;
}

Lib3dsFilePtr Model3dsReader::parse(const QByteArray &bytes, QString &problem)
{
    if (!checkStructure(bytes, problem))
        return nullptr;
    MemoryStream stream{&bytes};
    Lib3dsIo *io =
        lib3ds_io_new(&stream, streamError, streamSeek, streamTell, streamRead, streamWrite);
    if (!io) {
        problem = QStringLiteral("out of memory");
        return nullptr;
    }
    Lib3dsFilePtr file(lib3ds_file_new());
    const bool read = file && lib3ds_file_read(file.get(), io);
    lib3ds_io_free(io);
    if (!read) {
        problem = QStringLiteral("the file's content could not be read");
        return nullptr;
    }
    if (!checkModel(file.get(), problem))
        return nullptr;
    return file;
}

Lib3dsFilePtr Model3dsReader::read(const QString &path, QString &problem)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        problem = f.errorString();
        return nullptr;
    }
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        problem = f.errorString();
        return nullptr;
    }
    return parse(bytes, problem);
}
