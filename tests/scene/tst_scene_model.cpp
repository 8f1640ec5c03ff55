#include "../support/Models.h"
#include "../support/ReaderSupport.h"
#include "../support/TestSupport.h"
#include "Graftal.h"
#include "LoggerOutput.h"
#include "MeshNormals.h"
#include "ModelImport.h"
#include "ModelReaderProcess.h"
#include "Random.h"
#include "Scene.h"
#include "SmoothNormals.h"

#include <cstring>
#include <lib3ds/file.h>
#include <lib3ds/mesh.h>
#include <lib3ds/node.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using testsupport::ScopedWorkDir;

namespace {
// The box lib3ds itself computes, with the same nodes at the same frame.
void lib3dsBox(const QString &path, float bmin[3], float bmax[3])
{
    Lib3dsFile *file = lib3ds_file_load(QFile::encodeName(path).constData());
    QVERIFY(file);
    if (!file->nodes)
        for (Lib3dsMesh *mesh = file->meshes; mesh; mesh = mesh->next) {
            Lib3dsNode *node = lib3ds_node_new_object();
            std::strcpy(node->name, mesh->name);
            node->parent_id = LIB3DS_NO_PARENT;
            lib3ds_file_insert_node(file, node);
        }
    lib3ds_file_eval(file, 1.0f);
    lib3ds_file_bounding_box_of_nodes(file, LIB3DS_TRUE, LIB3DS_FALSE, LIB3DS_FALSE, bmin, bmax);
    lib3ds_file_free(file);
}

struct Damage
{
    const char *what;
    QByteArray bytes;
};
} // namespace

class TestSceneModel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(testsupport::realModel("assimp_test1.3ds")),
                 "the real 3DS models are missing from tests/data");
    }
    void realModelsLoad_data();
    void realModelsLoad();
    void facesNumberAcrossMeshes();
    void faceIdColours();
    void coloursFollowMaterials();
    void boxMatchesLib3dsWhereItIsRight();
    void boxOfModelAtNegativeCoordinates();
    void secondModelReplacesEverything();
    void failedLoadLeavesSceneAsItWas();
    void damagedFilesAreRefused();
    void manyLoadsLeaveNothingBehind();
    void normalsMatchLib3dsAndSurviveManyFacesAtAPoint();
    void manySmoothingGroupsAtOnePoint();
    void smoothingByAngleAroundOnePosition_data();
    void smoothingByAngleAroundOnePosition();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestSceneModel::realModelsLoad_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("meshes");
    QTest::addColumn<int>("faces");
    QTest::newRow("cubes") << "assimp_cubes_with_alpha.3ds" << 5 << 60;
    QTest::newRow("test1") << "assimp_test1.3ds" << 9 << 108;
    QTest::newRow("camera") << "assimp_CameraRollAnimWithChildObject.3ds" << 2 << 24;
    QTest::newRow("room") << "deb-libirrlicht-doc_room.3ds" << 4 << 156;
    QTest::newRow("jeep") << "assimp-nonbsd_jeep1.3ds" << 7 << 2032;
}

void TestSceneModel::realModelsLoad()
{
    QFETCH(QString, file);
    QFETCH(int, meshes);
    QFETCH(int, faces);
    Scene scene;
    QString error;
    QVERIFY2(scene.loadModel(testsupport::realModel(file), error), qPrintable(error));
    QVERIFY(scene.loaded());
    QCOMPARE(scene.meshCount(), meshes);
    QCOMPARE(scene.faceCount(), faces);
    QCOMPARE(scene.meshColors().size(), meshes);
    int total = 0;
    for (const auto &list : scene.meshFaces())
        total += int(list.size());
    QCOMPARE(total, faces);
    for (int k = 0; k < 3; ++k) {
        QVERIFY(std::isfinite(scene.extent[k]) && scene.extent[k] >= 0.0f);
        QVERIFY(scene.boundsMin[k] <= scene.boundsMax[k]);
    }
    QCOMPARE(scene.background, QColor(Qt::white));
    QCOMPARE(scene.camera().worldEye, Vector3(0, 0, 800));
}

