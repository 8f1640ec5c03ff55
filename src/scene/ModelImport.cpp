#include "ModelImport.h"

#include "Matrix4.h"
#include "MeshNormals.h"
#include "ModelReaderProcess.h"
#include "ModelTransfer.h"

#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>
#include <unordered_set>
#include <unistd.h>
#include <vector>

using namespace ModelTransfer;

namespace {
// Whether some edge of the model borders one face only (an open sheet), by the corners'
// positions. Models of more faces than this are taken as closed.
constexpr size_t MaxFacesChecked = 500'000;

bool hasOpenEdges(const LargeBuffer<float> &positions, size_t faces)
{
    if (faces > MaxFacesChecked || !positions.data())
        return false;
    struct Edge
    {
        float p[6];
        bool operator==(const Edge &o) const { return std::memcmp(p, o.p, sizeof p) == 0; }
    };
    struct Hash
    {
        size_t operator()(const Edge &e) const
        {
            size_t h = 1469598103934665603ull;
            for (float v : e.p) {
                quint32 bits;
                std::memcpy(&bits, &v, sizeof bits);
                h = (h ^ bits) * 1099511628211ull;
            }
            return h;
        }
    };
    // Each edge goes in at its first face and out at its second.
    std::unordered_set<Edge, Hash> unpaired;
    unpaired.reserve(faces);
    const float *p = positions.data();
    for (size_t f = 0; f < faces; ++f, p += 9)
        for (int k = 0; k < 3; ++k) {
            const float *a = p + 3 * k, *b = p + 3 * ((k + 1) % 3);
            if (std::memcmp(a, b, 3 * sizeof(float)) > 0)
                std::swap(a, b);
            Edge e;
            std::memcpy(e.p, a, 3 * sizeof(float));
            std::memcpy(e.p + 3, b, 3 * sizeof(float));
            if (!unpaired.insert(e).second)
                unpaired.erase(e);
        }
    return !unpaired.empty();
}
} // namespace

namespace {

// Colour of faces that come before any face with a known material.
constexpr LoadedModel::Rgb DefaultColor{0.8f, 0.8f, 0.8f};
constexpr uint32_t MaxMessageBytes = 4096;
// Beyond this many transformed points the box uses each placed mesh's own box instead.
constexpr uint64_t ExactBoxPoints = 50'000'000;

bool finite(const float *values, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i]))
            return false;
    return true;
}

Matrix4 matrixOf(const float m[16])
{
    Matrix4 r;
    for (int i = 0; i < 16; ++i)
        r[i] = m[i];
    return r;
}

struct Box
{
    double min[3] = {DBL_MAX, DBL_MAX, DBL_MAX};
    double max[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};

    void add(const Vector3 &v)
    {
        for (int k = 0; k < 3; ++k) {
            min[k] = std::min(min[k], v[k]);
            max[k] = std::max(max[k], v[k]);
        }
    }
    void add(const float *p) { add(Vector3(p[0], p[1], p[2])); }
    // A box the scene can keep in floats and measure: its corners and its extent finite.
    bool usable() const
    {
        constexpr double Far = 1e30;
        for (int k = 0; k < 3; ++k)
            if (!(min[k] >= -Far && max[k] <= Far && min[k] <= max[k]))
                return false;
        return true;
    }
};

// The checked sections of a reader's result.
struct Sections
{
    Header header{};
    const MeshRecord *meshes = nullptr;
    const MaterialRecord *materials = nullptr;
    const TextureRecord *textures = nullptr;
    const PlacementRecord *placements = nullptr;
    const float *points = nullptr;
    const float *texCoords = nullptr;
    const unsigned char *pointColors = nullptr;
    const FaceRecord *faces = nullptr;
    const unsigned char *texels = nullptr;
    const char *notes = nullptr;
};

std::atomic<uint64_t> pretendedMemory{0};

QString invalid(const QString &what)
{
    return QStringLiteral("the model reader handed back an invalid model (%1)").arg(what);
}

