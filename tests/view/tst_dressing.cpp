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
#include <QSignalSpy>
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

QByteArray describe(const QColor &c)
{
    return QByteArray::number(c.red()) + "," + QByteArray::number(c.green()) + "," +
           QByteArray::number(c.blue());
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
    void countsFollowEveryChange();
    void everyGraftalShowsInTheViewOnly();
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

void TestDressing::countsFollowEveryChange()
{
    testsupport::SphereView v({Qt::blue, Qt::red});
    Graftal *moss = v.graftals[0], *grass = v.graftals[1];
    moss->setName(QStringLiteral("Moss"));
    grass->setName(QStringLiteral("Grass blades"));
    QSignalSpy told(&v.view, &GLRender::graftalCountsChanged);
    const QPoint middle = testsupport::SphereView::centre;
    const auto click = [&](int mode) {
        v.act(mode);
        v.drag(middle, middle, 0);
    };
    const auto select = [&](Graftal *g) { v.library->setSelected(g); };
    const struct
    {
        const char *change;
        std::function<void()> make;
        const char *line;
    } steps[] = {
        {"a stroke", [&] { click(GLRender::PaintMode); }, "1 graftal, 1 of Grass blades"},
        {"a density change",
         [&] {
             v.act(GLRender::DensityMode);
             v.drag(middle, middle - QPoint(0, 300), 3); // four graftals a pixel
         },
         "1,201 graftals, 1,201 of Grass blades"},
        {"another graftal selected", [&] { select(moss); }, "1,201 graftals, 0 of Moss"},
        {"its stroke", [&] { click(GLRender::PaintMode); }, "1,202 graftals, 1 of Moss"},
        {"a save", [&] { v.act(GLRender::SaveStateAction); }, "1,202 graftals, 1 of Moss"},
        {"an erase",
         [&] {
             v.view.setBrushRadius(40);
             click(GLRender::EraseMode);
         },
         "1,201 graftals, 0 of Moss"},
        {"an undo", [&] { v.act(GLRender::UndoAction); }, "1,202 graftals, 1 of Moss"},
        {"a redo", [&] { v.act(GLRender::RedoAction); }, "1,201 graftals, 0 of Moss"},
        {"none selected", [&] { v.view.currentGraftalChanged(nullptr); }, "1,201 graftals"},
        {"a load",
         [&] {
             testsupport::MessageBoxCatcher discard(QMessageBox::Discard);
             v.act(GLRender::ReloadStateAction);
         },
         "1,202 graftals"},
    };
    for (const auto &step : steps) {
        told.clear();
        step.make();
        QVERIFY2(!told.isEmpty(), step.change);
        QCOMPARE(told.last()[0].toString(), QString::fromUtf8(step.line));
    }
}

void TestDressing::everyGraftalShowsInTheViewOnly()
{
    // The ball dressed all over; facing the eye, its middle shows no graftal until every
    // graftal is shown, tinted there, while pictures stay as they were.
    Dressing d;
    Scene &scene = *d.view.scene();
    for (int f = 0; f < scene.faceCount(); ++f)
        scene.addInstance(scene.face(f), {0.3, 0.3}, d.graftal);
    const auto tinted = [](const QColor &c) {
        return c.red() > 150 && c.blue() > 80 && c.red() > c.green() + 40 && c.blue() > c.green() + 10;
    };
    const auto picture = [&] {
        d.view.makeCurrent();
        QString error;
        const QImage image = d.view.renderer().picture(scene, scene.camera(),
                                                       settingsOf(scene.style), 400, 300, error);
        d.view.doneCurrent();
        return image.convertToFormat(QImage::Format_RGB32);
    };
    const QImage plain = d.view.grabFramebuffer(), plainPicture = picture();
    QTest::keyClick(&d.view, Qt::Key_S);
    QVERIFY(d.view.showsAllGraftals());
    const QImage all = d.view.grabFramebuffer();
    if (qEnvironmentVariableIsSet("TUFTMILL_SHOTS")) {
        plain.save(qEnvironmentVariable("TUFTMILL_SHOTS") + "/faded.png");
        all.save(qEnvironmentVariable("TUFTMILL_SHOTS") + "/show-all.png");
    }
    QCOMPARE(countPixels(plain, tinted), 0);
    QVERIFY(!reddish(plain.pixelColor(150, 150)));

    QVERIFY2(tinted(all.pixelColor(150, 150)), describe(all.pixelColor(150, 150)));
    QVERIFY(countPixels(all, tinted) > 20 * 20);
    // Graftals cover far more of the ball than before.
    const auto graftal = [](const QColor &c) { return c.red() > c.green() + 40; };
    QVERIFY(countPixels(all, graftal) > countPixels(plain, graftal) * 3 / 2);
    QCOMPARE(picture(), plainPicture);
    QTest::keyClick(&d.view, Qt::Key_S);
    QCOMPARE(d.view.grabFramebuffer(), plain);
}

TUFTMILL_GL_TEST_MAIN(TestDressing)
#include "tst_dressing.moc"
