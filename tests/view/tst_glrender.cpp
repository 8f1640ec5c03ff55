#include <GL/glew.h>

#include "../support/GlTestMain.h"
#include "../support/Models.h"
#include "../support/ReaderSupport.h"
#include "../support/TestSupport.h"
#include "GLRender.h"
#include "Graftal.h"
#include "LoggerOutput.h"
#include "ModelLoadTask.h"
#include "ModelSteps.h"
#include "Scene.h"
#include "SceneSession.h"
#include "VisibleFace.h"

#include <QAction>
#include <QColorDialog>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QThread>
#include <QWheelEvent>

using testsupport::ScopedWorkDir;

namespace {
constexpr int ViewWidth = 400;
constexpr int ViewHeight = 300;

bool close(const QColor &a, const QColor &b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

QByteArray describe(const QColor &c)
{
    return QByteArray::number(c.red()) + "," + QByteArray::number(c.green()) + "," +
           QByteArray::number(c.blue());
}

// A view of fixed size on screen, ready to draw.
struct View
{
    GLRender view;
    SceneSession session{*view.scene(), view.modelLoader(), view};
    View(int w = ViewWidth, int h = ViewHeight)
    {
        view.setSession(&session);
        view.resize(w, h);
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        if (!QTest::qWaitForWindowActive(&view))
            qWarning("the view's window did not become active");
        view.grabFramebuffer(); // set-up done
    }
    QImage frame() { return view.grabFramebuffer(); }
    Scene *scene() { return view.scene(); }
};

// A graftal whose levels are solid colours: texture level i (i * 20, 255 - i * 20, 100).
std::unique_ptr<Graftal> colouredGraftal(int levels, const QColor &mask = Qt::transparent)
{
    auto g = Graftal::create(1, QStringLiteral("coloured"));
    for (int i = 0; i < levels; ++i) {
        if (i > 0)
            g->addLevel();
        g->setLevel(i, {testsupport::filledLevel(QColor(i * 20, 255 - i * 20, 100)),
                        testsupport::filledLevel(mask)});
    }
    return g;
}

QColor textureLevelColour(GLuint texture, int level)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    GLint width = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &width);
    std::vector<unsigned char> pixels(size_t(width) * size_t(width) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return QColor(pixels[0], pixels[1], pixels[2], pixels[3]);
}

void sendWheel(QWidget *w, int delta)
{
    const QPointF pos(50, 50);
    QWheelEvent event(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(w, &event);
}
} // namespace

class TestGLRender : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void inertBeforeAModel();
    void realModelsShowCentredInTheirColours();
    void picksTheFaceUnderThePointer();
    void picksInAnOddWidthView();
    void pickPictureOverlaysAndTrail();
    void cameraMouseRules();
    void orbitAndFrameKeepTheModelInView();
    void inViewWithoutDrawingOnlyWhenTheDrawingShows_data();
    void inViewWithoutDrawingOnlyWhenTheDrawingShows();
    void mipmapsCarryTheLevelsOfDetail_data();
    void mipmapsCarryTheLevelsOfDetail();
    void graftalsStandAtTheSilhouette();
    void fadeShowsAndOrderIsBackToFront();
    void graftalEdgesDoNotWrapAround();
    void texturesOfDeletedGraftalsAreFreed();
    void openAndBackgroundThroughTheToolbar();
    void slowLoadShowsProgressAndCancelKeepsTheModel();
    void readerFailuresKeepTheModelDrawn_data();
    void readerFailuresKeepTheModelDrawn();
    void laterLoadReplacesARunningOne_data();
    void laterLoadReplacesARunningOne();
    void bigModelsDrawInStepsAndEndWhole();
    void stepsShareTheBuffersAndStartOverForAnotherView();
    void exporterHierarchyDraws();
    void missingOpenGl2LeavesTheViewInert();
    void devicePixelRatio();
    void cleanupTestCase() { LoggerOutput::shutdown(); }

private:
    ScopedWorkDir *work = nullptr;
};

void TestGLRender::initTestCase()
{
    QVERIFY2(QFile::exists(testsupport::realModel("assimp_test1.3ds")),
             "the real 3DS models are missing from tests/data");
    work = new ScopedWorkDir;
    QVERIFY(testsupport::wallModel().save("wall.3ds"));
    QVERIFY(testsupport::floorModel().save("floor.3ds"));
    QDir().mkdir("scenes");
}