void TestSceneModel::facesNumberAcrossMeshes()
{
    ScopedWorkDir work;
    QVERIFY(testsupport::twoMeshModel().save("two.3ds"));
    Scene scene;
    QString error;
    QVERIFY2(scene.loadModel("two.3ds", error), qPrintable(error));
    QCOMPARE(scene.faceCount(), 3);
    QCOMPARE(scene.meshCount(), 3);
    QCOMPARE(scene.meshFaces()[0].size(), 2);
    QCOMPARE(scene.meshFaces()[1].size(), 1);
    QCOMPARE(scene.meshFaces()[2].size(), 0); // a mesh without faces keeps its place
    const MeshFace *roof = scene.meshFaces()[1][0];
    QCOMPARE(roof->faceIndex, 2);
    QCOMPARE(roof->meshIndex, 1);
    QCOMPARE(scene.face(2), roof);
    QCOMPARE(roof->vertex(0).position(), Vector3(0, 0, 5));
    QCOMPARE(roof->vertex(2).normal(), Vector3::zero);
    QCOMPARE(roof->edge1, Vector3(10, 0, 0));
    QCOMPARE(roof->edge2, Vector3(5, 10, 0));
    QCOMPARE(roof->normal, Vector3(0, 0, 1));
    const Vertex mid = roof->pointAt(0.5, 0.25);
    QCOMPARE(mid.position(), Vector3(6.25, 2.5, 5));
    QCOMPARE(mid.normal(), Vector3(0, 0, 1));
    // A degenerate triangle keeps a zero normal.
    const MeshFace flat({1, 1, 1}, {2, 2, 2}, {3, 3, 3}, 0, 0);
    QCOMPARE(flat.normal, Vector3::zero);
}

void TestSceneModel::faceIdColours()
{
    // The colours the model's face-id array is built with, as picking reads them back.
    using C = std::array<unsigned char, 3>;
    QCOMPARE(ModelImport::faceIdColor(0), (C{0, 0, 1}));
    QCOMPARE(ModelImport::faceIdColor(255), (C{0, 1, 0}));
    QCOMPARE(ModelImport::faceIdColor(65535), (C{1, 0, 0}));
    QCOMPARE(ModelImport::faceIdColor(0xFFFFFE), (C{255, 255, 255}));
    ScopedWorkDir work;
    QVERIFY(testsupport::twoMeshModel().save("two.3ds"));
    Scene scene;
    QString error;
    QVERIFY2(scene.loadModel("two.3ds", error), qPrintable(error));
    for (int f = 0; f < scene.faceCount(); ++f) {
        const C c = ModelImport::faceIdColor(size_t(f));
        scene.setPickPicture({{c[0], c[1], c[2]}, 1, 1});
        QCOMPARE(scene.pickFace(0, 0), scene.face(f));
    }
    scene.setPickPicture({{0, 0, 0}, 1, 1}); // the background
    QCOMPARE(scene.pickFace(0, 0), nullptr);
}

void TestSceneModel::coloursFollowMaterials()
{
    ScopedWorkDir work;
    QVERIFY(testsupport::twoMeshModel().save("two.3ds"));
    Scene scene;
    QString error;
    QVERIFY(scene.loadModel("two.3ds", error));
    // The second square face has no material and keeps red; the empty mesh carries
    // the colour of the last face before it.
    QCOMPARE(scene.meshColors()[0], (Scene::Rgb{1.0f, 0.0f, 0.0f}));
    QCOMPARE(scene.meshColors()[1], (Scene::Rgb{0.0f, 0.0f, 1.0f}));
    QCOMPARE(scene.meshColors()[2], (Scene::Rgb{0.0f, 0.0f, 1.0f}));

    ModelBuilder unnamed;
    ModelBuilder::Mesh &m = unnamed.addMesh("plain");
    m.addPoint(0, 0, 0);
    m.addPoint(1, 0, 0);
    m.addPoint(0, 1, 0);
    m.addFace(0, 1, 2, "no such material");
    QVERIFY(unnamed.save("plain.3ds"));
    QVERIFY(scene.loadModel("plain.3ds", error));
    const Scene::Rgb grey = scene.meshColors()[0];
    QVERIFY(grey[0] == grey[1] && grey[1] == grey[2] && grey[0] > 0.5f);
}

