#include "../support/Models.h"
#include "../support/ReaderSupport.h"
#include "../support/TestSupport.h"
#include "ChunkTree.h"
#include "LoggerOutput.h"
#include "MeshPieces.h"
#include "ModelImport.h"
#include "ModelTransfer.h"
#include "Scene.h"
#include "StructureCheck.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <cmath>
#include <cstring>
#include <functional>
#include <thread>
#include <unistd.h>

using namespace ModelTransfer;
using testsupport::ScopedWorkDir;

namespace {

// A reader result written by hand: one red triangle unless a test changes it.
struct Transfer
{
    Header header{};
    QByteArray message;
    std::vector<MeshRecord> meshes;
    std::vector<MaterialRecord> materials;
    std::vector<PlacementRecord> placements;
    std::vector<float> points;
    std::vector<FaceRecord> faces;

    Transfer()
    {
        std::memcpy(header.magic, Magic, sizeof Magic);
        MeshRecord mesh{};
        std::strcpy(mesh.name, "tri");
        mesh.pointCount = 3;
        mesh.faceCount = 1;
        for (int k = 0; k < 4; ++k)
            mesh.matrix[k * 5] = 1.0f;
        meshes.push_back(mesh);
        materials.push_back({{1.0f, 0.0f, 0.0f}, NoTexture});
        PlacementRecord place{};
        for (int k = 0; k < 4; ++k)
            place.matrix[k * 5] = 1.0f;
        placements.push_back(place);
        points = {0, 0, 0, 10, 0, 0, 0, 10, 0};
        faces.push_back({{0, 1, 2}, 0, 1, 0});
    }

    // The counts follow the records unless `keepCounts`.
    QByteArray bytes(bool keepCounts = false) const
    {
        Header h = header;
        if (!keepCounts) {
            h.messageBytes = uint32_t(message.size());
            h.meshCount = uint32_t(meshes.size());
            h.materialCount = uint32_t(materials.size());
            h.placementCount = uint32_t(placements.size());
            h.pointCount = points.size() / 3;
            h.faceCount = faces.size();
        }
        Header laid = h;
        laid.messageBytes = uint32_t(message.size());
        laid.meshCount = uint32_t(meshes.size());
        laid.materialCount = uint32_t(materials.size());
        laid.placementCount = uint32_t(placements.size());
        laid.pointCount = points.size() / 3;
        laid.faceCount = faces.size();
        const Layout l = Layout::of(laid);
        QByteArray out(int(l.end), '\0');
        auto put = [&](uint64_t at, const void *data, size_t size) {
            if (size)
                std::memcpy(out.data() + at, data, size);
        };
        put(0, &h, sizeof h);
        put(l.message, message.constData(), size_t(message.size()));
        put(l.meshes, meshes.data(), meshes.size() * sizeof(MeshRecord));
        put(l.materials, materials.data(), materials.size() * sizeof(MaterialRecord));
        put(l.placements, placements.data(), placements.size() * sizeof(PlacementRecord));
        put(l.points, points.data(), points.size() * sizeof(float));
        put(l.faces, faces.data(), faces.size() * sizeof(FaceRecord));
        return out;
    }
};

std::unique_ptr<LoadedModel> build(const QByteArray &bytes, QString &problem)
{
    return ModelImport::build(reinterpret_cast<const unsigned char *>(bytes.constData()),
                              size_t(bytes.size()), problem);
}

using Change = std::function<QByteArray(Transfer &)>;

// A 3DS file of nothing but the given chunks under the main chunk.
QByteArray fileOf(const QVector<Chunk> &topLevel)
{
    Chunk root(0x4D4D);
    root.children = topLevel;
    return root.bytes();
}

Chunk namedObjects(int count)
{
    Chunk mdata(0x3D3D);
    for (int i = 0; i < count; ++i)
        mdata.add(0x4000, chunkdata::name("m" + QByteArray::number(i))).add(0x4100);
    return mdata;
}

// Keyframer nodes with a position track each; `chunksPerNode` tracks of `keys` keys.
Chunk keyframer(int nodes, int chunksPerNode, int keys)
{
    QByteArray track = chunkdata::word(0) + chunkdata::dword(0) + chunkdata::dword(0) +
                       chunkdata::dword(uint32_t(keys));
    for (int k = 0; k < keys; ++k)
        track += chunkdata::dword(uint32_t(k)) + chunkdata::word(0) + chunkdata::real(k) +
                 chunkdata::real(0) + chunkdata::real(0);
    Chunk kf(0xB000);
    for (int n = 0; n < nodes; ++n) {
        Chunk &node = kf.add(0xB002);
        node.add(0xB010, chunkdata::name("n") + chunkdata::word(0) + chunkdata::word(0) +
                             chunkdata::word(0xFFFF));
        for (int c = 0; c < chunksPerNode; ++c)
            node.add(0xB020, track);
    }
    return kf;
}

} // namespace