void TestGLRender::inertBeforeAModel()
{
    View v;
    QVERIFY(v.view.openGlReady());
    QVERIFY2(v.view.shaderLog().isEmpty(), qPrintable(v.view.shaderLog()));
    const QImage before = v.frame();
    QCOMPARE(before.pixelColor(200, 150), QColor(Qt::white));
    QTest::mousePress(&v.view, Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(&v.view, QPoint(160, 130));
    QTest::mouseRelease(&v.view, Qt::LeftButton, {}, QPoint(160, 130));
    QCOMPARE(v.view.dragKind(), int(GLRender::NoDrag));
    QCOMPARE(v.scene()->camera().cameraRotation, Matrix4::identity);
    QVERIFY(v.scene()->pickFace(200, 150) == nullptr);
    // F2 before a model sets the flag; the axes come with the first model.
    QTest::keyClick(&v.view, Qt::Key_F2);
    QVERIFY(v.scene()->axesShown());
    sendWheel(&v.view, 120); // still handled
}

void TestGLRender::realModelsShowCentredInTheirColours()
{
    const QStringList files{"assimp_cubes_with_alpha.3ds", "assimp_test1.3ds",
                            "assimp_CameraRollAnimWithChildObject.3ds",
                            "deb-libirrlicht-doc_room.3ds", "assimp-nonbsd_jeep1.3ds"};
    View v;
    for (const QString &name : files) {
        QVERIFY2(v.view.openModel(testsupport::realModel(name)), qPrintable(name));
        v.scene()->style.antialiasing = false; // the materials' colours alone
        const QImage image = v.frame();
        // The drawn pixels sit around the centre of the view.
        int minX = ViewWidth, maxX = -1, minY = ViewHeight, maxY = -1, drawn = 0;
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != qRgb(255, 255, 255)) {
                    ++drawn;
                    colours.insert(image.pixel(x, y));
                    minX = std::min(minX, x);
                    maxX = std::max(maxX, x);
                    minY = std::min(minY, y);
                    maxY = std::max(maxY, y);
                }
        if (qEnvironmentVariableIsSet("TUFTMILL_SHOTS"))
            image.save(qEnvironmentVariable("TUFTMILL_SHOTS") +
                       QStringLiteral("/%1.png").arg(name));
        QVERIFY2(drawn > 200, qPrintable(name));
        const double cx = (minX + maxX) / 2.0, cy = (minY + maxY) / 2.0;
        if (name.contains(QStringLiteral("Anim"))) {
            // Its keyframer moves a mesh far from where its points are stored, and the
            // view frames the model as the keyframer places it: in view, not centred.
            QVERIFY(minX > 0 && minY > 0 && maxX < ViewWidth - 1 && maxY < ViewHeight - 1);
        } else {
            QVERIFY2(std::abs(cx - ViewWidth / 2.0) < ViewWidth * 0.1 &&
                         std::abs(cy - ViewHeight / 2.0) < ViewHeight * 0.1,
                     qPrintable(QString("%1 centred at %2,%3").arg(name).arg(cx).arg(cy)));
        }
        // Every drawn pixel shows the diffuse colour of one of the model's meshes.
        QSet<QRgb> materials;
        for (const Scene::Rgb &c : v.scene()->meshColors())
            materials.insert(qRgb(qRound(c[0] * 255), qRound(c[1] * 255), qRound(c[2] * 255)));
        for (QRgb c : std::as_const(colours)) {
            bool known = false;
            for (QRgb m : std::as_const(materials))
                known = known || close(QColor(c), QColor(m), 1);
            QVERIFY2(known, qPrintable(name + " " + QString::fromLatin1(describe(QColor(c)))));
        }
    }
}

void TestGLRender::picksTheFaceUnderThePointer()
{
    View v;
    QVERIFY(v.view.openModel("wall.3ds"));
    // Pictures and picking work in device pixels.
    const double ratio = v.view.devicePixelRatioF();
    auto at = [ratio](int x, int y) { return QPoint(int(x * ratio), int(y * ratio)); };
    auto pick = [&](int x, int y) {
        const QPoint p = at(x, y);
        return v.scene()->pickFace(p.x(), p.y());
    };
    const QImage image = v.frame();
    QVERIFY2(close(image.pixelColor(at(200, 150)), Qt::green),
             describe(image.pixelColor(at(200, 150))));
    QVERIFY2(close(image.pixelColor(at(275, 150)), Qt::red),
             describe(image.pixelColor(at(275, 150))));
    QCOMPARE(image.pixelColor(at(5, 5)), QColor(Qt::white));

    const MeshFace *centre = pick(200, 150);
    QVERIFY(centre);
    QCOMPARE(centre->meshIndex, 0);
    const MeshFace *side = pick(275, 150);
    QVERIFY(side);
    QCOMPARE(side->meshIndex, 1);
    QVERIFY(side->faceIndex == 2 || side->faceIndex == 3);
    // Upper left of the wall is its second triangle, lower right its first.
    QCOMPARE(pick(185, 135)->faceIndex, 1);
    QCOMPARE(pick(215, 165)->faceIndex, 0);
    QVERIFY(pick(5, 5) == nullptr);
    QVERIFY(v.scene()->pickFace(-1, 10) == nullptr);
    QVERIFY(v.scene()->pickFace(v.scene()->viewportWidth, 10) == nullptr);
    QVERIFY(v.scene()->pickFace(10, v.scene()->viewportHeight) == nullptr);
    // Picking never shows: the view still shows colours, not ids.
    QVERIFY(close(v.frame().pixelColor(at(200, 150)), Qt::green));
}

void TestGLRender::picksInAnOddWidthView()
{
    View v(101, 80);
    QVERIFY(v.view.openModel("wall.3ds"));
    QCOMPARE(v.scene()->viewportWidth, 101);
    const QImage image = v.frame();
    int picked = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 101; ++x) {
            const MeshFace *face = v.scene()->pickFace(x, y);
            const QColor shown = image.pixelColor(x, y);
            if (close(shown, Qt::green)) {
                QVERIFY2(face && face->meshIndex == 0, qPrintable(QString("%1,%2").arg(x).arg(y)));
                ++picked;
            } else if (close(shown, Qt::red)) {
                QVERIFY2(face && face->meshIndex == 1, qPrintable(QString("%1,%2").arg(x).arg(y)));
                ++picked;
            } else if (shown == QColor(Qt::white)) {
                QVERIFY2(face == nullptr, qPrintable(QString("%1,%2").arg(x).arg(y)));
            }
        }
    QVERIFY2(picked > 500, qPrintable(QString::number(picked)));
}