// Checks the header and the counts against each other and against the size; on a refusal
// `problem` is the reader's reason.
bool checkSections(const unsigned char *data, size_t size, Sections &s, QString &problem)
{
    if (size < sizeof(Header)) {
        problem = invalid(QStringLiteral("too short"));
        return false;
    }
    std::memcpy(&s.header, data, sizeof(Header));
    const Header &h = s.header;
    if (std::memcmp(h.magic, Magic, sizeof Magic) != 0 || h.messageBytes > MaxMessageBytes) {
        problem = invalid(QStringLiteral("wrong header"));
        return false;
    }
    if (h.status == Refused) {
        Header messageOnly{};
        messageOnly.messageBytes = h.messageBytes;
        const uint64_t at = Layout::of(messageOnly).message;
        if (at + h.messageBytes > size) {
            problem = invalid(QStringLiteral("message cut short"));
            return false;
        }
        QString reason =
            QString::fromUtf8(reinterpret_cast<const char *>(data + at), int(h.messageBytes));
        for (QChar &c : reason)
            if (c.category() == QChar::Other_Control)
                c = QLatin1Char(' ');
        problem = reason.trimmed().isEmpty() ? QStringLiteral("the file was refused") : reason;
        return false;
    }
    if (h.status != Loaded || h.meshCount > MaxObjects || h.materialCount > MaxMaterials ||
        h.placementCount > std::max(MaxObjects, MaxNodes) || h.pointCount > MaxPoints ||
        h.faceCount > MaxFaces || h.textureCount > MaxTextures || h.noteBytes > MaxNoteBytes ||
        h.texelBytes > size) {
        problem = invalid(QStringLiteral("counts out of range"));
        return false;
    }
    const uint64_t needed = uint64_t(h.faceCount) * ModelImport::BytesPerFace;
    if (needed > ModelImport::machineMemory()) {
        problem = QStringLiteral("its %1 triangles need about %2 MB; this machine has %3 MB")
                      .arg(h.faceCount)
                      .arg(needed >> 20)
                      .arg(ModelImport::machineMemory() >> 20);
        return false;
    }
    const Layout l = Layout::of(h);
    if (l.end > size) {
        problem = invalid(QStringLiteral("shorter than its counts"));
        return false;
    }
    s.meshes = reinterpret_cast<const MeshRecord *>(data + l.meshes);
    s.materials = reinterpret_cast<const MaterialRecord *>(data + l.materials);
    s.textures = reinterpret_cast<const TextureRecord *>(data + l.textures);
    s.placements = reinterpret_cast<const PlacementRecord *>(data + l.placements);
    s.points = reinterpret_cast<const float *>(data + l.points);
    s.texCoords = reinterpret_cast<const float *>(data + l.texCoords);
    s.pointColors = data + l.pointColors;
    s.faces = reinterpret_cast<const FaceRecord *>(data + l.faces);
    s.texels = data + l.texels;
    s.notes = reinterpret_cast<const char *>(data + l.notes);

    uint64_t texels = 0;
    for (uint32_t t = 0; t < h.textureCount; ++t) {
        const TextureRecord &r = s.textures[t];
        if (r.width == 0 || r.height == 0 || r.width > MaxTextureSide ||
            r.height > MaxTextureSide) {
            problem = invalid(QStringLiteral("a texture of a size out of range"));
            return false;
        }
        texels += texelBytesOf(r);
    }
    if (texels != h.texelBytes) {
        problem = invalid(QStringLiteral("textures do not add up"));
        return false;
    }
    for (uint32_t m = 0; m < h.materialCount; ++m)
        if (s.materials[m].texture < NoTexture ||
            s.materials[m].texture >= int32_t(h.textureCount)) {
            problem = invalid(QStringLiteral("a material shows a texture that does not exist"));
            return false;
        }

    uint64_t points = 0, faces = 0;
    for (uint32_t m = 0; m < h.meshCount; ++m) {
        if (s.meshes[m].pointCount > MaxPointsPerMesh) {
            problem = invalid(QStringLiteral("a mesh with too many points"));
            return false;
        }
        points += s.meshes[m].pointCount;
        faces += s.meshes[m].faceCount;
    }
    if (points != h.pointCount || faces != h.faceCount) {
        problem = invalid(QStringLiteral("meshes do not add up"));
        return false;
    }
    for (uint32_t p = 0; p < h.placementCount; ++p)
        if (s.placements[p].mesh >= h.meshCount) {
            problem = invalid(QStringLiteral("a node places a mesh that does not exist"));
            return false;
        }
    return true;
}

QString meshName(const MeshRecord &mesh)
{
    return QString::fromLatin1(mesh.name, int(strnlen(mesh.name, NameBytes - 1)));
}