void TestSceneModel::boxMatchesLib3dsWhereItIsRight()
{
    const QStringList files{"assimp_cubes_with_alpha.3ds", "assimp_test1.3ds",
                            "assimp_CameraRollAnimWithChildObject.3ds",
                            "deb-libirrlicht-doc_room.3ds", "assimp-nonbsd_jeep1.3ds"};
    for (const QString &name : files) {
        const QString path = testsupport::realModel(name);
        float bmin[3], bmax[3];
        lib3dsBox(path, bmin, bmax);
        Scene scene;
        QString error;
        QVERIFY(scene.loadModel(path, error));
        for (int k = 0; k < 3; ++k) {
            const float tolerance = 1e-3f * std::max(1.0f, std::abs(bmin[k]));
            QVERIFY2(std::abs(scene.boundsMin[k] - bmin[k]) <= tolerance,
                     qPrintable(QString("%1 min %2: %3 vs %4")
                                    .arg(name)
                                    .arg(k)
                                    .arg(scene.boundsMin[k])
                                    .arg(bmin[k])));
            if (bmax[k] > 1e-30f) // lib3ds starts its maximum at FLT_MIN
                QVERIFY2(std::abs(scene.boundsMax[k] - bmax[k]) <=
                             1e-3f * std::max(1.0f, std::abs(bmax[k])),
                         qPrintable(QString("%1 max %2: %3 vs %4")
                                        .arg(name)
                                        .arg(k)
                                        .arg(scene.boundsMax[k])
                                        .arg(bmax[k])));
        }
    }
}

void TestSceneModel::boxOfModelAtNegativeCoordinates()
{
    ScopedWorkDir work;
    ModelBuilder b;
    b.addBox("low", {-30, -20, -10}, {-20, -5, -2}, QString());
    b.addBox("lower", {-50, -40, -30}, {-45, -35, -25}, QString());
    QVERIFY(b.save("negative.3ds"));
    Scene scene;
    QString error;
    QVERIFY(scene.loadModel("negative.3ds", error));
    QCOMPARE(scene.boundsMin[0], -50.0f);
    QCOMPARE(scene.boundsMax[0], -20.0f);
    QCOMPARE(scene.boundsMax[1], -5.0f);
    QCOMPARE(scene.boundsMax[2], -2.0f);
    QCOMPARE(scene.center[2], -16.0f);
    QCOMPARE(scene.extent[1], 35.0f);
}

void TestSceneModel::secondModelReplacesEverything()
{
    ScopedWorkDir work;
    QVERIFY(testsupport::twoMeshModel().save("two.3ds"));
    ModelBuilder other;
    other.addBox("box", {0, 0, 0}, {1, 1, 1}, QString());
    QVERIFY(other.save("box.3ds"));

    Scene scene;
    QString error;
    QVERIFY(scene.loadModel("two.3ds", error));
    auto g = Graftal::create(1, "g");
    scene.addInstance(scene.face(0), {0.2, 0.2}, g.get());
    scene.addInstance(scene.face(2), {0.1, 0.3}, g.get());
    QCOMPARE(GraftalInstance::liveCount(), 2);
    scene.background = Qt::black;

    QVERIFY(scene.loadModel("box.3ds", error));
    QCOMPARE(GraftalInstance::liveCount(), 0);
    QVERIFY(scene.collectInstances().empty());
    QCOMPARE(scene.meshCount(), 1);
    QCOMPARE(scene.faceCount(), 12);
    QCOMPARE(scene.meshFaces().size(), 1);
    QCOMPARE(scene.background, QColor(Qt::white));
    QCOMPARE(scene.modelPath(), QStringLiteral("box.3ds"));
}