void TestGLRender::pickPictureOverlaysAndTrail()
{
    View v;
    QVERIFY(v.view.openModel("wall.3ds"));
    QTest::keyClick(&v.view, Qt::Key_F1);
    QCOMPARE(v.view.renderFlags(), int(SceneRenderer::ShowPickBuffer));
    QImage ids = v.frame();
    const QColor centre = ids.pixelColor(200, 150);
    QVERIFY2(centre == QColor(0, 0, 1) || centre == QColor(0, 0, 2), describe(centre));
    QVERIFY(ids.pixelColor(275, 150) == QColor(0, 0, 3) ||
            ids.pixelColor(275, 150) == QColor(0, 0, 4));
    QCOMPARE(ids.pixelColor(5, 5), QColor(Qt::black));
    QTest::keyClick(&v.view, Qt::Key_F1);
    QCOMPARE(v.view.renderFlags(), 0);
    QVERIFY(close(v.frame().pixelColor(200, 150), Qt::green));

    // Axes: the x axis is red and runs right from the centre of the model.
    const bool axesAlready = v.scene()->axesShown();
    if (axesAlready)
        QTest::keyClick(&v.view, Qt::Key_F2);
    const QImage plain = v.frame();
    QTest::keyClick(&v.view, Qt::Key_F2);
    const QImage axes = v.frame();
    QVERIFY(plain != axes);
    QTest::keyClick(&v.view, Qt::Key_F2);

    // The trail keeps the last 500 eye positions, one per frame.
    QTest::keyClick(&v.view, Qt::Key_F3);
    QVERIFY(v.scene()->trailShown());
    for (int frame = 0; frame < 600; ++frame) {
        v.scene()->commitTranslation(0, 0, 0.5);
        v.frame();
    }
    QCOMPARE(v.scene()->eyeTrail().size(), Scene::TrailLength);
    QCOMPARE(v.scene()->eyeTrail().last(), v.scene()->camera().eye);
    QVERIFY(v.scene()->eyeTrail().first() != v.scene()->camera().eye);
}

