// "Frame model" in the view: any model whole at any scale, a model that the view from here
// would miss faced by its largest side, one stood on another axis upright, and the render
// frame that shows what a turntable of another aspect will draw.
#include <GL/glew.h>

#include "../support/GlTestMain.h"
#include "../support/Models.h"
#include "../support/TestSupport.h"
#include "GLRender.h"
#include "LoggerOutput.h"
#include "OrbitDrag.h"
#include "RenderSettings.h"
#include "Scene.h"
#include "SceneRenderer.h"

#include <QMap>

namespace {
// The share of the pixels that show the model (not the white background), and the width
// over the height of the box round them.
std::pair<double, double> coverage(const QImage &image)
{
    int n = 0;
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xffffffu) != 0xffffffu) {
                ++n;
                box |= QRect(x, y, 1, 1);
            }
    return {double(n) / (double(image.width()) * image.height()),
            box.isEmpty() ? 0.0 : double(box.width()) / box.height()};
}
} // namespace

class TestFraming : public QObject
{
    Q_OBJECT
private slots:
    void frameModelShowsItWhole_data();
    void frameModelShowsItWhole();
    void renderFrameIsWhatTheTurntableDraws();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestFraming::frameModelShowsItWhole_data()
{
    // A generated shape, what is done before "Frame model", the group whose pictures must
    // cover the same share, the least share and the range of width over height.
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("same");
    QTest::addColumn<double>("least");
    QTest::addColumn<double>("aspectLow");
    QTest::addColumn<double>("aspectHigh");
    for (const char *radius : {"0.00005", "1", "1000", "50000"})
        QTest::addRow("ball of radius %s", radius)
            << QStringLiteral("ball %1").arg(radius) << "" << "ball" << 0.2 << 0.9 << 1.1;
    QTest::newRow("ball, view turned away") << "ball 1" << "turn away" << "ball" << 0.2 << 0.9
                                            << 1.1;
    QTest::newRow("sheet from its back") << "sheet" << "" << "" << 0.2 << 0.8 << 1.25;
    QTest::newRow("sheet edge-on") << "sheet" << "orbit 90" << "" << 0.2 << 0.8 << 1.25;
    QTest::newRow("sheet one-sided from its back") << "sheet" << "one-sided" << "" << 0.2 << 0.8
                                                   << 1.25;
    QTest::newRow("box stood on X") << "box 4 1 1" << "up x" << "" << 0.05 << 0.15 << 0.4;
    QTest::newRow("box stood on X, orbited")
        << "box 4 1 1" << "up x, orbit 60" << "" << 0.05 << 0.15 << 0.5;
}

void TestFraming::frameModelShowsItWhole()
{
    QFETCH(QString, shape);
    QFETCH(QString, before);
    QFETCH(QString, same);
    QFETCH(double, least);
    QFETCH(double, aspectLow);
    QFETCH(double, aspectHigh);
    static QMap<QString, double> shareOf;
    testsupport::ScopedWorkDir work;
    const QString model = testsupport::shapeModel(shape, QDir::currentPath());
    QVERIFY(!model.isEmpty());
    GLRender view;
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.grabFramebuffer();
    QVERIFY(view.openModel(model));
    Scene &scene = *view.scene();
    const bool open = shape == QLatin1String("sheet");
    QCOMPARE(scene.style.twoSided, open); // open sheets start two-sided
    if (before.contains(QLatin1String("up x")))
        view.setUpAxis(UpAxis::PlusX);
    if (before.contains(QLatin1String("turn away")))
        scene.setCamera(scene.camera().turned(180.0, 0.0));
    if (before.contains(QLatin1String("orbit")))
        scene.setCamera(scene.camera().orbited(before.section(' ', -1).toDouble(), 0.0,
                                               OrbitDrag::centreOf(scene)));
    if (before == QLatin1String("one-sided"))
        view.setTwoSided(false);
    view.frameModel();
    const QImage shown = view.grabFramebuffer();
    if (qEnvironmentVariableIsSet("TUFTMILL_SHOTS"))
        shown.save(qEnvironmentVariable("TUFTMILL_SHOTS") + "/frame-model-" +
                   QString(QTest::currentDataTag()).replace(' ', '_') + ".png");
    const auto [share, aspect] = coverage(shown);
    const QString seen = QStringLiteral("share %1, aspect %2").arg(share).arg(aspect);
    QVERIFY2(share >= least, qPrintable(seen));
    QVERIFY2(aspect >= aspectLow && aspect <= aspectHigh, qPrintable(seen));
    if (!same.isEmpty()) {
        const double first = shareOf.value(same, share);
        shareOf.insert(same, first);
        QVERIFY2(std::abs(share - first) <= 0.1 * first, qPrintable(seen));
    }
}

void TestFraming::renderFrameIsWhatTheTurntableDraws()
{
    // A 400 x 300 view and pictures of 16:9: the view darkens the bands above and below the
    // frame, and a picture of the frame's aspect shows what lies within it.
    testsupport::ScopedWorkDir work;
    QVERIFY(!testsupport::shapeModel("box 4 1 1", QDir::currentPath()).isEmpty());
    GLRender view;
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.grabFramebuffer();
    QVERIFY(view.openModel("box_4_1_1.3ds"));
    view.frameModel();
    QCOMPARE(view.renderFrame(), QRect());
    view.setRenderFrameSize(QSize(1280, 720));
    view.holdRenderFrame(true);
    QCOMPARE(view.renderFrame(), QRect(0, 37, 400, 225));
    const QImage shaded = view.grab().toImage();
    QVERIFY(qRed(shaded.pixel(200, 10)) < 200);    // above the frame: darkened
    QVERIFY(qRed(shaded.pixel(5, 100)) == 255);    // the background within it
    view.holdRenderFrame(false);
    QCOMPARE(view.renderFrame(), QRect());
    view.setRenderFrameShown(true); // "Show render frame"
    QCOMPARE(view.renderFrame(), QRect(0, 37, 400, 225));

    const QImage inView = view.grabFramebuffer().copy(view.renderFrame());
    QString error;
    view.makeCurrent();
    const QImage picture = view.renderer().picture(*view.scene(), view.pictureCamera(320, 180),
                                                   settingsOf(view.scene()->style), 320, 180,
                                                   error);
    view.doneCurrent();
    QVERIFY2(!picture.isNull(), qPrintable(error));
    const auto [viewShare, viewAspect] = coverage(inView);
    const auto [pictureShare, pictureAspect] = coverage(picture);
    const QString seen = QStringLiteral("view %1 %2, picture %3 %4")
                             .arg(viewShare)
                             .arg(viewAspect)
                             .arg(pictureShare)
                             .arg(pictureAspect);
    QVERIFY2(std::abs(pictureShare - viewShare) <= 0.1 * viewShare, qPrintable(seen));
    QVERIFY2(std::abs(pictureAspect - viewAspect) <= 0.1 * viewAspect, qPrintable(seen));
}

TUFTMILL_GL_TEST_MAIN(TestFraming)
#include "tst_framing.moc"