void TestSceneModel::failedLoadLeavesSceneAsItWas()
{
    ScopedWorkDir work;
    QVERIFY(testsupport::twoMeshModel().save("two.3ds"));
    QByteArray broken = testsupport::readBytes("two.3ds");
    broken.truncate(broken.size() / 2);
    QVERIFY(testsupport::writeBytes("broken.3ds", broken));

    Scene scene;
    QString error;
    QVERIFY(!scene.loadModel("broken.3ds", error));
    QVERIFY(!scene.loaded());
    QVERIFY(error.startsWith(QStringLiteral("3DS file couldn't be loaded")));

    QVERIFY(scene.loadModel("two.3ds", error));
    auto g = Graftal::create(1, "g");
    scene.addInstance(scene.face(1), {0.2, 0.2}, g.get());
    scene.background = Qt::green;
    scene.commitTranslation(0, 0, 15);
    const Vector3 eyeBefore = scene.camera().worldEye;

    // Damaged and missing files, a folder and a named pipe (which must not keep the
    // reader waiting for a writer), and a reader that crashes, hangs or runs out of memory
    // on a good file.
    QVERIFY(QDir().mkdir("folder.3ds"));
    QCOMPARE(mkfifo("pipe.3ds", 0600), 0);
    const QList<std::pair<QString, QByteArray>> failures{
        {"broken.3ds", QByteArray()}, {"missing.3ds", QByteArray()}, {"folder.3ds", QByteArray()},
        {"pipe.3ds", QByteArray()},   {"two.3ds", "crash"},          {"two.3ds", "hang"},
        {"two.3ds", "memory"}};
    const testsupport::ShortReaderLimits limits;
    for (const auto &[bad, fault] : failures) {
        const testsupport::ReaderFault injected(fault);
        error.clear();
        QVERIFY2(!scene.loadModel(bad, error), qPrintable(bad + " " + fault));
        QVERIFY(error.startsWith(QStringLiteral("3DS file couldn't be loaded")));
        QVERIFY2(error.contains(bad + ": "), qPrintable(error));
        if (bad == "folder.3ds" || bad == "pipe.3ds")
            QVERIFY2(error.endsWith(QStringLiteral("it is not a regular file")), qPrintable(error));
        if (fault == "crash")
            QVERIFY2(error.endsWith(QStringLiteral("the reader crashed")), qPrintable(error));
        if (fault == "hang")
            QVERIFY2(error.endsWith(QStringLiteral("reading took longer than 2 s")),
                     qPrintable(error));
        if (fault == "memory")
            QVERIFY2(error.endsWith(QStringLiteral("the model needs more than 256 MB")),
                     qPrintable(error));
        QCOMPARE(scene.modelPath(), QStringLiteral("two.3ds"));
        QCOMPARE(scene.faceCount(), 3);
        QCOMPARE(scene.instanceCount(), 1);
        QCOMPARE(scene.background, QColor(Qt::green));
        QCOMPARE(scene.camera().worldEye, eyeBefore);
        QCOMPARE(scene.stateFileName(), QStringLiteral("scenes/two.dat"));
    }
}

namespace {
int openDescriptors()
{
    return int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

int readerResultMappings()
{
    QFile maps("/proc/self/maps");
    return maps.open(QIODevice::ReadOnly) ? int(maps.readAll().count("tuftmill-model")) : -1;
}

// Children of this process still in the process table, running or not yet reaped.
int childProcesses()
{
    int n = 0;
    const QByteArray self = QByteArray::number(getpid());
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        n += fields.size() > 1 && fields[1] == self;
    }
    return n;
}
} // namespace

// Loads that succeed, are refused, crash, run out of memory, time out or are cancelled
// leave no descriptor, no mapping of a result and no child process behind.
void TestSceneModel::manyLoadsLeaveNothingBehind()
{
    ScopedWorkDir work;
    QVERIFY(testsupport::writeBytes("bad.3ds", "MM\x06\x00\x00\x00garbage"));
    QVERIFY(testsupport::twoMeshModel().save("good.3ds"));
    const testsupport::ShortReaderLimits limits;
    QString problem;
    // The first load starts the worker threads, each with descriptors of its own.
    QVERIFY2(ModelImport::load("good.3ds", problem), qPrintable(problem));
    const int descriptors = openDescriptors();
    const int children = childProcesses();
    int loaded = 0;
    for (int i = 0; i < 36; ++i) {
        const char *faults[] = {"", "", "crash", "memory", "memory-crash", "hang"};
        const testsupport::ReaderFault fault(faults[i % 6]);
        if (i % 6 == 5) {
            // Cancelled while its reader runs: the reader hangs, so the load can end only by
            // the cancel (or, far later, by the time limit, which would show in `problem`).
            LoadControl control;
            std::thread canceller([&control, children] {
                while (childProcesses() <= children)
                    std::this_thread::yield();
                control.cancel = true;
            });
            QVERIFY(!ModelImport::load("good.3ds", problem, &control));
            canceller.join();
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        } else {
            loaded += ModelImport::load(i % 2 ? "bad.3ds" : "good.3ds", problem) != nullptr;
        }
    }
    {
        const testsupport::ReaderFault hang("hang");
        QVERIFY(!ModelImport::load("good.3ds", problem));
        QVERIFY(problem.contains("took longer"));
    }
    QCOMPARE(loaded, 6);
    QCOMPARE(openDescriptors(), descriptors);
    QCOMPARE(readerResultMappings(), 0);
    QCOMPARE(childProcesses(), children);
}

