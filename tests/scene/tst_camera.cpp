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
    void orbitKeepsDistanceAndAim_data();
    void orbitKeepsDistanceAndAim();
    void dollyAndFrame();
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

namespace {
// Where a world point shows: normalized device coordinates of a picture w x h.
Vector3 onPicture(const Camera &c, const Vector3 &world, int w, int h)
{
    const Matrix4 toClip =
        c.cameraTranslation.preMultiplied(c.cameraRotation).preMultiplied(c.projection(w, h));
    return toClip.transformPoint(world);
}
} // namespace

void TestCamera::orbitKeepsDistanceAndAim_data()
{
    QTest::addColumn<double>("yaw");
    QTest::addColumn<double>("pitch");
    QTest::addColumn<double>("elevation"); // of the eye above the centre, degrees
    QTest::newRow("yaw only") << 90.0 << 0.0 << 0.0;
    QTest::newRow("rise") << 0.0 << 30.0 << 30.0;
    QTest::newRow("sink and turn") << -200.0 << -45.0 << -45.0;
    QTest::newRow("over the top stops") << 10.0 << 400.0 << Camera::MaxElevation;
    QTest::newRow("under the bottom stops") << 0.0 << -95.0 << -Camera::MaxElevation;
}

void TestCamera::orbitKeepsDistanceAndAim()
{
    QFETCH(double, yaw);
    QFETCH(double, pitch);
    QFETCH(double, elevation);
    const float extent[3] = {10, 20, 40}, center[3] = {5, 6, 7};
    // From a camera moved aside, so the centre is not at the middle of the picture.
    const Camera start = Camera::reset(extent, center).moved(3, 1, 0);
    const Vector3 centre = start.modelMatrix.transformPoint(Vector3(5, 6, 7));
    QVERIFY(near(centre, Vector3::zero, 1e-9));
    const Camera c = start.orbited(yaw, pitch, centre);
    const double before = std::sqrt(start.worldEye.lengthSquared());
    QVERIFY(std::abs(std::sqrt(c.worldEye.lengthSquared()) - before) < 1e-9);
    const Vector3 up = c.worldEye.normalized();
    QVERIFY2(std::abs(std::asin(up.y) * 180 / M_PI - elevation) < 1.0, show(c.worldEye));
    // The centre shows where it showed before the orbit.
    QVERIFY(near(onPicture(c, centre, 400, 300), onPicture(start, centre, 400, 300), 1e-9));
    if (yaw == 90.0) // the model turns right: the eye goes to its left
        QVERIFY2(c.worldEye.x < -700, show(c.worldEye));
    // The eye vectors agree with the matrices, and the turning camera still works from here.
    const Camera again = c.lookingThrough(c.cameraRotation).standingAt(c.cameraTranslation);
    QVERIFY(near(again.worldForward, c.worldForward) && near(again.eye, c.eye));
    QVERIFY(near(again.viewDir, c.viewDir) && near(again.worldEye, c.worldEye));
    // A yaw of the turning camera keeps the elevation and turns about the vertical.
    const Vector3 a = c.worldForward, b = c.turned(20, 0).worldForward;
    QVERIFY(std::abs(a.y - b.y) < 1e-9);
    QVERIFY(std::abs((a.x * b.x + a.z * b.z) / (1 - a.y * a.y) - std::cos(20 * M_PI / 180)) < 1e-9);
}

void TestCamera::dollyAndFrame()
{
    const float extent[3] = {10, 20, 40}, center[3] = {5, 6, 7};
    const float boxMin[3] = {0, -4, -13}, boxMax[3] = {10, 16, 27};
    const Camera start = Camera::reset(extent, center);
    const Camera closer = start.dolly(0.9, Vector3::zero);
    QVERIFY(near(closer.worldEye, {0, 0, 720}));
    QVERIFY(near(closer.worldForward, start.worldForward));
    // Sent away by a turn and a move, framing brings every corner of the box into the
    // picture, near its edges, with the centre in the middle.
    const Camera lost = start.turned(120, 30).moved(900, -300, 2000);
    for (auto [w, h] : {std::pair{400, 300}, std::pair{300, 600}}) {
        const Camera framed = lost.framed(boxMin, boxMax, w, h);
        QVERIFY(near(framed.worldForward, lost.worldForward));
        const Vector3 middle = onPicture(framed, Vector3::zero, w, h);
        QVERIFY(std::abs(middle.x) < 1e-9 && std::abs(middle.y) < 1e-9);
        double widest = 0;
        for (int corner = 0; corner < 8; ++corner) {
            const Vector3 p(corner & 1 ? boxMax[0] : boxMin[0], corner & 2 ? boxMax[1] : boxMin[1],
                            corner & 4 ? boxMax[2] : boxMin[2]);
            const Vector3 ndc = onPicture(framed, framed.modelMatrix.transformPoint(p), w, h);
            QVERIFY2(std::abs(ndc.x) <= 0.86 && std::abs(ndc.y) <= 0.86 && ndc.z < 1, show(ndc));
            widest = std::max({widest, std::abs(ndc.x), std::abs(ndc.y)});
        }
        QVERIFY2(widest > 0.6, QByteArray::number(widest));
    }
}

QTEST_GUILESS_MAIN(TestCamera)
#include "tst_camera.moc"
