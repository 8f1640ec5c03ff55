// "Frame model" in the view: the framing table of the command line (any model whole at any
// scale, faced by its largest side when the view from here misses it, stood on another axis
// upright), and the render frame that shows what a turntable of another aspect draws.
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
#include "UpAxis.h"

namespace {
// A 400 x 300 view of a model in a fresh working directory.
struct ModelView
{
    testsupport::ScopedWorkDir work;
    GLRender view;

    explicit ModelView(const QString &shape)
    {
        const QString model = testsupport::shapeModel(shape, QDir::currentPath());
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.grabFramebuffer();
        QVERIFY(view.openModel(model));
    }
};
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
    QTest::addColumn<int>("row");
    const QList<testsupport::FramedShape> rows = testsupport::framedShapes();
    for (int i = 0; i < rows.size(); ++i)
        QTest::addRow("%d %s %s", i, qPrintable(rows[i].shape), qPrintable(rows[i].args.join(' ')))
            << i;
}

void TestFraming::frameModelShowsItWhole()
{
    // The view does what the command's options say: the up axis, then the orbit mode's turn.
    QFETCH(int, row);
    const testsupport::FramedShape shape = testsupport::framedShapes()[row];
    static QMap<QString, double> shares;
    ModelView m(shape.shape);
    Scene &scene = *m.view.scene();
    if (!shape.shape.startsWith(QLatin1String("data")))
        QCOMPARE(scene.style.twoSided, shape.shape == QLatin1String("sheet")); // open sheets
    const auto option = [&](const char *name) {
        const qsizetype at = shape.args.indexOf(QLatin1String(name));
        return at < 0 ? QString() : shape.args[at + 1];
    };
    UpAxis up = UpAxis::Default;
    QVERIFY(upaxis::fromName(option("--up"), up));
    m.view.setUpAxis(up);
    scene.setCamera(scene.camera().orbited(option("--azimuth").toDouble(),
                                           option("--elevation").toDouble(),
                                           OrbitDrag::centreOf(scene)));
    m.view.frameModel();
    QString seen;
    QVERIFY2(testsupport::framedAsWanted(m.view.grabFramebuffer(), shape, shares, seen),
             qPrintable(seen));
}

void TestFraming::renderFrameIsWhatTheTurntableDraws()
{
    // Pictures of 16:9 from a 400 x 300 view: the view darkens the bands above and below the
    // frame while it is held or shown, and a picture shows what lies within it.
    ModelView m("box 4 1 1");
    GLRender &view = m.view;
    view.frameModel();
    QCOMPARE(view.renderFrame(), QRect());
    view.setRenderFrameSize(QSize(1280, 720));
    view.holdRenderFrame(true);
    QCOMPARE(view.renderFrame(), QRect(0, 37, 400, 225));
    const QImage shaded = view.grab().toImage();
    QVERIFY(qRed(shaded.pixel(200, 10)) < 200); // above the frame
    QCOMPARE(qRed(shaded.pixel(5, 100)), 255);  // the background within it
    view.holdRenderFrame(false);
    QCOMPARE(view.renderFrame(), QRect());
    view.setRenderFrameShown(true);
    QCOMPARE(view.renderFrame(), QRect(0, 37, 400, 225));
    // Framed while the frame shows, the model lies wholly within it.
    view.setUpAxis(UpAxis::PlusX);
    const QImage whole = view.grabFramebuffer();
    const double all = testsupport::coverageOf(whole, 'r').share * 400 * 300;
    QCOMPARE(testsupport::coverageOf(whole.copy(view.renderFrame()), 'r').share * 400 * 225, all);
    QString error;
    view.makeCurrent();
    const QImage picture =
        view.renderer().picture(*view.scene(), view.pictureCamera(320, 180),
                                settingsOf(view.scene()->style), 320, 180, error);
    view.doneCurrent();
    const auto inView =
        testsupport::coverageOf(view.grabFramebuffer().copy(view.renderFrame()), 'r');
    const auto drawn = testsupport::coverageOf(picture, 'r');
    QVERIFY2(std::abs(drawn.share - inView.share) <= 0.1 * inView.share &&
                 std::abs(drawn.aspect - inView.aspect) <= 0.1 * inView.aspect,
             qPrintable(QStringLiteral("%1 %2, %3 %4")
                            .arg(inView.share)
                            .arg(inView.aspect)
                            .arg(drawn.share)
                            .arg(drawn.aspect)));
}

TUFTMILL_GL_TEST_MAIN(TestFraming)
#include "tst_framing.moc"