void TestSceneModel::damagedFilesAreRefused()
{
    ScopedWorkDir work;
    QVERIFY(testsupport::twoMeshModel().save("two.3ds"));
    const QByteArray good = testsupport::readBytes("two.3ds");

    auto withWord = [&](qint64 at, quint16 value) {
        QByteArray b = good;
        b[at] = char(value & 0xff);
        b[at + 1] = char(value >> 8);
        return b;
    };
    auto withDword = [&](qint64 at, quint32 value) {
        QByteArray b = good;
        for (int i = 0; i < 4; ++i)
            b[at + i] = char((value >> (8 * i)) & 0xff);
        return b;
    };
    const qint64 faceArray = testsupport::findChunk(good, 0x4120);
    const qint64 pointArray = testsupport::findChunk(good, 0x4110);
    QVERIFY(faceArray > 0 && pointArray > 0);

    const QList<Damage> damages{
        {"empty", QByteArray()},
        {"header only", good.left(6)},
        {"cut in half", good.left(good.size() / 2)},
        {"cut by one byte", good.left(good.size() - 1)},
        {"not a 3DS file", QByteArray("hello world, this is not a model at all")},
        {"main chunk length 0", withDword(2, 0)},
        {"face array length 0", withDword(faceArray + 2, 0)},
        {"point array longer than its parent", withDword(pointArray + 2, 0x7fffffff)},
        {"face count raised", withWord(faceArray + 6, 60000)},
        {"point count raised", withWord(pointArray + 6, 50000)},
        {"face uses missing point", withWord(faceArray + 8, 99)},
        {"point count lowered below the faces", withWord(pointArray + 6, 1)},
    };
    Scene scene;
    QString error;
    for (const Damage &d : damages) {
        QVERIFY(testsupport::writeBytes("damaged.3ds", d.bytes));
        error.clear();
        QVERIFY2(!scene.loadModel("damaged.3ds", error), d.what);
        // The first line for every failure, then the file and what is wrong with it.
        QCOMPARE(error.section('\n', 0, 0), QStringLiteral("3DS file couldn't be loaded"));
        QVERIFY2(error.section('\n', 1).startsWith(QStringLiteral("damaged.3ds: ")), d.what);
        QVERIFY2(error.section('\n', 1).size() > 15, d.what);
    }
    QVERIFY(!scene.loaded());
    QVERIFY(scene.loadModel("two.3ds", error));
}

