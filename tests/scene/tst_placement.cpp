#include "../support/Models.h"
#include "../support/TestSupport.h"
#include "Graftal.h"
#include "LoggerOutput.h"
#include "Random.h"
#include "Scene.h"
#include "TreeManager.h"

#include <QDataStream>
#include <QSet>
#include <QTreeWidget>
#include <cmath>
#include <set>

using testsupport::ScopedWorkDir;
Q_DECLARE_METATYPE(GraftalFade)

namespace {
// A seed after which the random source returns 32767.
quint32 seedGiving32767()
{
    const quint32 a = 214013u;
    quint32 inverse = a; // Newton's iteration for the inverse modulo 2^32
    for (int i = 0; i < 5; ++i)
        inverse *= 2u - a * inverse;
    return (0x7fff0000u - 2531011u) * inverse;
}

QByteArray bigEndianDouble(double d)
{
    QByteArray b;
    QDataStream s(&b, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::BigEndian);
    s << d;
    return b;
}

// A working directory with the two-mesh model loaded and a library of two graftals.
struct Fixture
{
    ScopedWorkDir work;
    QTreeWidget tree;
    TreeManager *library;
    Scene scene;
    Graftal *first = nullptr;
    Graftal *second = nullptr;

    Fixture()
    {
        QDir().mkdir(QStringLiteral("scenes"));
        TreeManager::destroyInstance();
        library = TreeManager::instance(&tree);
        library->addGraftal();
        library->addGraftal();
        first = library->graftalById(1);
        second = library->graftalById(2);
        scene.setGraftalLookup(library);
        testsupport::twoMeshModel().save(QStringLiteral("two.3ds"));
        QString error;
        loaded = scene.loadModel(QStringLiteral("two.3ds"), error);
        scene.setCurrentGraftal(first);
    }
    ~Fixture() { TreeManager::destroyInstance(); }
    bool loaded = false;

    const MeshFace *square() const { return scene.face(0); }
    const MeshFace *roof() const { return scene.face(2); }
    int listSize(int mesh, int graftalId) const
    {
        auto it = scene.instancesByKey().find({mesh, graftalId});
        return it == scene.instancesByKey().end() ? 0 : int(it->second.size());
    }
};
} // namespace