void TestGLRender::cameraMouseRules()
{
    View v;
    QVERIFY(v.view.openModel("wall.3ds"));
    Scene reference;
    QString error;
    QVERIFY(reference.loadModel("wall.3ds", error));

    // Left drag of (60, 30): yaw 10, pitch 5, committed at the release.
    QTest::mousePress(&v.view, Qt::LeftButton, {}, QPoint(100, 100));
    QCOMPARE(v.view.dragKind(), int(GLRender::RotateDrag));
    QVERIFY(v.view.hasFocus());
    QTest::mouseMove(&v.view, QPoint(160, 130));
    QCOMPARE(v.view.dragDelta(), QPoint(60, 30));
    v.frame(); // one frame of preview
    QCOMPARE(v.scene()->camera().cameraRotation, Matrix4::identity);
    QTest::mouseRelease(&v.view, Qt::LeftButton, {}, QPoint(160, 130));
    reference.previewRotation(10, 5);
    reference.commitRotation(10, 5);
    for (int i = 0; i < 16; ++i)
        QVERIFY(std::abs(v.scene()->camera().cameraRotation[i] -
                         reference.camera().cameraRotation[i]) < 1e-12);
    QCOMPARE(v.view.dragKind(), int(GLRender::NoDrag));
    QCOMPARE(v.view.dragDelta(), QPoint(0, 0));

    // Right drag of (60, 30): right 10, up 5.
    const Vector3 eyeBefore = v.scene()->camera().worldEye;
    const Vector3 axis = v.scene()->pitchAxis();
    QTest::mousePress(&v.view, Qt::RightButton, {}, QPoint(100, 100));
    QTest::mouseMove(&v.view, QPoint(160, 130));
    QTest::mouseRelease(&v.view, Qt::RightButton, {}, QPoint(160, 130));
    const Vector3 moved = v.scene()->camera().worldEye - eyeBefore;
    QVERIFY(std::abs(moved.x - 10 * axis.x) < 1e-9 && std::abs(moved.y - 5) < 1e-9 &&
            std::abs(moved.z - 10 * axis.z) < 1e-9);

    // The middle button during a left drag restarts it from there.
    QTest::mousePress(&v.view, Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(&v.view, QPoint(130, 100));
    QTest::mousePress(&v.view, Qt::MiddleButton, {}, QPoint(150, 120));
    QCOMPARE(v.view.dragKind(), int(GLRender::RotateDrag));
    QCOMPARE(v.view.pressPosition(), QPoint(150, 120));
    QCOMPARE(v.view.dragDelta(), QPoint(0, 0));
    // Releasing any button ends the drag.
    QTest::mouseRelease(&v.view, Qt::MiddleButton, {}, QPoint(150, 120));
    QCOMPARE(v.view.dragKind(), int(GLRender::NoDrag));
    QTest::mouseRelease(&v.view, Qt::LeftButton, {}, QPoint(150, 120));

    // A wheel delta of 240 moves the eye 30 units forward.
    const Vector3 before = v.scene()->camera().worldEye;
    const Vector3 forward = v.scene()->camera().worldForward;
    sendWheel(&v.view, 240);
    const Vector3 after = v.scene()->camera().worldEye - before;
    QVERIFY(std::abs(Vector3::dot(after, forward) - 30) < 1e-9);
    // The pick picture follows the camera: the wall is still under the centre.
    QVERIFY(v.scene()->pickFace(200, 150) != nullptr);
}

void TestGLRender::orbitAndFrameKeepTheModelInView()
{
    View v;
    ModelBuilder ball;
    ball.addMaterial(QStringLiteral("green"), 0.0f, 1.0f, 0.0f);
    ball.addSphere(QStringLiteral("ball"), {0, 0, 0}, 10, 16, 24, QStringLiteral("green"));
    QVERIFY(ball.save("ball.3ds"));
    QVERIFY(v.view.openModel("ball.3ds"));
    auto modelPixels = [&] {
        const QImage f = v.frame();
        int n = 0;
        for (int y = 0; y < f.height(); y += 2)
            for (int x = 0; x < f.width(); x += 2)
                n += QColor(f.pixel(x, y)).green() > QColor(f.pixel(x, y)).red() + 100;
        return n;
    };
    auto act = [&](int data) {
        QAction action;
        action.setData(data);
        action.setCheckable(true);
        v.view.dispatchAction(&action);
    };
    const int atStart = modelPixels();
    QVERIFY(atStart > 100);
    // Fitted, a graftal of base size 1 is 2 % of the ball's 20 units.
    QSignalSpy shown(&v.view, &GLRender::styleShown);
    act(GLRender::FitGraftalScaleAction);
    QCOMPARE(shown.size(), 1);
    QVERIFY(std::abs(v.scene()->style.graftalScale - 0.4) < 1e-6);

    // Drags of 480 pixels every way, seen at every step: the ball never leaves the view.
    act(GLRender::OrbitMode);
    const QPoint from(200, 150);
    for (const QPoint way : {QPoint(480, 0), QPoint(-480, 480), QPoint(480, -240)}) {
        QTest::mousePress(&v.view, Qt::LeftButton, {}, from);
        for (int step = 1; step <= 8; ++step) {
            QTest::mouseMove(&v.view, from + way * step / 8);
            QVERIFY2(modelPixels() > atStart / 2, qPrintable(QString::number(step)));
        }
        QTest::mouseRelease(&v.view, Qt::LeftButton, {}, from + way);
        QVERIFY(v.scene()->pickFace(200, 150) != nullptr);
    }
    // A notch of the wheel comes a tenth closer to the centre.
    const double far = std::sqrt(v.scene()->camera().worldEye.lengthSquared());
    sendWheel(&v.view, 120);
    QVERIFY(std::abs(std::sqrt(v.scene()->camera().worldEye.lengthSquared()) - 0.9 * far) < 1e-6);

    // A turn of the camera mode looks away from the ball; Home brings it back, centred.
    act(GLRender::CameraMode);
    QTest::mousePress(&v.view, Qt::LeftButton, {}, QPoint(50, 150));
    QTest::mouseMove(&v.view, QPoint(350, 150));
    QTest::mouseRelease(&v.view, Qt::LeftButton, {}, QPoint(350, 150));
    QCOMPARE(modelPixels(), 0);
    QTest::keyClick(&v.view, Qt::Key_Home);
    QVERIFY2(modelPixels() > atStart, qPrintable(QString::number(modelPixels())));
    QVERIFY(v.scene()->pickFace(200, 150) != nullptr);
}

void TestGLRender::inViewWithoutDrawingOnlyWhenTheDrawingShows_data()
{
    // The camera moved from the start view (800 units before a ball of radius 50) and
    // turned; whether a face is found whole on screen, and whether the face-id picture
    // shows the model (-1: either).
    QTest::addColumn<QString>("model");
    QTest::addColumn<double>("along");
    QTest::addColumn<double>("yaw");
    QTest::addColumn<int>("found");
    QTest::addColumn<int>("drawn");
    QTest::newRow("start") << "ball.3ds" << 0.0 << 0.0 << 1 << 1;
    QTest::newRow("turned away") << "ball.3ds" << 0.0 << 180.0 << 0 << 0;
    QTest::newRow("one face fills the picture") << "ball.3ds" << 749.0 << 0.0 << 0 << 1;
    QTest::newRow("inside, facing the backs") << "ball.3ds" << 800.0 << 0.0 << 0 << 0;
    QTest::newRow("a speck far off") << "ball.3ds" << -2700.0 << 0.0 << 0 << -1;
    QTest::newRow("a placed real model")
        << testsupport::realModel("assimp_CameraRollAnimWithChildObject.3ds") << 0.0 << 0.0
        << -1 << 1;
    QTest::newRow("a real model half out")
        << testsupport::realModel("deb-libirrlicht-doc_room.3ds") << 600.0 << 30.0 << -1 << -1;
}

void TestGLRender::inViewWithoutDrawingOnlyWhenTheDrawingShows()
{
    QFETCH(QString, model);
    QFETCH(double, along);
    QFETCH(double, yaw);
    QFETCH(int, found);
    QFETCH(int, drawn);
    View v;
    ModelBuilder ball;
    ball.addMaterial(QStringLiteral("green"), 0.0f, 1.0f, 0.0f);
    ball.addSphere(QStringLiteral("ball"), {0, 0, 0}, 10, 16, 24, QStringLiteral("green"));
    QVERIFY(ball.save("ball.3ds"));
    QVERIFY(v.view.openModel(model));
    v.view.makeCurrent();
    SceneRenderer &renderer = v.view.renderer();
    // The row's view, then the views turned from it all the way round.
    for (double turn = 0.0; turn < 360.0; turn += 45.0) {
        const Camera camera = v.scene()->camera().moved(0, 0, along).turned(yaw + turn, 0);
        const bool quick = visibleface::surelyShows(*v.scene(), camera, ViewWidth, ViewHeight);
        const bool picture =
            renderer.modelDrawnInView(*v.scene(), camera, ViewWidth, ViewHeight);
        if (turn == 0.0 && found >= 0)
            QCOMPARE(quick, found == 1);
        if (turn == 0.0 && drawn >= 0)
            QCOMPARE(picture, drawn == 1);
        // Found without drawing only where the drawing shows it; the answer is the drawing's.
        QVERIFY2(!quick || picture, qPrintable(QString::number(turn)));
        QCOMPARE(renderer.modelInView(*v.scene(), camera, ViewWidth, ViewHeight), picture);
    }
}

void TestGLRender::mipmapsCarryTheLevelsOfDetail_data()
{
    QTest::addColumn<int>("levels");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("one") << 1 << QList<int>{0, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("three") << 3 << QList<int>{0, 0, 1, 2, 2, 2, 2, 2, 2};
    QTest::newRow("nine") << 9 << QList<int>{0, 1, 3, 4, 6, 7, 8, 8, 8};
}

void TestGLRender::mipmapsCarryTheLevelsOfDetail()
{
    QFETCH(int, levels);
    QFETCH(QList<int>, expected);
    View v;
    auto g = colouredGraftal(levels, QColor(7, 8, 9, 255));
    // Textures are made for the graftal about to be painted (and those shown).
    v.view.currentGraftalChanged(g.get());
    const std::array<GLuint, 2> names = v.view.renderer().textures().names(g.get());
    QVERIFY(names[0] != 0 && names[1] != 0);
    v.view.makeCurrent();
    for (int level = 0; level < 9; ++level) {
        GLint width = 0;
        glBindTexture(GL_TEXTURE_2D, names[0]);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &width);
        QCOMPARE(width, 256 >> level);
        const int k = expected[level];
        QVERIFY2(close(textureLevelColour(names[0], level), QColor(k * 20, 255 - k * 20, 100), 1),
                 qPrintable(QString("level %1: %2")
                                .arg(level)
                                .arg(describe(textureLevelColour(names[0], level)).constData())));
        QVERIFY(close(textureLevelColour(names[1], level), QColor(7, 8, 9), 1));
    }
    v.view.doneCurrent();

    // Binding again reuses the names and replaces every level.
    for (int i = 0; i < levels; ++i)
        g->setLevel(i,
                    {testsupport::filledLevel(Qt::magenta), testsupport::filledLevel(Qt::black)});
    v.view.bindTexturesForGraftal(g.get());
    QCOMPARE(v.view.renderer().textures().names(g.get()), names);
    v.view.makeCurrent();
    for (int level = 0; level < 9; ++level)
        QVERIFY(close(textureLevelColour(names[0], level), Qt::magenta, 1));
    v.view.doneCurrent();
}

void TestGLRender::graftalsStandAtTheSilhouette()
{
    View v;
    QVERIFY(v.view.openModel("floor.3ds"));
    Scene *scene = v.scene();
    // Come close: the eye 75 units from the graftal, which stands at the silhouette.
    scene->commitTranslation(0, 0, 700);
    auto g = colouredGraftal(1);
    g->setBaseSize(5);
    g->setLevel(0, {testsupport::filledLevel(Qt::red), testsupport::filledLevel(Qt::transparent)});
    v.view.bindTexturesForGraftal(g.get());
    scene->addInstance(scene->face(0), {0.25, 0.25}, g.get());
    const QImage red = v.frame();
    QVERIFY2(close(red.pixelColor(200, 125), Qt::red), describe(red.pixelColor(200, 125)));
    QCOMPARE(red.pixelColor(200, 60), QColor(Qt::white));  // above the graftal
    QCOMPARE(red.pixelColor(140, 125), QColor(Qt::white)); // beside it

    // An opaque mask shows the colour of the mesh the graftal stands on.
    g->setLevel(0, {testsupport::filledLevel(Qt::red), testsupport::filledLevel(Qt::black)});
    v.view.bindTexturesForGraftal(g.get());
    QVERIFY2(close(v.frame().pixelColor(200, 125), Qt::blue),
             describe(v.frame().pixelColor(200, 125)));
    // A half-transparent mask mixes the two.
    g->setLevel(
        0, {testsupport::filledLevel(Qt::red), testsupport::filledLevel(QColor(0, 0, 0, 128))});
    v.view.bindTexturesForGraftal(g.get());
    const QColor mixed = v.frame().pixelColor(200, 125);
    // Texture and mesh colour half and half, three quarters opaque over the white background.
    QVERIFY2(close(mixed, QColor(159, 64, 159), 4), describe(mixed));

    // Base size follows the graftal at every draw; below 0.001 nothing is drawn.
    g->setBaseSize(0.0005);
    QCOMPARE(v.frame().pixelColor(200, 125), QColor(Qt::white));
}

void TestGLRender::fadeShowsAndOrderIsBackToFront()
{
    View v;
    QVERIFY(v.view.openModel("floor.3ds"));
    Scene *scene = v.scene();
    auto g = colouredGraftal(1);
    g->setBaseSize(50);
    g->setLevel(0, {testsupport::filledLevel(Qt::red), testsupport::filledLevel(Qt::transparent)});
    v.view.bindTexturesForGraftal(g.get());
    scene->addInstance(scene->face(0), {0.25, 0.25}, g.get()); // at (0, -25, 0)
    GraftalInstance *far =
        scene->addInstance(scene->face(1), {0.25, 0.5}, g.get()); // at (-25, 25, 0)

    // Look down at the graftal so that d = 0.55: alpha 0.75, a tenth of the size.
    const double angle = std::asin(0.55);
    scene->commitTranslation(0, 0, 700);
    scene->commitTranslation(0, 75 * std::tan(angle), 0);
    scene->commitRotation(0, angle * 180.0 / M_PI);
    const QImage image = v.frame();
    if (qEnvironmentVariableIsSet("TUFTMILL_SHOTS"))
        image.save(qEnvironmentVariable("TUFTMILL_SHOTS") + QStringLiteral("/fade.png"));
    QVERIFY(!v.view.renderer().lastDrawOrder().empty());
    QCOMPARE(v.view.renderer().lastDrawOrder().front(), far);
    // Red at 0.75 over the blue floor.
    const QColor c = image.pixelColor(200, 140);
    QVERIFY2(close(c, QColor(191, 0, 64), 6), describe(c));
}

void TestGLRender::graftalEdgesDoNotWrapAround()
{
    View v;
    QVERIFY(v.view.openModel("floor.3ds"));
    Scene *scene = v.scene();
    scene->commitTranslation(0, 0, 700);
    auto g = colouredGraftal(1);
    // Opaque red only along the bottom of the texture: the roots of the graftal.
    QPixmap roots(400, 400);
    roots.fill(Qt::transparent);
    {
        QPainter p(&roots);
        p.fillRect(QRect(0, 300, 400, 100), Qt::red);
    }
    g->setLevel(0, {roots, testsupport::filledLevel(Qt::transparent)});
    v.view.bindTexturesForGraftal(g.get());
    scene->addInstance(scene->face(0), {0.25, 0.25}, g.get());
    // Small graftals sample coarse mipmap levels, where the filter reaches past the edge
    // of the texture: the top edge must not pick up the roots from the opposite edge.
    for (double size : {0.4, 0.55, 0.7, 1.0, 1.5, 3.0}) {
        g->setBaseSize(size);
        const QImage image = v.frame();
        int topmostRed = 1000, lowestRed = -1;
        for (int y = 60; y <= 150; ++y)
            for (int x = 185; x <= 215; ++x)
                if (image.pixelColor(x, y).green() < 200) {
                    topmostRed = std::min(topmostRed, y);
                    lowestRed = std::max(lowestRed, y);
                }
        QVERIFY2(lowestRed >= 0, qPrintable(QString::number(size)));
        // Roots fill the lower quarter of the quad: nothing red above its lower half.
        const double quadPixels = 2 * size * 4.83;
        QVERIFY2(
            lowestRed - topmostRed <= quadPixels / 2 + 1,
            qPrintable(
                QString("size %1: red from %2 to %3").arg(size).arg(topmostRed).arg(lowestRed)));
    }
}

void TestGLRender::texturesOfDeletedGraftalsAreFreed()
{
    View v;
    auto g = colouredGraftal(1, Qt::red);
    const Graftal *address = g.get();
    v.view.currentGraftalChanged(g.get());
    const std::array<GLuint, 2> names = v.view.renderer().textures().names(address);
    QVERIFY(names[0] != 0);
    v.view.currentGraftalChanged(nullptr);
    g.reset();
    // Nothing is known under the old address any more, even if a new graftal gets it, and
    // the names go once the context is current again.
    QCOMPARE(v.view.renderer().textures().names(address)[0], 0u);
    auto next = colouredGraftal(1, Qt::blue);
    v.view.currentGraftalChanged(next.get());
    v.view.makeCurrent();
    QVERIFY(!glIsTexture(names[0]) ||
            v.view.renderer().textures().names(next.get())[0] == names[0]);
    QVERIFY(close(textureLevelColour(v.view.renderer().textures().names(next.get())[1], 0),
                  Qt::blue, 1));
    v.view.doneCurrent();
}

void TestGLRender::openAndBackgroundThroughTheToolbar()
{
    View v;
    QAction open;
    open.setData(1);
    testsupport::ModalDriver chooser([](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        if (!dialog)
            return false;
        if (dialog->windowTitle() != QStringLiteral("Open 3DS model"))
            return false;
        // Typed into the name field, as a user would; the folder view may still be loading.
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!name)
            return false;
        name->setText(QDir::current().absoluteFilePath("wall.3ds"));
        static_cast<QDialog *>(dialog)->accept();
        return true;
    });
    v.view.dispatchAction(&open);
    QTRY_COMPARE(chooser.handled, 1);
    // The model is read off the GUI thread and shows once it is complete.
    QTRY_VERIFY_WITH_TIMEOUT(v.scene()->loaded(), 30000);
    QVERIFY(!v.view.loadingModel());
    QVERIFY(close(v.frame().pixelColor(200, 150), Qt::green));

    // A damaged file gives the "Error" box and the model stays.
    QByteArray bytes = testsupport::readBytes("wall.3ds");
    QVERIFY(testsupport::writeBytes("damaged.3ds", bytes.left(bytes.size() - 20)));
    testsupport::MessageBoxCatcher errors;
    QVERIFY(!v.view.openModel("damaged.3ds"));
    QCOMPARE(errors.seen, 1);
    QCOMPARE(errors.title, QStringLiteral("Error"));
    QVERIFY(errors.text.startsWith(QStringLiteral("3DS file couldn't be loaded")));
    QVERIFY(close(v.frame().pixelColor(200, 150), Qt::green));

    // A cancelled colour dialog keeps the colour; a chosen one shows at once.
    QAction background;
    background.setData(5);
    testsupport::ModalDriver cancel([](QWidget *w) {
        auto *dialog = qobject_cast<QColorDialog *>(w);
        if (!dialog)
            return false;
        dialog->reject();
        return true;
    });
    v.view.dispatchAction(&background);
    QTRY_COMPARE(cancel.handled, 1);
    QCOMPARE(v.scene()->background, QColor(Qt::white));
    testsupport::ModalDriver choose([](QWidget *w) {
        auto *dialog = qobject_cast<QColorDialog *>(w);
        if (!dialog)
            return false;
        dialog->setCurrentColor(QColor(255, 255, 0));
        dialog->accept();
        return true;
    });
    v.view.dispatchAction(&background);
    QCOMPARE(v.scene()->background, QColor(255, 255, 0));
    QCOMPARE(v.frame().pixelColor(5, 5), QColor(255, 255, 0));

    // Mode actions switch the mouse mode.
    QAction paint;
    paint.setData(3);
    paint.setCheckable(true);
    v.view.dispatchAction(&paint);
    QCOMPARE(v.view.mode(), int(GLRender::PaintMode));
    QVERIFY(paint.isChecked());
}