void TestSceneModel::normalsMatchLib3dsAndSurviveManyFacesAtAPoint()
{
    // Where lib3ds's own computation is safe, ours gives the very same floats.
    for (const char *name :
         {"assimp-nonbsd_jeep1.3ds", "deb-libirrlicht-doc_room.3ds", "assimp_test1.3ds"}) {
        Lib3dsFile *file = lib3ds_file_load(
            QFile::encodeName(testsupport::realModel(QString::fromLatin1(name))).constData());
        QVERIFY(file);
        for (Lib3dsMesh *mesh = file->meshes; mesh; mesh = mesh->next) {
            const testsupport::MeshRecords records = testsupport::recordsOf(mesh);
            std::vector<float> faceNormals(3 * mesh->faces + 3);
            calculateFaceNormals(records.points.data(), records.faces.data(), mesh->faces,
                                 faceNormals.data());
            for (Lib3dsDword i = 0; i < mesh->faces; ++i)
                QVERIFY2(
                    std::memcmp(&faceNormals[3 * i], mesh->faceL[i].normal, 3 * sizeof(float)) == 0,
                    name);
            std::vector<float> theirs(9 * mesh->faces + 9), ours(9 * mesh->faces + 9);
            if (mesh->faces)
                lib3ds_mesh_calculate_normals(mesh,
                                              reinterpret_cast<Lib3dsVector *>(theirs.data()));
            calculateVertexNormals(records.faces.data(), mesh->faces, mesh->points,
                                   faceNormals.data(), ours.data());
            QVERIFY2(std::memcmp(theirs.data(), ours.data(), 9 * mesh->faces * sizeof(float)) == 0,
                     name);
        }
        lib3ds_file_free(file);
    }

    // A cone of 400 segments: 400 faces with distinct normals meet at its tip, more than
    // lib3ds's own computation can hold; a fan of 65,535 faces around one point, the most a
    // mesh can have.
    ScopedWorkDir work;
    for (const int n : {400, 65535}) {
        ModelBuilder b;
        ModelBuilder::Mesh &cone = b.addMesh("cone");
        const int tip = cone.addPoint(0, 0, 10);
        const int rim = std::min(n, 65534);
        for (int i = 0; i < rim; ++i)
            cone.addPoint(float(5 * std::cos(2 * M_PI * i / rim)),
                          float(5 * std::sin(2 * M_PI * i / rim)), 0);
        for (int i = 0; i < n; ++i)
            cone.addFace(tip, 1 + i % rim, 1 + (i + 1) % rim);
        QVERIFY(b.save("cone.3ds"));
        Lib3dsFile *file = lib3ds_file_load("cone.3ds");
        const testsupport::MeshRecords records = testsupport::recordsOf(file->meshes);
        std::vector<float> faceNormals(3 * n), normals(9 * n);
        calculateFaceNormals(records.points.data(), records.faces.data(), n, faceNormals.data());
        calculateVertexNormals(records.faces.data(), n, file->meshes->points, faceNormals.data(),
                               normals.data());
        for (int i = 0; i < n; ++i) {
            const float *tipNormal = &normals[9 * i];
            QVERIFY2(std::abs(tipNormal[0]) < 2e-3f && std::abs(tipNormal[1]) < 2e-3f &&
                         tipNormal[2] > 0.999f,
                     qPrintable(QString("%1: %2 %3 %4")
                                    .arg(i)
                                    .arg(tipNormal[0])
                                    .arg(tipNormal[1])
                                    .arg(tipNormal[2])));
        }
        lib3ds_file_free(file);
        Scene scene;
        QString error;
        QVERIFY2(scene.loadModel("cone.3ds", error), qPrintable(error));
        QCOMPARE(scene.faceCount(), n);
    }
}

void TestSceneModel::manySmoothingGroupsAtOnePoint()
{
    // 40 faces around one point, each in its own pair of smoothing groups: the first 32
    // sets are smoothed exactly as lib3ds does, the rest by their lowest group alone.
    ModelBuilder b;
    ModelBuilder::Mesh &fan = b.addMesh("fan");
    const int centre = fan.addPoint(0, 0, 0);
    const int n = 40;
    for (int i = 0; i <= n; ++i)
        fan.addPoint(float(std::cos(M_PI * i / n)), float(std::sin(M_PI * i / n)),
                     float(0.1 * (i % 3)));
    for (int i = 0; i < n; ++i)
        fan.addFace(centre, 1 + i, 2 + i);
    ScopedWorkDir work;
    QVERIFY(b.save("fan.3ds"));
    Lib3dsFile *file = lib3ds_file_load("fan.3ds");
    QVERIFY(file);
    Lib3dsMesh *mesh = file->meshes;
    for (int i = 0; i < n; ++i)
        mesh->faceL[i].smoothing = (1u << (i % 30)) | (1u << (30 + i / 30));
    testsupport::MeshRecords records = testsupport::recordsOf(mesh);
    std::vector<float> faceNormals(3 * n), ours(9 * n), theirs(9 * n);
    calculateFaceNormals(records.points.data(), records.faces.data(), n, faceNormals.data());
    calculateVertexNormals(records.faces.data(), n, mesh->points, faceNormals.data(), ours.data());
    lib3ds_mesh_calculate_normals(mesh, reinterpret_cast<Lib3dsVector *>(theirs.data()));
    // Faces are visited latest first, so the sets of the last 32 faces are the exact ones.
    for (int i = n - 32; i < n; ++i)
        QVERIFY2(std::memcmp(&ours[9 * i], &theirs[9 * i], 3 * sizeof(float)) == 0,
                 qPrintable(QString::number(i)));
    for (int i = 0; i < n - 32; ++i) {
        mesh->faceL[i].smoothing &= ~(mesh->faceL[i].smoothing - 1); // lowest group only
        for (int j = 0; j < n; ++j)
            if (j != i)
                mesh->faceL[j].smoothing = records.faces[size_t(j)].smoothing;
        lib3ds_mesh_calculate_normals(mesh, reinterpret_cast<Lib3dsVector *>(theirs.data()));
        QVERIFY2(std::memcmp(&ours[9 * i], &theirs[9 * i], 3 * sizeof(float)) == 0,
                 qPrintable(QString::number(i)));
        mesh->faceL[i].smoothing = records.faces[size_t(i)].smoothing;
    }
    lib3ds_file_free(file);
}

