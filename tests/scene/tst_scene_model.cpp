#include "../support/Models.h"
#include "../support/TestSupport.h"
#include "Graftal.h"
#include "LoggerOutput.h"
#include "MeshNormals.h"
#include "Model3dsReader.h"
#include "Random.h"
#include "Scene.h"

#include <cstring>
#include <lib3ds/file.h>
#include <lib3ds/mesh.h>
#include <lib3ds/node.h>

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

// Chunk offsets of a file, for damaging it at its headers.
QVector<qint64> chunkOffsets(const QByteArray &bytes)
{
    QVector<qint64> offsets;
    // Walk every position that looks like a chunk header inside the file.
    for (qint64 at = 0; at + 6 <= bytes.size(); ++at) {
        const quint32 length = quint8(bytes[at + 2]) | (quint8(bytes[at + 3]) << 8) |
                               (quint8(bytes[at + 4]) << 16) |
                               (quint32(quint8(bytes[at + 5])) << 24);
        if (length >= 6 && at + length <= bytes.size() &&
            (at == 0 || quint8(bytes[at + 1]) >= 0x3d))
            offsets.append(at);
    }
    return offsets;
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
        QVERIFY2(QFile::exists(testsupport::sharedModel("assimp_test1.3ds")),
                 "the shared 3DS models are not beside the project (../shared/models3ds)");
    }
    void sharedModelsLoad_data();
    void sharedModelsLoad();
    void facesNumberAcrossMeshes();
    void faceIdColours();
    void coloursFollowMaterials();
    void boxMatchesLib3dsWhereItIsRight();
    void boxOfModelAtNegativeCoordinates();
    void secondModelReplacesEverything();
    void failedLoadLeavesSceneAsItWas();
    void damagedFilesAreRefused();
    void fuzzedFilesNeverCrash();
    void tooManyFacesAreRefused();
    void normalsMatchLib3dsAndSurviveManyFacesAtAPoint();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestSceneModel::sharedModelsLoad_data()
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

void TestSceneModel::sharedModelsLoad()
{
    QFETCH(QString, file);
    QFETCH(int, meshes);
    QFETCH(int, faces);
    Scene scene;
    QString error;
    QVERIFY2(scene.loadModel(testsupport::sharedModel(file), error), qPrintable(error));
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
    QCOMPARE(scene.worldEye, Vector3(0, 0, 800));
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
    using C = std::array<unsigned char, 3>;
    QCOMPARE(Scene::faceIdColor(0), (C{0, 0, 1}));
    QCOMPARE(Scene::faceIdColor(255), (C{0, 1, 0}));
    QCOMPARE(Scene::faceIdColor(65535), (C{1, 0, 0}));
    QCOMPARE(Scene::faceIdColor(0xFFFFFE), (C{255, 255, 255}));
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
        const QString path = testsupport::sharedModel(name);
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
    const Vector3 eyeBefore = scene.worldEye;

    for (const QString &bad : {QStringLiteral("broken.3ds"), QStringLiteral("missing.3ds")}) {
        error.clear();
        QVERIFY(!scene.loadModel(bad, error));
        QVERIFY(error.startsWith(QStringLiteral("3DS file couldn't be loaded")));
        QVERIFY2(error.contains(bad), qPrintable(error));
        QCOMPARE(scene.modelPath(), QStringLiteral("two.3ds"));
        QCOMPARE(scene.faceCount(), 3);
        QCOMPARE(scene.instanceCount(), 1);
        QCOMPARE(scene.background, QColor(Qt::green));
        QCOMPARE(scene.worldEye, eyeBefore);
        QCOMPARE(scene.stateFileName(), QStringLiteral("scenes/two.dat"));
    }
}