// The model reader process and the application's checks of what it hands back.
class TestModelReader : public QObject
{
    Q_OBJECT
private slots:
    void importBuildsAWellFormedResult();
    void importRefusesMalformedResults_data();
    void importRefusesMalformedResults();
    void refusalsReachTheUser();
    void limitsAreRefusedWithAReason_data();
    void limitsAreRefusedWithAReason();
    void exporterNodesWithoutIdsLoad();
    void missingReaderIsExplained();
    void cancelStopsTheReader();
    void meshPiecesShareSmoothAndSplit();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestModelReader::importBuildsAWellFormedResult()
{
    Transfer t;
    QString problem;
    std::unique_ptr<LoadedModel> model = build(t.bytes(), problem);
    QVERIFY2(model, qPrintable(problem));
    QCOMPARE(model->faceCount, size_t(1));
    QCOMPARE(model->meshNames, QStringList{"tri"});
    QCOMPARE(model->meshColors.value(0), (LoadedModel::Rgb{1.0f, 0.0f, 0.0f}));
    QCOMPARE(model->faceStore[0].normal, Vector3(0, 0, 1));
    QCOMPARE(model->arrays.normals[8], 1.0f); // corner 2, z
    QCOMPARE(model->arrays.idColors[2], (unsigned char)1);
    QCOMPARE(model->boundsMax[0], 10.0f);

    // A node that moves the mesh moves the box; one that cannot be evaluated is left out.
    t.placements[0].matrix[12] = 100.0f;
    t.placements.push_back(t.placements[0]);
    t.placements[1].matrix[0] = std::nanf("");
    model = build(t.bytes(), problem);
    QVERIFY(model);
    QCOMPARE(model->boundsMin[0], 100.0f);
    QCOMPARE(model->boundsMax[0], 110.0f);

    // A colour that is not a number gives the usual grey instead.
    t.materials[0].diffuse[1] = INFINITY;
    model = build(t.bytes(), problem);
    QVERIFY(model);
    QCOMPARE(model->meshColors.value(0), (LoadedModel::Rgb{0.8f, 0.8f, 0.8f}));
}

void TestModelReader::importRefusesMalformedResults_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("reason");
    auto row = [](const char *name, Change change, const char *reason) {
        QTest::newRow(name) << change << QString::fromLatin1(reason);
    };
    row(
        "too short", [](Transfer &t) { return t.bytes().left(20); }, "too short");
    row(
        "not a result",
        [](Transfer &t) {
            t.header.magic[0] = 'X';
            return t.bytes();
        },
        "wrong header");
    row(
        "cut short", [](Transfer &t) { return t.bytes().chopped(4); }, "shorter than its counts");
    row(
        "too many faces",
        [](Transfer &t) {
            t.header.faceCount = MaxFaces + 1;
            return t.bytes(true);
        },
        "counts out of range");
    row(
        "too many meshes",
        [](Transfer &t) {
            t.header.meshCount = MaxObjects + 1;
            return t.bytes(true);
        },
        "counts out of range");
    row(
        "unknown status",
        [](Transfer &t) {
            t.header.status = 7;
            return t.bytes();
        },
        "counts out of range");
    row(
        "meshes do not add up",
        [](Transfer &t) {
            t.meshes[0].faceCount = 2;
            return t.bytes();
        },
        "meshes do not add up");
    row(
        "mesh with too many points",
        [](Transfer &t) {
            t.meshes[0].pointCount = 70000;
            return t.bytes();
        },
        "a mesh with too many points");
    row(
        "face uses a missing point",
        [](Transfer &t) {
            t.faces[0].points[2] = 3;
            return t.bytes();
        },
        "has a face that does not fit it");
    row(
        "face names a missing material",
        [](Transfer &t) {
            t.faces[0].material = 1;
            return t.bytes();
        },
        "has a face that does not fit it");
    row(
        "face with a negative material",
        [](Transfer &t) {
            t.faces[0].material = -2;
            return t.bytes();
        },
        "has a face that does not fit it");
    row(
        "point not a number",
        [](Transfer &t) {
            t.points[4] = std::nanf("");
            return t.bytes();
        },
        "has a point with an invalid coordinate");
    row(
        "point infinite",
        [](Transfer &t) {
            t.points[0] = -INFINITY;
            return t.bytes();
        },
        "has a point with an invalid coordinate");
    row(
        "node places a missing mesh",
        [](Transfer &t) {
            t.placements[0].mesh = 1;
            return t.bytes();
        },
        "a node places a mesh that does not exist");
    row(
        "message too long",
        [](Transfer &t) {
            t.header.status = Refused;
            t.message = QByteArray(5000, 'x');
            return t.bytes();
        },
        "wrong header");
}