// What the corners at the tip of a fan get when smoothed by angle.
enum class Tip
{
    Own,    // each its face's normal: the faces lie farther apart than the angle
    Shared, // all one normal, straight up
    Within  // each within the angle of its face's normal
};

void TestSceneModel::smoothingByAngleAroundOnePosition_data()
{
    QTest::addColumn<int>("spokes"); // faces round the tip
    QTest::addColumn<double>("height"); // of the tip over the ring of radius 1
    QTest::addColumn<double>("degrees");
    QTest::addColumn<int>("tip");
    QTest::newRow("gentle fan") << 8 << 0.1 << 60.0 << int(Tip::Shared);
    QTest::newRow("sharp pyramid") << 4 << 5.0 << 60.0 << int(Tip::Own);
    QTest::newRow("sharp pyramid at 180") << 4 << 5.0 << 180.0 << int(Tip::Shared);
    // Beyond the faces a corner is compared with one by one: sorted by direction first.
    QTest::newRow("gentle fan of 200") << 200 << 0.1 << 60.0 << int(Tip::Shared);
    QTest::newRow("cone of 200") << 200 << 5.0 << 60.0 << int(Tip::Within);
}

void TestSceneModel::smoothingByAngleAroundOnePosition()
{
    QFETCH(int, spokes);
    QFETCH(double, height);
    QFETCH(double, degrees);
    QFETCH(int, tip);
    // Every face with corners of its own, the first tip at -0: one position all the same.
    std::vector<MeshFace> faces;
    const auto ring = [&](int k) {
        const double a = 2 * M_PI * k / spokes;
        return Vector3(float(std::cos(a)), float(std::sin(a)), 0);
    };
    for (int k = 0; k < spokes; ++k)
        faces.emplace_back(k == 0 ? Vector3(-0.0, -0.0, height) : Vector3(0, 0, height), ring(k),
                           ring(k + 1), 0, k);
    std::vector<float> normals(faces.size() * 9);
    QVERIFY(smoothnormals::compute(faces.data(), faces.size(), degrees, normals.data()));
    const double limit = std::cos(degrees * M_PI / 180.0) - 1e-6;
    int own = 0;
    for (int k = 0; k < spokes; ++k) {
        const Vector3 n(normals[size_t(k) * 9], normals[size_t(k) * 9 + 1],
                        normals[size_t(k) * 9 + 2]);
        const double along = Vector3::dot(n, faces[size_t(k)].normal);
        const QString at = QStringLiteral("face %1: %2 %3 %4").arg(k).arg(n.x).arg(n.y).arg(n.z);
        QVERIFY2(std::abs(n.lengthSquared() - 1.0) < 1e-5, qPrintable(at));
        QVERIFY2(along >= limit, qPrintable(at));
        own += along > 1.0 - 1e-6;
        if (Tip(tip) == Tip::Shared)
            QVERIFY2(n.z > 1.0 - 1e-6, qPrintable(at));
        if (Tip(tip) == Tip::Within)
            QVERIFY2(n.z < 0.5, qPrintable(at));
    }
    QCOMPARE(own == spokes, Tip(tip) == Tip::Own);
}

QTEST_MAIN(TestSceneModel)
#include "tst_scene_model.moc"