void TestGLRender::slowLoadShowsProgressAndCancelKeepsTheModel()
{
    View v;
    QVERIFY(v.view.openModel("wall.3ds"));
    const QImage before = v.frame();
    QVERIFY(close(before.pixelColor(200, 150), Qt::green));

    // The reader is held up: after half a second the progress shows, the pointer over the
    // view is busy, and the event loop keeps running all the while.
    const testsupport::ReaderFault slow("slow:60000");
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);
    v.view.loadModelInBackground("floor.3ds");
    QVERIFY(v.view.loadingModel());
    QCOMPARE(v.view.cursor().shape(), Qt::BusyCursor);
    QTRY_VERIFY(v.view.loadProgressDialog() && v.view.loadProgressDialog()->isVisible());
    QProgressDialog *progress = v.view.loadProgressDialog();
    QCOMPARE(progress->windowTitle(), QStringLiteral("Opening model"));
    QCOMPARE(progress->labelText(), QStringLiteral("Reading floor.3ds..."));
    QVERIFY(!progress->isModal());
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    QCOMPARE(v.frame(), before);

    auto *cancel = progress->findChild<QPushButton *>();
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    QSignalSpy finished(&v.view, &GLRender::modelLoadFinished);
    QTest::mouseClick(cancel, Qt::LeftButton);
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toBool(), false);
    QVERIFY(!v.view.loadingModel());
    QVERIFY(!progress->isVisible());
    QCOMPARE(v.view.cursor().shape(), Qt::OpenHandCursor);
    QCOMPARE(v.scene()->modelPath(), QStringLiteral("wall.3ds"));
    QCOMPARE(v.frame(), before);
}

