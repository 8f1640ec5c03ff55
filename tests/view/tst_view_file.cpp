#include <GL/glew.h>

#include "../support/GlTestMain.h"
#include "../support/TestSupport.h"
#include "GLRender.h"
#include "LoggerOutput.h"
#include "ModelBuilder.h"
#include "Scene.h"
#include "SceneSession.h"
#include "SceneViewFile.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

using testsupport::MessageBoxCatcher;
using testsupport::ScopedWorkDir;

namespace {
bool sameCamera(const Camera &a, const Camera &b)
{
    return a.cameraRotation == b.cameraRotation && a.cameraTranslation == b.cameraTranslation &&
           a.modelMatrix == b.modelMatrix && a.normalization == b.normalization &&
           a.orientation == b.orientation && a.worldEye == b.worldEye && a.eye == b.eye &&
           a.worldForward == b.worldForward && a.viewDir == b.viewDir;
}
} // namespace

// The view kept beside the scene file: saved with the scene, brought back by reloading it
// and by opening its model, and ignored, with a note, when it cannot be trusted.
class TestViewFile : public QObject
{
    Q_OBJECT
private slots:
    void keptBesideTheScene_data();
    void keptBesideTheScene();
    void olderViewsReadWithTheDefaults();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestViewFile::keptBesideTheScene_data()
{
    QTest::addColumn<QString>("key");      // what is changed in the saved file ("" none)
    QTest::addColumn<QJsonValue>("value"); // to this
    QTest::addColumn<QByteArray>("bytes"); // or the file becomes these bytes
    QTest::addColumn<bool>("restored");
    QTest::addColumn<QString>("note"); // in the status line after the reload

    const QJsonValue none;
    QTest::newRow("as saved") << "" << none << QByteArray() << true
                              << "Scene reloaded from scenes/ball.dat";
    QTest::newRow("another model") << "model" << QJsonValue("/other/terrain.3ds") << QByteArray()
                                   << true << "this scene was painted on /other/terrain.3ds";
    QTest::newRow("not JSON") << "" << none << QByteArray("{\"format\": \"tuftmill-view\"") << false
                              << "is ignored: it is not JSON";
    QTest::newRow("another kind") << "format" << QJsonValue("other-view") << QByteArray() << false
                                  << "it is not a view saved by this Tuftmill";
    QTest::newRow("short matrix") << "cameraRotation" << QJsonValue(QJsonArray{1, 0, 0})
                                  << QByteArray() << false << "is ignored: it is damaged";
    QTest::newRow("not a rotation")
        << "cameraRotation"
        << QJsonValue(QJsonArray{2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}) << QByteArray()
        << false << "is ignored: it is damaged";
    QTest::newRow("a word for a number") << "worldEye" << QJsonValue(QJsonArray{0, "far", 1})
                                         << QByteArray() << false << "is ignored: it is damaged";
    QTest::newRow("unknown up axis")
        << "up" << QJsonValue("sideways") << QByteArray() << false << "is ignored: it is damaged";
    QTest::newRow("two-sided in words")
        << "twoSided" << QJsonValue("yes") << QByteArray() << false << "is ignored: it is damaged";
    QTest::newRow("lines too wide") << "outlineWidth" << QJsonValue(9) << QByteArray() << false
                                    << "is ignored: it is damaged";
    QTest::newRow("a colour half written") << "outlineColor" << QJsonValue("#12") << QByteArray()
                                           << false << "is ignored: it is damaged";
    QTest::newRow("smooth past a half turn") << "smoothAngle" << QJsonValue(200) << QByteArray()
                                             << false << "is ignored: it is damaged";
    QTest::newRow("a light from nowhere") << "light" << QJsonValue("sun") << QByteArray() << false
                                          << "is ignored: it is damaged";
    QTest::newRow("unknown shading") << "shading" << QJsonValue("pastel") << QByteArray() << false
                                     << "is ignored: it is damaged";
    QTest::newRow("fade past its end") << "fadeFrom" << QJsonValue(0.9) << QByteArray() << false
                                       << "is ignored: it is damaged";
    QTest::newRow("fade in words") << "fadeTo" << QJsonValue("far") << QByteArray() << false
                                   << "is ignored: it is damaged";
    QTest::newRow("fade beyond face on") << "fadeTo" << QJsonValue(1.5) << QByteArray() << false
                                         << "is ignored: it is damaged";
}

void TestViewFile::keptBesideTheScene()
{
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, restored);
    QFETCH(QString, note);
    ScopedWorkDir work;
    QDir().mkdir("scenes");
    ModelBuilder ball;
    ball.addMaterial(QStringLiteral("green"), 0.0f, 1.0f, 0.0f);
    ball.addSphere(QStringLiteral("ball"), {0, 0, 0}, 10, 16, 24, QStringLiteral("green"));
    QVERIFY(ball.save("ball.3ds"));
    GLRender view;
    SceneSession session{*view.scene(), view.modelLoader(), view};
    view.setSession(&session);
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(view.openModel("ball.3ds"));
    Scene &scene = *view.scene();
    const Camera start = scene.camera();
    auto act = [&](int data) {
        QAction action;
        action.setData(data);
        view.dispatchAction(&action);
    };