class TestPlacement : public QObject
{
    Q_OBJECT
private slots:
    void randomPointsLieOnTheTriangle();
    void instancesAreFiledByMeshAndGraftal();
    void quadFollowsTheSurfaceAngle_data();
    void quadFollowsTheSurfaceAngle();
    void variationIsSeededByPlace();
    void densityStrokeCountsFromThePress();
    void densityStrokeLeavesOthersAlone();
    void densityFaceChoice();
    void strokeWithoutFaceOrGraftalDoesNothing();
    void stateRoundTrip();
    void stateBytesAreExact();
    void stateNamesAndSharing();
    void unknownGraftalsAreDropped();
    void aRemovedGraftalNeverComesBackByUndo();
    void damagedStateFilesLoadWhatIsSound();
    void failedLoadsChangeNothing();
    void failedSaveIsReported();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestPlacement::randomPointsLieOnTheTriangle()
{
    Random::reseedForTests(1);
    double sumU = 0;
    for (int i = 0; i < 20000; ++i) {
        const QPointF p = Scene::randomBarycentric();
        QVERIFY(p.x() >= 0 && p.y() >= 0 && p.x() + p.y() <= 1.0);
        const double u = p.x() * 32767, v = p.y() * 32767;
        QVERIFY(std::abs(u - std::round(u)) < 1e-6 && std::abs(v - std::round(v)) < 1e-6);
        sumU += p.x();
    }
    // Uniform over the triangle: the mean of u is a third.
    QVERIFY(std::abs(sumU / 20000 - 1.0 / 3.0) < 0.01);
}

void TestPlacement::instancesAreFiledByMeshAndGraftal()
{
    Fixture f;
    QVERIFY(f.loaded);
    f.scene.clearInstances(); // nothing to clear: no effect
    QCOMPARE(f.scene.instanceCount(), 0);
    GraftalInstance *a = f.scene.addInstance(f.square(), {0.25, 0.5}, f.first);
    f.scene.addInstance(f.scene.face(1), {0.1, 0.1}, f.first);
    f.scene.addInstance(f.square(), {0.1, 0.1}, f.second);
    f.scene.addInstance(f.roof(), {0.1, 0.1}, f.first);
    QCOMPARE(f.listSize(0, 1), 2);
    QCOMPARE(f.listSize(0, 2), 1);
    QCOMPARE(f.listSize(1, 1), 1);
    QCOMPARE(f.scene.instancesByKey().size(), size_t(3));
    QCOMPARE(a->position, Vector3(7.5, 5, 0)); // (0,0,0) + 0.25 (10,0,0) + 0.5 (10,10,0)
    QCOMPARE(a->normal, Vector3(0, 0, 1));
    QCOMPARE(int(f.scene.collectInstances().size()), 4);
    f.scene.clearInstances();
    QVERIFY(f.scene.collectInstances().empty());
    QCOMPARE(GraftalInstance::liveCount(), 0);
}

void TestPlacement::quadFollowsTheSurfaceAngle_data()
{
    QTest::addColumn<double>("d");
    QTest::addColumn<double>("alpha");
    QTest::addColumn<double>("size");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<GraftalFade>("fade");
    QTest::addColumn<double>("hidden"); // what the fade takes away, where every one shows
    const GraftalFade plain, wide{{0.9, 0.95}}, narrow{{0.2, 0.3}}, all{{}, true};
    QTest::newRow("facing the viewer") << 1.0 << 0.0 << 0.0 << false << plain << 0.0;
    QTest::newRow("silhouette") << 0.0 << 1.0 << 2.0 << true << plain << 0.0;
    QTest::newRow("just below 0.1") << 0.099 << 1.0 << 2.0 << true << plain << 0.0;
    QTest::newRow("0.35: half size") << 0.35 << 1.0 << 1.0 << true << plain << 0.0;
    QTest::newRow("0.55: fading") << 0.55 << 0.75 << 0.2 << true << plain << 0.0;
    QTest::newRow("0.6: gone") << 0.6 << 0.5 << 0.0 << false << plain << 0.0;
    QTest::newRow("facing away") << -0.8 << 1.0 << 2.0 << true << plain << 0.0;
    // Other ranges stretch the same rules: whole below a fifth of `from`, half size at
    // 0.7 × `from`, gone half way through the fade.
    QTest::newRow("wide, 0.7: whole alpha") << 0.7 << 1.0 << 4.0 * (0.6 - 0.35 / 0.9) << true
                                            << wide << 0.0;
    QTest::newRow("wide, 0.63: half size") << 0.63 << 1.0 << 1.0 << true << wide << 0.0;
    QTest::newRow("wide, 0.925: gone") << 0.925 << 0.5 << 0.0 << false << wide << 0.0;
    QTest::newRow("narrow, 0.25: gone") << 0.25 << 0.5 << 0.0 << false << narrow << 0.0;
    QTest::newRow("narrow, 0.02: whole") << 0.02 << 1.0 << 2.0 << true << narrow << 0.0;
    // Shown whole and opaque, marked by what the fade would take.
    QTest::newRow("all, face on") << 1.0 << 1.0 << 2.0 << true << all << 1.0;
    QTest::newRow("all, facing the viewer") << 0.9 << 1.0 << 2.0 << true << all << 1.0;
    QTest::newRow("all, fading") << 0.55 << 1.0 << 2.0 << true << all << 1.0 - 0.75 * 0.1;
    QTest::newRow("all, half size") << 0.35 << 1.0 << 2.0 << true << all << 0.5;
    QTest::newRow("all, silhouette") << 0.0 << 1.0 << 2.0 << true << all << 0.0;
}

void TestPlacement::quadFollowsTheSurfaceAngle()
{
    QFETCH(double, d);
    QFETCH(double, alpha);
    QFETCH(double, size);
    QFETCH(bool, visible);
    QFETCH(GraftalFade, fade);
    QFETCH(double, hidden);
    const MeshFace floor({0, 0, 0}, {10, 0, 0}, {0, 10, 0}, 0, 0); // normal +z
    auto g = Graftal::create(1, "g");
    g->setBaseSize(2.0);
    const Vector3 eye(0, -100, 0);
    // A view direction whose angle to the floor gives the wanted d.
    const Vector3 viewDir(0, std::sqrt(std::max(0.0, 1 - d * d)), -d);
    GraftalInstance instance(&floor, {0.2, 0.3}, g.get());
    const GraftalInstance::Quad q = instance.quad(viewDir, 1.0, fade);
    QVERIFY2(std::abs(q.alpha - alpha) < 1e-9, qPrintable(QString::number(q.alpha)));
    QVERIFY2(std::abs(q.hidden - hidden) < 1e-9, qPrintable(QString::number(q.hidden)));
    QVERIFY2(std::abs(q.size - size) < 1e-9, qPrintable(QString::number(q.size)));
    QCOMPARE(q.visible, visible);
    if (visible && !fade.showAll) {
        // Standing on the point along the normal, its width across the view.
        QCOMPARE((q.corners[0] + q.corners[1]) * 0.5, instance.position);
        QVERIFY(std::abs((q.corners[3] - q.corners[0]).z - 2 * size) < 1e-9);
        QVERIFY(std::abs((q.corners[1] - q.corners[0]).x - 2 * size) < 1e-9);
    } else if (visible) {
        // Shown whole, a card is seen as a card even face on: its height across the view
        // stays near its size, never an edge-on sliver.
        const Vector3 height = q.corners[3] - q.corners[0];
        const Vector3 seen = height - Vector3::dot(height, viewDir) * viewDir;
        QVERIFY2(seen.lengthSquared() >= 0.8 * 0.8 * size * size,
                 qPrintable(QString::number(std::sqrt(seen.lengthSquared()))));
        QVERIFY(std::abs(std::sqrt((q.corners[1] - q.corners[0]).lengthSquared()) - 2 * size) < 1e-9);
    }
    QCOMPARE(instance.distanceSquaredToEye(eye),
             Vector3::dot(instance.position - eye, instance.position - eye));
    g->setBaseSize(0.0009);
    QVERIFY(!instance.quad(viewDir, 1.0, fade).visible);
    // The default range leaves every facing as it is, bit for bit: today's quads.
    for (int i = -1000; i <= 1000; ++i)
        QCOMPARE(FadeRange{}.onDefaultRange(i / 1000.0), i / 1000.0);
}

// Each instance varies by where it stands, within the graftal's amounts: the same place
// gives the same quad, other places others; back at none the quad is the graftal's own.
void TestPlacement::variationIsSeededByPlace()
{
    const MeshFace floor({0, 0, 0}, {10, 0, 0}, {0, 10, 0}, 2, 7); // normal +z
    auto g = Graftal::create(1, "g");
    const Vector3 viewDir = Vector3(0, 1, -0.2).normalized();
    const GraftalInstance plainOne(&floor, {0.2, 0.3}, g.get());
    const GraftalInstance::Quad plain = plainOne.quad(viewDir);
    g->setVariation({0.3, 0.5, 25, 0, 0});
    QSet<double> sizes, leans;
    for (int i = 1; i <= 100; ++i) {
        const GraftalInstance one(&floor, {0.2, 0.001 * i}, g.get()), twin(&floor, {0.2, 0.001 * i}, g.get());
        const GraftalInstance::Quad q = one.quad(viewDir), t = twin.quad(viewDir);
        QVERIFY(std::equal(q.corners, q.corners + 4, t.corners));
        const double width = std::sqrt((q.corners[1] - q.corners[0]).lengthSquared() /
                                       (plain.corners[1] - plain.corners[0]).lengthSquared());
        const double lean = std::acos(std::min(1.0, (q.corners[3] - q.corners[0]).z / (2 * q.size)));
        QVERIFY(std::abs(q.size / plain.size - 1) <= 0.3 + 1e-9 && lean <= 25 * M_PI / 180 + 1e-9);
        QVERIFY(std::abs(width * plain.size / q.size - 1) <= 0.5 + 1e-9);
        sizes.insert(q.size);
        leans.insert(std::round(lean * 180 / M_PI));
    }
    QVERIFY(sizes.size() == 100 && leans.size() > 15);
    g->setVariation({});
    const GraftalInstance::Quad back = plainOne.quad(viewDir);
    QVERIFY(std::equal(back.corners, back.corners + 4, plain.corners) && !plainOne.variation());
}

void TestPlacement::densityStrokeCountsFromThePress()
{
    Fixture f;
    for (int i = 0; i < 3; ++i)
        f.scene.addInstance(f.square(), {0.2, 0.2}, f.first);
    const std::vector<GraftalInstance *> before = f.scene.collectInstances();
    std::set<GraftalInstance *> original(before.begin(), before.end());

    f.scene.beginDensityStroke(f.scene.face(1));
    QVERIFY(f.scene.allInstances().empty());
    f.scene.updateDensityStroke(10);
    QCOMPARE(f.listSize(0, 1), 43);
    f.scene.updateDensityStroke(-5); // 3 - 20 is raised to 0
    QCOMPARE(f.listSize(0, 1), 0);
    QCOMPARE(GraftalInstance::liveCount(), 43); // taken off, not yet gone
    f.scene.updateDensityStroke(0);
    QCOMPARE(f.listSize(0, 1), 3);
    const std::vector<GraftalInstance *> after = f.scene.collectInstances();
    QCOMPARE(std::set<GraftalInstance *>(after.begin(), after.end()), original);
    f.scene.endDensityStroke();
    QCOMPARE(GraftalInstance::liveCount(), 3);
    QCOMPARE(f.scene.allInstances().size(), size_t(3));
    QCOMPARE(f.scene.removedInstanceCount(), 0);

    // Instances removed and not put back are destroyed at the release for good.
    f.scene.beginDensityStroke(f.square());
    f.scene.updateDensityStroke(-1);
    f.scene.endDensityStroke();
    QCOMPARE(GraftalInstance::liveCount(), 0);
    f.scene.beginDensityStroke(f.square());
    f.scene.updateDensityStroke(1);
    QCOMPARE(f.listSize(0, 1), 4);
    f.scene.endDensityStroke();
    QCOMPARE(f.scene.densityMesh(), 0); // kept after the release
}

void TestPlacement::densityStrokeLeavesOthersAlone()
{
    Fixture f;
    f.scene.addInstance(f.square(), {0.2, 0.2}, f.second);
    f.scene.addInstance(f.roof(), {0.2, 0.2}, f.first);
    f.scene.beginDensityStroke(f.square());
    f.scene.updateDensityStroke(25);
    f.scene.updateDensityStroke(-30);
    f.scene.updateDensityStroke(7);
    f.scene.endDensityStroke();
    QCOMPARE(f.listSize(0, 1), 28);
    QCOMPARE(f.listSize(0, 2), 1);
    QCOMPARE(f.listSize(1, 1), 1);
    for (const auto &instance : f.scene.instancesByKey().at({0, 1})) {
        QCOMPARE(instance->face()->meshIndex, 0);
        QCOMPARE(instance->graftal(), f.first);
    }
}

void TestPlacement::densityFaceChoice()
{
    Fixture f;
    // A mesh of one triangle always gets face 0.
    f.scene.beginDensityStroke(f.roof());
    f.scene.updateDensityStroke(50);
    for (const auto &instance : f.scene.instancesByKey().at({1, 1}))
        QCOMPARE(instance->face(), f.roof());
    f.scene.endDensityStroke();

    // The last face of a mesh only when the random source gives 32767.
    f.scene.beginDensityStroke(f.square());
    Random::reseedForTests(seedGiving32767());
    f.scene.updateDensityStroke(1); // four graftals; the first draws 32767
    QCOMPARE(f.scene.instancesByKey().at({0, 1}).front()->face()->faceIndex, 1);
    Random::reseedForTests(1);
    const int before = 0;
    int lastFace = before;
    for (const auto &instance : f.scene.instancesByKey().at({0, 1}))
        lastFace += instance->face()->faceIndex;
    f.scene.updateDensityStroke(200);
    int lastFaceAfter = 0;
    for (const auto &instance : f.scene.instancesByKey().at({0, 1}))
        lastFaceAfter += instance->face()->faceIndex;
    QCOMPARE(lastFaceAfter, lastFace); // 800 more graftals, none on the last face
    f.scene.endDensityStroke();
}

void TestPlacement::strokeWithoutFaceOrGraftalDoesNothing()
{
    Fixture f;
    f.scene.addInstance(f.square(), {0.2, 0.2}, f.first);
    f.scene.endDensityStroke(); // no stroke yet
    f.scene.beginDensityStroke(nullptr);
    f.scene.updateDensityStroke(30);
    f.scene.endDensityStroke();
    QCOMPARE(f.scene.instanceCount(), 1);
    f.scene.setCurrentGraftal(nullptr);
    f.scene.beginDensityStroke(f.square());
    f.scene.updateDensityStroke(30);
    f.scene.endDensityStroke();
    f.scene.paintAt(10, 10);
    QCOMPARE(f.scene.instanceCount(), 1);
}

void TestPlacement::stateRoundTrip()
{
    Fixture f;
    Random::reseedForTests(7);
    for (int i = 0; i < 5; ++i)
        f.scene.addInstance(f.scene.face(i % 3), Scene::randomBarycentric(),
                            i % 2 ? f.first : f.second);
    f.scene.background = QColor(12, 34, 56);
    QVERIFY(f.scene.saveState());
    QCOMPARE(QFileInfo("scenes/two.dat").size(), 15 + 24 * 5);

    std::map<Scene::InstanceKey, std::vector<std::pair<int, QPointF>>> saved;
    for (const auto &[key, list] : f.scene.instancesByKey())
        for (const auto &i : list)
            saved[key].push_back({i->face()->faceIndex, i->barycentric});
    for (int i = 0; i < 3; ++i) // more painting after the save
        f.scene.addInstance(f.scene.face(0), {0.5, 0.5}, f.first);
    f.scene.background = Qt::black;

    QVERIFY(f.scene.loadState());
    QCOMPARE(f.scene.background, QColor(12, 34, 56));
    std::map<Scene::InstanceKey, std::vector<std::pair<int, QPointF>>> loaded;
    for (const auto &[key, list] : f.scene.instancesByKey())
        for (const auto &i : list)
            loaded[key].push_back({i->face()->faceIndex, i->barycentric});
    QCOMPARE(loaded.size(), saved.size());
    for (const auto &[key, list] : saved) {
        QCOMPARE(loaded[key].size(), list.size());
        for (size_t i = 0; i < list.size(); ++i) {
            QCOMPARE(loaded[key][i].first, list[i].first);
            QCOMPARE(loaded[key][i].second, list[i].second);
        }
    }
    QCOMPARE(f.scene.allInstances().size(), size_t(5));
}

void TestPlacement::stateBytesAreExact()
{
    Fixture f;
    QVERIFY(f.scene.saveState());
    QCOMPARE(testsupport::readBytes("scenes/two.dat"), QByteArray::fromHex("01"
                                                                           "ffff"
                                                                           "ffff"
                                                                           "ffff"
                                                                           "ffff"
                                                                           "0000"
                                                                           "00000000"));

    f.scene.background = QColor(10, 20, 30);
    f.scene.addInstance(f.roof(), {0.25, 0.5}, f.first);
    QVERIFY(f.scene.saveState());
    const QByteArray expected = QByteArray::fromHex("01"
                                                    "ffff"
                                                    "0a0a"
                                                    "1414"
                                                    "1e1e"
                                                    "0000"
                                                    "00000001"
                                                    "00000002"
                                                    "00000001") +
                                bigEndianDouble(0.25) + bigEndianDouble(0.5);
    QCOMPARE(testsupport::readBytes("scenes/two.dat"), expected);
    QCOMPARE(bigEndianDouble(0.25).toHex(), QByteArray("3fd0000000000000"));
}

void TestPlacement::stateNamesAndSharing()
{
    Fixture f;
    QCOMPARE(f.scene.stateFileName(), QStringLiteral("scenes/two.dat"));
    QDir().mkpath("models/old");
    QDir().mkpath("other");
    testsupport::twoMeshModel().save("models/old/tree.old.3ds");
    testsupport::twoMeshModel().save("other/tree.3ds");
    QString error;
    QVERIFY(f.scene.loadModel("models/old/tree.old.3ds", error));
    // The whole name but its last extension: tree.old.3ds and tree.3ds keep apart.
    QCOMPARE(f.scene.stateFileName(), QStringLiteral("scenes/tree.old.dat"));
    f.scene.addInstance(f.roof(), {0.1, 0.1}, f.first);
    QVERIFY(f.scene.saveState());
    QVERIFY(f.scene.loadModel("other/tree.3ds", error));
    QCOMPARE(f.scene.stateFileName(), QStringLiteral("scenes/tree.dat"));
    QVERIFY(!f.scene.loadState());
    f.scene.addInstance(f.roof(), {0.1, 0.1}, f.first);
    f.scene.addInstance(f.roof(), {0.2, 0.1}, f.first);
    QVERIFY(f.scene.saveState());
    // Another model of the same name in another folder finds the same file.
    testsupport::twoMeshModel().save("models/tree.3ds");
    QVERIFY(f.scene.loadModel("models/tree.3ds", error));
    QCOMPARE(f.scene.instanceCount(), 0);
    QVERIFY(f.scene.loadState());
    QCOMPARE(f.scene.instanceCount(), 2);
}

void TestPlacement::unknownGraftalsAreDropped()
{
    Fixture f;
    auto stranger = Graftal::create(99, "stranger");
    f.scene.addInstance(f.square(), {0.1, 0.1}, f.first);
    f.scene.addInstance(f.square(), {0.2, 0.1}, stranger.get());
    f.scene.addInstance(f.roof(), {0.3, 0.1}, f.second);
    QVERIFY(f.scene.saveState());
    QVERIFY(f.scene.loadState());
    QCOMPARE(f.scene.instanceCount(), 2);
    for (GraftalInstance *i : f.scene.collectInstances())
        QVERIFY(i->graftal() == f.first || i->graftal() == f.second);
}

// Its instances go for good, also those a redo would paint; the other graftal's part of a
// shared step stays undoable.
void TestPlacement::aRemovedGraftalNeverComesBackByUndo()
{
    Fixture f;
    f.scene.beginStroke();
    f.scene.addInstance(f.square(), {0.1, 0.1}, f.first);
    f.scene.addInstance(f.square(), {0.2, 0.1}, f.first);
    f.scene.endStroke();
    f.scene.beginStroke();
    f.scene.addInstance(f.roof(), {0.1, 0.1}, f.second);
    f.scene.addInstance(f.roof(), {0.2, 0.1}, f.first);
    f.scene.endStroke();
    f.scene.beginStroke();
    f.scene.addInstance(f.roof(), {0.3, 0.1}, f.first);
    f.scene.endStroke();
    QVERIFY(f.scene.undo());
    f.scene.markSaved();
    QCOMPARE(f.scene.removeInstancesOf(f.first), 3);
    QVERIFY(f.scene.changedSinceSaved());
    QCOMPARE(f.scene.undoSteps(), 1);
    QCOMPARE(f.scene.redoSteps(), 0);
    QVERIFY(f.scene.undo());
    QCOMPARE(f.scene.instanceCountOf(f.second), 0);
    QVERIFY(f.scene.redo());
    QCOMPARE(f.scene.instanceCountOf(f.second), 1);
    QCOMPARE(f.scene.instanceCountOf(f.first), 0);
    QCOMPARE(GraftalInstance::liveCount(), 1);
    QCOMPARE(f.scene.allInstances().size(), size_t(1));
}

void TestPlacement::damagedStateFilesLoadWhatIsSound()
{
    Fixture f;
    const QByteArray header = QByteArray::fromHex("01"
                                                  "ffff"
                                                  "0000"
                                                  "8080"
                                                  "ffff"
                                                  "0000");
    auto record = [](qint32 face, qint32 id, double u, double v) {
        QByteArray b;
        QDataStream s(&b, QIODevice::WriteOnly);
        s.setByteOrder(QDataStream::BigEndian);
        s << face << id << u << v;
        return b;
    };
    auto count = [](quint32 n) {
        QByteArray b;
        QDataStream s(&b, QIODevice::WriteOnly);
        s << n;
        return b;
    };
    const QByteArray good = record(0, 1, 0.25, 0.25);
    const QByteArray records = good + record(3, 1, 0.1, 0.1) // no such face
                               + record(-1, 1, 0.1, 0.1)     // negative face
                               + record(2, 7, 0.1, 0.1)      // unknown graftal
                               + record(2, 1, std::nan(""), 0.1) +
                               record(2, 1, 0.9, 0.9) // off the triangle
                               + record(1, 2, -0.5, 0.1) + record(2, 2, 0.5, 0.5);
    QVERIFY(testsupport::writeBytes("scenes/two.dat", header + count(8) + records));
    QVERIFY(f.scene.loadState());
    QCOMPARE(f.scene.instanceCount(), 2);
    QCOMPARE(f.scene.background, QColor(0, 128, 255));

    // Files whose size disagrees with their count, or of another kind, are no scenes: they
    // are refused at once and what is painted stays.
    const QList<QByteArray> refused = {header + count(1000) + good + good + good.left(10),
                                       header + count(1) + good + good, header + count(0xFFFFFFFFu),
                                       QByteArray("a text file, long enough to be read\n"),
                                       QByteArray::fromHex("07") + header.mid(1) + count(1) + good};
    for (const QByteArray &bytes : refused) {
        QVERIFY(testsupport::writeBytes("scenes/two.dat", bytes));
        QString error;
        QVERIFY(!f.scene.loadStateFrom("scenes/two.dat", error));
        QVERIFY2(error.contains("not a scene file"), qPrintable(error));
        QCOMPARE(f.scene.instanceCount(), 2);
    }
}

void TestPlacement::failedLoadsChangeNothing()
{
    Fixture f;
    f.scene.addInstance(f.square(), {0.1, 0.1}, f.first);
    f.scene.background = Qt::green;
    // No file yet.
    QVERIFY(!f.scene.loadState());
    QCOMPARE(f.scene.instanceCount(), 1);
    // Cut short inside the colour.
    QVERIFY(testsupport::writeBytes("scenes/two.dat", QByteArray::fromHex("01ffff0000")));
    QVERIFY(!f.scene.loadState());
    QCOMPARE(f.scene.instanceCount(), 1);
    QCOMPARE(f.scene.background, QColor(Qt::green));
    // Unreadable: a directory where the file should be.
    QFile::remove("scenes/two.dat");
    QDir().mkdir("scenes/two.dat");
    QVERIFY(!f.scene.loadState());
    QCOMPARE(f.scene.instanceCount(), 1);

    // Without a model nothing is loaded.
    Scene empty;
    QDir().rmdir("scenes/two.dat");
    QVERIFY(f.scene.saveState());
    QVERIFY(!empty.loadState());
    QCOMPARE(empty.instanceCount(), 0);
    QCOMPARE(empty.background, QColor(Qt::white));
}

void TestPlacement::failedSaveIsReported()
{
    Fixture f;
    f.scene.addInstance(f.square(), {0.1, 0.1}, f.first);
    QVERIFY(f.scene.saveState());
    const QByteArray before = testsupport::readBytes("scenes/two.dat");
    QDir().rmdir("scenes");
    QFile::rename("scenes", "scenes.away");
    QVERIFY(testsupport::writeBytes("scenes", "not a directory"));
    f.scene.addInstance(f.square(), {0.2, 0.1}, f.first);
    QVERIFY(!f.scene.saveState());
    QFile::remove("scenes");
    QFile::rename("scenes.away", "scenes");
    QCOMPARE(testsupport::readBytes("scenes/two.dat"), before);
    // With no model the state is filed under an empty base name.
    Scene empty;
    QVERIFY(empty.saveState());
    QCOMPARE(QFileInfo("scenes/.dat").size(), 15);
}

QTEST_MAIN(TestPlacement)
#include "tst_placement.moc"
