// Strokes, their history and the unsaved state in the OpenGL view, in sequences of real
// use: what the toolbar and the question tell is what is so, and every step back and forth
// gives the scene file it had.
#include "../support/GlTestMain.h"
#include "../support/Models.h"
#include "../support/ReaderSupport.h"
#include "../support/SphereView.h"
#include "../support/TestSupport.h"
#include "GLRender.h"
#include "Graftal.h"
#include "GraftalInstance.h"
#include "LoggerOutput.h"
#include "Random.h"
#include "Scene.h"
#include "TreeManager.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QWheelEvent>
#include <random>

using testsupport::ScopedWorkDir;

namespace {
// A view on a sphere, come close, with one red graftal selected, in the paint mode.
struct View : testsupport::SphereView
{
    View() : SphereView({Qt::red})
    {
        ModelBuilder b;
        b.addBox("box", {0, 0, 0}, {1, 1, 1}, QString());
        b.save("other.3ds");
        act(GLRender::PaintMode);
    }
    void click(QPoint at)
    {
        QTest::mousePress(&view, Qt::LeftButton, {}, at);
        QTest::mouseRelease(&view, Qt::LeftButton, {}, at);
    }
};
} // namespace

class TestStrokes : public QObject
{
    Q_OBJECT
private slots:
    void undoActionFollowsAModelLoad();
    void saveDuringAStrokeThenUndoStillCountsAsChanged();
    void brushAndEraserAtTheSilhouetteAtAnyRatio();
    void randomStrokesUndoAndRedoToTheExactFiles();
    void strokesAcrossAModelInstall_data();
    void strokesAcrossAModelInstall();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

// Paint, then open another model: the history is gone, and "Undo scene change" is
// disabled again.
void TestStrokes::undoActionFollowsAModelLoad()
{
    View v;
    QSignalSpy undoable(&v.view, &GLRender::undoAvailable);
    v.click(v.centre);
    QVERIFY(v.scene()->canUndo());
    QCOMPARE(undoable.last().first().toBool(), true);
    QVERIFY(v.view.openModel("other.3ds"));
    QVERIFY(!v.scene()->canUndo());
    QCOMPARE(undoable.last().first().toBool(), false); // what the toolbar shows
}

// A stroke whose release never came (a message box took the pointer), "Save current
// state of scene", then Ctrl+Z: the stroke was saved, so without it the scene has changed.
void TestStrokes::saveDuringAStrokeThenUndoStillCountsAsChanged()
{
    View v;
    QTest::mousePress(&v.view, Qt::LeftButton, {}, v.centre);
    QVERIFY(v.scene()->strokeRunning());
    v.act(GLRender::SaveStateAction);
    const QByteArray file = testsupport::readBytes("scenes/sphere.dat");
    QCOMPARE(file.size(), 15 + 24);
    v.view.setFocus();
    QTest::keyClick(&v.view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(v.scene()->instanceCount(), 0);
    QVERIFY2(v.scene()->changedSinceSaved(),
             "the file holds a graftal the view does not show, yet nothing is 'changed'");
}

// Also run at device pixel ratio 2: a wide brush half off the model places only
// inside its circle, on the face under each pixel; the eraser there takes exactly those.
void TestStrokes::brushAndEraserAtTheSilhouetteAtAnyRatio()
{
    View v;
    Scene *s = v.scene();
    const QPoint device = v.view.toDevicePixels(v.centre);
    int edge = device.x();
    while (s->pickFace(edge + 1, device.y()))
        ++edge;
    const QPoint at(int(edge / v.view.devicePixelRatioF()), v.centre.y());
    const QPoint atDevice = v.view.toDevicePixels(at);
    v.view.setBrushRadius(40);
    v.view.setSprayRate(50);
    v.click(at);
    const int placed = s->instanceCount();
    QVERIFY2(placed > 5 && placed < 50, qPrintable(QString::number(placed)));
    for (GraftalInstance *i : s->collectInstances()) {
        QPointF w;
        QVERIFY(s->projectToWindow(i->position, w));
        QVERIFY(std::hypot(w.x() - atDevice.x() - 0.5, w.y() - atDevice.y() - 0.5) <= 40.01);
        QCOMPARE(s->pickFace(int(w.x()), int(w.y())), i->face());
    }
    qInfo("ratio %g: %d placed at the edge", v.view.devicePixelRatioF(), placed);
    v.act(GLRender::EraseMode);
    v.click(at);
    QCOMPARE(s->instanceCount(), 0);
    v.act(GLRender::UndoAction);
    QCOMPARE(s->instanceCount(), placed);
}

// Random sprays, erasures and density strokes with two graftals on two meshes, with
// undo and redo in between; every step back and forth gives the scene file it had.
void TestStrokes::randomStrokesUndoAndRedoToTheExactFiles()
{
    for (unsigned seed : {1u, 12345u}) {
        View v;
        ModelBuilder b;
        b.addMaterial("green", 0.1f, 0.6f, 0.1f);
        b.addSphere("left", {-12, 0, 0}, 10, 16, 24, "green");
        b.addSphere("right", {12, 0, 0}, 10, 16, 24, "green");
        QVERIFY(b.save("two.3ds"));
        QVERIFY(v.view.openModel("two.3ds"));
        v.act(GLRender::CameraMode);
        for (int i = 0; i < 36; ++i) {
            QWheelEvent wheel(QPointF(v.centre), v.view.mapToGlobal(QPointF(v.centre)), QPoint(),
                              QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QCoreApplication::sendEvent(&v.view, &wheel);
        }
        Graftal *first = v.library->currentGraftal();
        v.library->addGraftal();
        Graftal *second = v.library->currentGraftal();
        auto saved = [&] {
            v.act(GLRender::SaveStateAction);
            return testsupport::readBytes("scenes/two.dat");
        };
        std::mt19937 random(seed);
        auto pick = [&](int lo, int hi) {
            return std::uniform_int_distribution<int>(lo, hi)(random);
        };
        auto somewhere = [&] { return QPoint(pick(60, 340), pick(80, 220)); };
        QList<QByteArray> states{saved()};
        int at = 0;
        for (int round = 0; round < 190; ++round) {
            const int what = pick(0, 9);
            v.library->setSelected(pick(0, 1) ? first : second);
            if (what <= 5) {
                const int mode = what <= 2   ? GLRender::PaintMode
                                 : what <= 4 ? GLRender::EraseMode
                                             : GLRender::DensityMode;
                v.act(mode);
                v.view.setBrushRadius(pick(1, 60));
                v.view.setSprayRate(pick(1, 20));
                QPoint p = somewhere();
                QTest::mousePress(&v.view, Qt::LeftButton, {}, p);
                for (int k = pick(0, 6); k > 0; --k) {
                    p = mode == GLRender::DensityMode ? p + QPoint(0, pick(-15, 15)) : somewhere();
                    QTest::mouseMove(&v.view, p);
                }
                QTest::mouseRelease(&v.view, Qt::LeftButton, {}, p);
                const QByteArray now = saved();
                if (now != states[at]) {
                    states.resize(++at);
                    states.append(now);
                }
                QCOMPARE(v.scene()->undoSteps(), at);
            } else if (what <= 7) {
                v.act(GLRender::UndoAction);
                at = std::max(0, at - 1);
                QCOMPARE(saved(), states[at]);
            } else {
                v.act(GLRender::RedoAction);
                at = std::min(int(states.size()) - 1, at + 1);
                QCOMPARE(saved(), states[at]);
            }
            QCOMPARE(GraftalInstance::liveCount(), v.scene()->instanceCount());
            QCOMPARE(v.scene()->allInstances().size(), size_t(v.scene()->instanceCount()));
        }
        while (v.scene()->canUndo())
            v.act(GLRender::UndoAction);
        QCOMPARE(saved(), states[0]);
        while (v.scene()->canRedo())
            v.act(GLRender::RedoAction);
        QCOMPARE(saved(), states.last());
        qInfo("seed %u: %lld states, %d graftals at the end", seed, qint64(states.size()),
              v.scene()->instanceCount());
    }
}

void TestStrokes::strokesAcrossAModelInstall_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("paint") << int(GLRender::PaintMode);
    QTest::newRow("erase") << int(GLRender::EraseMode);
    QTest::newRow("density") << int(GLRender::DensityMode);
}

// A stroke that runs while another model loads and is installed, then undo and redo.
void TestStrokes::strokesAcrossAModelInstall()
{
    QFETCH(int, mode);
    View v;
    const ModelBuilder big = ModelBuilder::spheres(16, 60, 80); // 150,000 triangles
    QVERIFY(big.save("big.3ds"));
    v.view.setBrushRadius(30);
    v.view.setSprayRate(20);
    v.click(v.centre);
    QVERIFY(v.scene()->instanceCount() > 0);
    v.act(mode);
    QPoint p = v.centre;
    QTest::mousePress(&v.view, Qt::LeftButton, {}, p);
    // The reader is held up, so that the stroke goes on through turns of the event loop
    // while the load runs, however fast the machine reads the model.
    const testsupport::ReaderFault slow("slow:1500");
    v.view.loadModelInBackground("big.3ds");
    int moves = 0;
    for (QDeadlineTimer wait(120000); v.view.loadingModel() && !wait.hasExpired();) {
        p = v.centre + QPoint(moves % 20 - 10, -(moves % 30));
        QTest::mouseMove(&v.view, p);
        ++moves;
        QTest::qWait(2);
    }
    QVERIFY(!v.view.loadingModel());
    QVERIFY2(moves >= 3, qPrintable(QString::number(moves)));
    QCOMPARE(v.scene()->modelPath(), QStringLiteral("big.3ds"));
    for (int i = 0; i < 10; ++i)
        QTest::mouseMove(&v.view, p + QPoint(i, -3 * i));
    QTest::mouseRelease(&v.view, Qt::LeftButton, {}, p);
    QCOMPARE(GraftalInstance::liveCount(), v.scene()->instanceCount());
    QCOMPARE(v.scene()->allInstances().size(), size_t(v.scene()->instanceCount()));
    v.act(GLRender::UndoAction);
    v.act(GLRender::RedoAction);
    v.act(GLRender::UndoAction);
    QCOMPARE(GraftalInstance::liveCount(), v.scene()->instanceCount());
    v.view.grabFramebuffer();
    QCOMPARE(v.view.renderer().lastDrawOrder().size(), size_t(v.scene()->instanceCount()));
    qInfo("%d moves during the load, %d graftals after", moves, v.scene()->instanceCount());
}

TUFTMILL_GL_TEST_MAIN(TestStrokes)
#include "tst_strokes.moc"