void TestGLRender::readerFailuresKeepTheModelDrawn_data()
{
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QString>("what");
    QTest::newRow("crash") << QByteArray("crash") << "the reader crashed";
    QTest::newRow("hang") << QByteArray("hang") << "reading took longer than 2 s";
    QTest::newRow("busy") << QByteArray("spin") << "reading took longer than 2 s";
    QTest::newRow("memory") << QByteArray("memory") << "the model needs more than 256 MB";
    QTest::newRow("memory, then a crash")
        << QByteArray("memory-crash") << "the model needs more than 256 MB";
}

void TestGLRender::readerFailuresKeepTheModelDrawn()
{
    QFETCH(QByteArray, fault);
    QFETCH(QString, what);
    View v;
    QVERIFY(v.view.openModel("wall.3ds"));
    const QImage before = v.frame();
    const testsupport::ShortReaderLimits limits;
    const testsupport::ReaderFault injected(fault);
    testsupport::MessageBoxCatcher errors;
    QVERIFY(!v.view.openModel("floor.3ds"));
    QCOMPARE(errors.seen, 1);
    QCOMPARE(errors.title, QStringLiteral("Error"));
    QCOMPARE(errors.text, QStringLiteral("3DS file couldn't be loaded\nfloor.3ds: %1").arg(what));
    QCOMPARE(v.scene()->modelPath(), QStringLiteral("wall.3ds"));
    QCOMPARE(v.frame(), before);
}

