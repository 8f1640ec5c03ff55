#include "../support/GlTestMain.h"
#include "../support/Models.h"
#include "../support/SphereView.h"
#include "../support/TestSupport.h"
#include "GLRender.h"
#include "Graftal.h"
#include "LoggerOutput.h"
#include "Random.h"
#include "Scene.h"
#include "SceneSession.h"
#include "TreeManager.h"

#include <QAction>
#include <QTreeWidget>
#include <QWheelEvent>

using testsupport::ScopedWorkDir;

namespace {
int countPixels(const QImage &image, const std::function<bool(const QColor &)> &wanted)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += wanted(image.pixelColor(x, y));
    return n;
}

bool reddish(const QColor &c)
{
    return c.red() > 150 && c.green() < 100 && c.blue() < 100;
}

// A view on a sphere, come close, with a library whose selected graftal is red.
struct Dressing : testsupport::SphereView
{
    Graftal *graftal;

    Dressing() : SphereView({Qt::red}) { graftal = graftals[0]; }
    void mode(int data) { act(data); }
    int onBall() const
    {
        auto it = view.scene()->instancesByKey().find({0, int(graftal->id())});
        return it == view.scene()->instancesByKey().end() ? 0 : int(it->second.size());
    }
};
} // namespace

class TestDressing : public QObject
{
    Q_OBJECT
private slots:
    void sprayingPlacesGraftalsOnTheModel();
    void densityStrokeAddsAndTakesAway();
    void savePaintMoreReload();
    void nothingHappensWithoutAModelOrOffIt();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestDressing::sprayingPlacesGraftalsOnTheModel()
{
    Dressing d;
    QVERIFY(d.view.scene()->pickFace(200, 150));
    const QImage before = d.view.grabFramebuffer();
    QCOMPARE(countPixels(before, reddish), 0);
    d.mode(GLRender::PaintMode);
    // Across the ball, from its middle out past its rim.
    d.drag({200, 150}, {320, 150}, 60);
    const int placed = d.view.scene()->instanceCount();
    QVERIFY2(placed >= 30 && placed <= 61, qPrintable(QString::number(placed)));
    for (GraftalInstance *i : d.view.scene()->collectInstances()) {
        QCOMPARE(i->graftal(), d.graftal);
        QVERIFY(i->barycentric.x() + i->barycentric.y() <= 1.0);
    }
    const QImage after = d.view.grabFramebuffer();
    // Graftals show near the silhouette, not where the ball faces the viewer.
    QVERIFY(countPixels(after, reddish) > 30);
    QCOMPARE(after.pixelColor(200, 150), before.pixelColor(200, 150));
    if (qEnvironmentVariableIsSet("TUFTMILL_SHOTS"))
        after.save(qEnvironmentVariable("TUFTMILL_SHOTS") + "/sprayed.png");
    // The pick picture stays as it was: painting does not refresh it.
    QVERIFY(d.view.scene()->pickFace(200, 150));
}

void TestDressing::densityStrokeAddsAndTakesAway()
{
    Dressing d;
    d.mode(GLRender::DensityMode);
    QTest::mousePress(&d.view, Qt::LeftButton, {}, QPoint(200, 150));
    QTest::mouseMove(&d.view, QPoint(200, 140)); // 10 pixels up
    QCOMPARE(d.onBall(), 40);
    QVERIFY(countPixels(d.view.grabFramebuffer(), reddish) > 0);
    QTest::mouseMove(&d.view, QPoint(200, 145));
    QCOMPARE(d.onBall(), 20);
    QTest::mouseRelease(&d.view, Qt::LeftButton, {}, QPoint(200, 145));
    QCOMPARE(d.view.scene()->allInstances().size(), size_t(20));
    QCOMPARE(GraftalInstance::liveCount(), 20);

    // Down from the press takes graftals away, to none at most.
    QTest::mousePress(&d.view, Qt::LeftButton, {}, QPoint(200, 150));
    QTest::mouseMove(&d.view, QPoint(200, 153));
    QCOMPARE(d.onBall(), 8);
    QTest::mouseMove(&d.view, QPoint(200, 250));
    QCOMPARE(d.onBall(), 0);
    QTest::mouseRelease(&d.view, Qt::LeftButton, {}, QPoint(200, 250));
    QCOMPARE(GraftalInstance::liveCount(), 0);
    QCOMPARE(countPixels(d.view.grabFramebuffer(), reddish), 0);

    // A press beside the ball starts nothing.
    QTest::mousePress(&d.view, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(&d.view, QPoint(5, 1));
    QTest::mouseRelease(&d.view, Qt::LeftButton, {}, QPoint(5, 1));
    QCOMPARE(d.view.scene()->instanceCount(), 0);
}

void TestDressing::savePaintMoreReload()
{
    Dressing d;
    Random::reseedForTests(99);
    d.mode(GLRender::PaintMode);
    d.drag({200, 150}, {320, 150}, 40);
    d.view.scene()->background = QColor(250, 240, 200);
    d.mode(6); // "Save current state of scene"
    QVERIFY(QFile::exists("scenes/sphere.dat"));
    const int saved = d.view.scene()->instanceCount();
    const QImage atSave = d.view.grabFramebuffer();

    d.drag({200, 150}, {80, 150}, 40);
    d.view.scene()->background = Qt::white;
    QVERIFY(d.view.scene()->instanceCount() > saved);
    QVERIFY(d.view.grabFramebuffer() != atSave);

    {
        testsupport::MessageBoxCatcher discard(QMessageBox::Discard); // what was painted since
        d.mode(7); // "Reload state for scene from disk"
        QCOMPARE(discard.titles, QStringList{"Unsaved scene"});
    }
    QCOMPARE(d.view.scene()->instanceCount(), saved);
    QCOMPARE(d.view.scene()->background, QColor(250, 240, 200));
    const QImage reloaded = d.view.grabFramebuffer();
    if (qEnvironmentVariableIsSet("TUFTMILL_SHOTS")) {
        atSave.save(qEnvironmentVariable("TUFTMILL_SHOTS") + "/saved.png");
        reloaded.save(qEnvironmentVariable("TUFTMILL_SHOTS") + "/reloaded.png");
    }
    QCOMPARE(reloaded, atSave);
}

void TestDressing::nothingHappensWithoutAModelOrOffIt()
{
    ScopedWorkDir work;
    GLRender view;
    SceneSession session(*view.scene(), view.modelLoader(), view);
    view.setSession(&session);
    view.resize(200, 150);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    auto g = Graftal::create(1, "g");
    view.currentGraftalChanged(g.get());
    QAction paint;
    paint.setData(GLRender::PaintMode);
    view.dispatchAction(&paint);
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(100, 75));
    QCOMPARE(view.scene()->instanceCount(), 0);
    QAction reload;
    reload.setData(7);
    view.dispatchAction(&reload); // no model: nothing to reload into
    QCOMPARE(view.scene()->instanceCount(), 0);
}

TUFTMILL_GL_TEST_MAIN(TestDressing)
#include "tst_dressing.moc"
