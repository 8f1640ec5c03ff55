#include "LoggerOutput.h"
#include "Scene.h"

#include <QtTest>
#include <cmath>

namespace {
bool near(const Vector3 &a, const Vector3 &b, double eps = 1e-9)
{
    return std::abs(a.x - b.x) < eps && std::abs(a.y - b.y) < eps && std::abs(a.z - b.z) < eps;
}

QByteArray show(const Vector3 &v)
{
    return QByteArray::number(v.x, 'g', 12) + ", " + QByteArray::number(v.y, 'g', 12) + ", " +
           QByteArray::number(v.z, 'g', 12);
}

bool finite(const Vector3 &v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// A scene whose model box has the given extents and centre.
void setBox(Scene &scene, const Vector3 &extent, const Vector3 &center)
{
    for (int k = 0; k < 3; ++k) {
        scene.extent[k] = float(extent[k]);
        scene.center[k] = float(center[k]);
    }
    scene.resetCamera();
}
} // namespace

class TestCamera : public QObject
{
    Q_OBJECT
private slots:
    void resetState();
    void fitScalesTheSmallestSide();
    void yawAndPitchTurnTheView();
    void commitsAccumulate();
    void wheelAndMoveDragMoveTheEye();
    void degenerateBoxesStayFinite();
    void lookingStraightUpStaysUsable();
    void cameraValuesDoNotChange();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestCamera::resetState()
{
    Scene scene;
    QCOMPARE(scene.camera().cameraRotation, Matrix4::identity);
    QCOMPARE(scene.camera().worldEye, Vector3::zero);
    setBox(scene, {10, 20, 40}, {5, 6, 7});
    QCOMPARE(scene.camera().worldForward, Vector3(0, 0, -1));
    QCOMPARE(scene.camera().worldEye, Vector3(0, 0, 800));
    QCOMPARE(scene.camera().cameraRotation, Matrix4::identity);
    QCOMPARE(scene.camera().cameraTranslation, Matrix4::translation(0, 0, -800));
    QVERIFY2(near(scene.camera().viewDir, {0, 1, 0}), show(scene.camera().viewDir));
    QVERIFY2(near(scene.camera().eye, {5, -74, 7}), show(scene.camera().eye));
    // The model's +Z points up the screen: orientation sends +Z to +Y.
    QVERIFY(near(scene.camera().orientation.transformPoint({0, 0, 1}), {0, 1, 0}));
}

void TestCamera::fitScalesTheSmallestSide()
{
    Scene scene;
    setBox(scene, {10, 20, 40}, {5, 6, 7});
    QCOMPARE(scene.camera().normalization[0], 10.0);
    QVERIFY(near(scene.camera().normalization.transformPoint({5, 6, 7}), Vector3::zero));
    setBox(scene, {1, 1, 100}, {0, 0, 0});
    QCOMPARE(scene.camera().normalization[0], 100.0);
    const Vector3 top = scene.camera().normalization.transformPoint({0, 0, 50});
    const Vector3 bottom = scene.camera().normalization.transformPoint({0, 0, -50});
    QCOMPARE(top.z - bottom.z, 10000.0);
}

void TestCamera::yawAndPitchTurnTheView()
{
    Scene scene;
    setBox(scene, {10, 10, 10}, {0, 0, 0});
    scene.previewRotation(30, 0);
    QVERIFY2(near(scene.camera().worldForward, {0.5, 0, -std::sqrt(3.0) / 2}),
             show(scene.camera().worldForward));
    QCOMPARE(scene.camera().cameraRotation, Matrix4::identity); // a preview commits nothing
    scene.previewRotation(0, 0); // back to the start for the pitch axis
    scene.previewRotation(0, 30);
    QVERIFY2(near(scene.camera().worldForward, {0, -0.5, -std::sqrt(3.0) / 2}),
             show(scene.camera().worldForward));
    // Turning does not move the eye.
    QCOMPARE(scene.camera().worldEye, Vector3(0, 0, 800));
}

void TestCamera::commitsAccumulate()
{
    Scene a, b;
    setBox(a, {10, 10, 10}, {0, 0, 0});
    setBox(b, {10, 10, 10}, {0, 0, 0});
    a.commitRotation(30, 0);
    a.commitRotation(30, 0);
    b.commitRotation(60, 0);
    for (int i = 0; i < 16; ++i)
        QVERIFY(std::abs(a.camera().cameraRotation[i] - b.camera().cameraRotation[i]) < 1e-12);
    QVERIFY(near(a.camera().worldForward, b.camera().worldForward));
}

void TestCamera::wheelAndMoveDragMoveTheEye()
{
    Scene scene;
    setBox(scene, {10, 10, 10}, {0, 0, 0});
    scene.commitTranslation(0, 0, 120 * 0.125);
    QVERIFY(near(scene.camera().worldEye, {0, 0, 785}));
    scene.commitTranslation(0, 0, -120 * 0.125);
    scene.commitTranslation(0, 0, -120 * 0.125);
    QVERIFY(near(scene.camera().worldEye, {0, 0, 815}));

    setBox(scene, {10, 10, 10}, {0, 0, 0});
    scene.commitTranslation(60 / 6.0, 0, 0);
    QVERIFY2(near(scene.camera().worldEye, {-10, 0, 800}), show(scene.camera().worldEye));
    scene.commitTranslation(0, 5, 0);
    QVERIFY(near(scene.camera().worldEye, {-10, 5, 800}));
    // The model-space eye follows: world up is the model's +Z.
    QVERIFY2(near(scene.camera().eye, {-1, -80, 0.5}), show(scene.camera().eye));
}

void TestCamera::degenerateBoxesStayFinite()
{
    Scene scene;
    setBox(scene, {10, 0, 20}, {1, 2, 3}); // flat
    QCOMPARE(scene.camera().normalization[0], 10.0);
    QVERIFY(finite(scene.camera().eye) && finite(scene.camera().viewDir));
    setBox(scene, {0, 0, 0}, {1, 2, 3}); // a single point
    QCOMPARE(scene.camera().normalization[0], 1.0);
    QVERIFY(finite(scene.camera().eye));
    for (int i = 0; i < 16; ++i)
        QVERIFY(std::isfinite(scene.camera().modelMatrix[i]));
}

void TestCamera::lookingStraightUpStaysUsable()
{
    Scene scene;
    setBox(scene, {10, 10, 10}, {0, 0, 0});
    scene.commitRotation(0, -90); // straight up
    QVERIFY2(near(scene.camera().worldForward, {0, 1, 0}, 1e-12),
             show(scene.camera().worldForward));
    const Vector3 axis = scene.pitchAxis();
    QVERIFY(finite(axis));
    QVERIFY(std::abs(axis.lengthSquared() - 1.0) < 1e-12);
    // Pitching down again brings the view back to the horizon.
    scene.commitRotation(0, 90);
    QVERIFY2(near(scene.camera().worldForward, {0, 0, -1}, 1e-9),
             show(scene.camera().worldForward));
    scene.commitRotation(25, 0);
    QVERIFY(finite(scene.camera().worldForward) && finite(scene.camera().viewDir));
    for (int i = 0; i < 16; ++i)
        QVERIFY(std::isfinite(scene.camera().cameraRotation[i]));
}

void TestCamera::cameraValuesDoNotChange()
{
    // Turning or moving a camera gives another; the one it came from stays as it was, so a
    // render can draw any camera without touching the scene's.
    const float extent[3] = {10, 20, 40}, center[3] = {5, 6, 7};
    const Camera start = Camera::reset(extent, center);
    const Camera turned = start.turned(30, 10).moved(5, 0, 20);
    QCOMPARE(start.worldForward, Vector3(0, 0, -1));
    QCOMPARE(start.worldEye, Vector3(0, 0, 800));
    QVERIFY(!(turned.cameraRotation == start.cameraRotation));
    QVERIFY(!(turned.worldEye == start.worldEye));
    // A scene's commits land on the same camera as the value's own operations.
    Scene scene;
    setBox(scene, {10, 20, 40}, {5, 6, 7});
    scene.commitRotation(30, 10);
    scene.commitTranslation(5, 0, 20);
    for (int i = 0; i < 16; ++i)
        QVERIFY(std::abs(scene.camera().modelView()[i] - turned.modelView()[i]) < 1e-9);
    QVERIFY(near(scene.camera().eye, turned.eye));
}

QTEST_GUILESS_MAIN(TestCamera)
#include "tst_camera.moc"