void TestGLRender::laterLoadReplacesARunningOne_data()
{
    QTest::addColumn<bool>("readFirst");
    QTest::newRow("replaced at once") << false;
    QTest::newRow("replaced with its model read") << true;
}

void TestGLRender::laterLoadReplacesARunningOne()
{
    QFETCH(bool, readFirst);
    View v;
    v.view.loadModelInBackground("wall.3ds");
    const QPointer<ModelLoadTask> replaced = v.view.findChild<ModelLoadTask *>();
    QVERIFY(replaced);
    // Without a turn of the event loop the first load cannot arrive, but it can read its
    // model to the end: then its result is there to be taken when the later load comes.
    if (readFirst) {
        for (QDeadlineTimer wait(60000); replaced->running() && !wait.hasExpired();)
            QThread::msleep(5);
        QVERIFY(!replaced->running());
    }
    QSignalSpy finished(&v.view, &GLRender::modelLoadFinished);
    v.view.loadModelInBackground("floor.3ds");
    // The replaced load ends and goes without arriving; only the later one arrives.
    QTRY_VERIFY_WITH_TIMEOUT(!replaced && finished.size() == 1, 30000);
    QCOMPARE(finished.first().first().toBool(), true);
    QCOMPARE(v.scene()->modelPath(), QStringLiteral("floor.3ds"));
    QCOMPARE(finished.size(), 1);
}

// A model of more than twice the faces a step draws takes several turns for a frame and
// for its face ids; once the view settles it shows what one whole frame shows, and picks
// from the same picture.
void TestGLRender::bigModelsDrawInStepsAndEndWhole()
{
    QVERIFY(ModelBuilder::spheres(30, 51, 100).save("big.3ds")); // 300,000 faces, 3 buffers
    View v;
    v.view.setFacesPerStep(size_t(1) << 17);
    QVERIFY(v.view.openModel("big.3ds"));
    QVERIFY(v.view.drawingInSteps());
    v.scene()->style.outlines = true;
    v.scene()->style.shading = Shading::Toon;
    const int before = v.view.framesFinished();
    v.scene()->commitRotation(20.0, 10.0);
    v.view.refreshPicking();
    v.view.update();
    QVERIFY(v.view.drawingInSteps());
    QTRY_VERIFY_WITH_TIMEOUT(v.view.framesFinished() > before && !v.view.drawingInSteps(), 60000);
    const QImage stepped = v.frame();
    const std::vector<unsigned char> steppedPick = v.scene()->pickPicture().rgb;
    QVERIFY(!steppedPick.empty());

    v.view.setFacesPerStep(size_t(1) << 30);
    const QImage whole = v.frame();
    v.view.refreshPicking();
    QVERIFY(steppedPick == v.scene()->pickPicture().rgb);
    int differ = 0;
    for (int y = 0; y < whole.height(); ++y)
        for (int x = 0; x < whole.width(); ++x)
            differ += !close(stepped.pixelColor(x, y), whole.pixelColor(x, y), 2);
    QVERIFY2(differ == 0, qPrintable(QString::number(differ)));
    int model = 0;
    for (int y = 0; y < whole.height(); ++y)
        for (int x = 0; x < whole.width(); ++x)
            model += whole.pixelColor(x, y) != QColor(Qt::white);
    QVERIFY2(model > 5000, qPrintable(QString::number(model)));
}