// Each material's colour and the texture its faces show (-1 for none).
struct MaterialTable
{
    std::vector<LoadedModel::Rgb> colors;
    std::vector<int16_t> textures;
};

struct MeshJob
{
    const MeshRecord *mesh;
    const float *points;
    const float *texCoords;
    const unsigned char *pointColors;
    const FaceRecord *faces;
    size_t firstFace;
    int meshIndex;
    LoadedModel::Rgb startColor;
    Box localBox;
    QString error;
};

// Checks one mesh's points and faces and builds its faces, normals and render arrays.
void buildMesh(MeshJob &job, const Sections &s, const MaterialTable &materials, LoadedModel &model,
               LoadControl &control)
{
    if (control.cancel.load())
        return;
    const size_t pointCount = job.mesh->pointCount;
    const size_t faceCount = job.mesh->faceCount;
    if (!finite(job.points, pointCount * 3)) {
        job.error = QStringLiteral("mesh \"%1\" has a point with an invalid coordinate")
                        .arg(meshName(*job.mesh));
        return;
    }
    for (size_t i = 0; i < faceCount; ++i) {
        const FaceRecord &f = job.faces[i];
        if (f.points[0] >= pointCount || f.points[1] >= pointCount || f.points[2] >= pointCount ||
            f.material < NoMaterial || f.material >= int32_t(s.header.materialCount)) {
            job.error = invalid(QStringLiteral("mesh \"%1\" has a face that does not fit it")
                                    .arg(meshName(*job.mesh)));
            return;
        }
    }
    for (size_t p = 0; p < pointCount; ++p)
        job.localBox.add(job.points + 3 * p);

    std::vector<float> faceNormals(faceCount * 3);
    calculateFaceNormals(job.points, job.faces, faceCount, faceNormals.data());
    RenderArrays &a = model.arrays;
    calculateVertexNormals(job.faces, faceCount, pointCount, faceNormals.data(),
                           &a.normals[job.firstFace * 9]);
    LoadedModel::Rgb c = job.startColor;
    MeshFace *faces = model.faceStore.data();
    const bool textured = job.mesh->flags & HasTexCoords;
    const bool pointColored = job.mesh->flags & HasColors;
    for (size_t i = 0; i < faceCount; ++i) {
        const FaceRecord &face = job.faces[i];
        if (face.material != NoMaterial)
            c = materials.colors[size_t(face.material)];
        const size_t f = job.firstFace + i;
        a.faceTexture[f] = textured && face.material != NoMaterial
                               ? materials.textures[size_t(face.material)]
                               : int16_t(NoTexture);
        const std::array<unsigned char, 3> id = ModelImport::faceIdColor(f);
        Vector3 corner[3];
        for (int k = 0; k < 3; ++k) {
            const size_t point = face.points[k];
            const float *p = job.points + 3 * point;
            corner[k] = Vector3(p[0], p[1], p[2]);
            const size_t at = f * 9 + size_t(k) * 3;
            for (int n = 0; n < 3; ++n) {
                a.positions[at + n] = p[n];
                a.colors[at + n] =
                    pointColored ? float(job.pointColors[point * 4 + size_t(n)]) / 255.0f : c[n];
                a.idColors[at + n] = id[n];
            }
            // Coordinates that are no numbers are of no use to a texture; they become 0.
            for (int n = 0; n < 2; ++n) {
                const float t = textured ? job.texCoords[point * 2 + size_t(n)] : 0.0f;
                a.texCoords[f * 6 + size_t(k) * 2 + size_t(n)] = std::isfinite(t) ? t : 0.0f;
            }
        }
        new (&faces[f]) MeshFace(corner[0], corner[1], corner[2], job.meshIndex, int(f));
    }
    control.facesBuilt += qint64(faceCount);
}