void TestModelReader::importRefusesMalformedResults()
{
    QFETCH(Change, change);
    QFETCH(QString, reason);
    Transfer t;
    QString problem;
    QVERIFY(!build(change(t), problem));
    QVERIFY2(problem.contains(reason), qPrintable(problem));
}

void TestModelReader::refusalsReachTheUser()
{
    // The reader's reason is shown as it stands, minus anything that is not text.
    Transfer t;
    t.header.status = Refused;
    t.message = "the file is damaged\x01\x1b[31m";
    QString problem;
    QVERIFY(!build(t.bytes(), problem));
    QCOMPARE(problem, QStringLiteral("the file is damaged  [31m"));
    t.message.clear();
    QVERIFY(!build(t.bytes(), problem));
    QCOMPARE(problem, QStringLiteral("the file was refused"));
}

void TestModelReader::limitsAreRefusedWithAReason_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    QTest::newRow("objects") << fileOf({namedObjects(int(MaxObjects) + 1)})
                             << "the file has more objects than Tuftmill reads (at most 20000)";
    Chunk materials(0x3D3D);
    for (uint32_t i = 0; i <= MaxMaterials; ++i)
        materials.add(0xAFFF).add(0xA000, chunkdata::name("m" + QByteArray::number(i)));
    QTest::newRow("materials") << fileOf({materials})
                               << "the file has more materials than Tuftmill reads (at most 5000)";
    QTest::newRow("nodes") << fileOf({Chunk(0x3D3D), keyframer(int(MaxNodes) + 1, 0, 0)})
                           << "the file has more keyframer nodes than Tuftmill reads";
    // One track read from several chunks adds up, as lib3ds reads it.
    QTest::newRow("keys of one track")
        << fileOf({Chunk(0x3D3D), keyframer(1, 3, 4000)})
        << "a track of the animation has more keys than Tuftmill reads (at most 10000)";
    QTest::newRow("keys of the file")
        << fileOf({Chunk(0x3D3D), keyframer(21, 1, 10000)})
        << "the file has more animation keys than Tuftmill reads (at most 200000)";
}

void TestModelReader::limitsAreRefusedWithAReason()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    // The check alone, in this process...
    std::string problem;
    QVERIFY(!StructureCheck::run(reinterpret_cast<const unsigned char *>(bytes.constData()),
                                 size_t(bytes.size()), problem));
    QVERIFY2(QString::fromStdString(problem).startsWith(reason), problem.c_str());
    // ...and through the reader: the user reads the same.
    ScopedWorkDir work;
    QVERIFY(testsupport::writeBytes("big.3ds", bytes));
    Scene scene;
    QString error;
    QVERIFY(!scene.loadModel("big.3ds", error));
    QVERIFY2(error.section('\n', 1).startsWith(QStringLiteral("big.3ds: ") + reason),
             qPrintable(error));
}

void TestModelReader::exporterNodesWithoutIdsLoad()
{
    // Debian's assimp writes keyframer nodes without ids; lib3ds numbers them itself.
    ScopedWorkDir work;
    QVERIFY(testsupport::writeBytes("house.obj",
                                    "o Base\nv 0 0 0\nv 10 0 0\nv 10 10 0\nv 0 10 0\n"
                                    "f 1 2 3\nf 1 3 4\n"
                                    "o Tower\nv 0 0 5\nv 10 0 5\nv 5 10 5\nf 5 6 7\n"
                                    "g Roof\nv 0 0 8\nv 10 0 8\nv 5 10 9\nf 8 9 10\n"));
    QProcess assimp;
    assimp.start("assimp", {"export", "house.obj", "house.3ds"});
    QVERIFY2(assimp.waitForFinished(30000) && assimp.exitCode() == 0,
             qPrintable(assimp.readAllStandardError()));
    const QByteArray bytes = testsupport::readBytes("house.3ds");
    QVERIFY(testsupport::findChunk(bytes, 0xB030) < 0); // no node ids at all

    Scene scene;
    QString error;
    QVERIFY2(scene.loadModel("house.3ds", error), qPrintable(error));
    QCOMPARE(scene.meshCount(), 3);
    QCOMPARE(scene.faceCount(), 4);
    QCOMPARE(scene.boundsMin[2], 0.0f);
    QCOMPARE(scene.boundsMax[2], 9.0f);
    QCOMPARE(scene.boundsMax[0], 10.0f);
}