// The buffers go a budget of faces a call, at least one each, in order; a picture of
// another view starts over, and only the whole picture of a view holds it.
void TestGLRender::stepsShareTheBuffersAndStartOverForAnotherView()
{
    View v;
    v.view.makeCurrent();
    ModelSteps steps;
    const std::vector<size_t> faces = {100, 300, 50, 50, 400};
    const ModelSteps::Key view = {1.0, 2.0}, other = {1.0, 3.0};
    size_t first = 0, end = 0;
    std::vector<std::pair<size_t, size_t>> shares;
    while (!steps.complete()) {
        QVERIFY(steps.next(view, 64, 32, faces, 350, first, end));
        shares.emplace_back(first, end);
        QVERIFY(!steps.holds(view));
        QVERIFY(steps.underway());
        steps.advance(end);
    }
    using Shares = std::vector<std::pair<size_t, size_t>>;
    QCOMPARE(shares, (Shares{{0, 1}, {1, 3}, {3, 4}, {4, 5}}));
    QVERIFY(steps.holds(view));
    QVERIFY(!steps.holds(other));
    QVERIFY(!steps.underway());
    QVERIFY(steps.next(view, 64, 32, faces, 350, first, end));
    QCOMPARE(first, end); // nothing left to draw of the same view
    QVERIFY(steps.next(other, 64, 32, faces, 350, first, end));
    QCOMPARE(std::make_pair(first, end), std::make_pair(size_t(0), size_t(1)));
    QVERIFY(!steps.holds(view));
    v.view.doneCurrent();
}

void TestGLRender::exporterHierarchyDraws()
{
    // Files written by Debian's assimp carry their keyframer nodes without ids.
    QVERIFY(testsupport::writeBytes("tower.obj", "o Base\nv -50 -10 -50\nv 50 -10 -50\n"
                                                 "v 50 -10 50\nv -50 -10 50\nf 1 2 3\nf 1 3 4\n"
                                                 "o Flag\nv -20 -20 60\nv 20 -20 60\n"
                                                 "v 0 -20 90\nf 5 6 7\n"));
    QProcess assimp;
    assimp.start("assimp", {"export", "tower.obj", "tower.3ds"});
    QVERIFY(assimp.waitForFinished(30000) && assimp.exitCode() == 0);
    View v;
    QVERIFY(v.view.openModel("tower.3ds"));
    QCOMPARE(v.scene()->meshCount(), 2);
    const QImage frame = v.frame();
    int covered = 0;
    for (int y = 0; y < frame.height(); y += 4)
        for (int x = 0; x < frame.width(); x += 4)
            covered += frame.pixelColor(x, y) != QColor(Qt::white);
    QVERIFY2(covered > 200, qPrintable(QString::number(covered)));
}

void TestGLRender::missingOpenGl2LeavesTheViewInert()
{
    GLRender::simulateMissingOpenGl2ForTests(true);
    testsupport::MessageBoxCatcher failure;
    {
        View v;
        QTRY_COMPARE(failure.seen, 1);
        QCOMPARE(failure.title, QStringLiteral("Failure"));
        QCOMPARE(
            failure.text,
            QStringLiteral("Your system doesn't seem to support OpenGL 2.0 which is needed to run "
                           "this application."));
        QVERIFY(!v.view.openGlReady());
        QVERIFY(v.view.openModel("wall.3ds"));
        auto g = colouredGraftal(2);
        v.view.bindTexturesForGraftal(g.get());
        QCOMPARE(v.view.renderer().textures().names(g.get())[0], 0u);
        const QImage image = v.frame();
        QCOMPARE(image.pixelColor(200, 150), QColor(Qt::white));
    }
    GLRender::simulateMissingOpenGl2ForTests(false);
}

void TestGLRender::devicePixelRatio()
{
    View v(200, 150);
    const double ratio = v.view.devicePixelRatioF();
    QVERIFY(v.view.openModel("wall.3ds"));
    QCOMPARE(v.scene()->viewportWidth, int(std::lround(200 * ratio)));
    QCOMPARE(v.scene()->viewportHeight, int(std::lround(150 * ratio)));
    QCOMPARE(v.view.toDevicePixels(QPoint(100, 75)), QPoint(int(100 * ratio), int(75 * ratio)));
    // Painting at the centre of the widget lands on the wall, whatever the ratio.
    auto g = colouredGraftal(1);
    v.scene()->setCurrentGraftal(g.get());
    QAction paint;
    paint.setData(3);
    v.view.dispatchAction(&paint);
    QTest::mouseClick(&v.view, Qt::LeftButton, {}, QPoint(100, 75));
    QCOMPARE(v.scene()->instanceCount(), 1);
    QCOMPARE(v.scene()->collectInstances().front()->face()->meshIndex, 0);
    QTest::mouseClick(&v.view, Qt::LeftButton, {}, QPoint(3, 3)); // background
    QCOMPARE(v.scene()->instanceCount(), 1);
    if (qEnvironmentVariableIsSet("TUFTMILL_EXPECT_RATIO"))
        QCOMPARE(ratio, qEnvironmentVariable("TUFTMILL_EXPECT_RATIO").toDouble());
}

TUFTMILL_GL_TEST_MAIN(TestGLRender)
#include "tst_glrender.moc"