// The box of the meshes as the keyframer places them at the evaluated frame: each placed
// mesh taken out of its own frame, moved by the pivot and the node's matrix. Without a
// usable placement, the points as they are stored.
void measureModel(const Sections &s, const std::vector<MeshJob> &jobs, LoadedModel &model)
{
    Box box;
    uint64_t transformed = 0;
    for (uint32_t i = 0; i < s.header.placementCount; ++i) {
        const PlacementRecord &p = s.placements[i];
        const MeshJob &job = jobs[p.mesh];
        if (!finite(p.matrix, 16) || !finite(p.pivot, 3) || !finite(job.mesh->matrix, 16))
            continue;
        const Matrix4 m = matrixOf(job.mesh->matrix)
                              .inverse()
                              .preMultiplied(Matrix4::translation(Vector3(
                                  -double(p.pivot[0]), -double(p.pivot[1]), -double(p.pivot[2]))))
                              .preMultiplied(matrixOf(p.matrix));
        const size_t count = job.mesh->pointCount;
        transformed += count;
        if (transformed <= ExactBoxPoints) {
            for (size_t k = 0; k < count; ++k) {
                const float *q = job.points + 3 * k;
                box.add(m.transformPoint(Vector3(q[0], q[1], q[2])));
            }
        } else if (count > 0) {
            const Box &b = job.localBox;
            for (int corner = 0; corner < 8; ++corner)
                box.add(m.transformPoint(
                    Vector3(b.min[0] + (corner & 1) * (b.max[0] - b.min[0]),
                            b.min[1] + ((corner >> 1) & 1) * (b.max[1] - b.min[1]),
                            b.min[2] + ((corner >> 2) & 1) * (b.max[2] - b.min[2]))));
        }
    }
    if (!box.usable()) {
        box = Box();
        for (const MeshJob &job : jobs)
            if (job.mesh->pointCount > 0) {
                box.add(Vector3(job.localBox.min[0], job.localBox.min[1], job.localBox.min[2]));
                box.add(Vector3(job.localBox.max[0], job.localBox.max[1], job.localBox.max[2]));
            }
    }
    if (!box.usable())
        box = Box{{0, 0, 0}, {0, 0, 0}};
    for (int k = 0; k < 3; ++k) {
        model.boundsMin[k] = float(box.min[k]);
        model.boundsMax[k] = float(box.max[k]);
    }
}

// The textures, copied out of the result (which goes when the load ends).
void takeTextures(const Sections &s, LoadedModel &model)
{
    const unsigned char *texels = s.texels;
    for (uint32_t t = 0; t < s.header.textureCount; ++t) {
        const TextureRecord &r = s.textures[t];
        QImage image(int(r.width), int(r.height), QImage::Format_RGBA8888);
        if (image.isNull()) {
            // Out of memory: the faces keep their colours.
            model.notes.append(QStringLiteral("a texture of %1 x %2 pixels left out: not "
                                              "enough memory")
                                   .arg(r.width)
                                   .arg(r.height));
            image = QImage();
        } else {
            for (uint32_t row = 0; row < r.height; ++row)
                std::memcpy(image.scanLine(int(row)), texels + size_t(row) * r.width * 4,
                            size_t(r.width) * 4);
        }
        model.textures.append(image);
        texels += texelBytesOf(r);
    }
}

// The reader's notes, one line each, without anything that is not text.
void takeNotes(const Sections &s, LoadedModel &model)
{
    QString text = QString::fromUtf8(s.notes, int(s.header.noteBytes));
    for (QChar &c : text)
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\n'))
            c = QLatin1Char(' ');
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (!line.trimmed().isEmpty())
            model.notes.append(line.trimmed());
}

} // namespace

std::array<unsigned char, 3> ModelImport::faceIdColor(size_t faceIndex)
{
    const uint32_t id = uint32_t(faceIndex) + 1;
    return {static_cast<unsigned char>((id >> 16) & 0xff),
            static_cast<unsigned char>((id >> 8) & 0xff), static_cast<unsigned char>(id & 0xff)};
}