void TestModelReader::missingReaderIsExplained()
{
    ScopedWorkDir work;
    QVERIFY(testsupport::twoMeshModel().save("two.3ds"));
    const QString reader = ModelReaderProcess::readerPath();
    ModelReaderProcess::setReaderPath("/nonexistent/tuftmill-model-reader");
    Scene scene;
    QString error;
    const bool loaded = scene.loadModel("two.3ds", error);
    ModelReaderProcess::setReaderPath(reader);
    QVERIFY(!loaded);
    QVERIFY2(error.endsWith("the model reader /nonexistent/tuftmill-model-reader is missing"),
             qPrintable(error));
}

void TestModelReader::cancelStopsTheReader()
{
    // A reader held up for a minute is killed at the cancel; nothing is built.
    ScopedWorkDir work;
    QVERIFY(testsupport::twoMeshModel().save("two.3ds"));
    const testsupport::ReaderFault slow("slow:60000");
    LoadControl control;
    // Cancelled once the reader runs (a process of ours), or at once should it never come.
    std::thread canceller([&control] {
        const QByteArray self = QByteArray::number(getpid());
        const auto readerRuns = [&] {
            for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                QFile stat("/proc/" + pid + "/stat");
                const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
                if (!line.isEmpty() && line.mid(line.lastIndexOf(')') + 2).split(' ').value(1) == self)
                    return true;
            }
            return false;
        };
        for (QDeadlineTimer wait(60000); !readerRuns() && !wait.hasExpired();)
            std::this_thread::yield();
        control.cancel = true;
    });
    QElapsedTimer clock;
    clock.start();
    QString problem = QStringLiteral("unchanged");
    const std::unique_ptr<LoadedModel> model = ModelImport::load("two.3ds", problem, &control);
    canceller.join();
    QVERIFY(!model);
    QVERIFY(problem.isEmpty());
    QVERIFY(clock.elapsed() < 30000);
}

void TestModelReader::meshPiecesShareSmoothAndSplit()
{
    // A cube of one vertex per corner and no normals: 36 corners at 8 positions, where three
    // faces meet at right angles each, give 24 points (sharp edges), in one piece.
    std::vector<float> positions;
    meshpieces::Input cube;
    static const int quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                    {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto &q : quads)
        for (int c : {q[0], q[1], q[2], q[0], q[2], q[3]})
            positions.insert(positions.end(), {float(c & 1), float((c >> 1) & 1), float(c >> 2)});
    for (uint32_t v = 0; v < 36; v += 3)
        cube.triangles.push_back({v, v + 1, v + 2});
    cube.vertexCount = positions.size() / 3;
    cube.positions = positions.data();
    std::vector<meshpieces::Piece> pieces = meshpieces::split(cube);
    QCOMPARE(pieces.size(), size_t(1));
    QCOMPARE(pieces[0].points.size(), size_t(24 * 3));
    QCOMPARE(pieces[0].faces.size(), size_t(12));

    // A flat strip of 80,000 shared points goes into pieces of at most 65,535 points, each
    // face with the corners it had.
    meshpieces::Input strip;
    positions.clear();
    for (int i = 0; i < 40000; ++i)
        positions.insert(positions.end(), {float(i), 0, 0, float(i), 1, 0});
    for (uint32_t i = 0; i + 1 < 40000; ++i) {
        strip.triangles.push_back({2 * i, 2 * i + 2, 2 * i + 1});
        strip.triangles.push_back({2 * i + 1, 2 * i + 2, 2 * i + 3});
    }
    strip.vertexCount = positions.size() / 3;
    strip.positions = positions.data();
    pieces = meshpieces::split(strip);
    QCOMPARE(pieces.size(), size_t(2));
    size_t face = 0;
    for (const meshpieces::Piece &piece : pieces) {
        QVERIFY(piece.points.size() / 3 <= 65535);
        for (const auto &f : piece.faces) {
            for (int k = 0; k < 3; ++k)
                for (int n = 0; n < 3; ++n)
                    QCOMPARE(piece.points[f[size_t(k)] * 3u + size_t(n)],
                             positions[strip.triangles[face][size_t(k)] * 3 + size_t(n)]);
            ++face;
        }
    }
    QCOMPARE(face, strip.triangles.size());
}

QTEST_GUILESS_MAIN(TestModelReader)
#include "tst_model_reader.moc"