void TestSceneModel::damagedFilesAreRefused()
{
    ScopedWorkDir work;
    QVERIFY(testsupport::twoMeshModel().save("two.3ds"));
    const QByteArray good = testsupport::readBytes("two.3ds");
    QString problem;
    QVERIFY(Model3dsReader::parse(good, problem));

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

    QList<Damage> damages{
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
    for (const Damage &d : damages) {
        problem.clear();
        QVERIFY2(!Model3dsReader::parse(d.bytes, problem), d.what);
        QVERIFY2(!problem.isEmpty(), d.what);
    }

    // Through the scene: the message names the file and says what is wrong.
    QVERIFY(testsupport::writeBytes("zero.3ds", withDword(faceArray + 2, 0)));
    Scene scene;
    QString error;
    QVERIFY(!scene.loadModel("zero.3ds", error));
    QCOMPARE(error.section('\n', 0, 0), QStringLiteral("3DS file couldn't be loaded"));
    QVERIFY(error.section('\n', 1).contains(QStringLiteral("zero.3ds")));
}

void TestSceneModel::fuzzedFilesNeverCrash()
{
    QStringList sources;
    for (const char *name : {"assimp_CameraRollAnimWithChildObject.3ds", "assimp_test1.3ds",
                             "deb-libirrlicht-doc_room.3ds", "assimp_cubes_with_alpha.3ds"})
        sources << testsupport::sharedModel(QString::fromLatin1(name));
    quint32 seed = 20261207;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    int accepted = 0, tried = 0;
    for (const QString &source : sources) {
        const QByteArray original = testsupport::readBytes(source);
        QVERIFY(!original.isEmpty());
        const QVector<qint64> headers = chunkOffsets(original);
        for (int i = 0; i < 800; ++i) {
            QByteArray b = original;
            switch (next() % 4) {
            case 0: // a byte changed anywhere
                b[next() % b.size()] = char(next());
                break;
            case 1: { // a byte changed in a chunk header (id or length)
                const qint64 at = headers[next() % headers.size()] + next() % 6;
                b[at] = char(next());
                break;
            }
            case 2: // cut short
                b.truncate(next() % b.size());
                break;
            default: // a count or index pushed to an extreme
                b[next() % b.size()] = char((next() & 1) ? 0xff : 0x00);
                b[next() % b.size()] = char(0x7f);
                break;
            }
            QString problem;
            Lib3dsFilePtr file = Model3dsReader::parse(b, problem);
            ++tried;
            if (file) {
                ++accepted;
                lib3ds_file_eval(file.get(), 1.0f);
            }
        }
    }
    // Many mutations still make readable files; all of them were handled.
    QVERIFY(accepted > 0 && accepted < tried);
}

void TestSceneModel::tooManyFacesAreRefused()
{
    // Counts only: the check refuses before it would walk the faces.
    Lib3dsFilePtr file(lib3ds_file_new());
    for (int i = 0; i < 257; ++i) {
        Lib3dsMesh *mesh = lib3ds_mesh_new(QByteArray::number(i).constData());
        mesh->faces = 65535;
        lib3ds_file_insert_mesh(file.get(), mesh);
    }
    QString problem;
    QVERIFY(!Model3dsReader::checkModel(file.get(), problem));
    QVERIFY2(problem.contains(QStringLiteral("16777215")), qPrintable(problem));
    for (Lib3dsMesh *mesh = file->meshes; mesh; mesh = mesh->next)
        mesh->faces = 0;
}

void TestSceneModel::normalsMatchLib3dsAndSurviveManyFacesAtAPoint()
{
    // Where lib3ds's own computation is safe, ours gives the very same floats.
    for (const char *name :
         {"assimp-nonbsd_jeep1.3ds", "deb-libirrlicht-doc_room.3ds", "assimp_test1.3ds"}) {
        Lib3dsFile *file = lib3ds_file_load(
            QFile::encodeName(testsupport::sharedModel(QString::fromLatin1(name))).constData());
        QVERIFY(file);
        for (Lib3dsMesh *mesh = file->meshes; mesh; mesh = mesh->next) {
            std::vector<float> theirs(9 * mesh->faces + 9), ours(9 * mesh->faces + 9);
            if (mesh->faces)
                lib3ds_mesh_calculate_normals(mesh,
                                              reinterpret_cast<Lib3dsVector *>(theirs.data()));
            calculateVertexNormals(mesh, ours.data());
            QVERIFY2(std::memcmp(theirs.data(), ours.data(), 9 * mesh->faces * sizeof(float)) == 0,
                     name);
        }
        lib3ds_file_free(file);
    }

    // A cone of 400 segments: 400 faces with distinct normals meet at its tip.
    ScopedWorkDir work;
    ModelBuilder b;
    ModelBuilder::Mesh &cone = b.addMesh("cone");
    const int tip = cone.addPoint(0, 0, 10);
    const int n = 400;
    for (int i = 0; i < n; ++i)
        cone.addPoint(float(5 * std::cos(2 * M_PI * i / n)), float(5 * std::sin(2 * M_PI * i / n)),
                      0);
    for (int i = 0; i < n; ++i)
        cone.addFace(tip, 1 + i, 1 + (i + 1) % n);
    QVERIFY(b.save("cone.3ds"));
    Lib3dsFile *file = lib3ds_file_load("cone.3ds");
    std::vector<float> normals(9 * n);
    calculateVertexNormals(file->meshes, normals.data());
    for (int i = 0; i < n; ++i) {
        const float *tipNormal = &normals[9 * i];
        QVERIFY(std::abs(tipNormal[0]) < 1e-3f && std::abs(tipNormal[1]) < 1e-3f &&
                tipNormal[2] > 0.999f);
    }
    lib3ds_file_free(file);
    Scene scene;
    QString error;
    QVERIFY2(scene.loadModel("cone.3ds", error), qPrintable(error));
    QCOMPARE(scene.faceCount(), n);
}

QTEST_MAIN(TestSceneModel)
#include "tst_scene_model.moc"