std::unique_ptr<LoadedModel> ModelImport::build(const unsigned char *data, size_t size,
                                                QString &problem, LoadControl *control)
{
    LoadControl ownControl;
    LoadControl &c = control ? *control : ownControl;
    c.stage = LoadControl::Building;
    Sections s;
    if (!checkSections(data, size, s, problem))
        return nullptr;
    const Header &h = s.header;
    c.faceTotal = qint64(h.faceCount);

    MaterialTable materials;
    for (uint32_t i = 0; i < h.materialCount; ++i) {
        const float *d = s.materials[i].diffuse;
        materials.colors.push_back(finite(d, 3) ? LoadedModel::Rgb{d[0], d[1], d[2]}
                                                : DefaultColor);
        materials.textures.push_back(int16_t(s.materials[i].texture));
    }

    auto model = std::make_unique<LoadedModel>();
    const size_t n = h.faceCount;
    RenderArrays &a = model->arrays;
    a.positions = LargeBuffer<float>(n * 9);
    a.normals = LargeBuffer<float>(n * 9);
    a.colors = LargeBuffer<float>(n * 9);
    a.idColors = LargeBuffer<unsigned char>(n * 9);
    a.texCoords = LargeBuffer<float>(n * 6);
    a.faceTexture = LargeBuffer<int16_t>(n);
    model->faceStore = LargeBuffer<MeshFace>(n);
    model->faceCount = n;
    if (!a.positions.valid() || !a.normals.valid() || !a.colors.valid() || !a.idColors.valid() ||
        !a.texCoords.valid() || !a.faceTexture.valid() || !model->faceStore.valid()) {
        problem = QStringLiteral("there is not enough memory for its triangles");
        return nullptr;
    }

    // One job per mesh. The colour carries over from face to face and from mesh to mesh,
    // so the colour each mesh starts with is settled first; then the meshes are built side
    // by side, each into its own range of faces and arrays.
    std::vector<MeshJob> jobs;
    jobs.reserve(h.meshCount);
    LoadedModel::Rgb color = DefaultColor;
    size_t firstPoint = 0, firstFace = 0;
    for (uint32_t m = 0; m < h.meshCount; ++m) {
        const MeshRecord &mesh = s.meshes[m];
        const FaceRecord *faces = s.faces + firstFace;
        jobs.push_back({&mesh,
                        s.points + 3 * firstPoint,
                        s.texCoords + 2 * firstPoint,
                        s.pointColors + 4 * firstPoint,
                        faces,
                        firstFace,
                        int(m),
                        color,
                        {},
                        {}});
        // The colour the mesh ends with is that of its last face with a known material.
        for (uint32_t i = mesh.faceCount; i-- > 0;)
            if (faces[i].material >= 0 && uint32_t(faces[i].material) < h.materialCount) {
                color = materials.colors[size_t(faces[i].material)];
                break;
            }
        model->meshColors.insert(int(m), color);
        model->meshNames.append(meshName(mesh));
        firstPoint += mesh.pointCount;
        firstFace += mesh.faceCount;
    }

    QtConcurrent::blockingMap(&buildThreads(), jobs,
                              [&](MeshJob &job) { buildMesh(job, s, materials, *model, c); });
    if (c.cancel.load()) {
        problem.clear();
        return nullptr;
    }
    for (const MeshJob &job : jobs)
        if (!job.error.isEmpty()) {
            problem = job.error;
            return nullptr;
        }

    measureModel(s, jobs, *model);
    model->openEdges = hasOpenEdges(model->arrays.positions, model->faceCount);
    takeTextures(s, *model);
    takeNotes(s, *model);
    const MeshFace *faces = model->faceStore.data();
    for (const MeshJob &job : jobs) {
        QList<const MeshFace *> list;
        list.reserve(qsizetype(job.mesh->faceCount));
        for (size_t i = 0; i < job.mesh->faceCount; ++i)
            list.append(&faces[job.firstFace + i]);
        model->meshFaces.append(list);
    }
    return model;
}

std::unique_ptr<LoadedModel> ModelImport::load(const QString &path, QString &problem,
                                               LoadControl *control)
{
    const ModelReaderProcess::Result result =
        ModelReaderProcess::run(path, control ? &control->cancel : nullptr, problem);
    if (!result.valid())
        return nullptr;
    return build(result.data(), result.size(), problem, control);
}

QThreadPool &ModelImport::loadThreads()
{
    // A load replaced by a later one ends in the background while the later one runs;
    // loads mostly wait for the reader process.
    static QThreadPool pool;
    static const bool sized = (pool.setMaxThreadCount(8), true);
    Q_UNUSED(sized);
    return pool;
}

QThreadPool &ModelImport::buildThreads()
{
    static QThreadPool pool;
    return pool;
}

uint64_t ModelImport::machineMemory()
{
    const uint64_t pretended = pretendedMemory.load();
    if (pretended > 0)
        return pretended;
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : UINT64_MAX;
}

void ModelImport::setMachineMemoryForTests(uint64_t bytes)
{
    pretendedMemory.store(bytes);
}