    scene.setCamera(start.orbited(40, 25, Vector3::zero).dolly(0.7, Vector3::zero));
    scene.style = {Shading::Toon, true, 0.3};
    // Stood on its file's -Y axis and drawn two-sided: both kept.
    scene.style.up = UpAxis::MinusY;
    scene.style.twoSided = true;
    scene.orientModel();
    scene.style.outlineWidth = 5;
    scene.style.outlineColor = 0x102030;
    scene.style.lightOnModel = true;
    scene.style.bands = 4;
    scene.style.antialiasing = false;
    scene.style.fade = {0.35, 0.85};
    scene.style.smoothAngle = 45;
    const Camera saved = scene.camera();
    const ViewStyle style = scene.style;
    QSignalSpy status(&view, &GLRender::statusMessage);
    act(GLRender::SaveStateAction);
    QCOMPARE(status.last()[0].toString(), QStringLiteral("Scene saved to scenes/ball.dat"));
    // The scene file holds what it always held.
    QVERIFY(scene.saveStateTo("plain.dat"));
    QFile dat("scenes/ball.dat"), plain("plain.dat");
    QVERIFY(dat.open(QIODevice::ReadOnly) && plain.open(QIODevice::ReadOnly));
    QCOMPARE(dat.readAll(), plain.readAll());

    QFile side(SceneViewFile::besideScene("scenes/ball.dat"));
    QVERIFY(side.open(QIODevice::ReadWrite));
    if (!key.isEmpty()) {
        QJsonObject root = QJsonDocument::fromJson(side.readAll()).object();
        QJsonObject camera = root["camera"].toObject();
        (camera.contains(key) ? camera : root)[key] = value;
        root["camera"] = camera;
        bytes = QJsonDocument(root).toJson();
    }
    if (!bytes.isEmpty()) {
        side.resize(0);
        side.write(bytes);
    }
    side.close();

    // Reloading the scene, and opening its model again, bring the view back or leave it.
    scene.style = {};
    scene.resetCamera();
    act(GLRender::ReloadStateAction);
    QVERIFY2(status.last()[0].toString().contains(note), qPrintable(status.last()[0].toString()));
    QCOMPARE(sameCamera(scene.camera(), restored ? saved : start), true);
    QCOMPARE(scene.style == style, restored);
    scene.style = {};
    QVERIFY(view.openModel("ball.3ds"));
    QCOMPARE(sameCamera(scene.camera(), restored ? saved : start), true);
    QCOMPARE(scene.style == style, restored);

    // A scene whose view names another model is replaced only when the user says so.
    MessageBoxCatcher cancel(QMessageBox::Cancel);
    scene.markChanged();
    act(GLRender::SaveStateAction);
    QCOMPARE(cancel.titles, key == "model" ? QStringList{"Replace scene"} : QStringList());
}

void TestViewFile::olderViewsReadWithTheDefaults()
{
    // Saved before the up axis, the sides and smoothing were kept: the format's axis, the
    // sides as the model's open edges set them before the file was read, the file's normals.
    SceneViewFile written;
    written.style.up = UpAxis::PlusX;
    written.style.smoothAngle = 30;
    QJsonObject root = QJsonDocument::fromJson(written.encode()).object();
    QCOMPARE(root["up"].toString(), QStringLiteral("x"));
    written.style.fade = {0.2, 0.4};
    root = QJsonDocument::fromJson(written.encode()).object();
    QCOMPARE(root["fadeFrom"].toDouble(), 0.2);
    root.remove("up");
    root.remove("twoSided");
    root.remove("fadeFrom");
    root.remove("fadeTo");
    QCOMPARE(root["smoothAngle"].toDouble(), 30.0);
    root.remove("smoothAngle");
    for (bool open : {false, true}) {
        SceneViewFile read;
        read.style.twoSided = open;
        QString why;
        QVERIFY(read.decode(QJsonDocument(root).toJson(), why));
        QVERIFY(read.style.up == UpAxis::Default && read.style.twoSided == open);
        QVERIFY(read.style.fade == FadeRange{});
        QCOMPARE(read.style.smoothAngle, 0.0);
    }
}

TUFTMILL_GL_TEST_MAIN(TestViewFile)
#include "tst_view_file.moc"
