#include "Matrix4.h"
#include "Random.h"
#include "Vector3.h"
#include "Vertex.h"

#include <QtTest>
#include <cmath>

namespace {
bool near(const Vector3 &a, const Vector3 &b, double eps = 1e-12)
{
    return std::abs(a.x - b.x) < eps && std::abs(a.y - b.y) < eps && std::abs(a.z - b.z) < eps;
}

bool near(const Matrix4 &a, const Matrix4 &b, double eps = 1e-12)
{
    for (int i = 0; i < 16; ++i)
        if (std::abs(a[i] - b[i]) >= eps)
            return false;
    return true;
}

bool finite(const Matrix4 &a)
{
    for (int i = 0; i < 16; ++i)
        if (!std::isfinite(a[i]))
            return false;
    return true;
}

QByteArray show(const Vector3 &v)
{
    return QByteArray::number(v.x, 'g', 17) + ", " + QByteArray::number(v.y, 'g', 17) + ", " +
           QByteArray::number(v.z, 'g', 17);
}
} // namespace

class TestMath : public QObject
{
    Q_OBJECT
private slots:
    void vectorBasics();
    void layoutMatchesOpenGL();
    void productsApplyInOrder();
    void rotationSignAndAxes();
    void rotationDegenerateAxisIsIdentity();
    void inverseAffineAndGeneral();
    void inverseOfSingularIsIdentity();
    void transformPointAtInfinityStaysFinite();
    void randomSequence();
};

void TestMath::vectorBasics()
{
    Vector3 zero;
    zero.normalize();
    QCOMPARE(zero, Vector3(0, 0, 0));
    Vector3 v(0, 0, 2);
    v.normalize();
    QCOMPARE(v, Vector3(0, 0, 1));
    QCOMPARE(Vector3::cross({1, 0, 0}, {0, 1, 0}), Vector3(0, 0, 1));
    QCOMPARE(Vector3::cross({0, 1, 0}, {1, 0, 0}), Vector3(0, 0, -1));
    QCOMPARE(Vector3::dot({1, 2, 3}, {4, -5, 6}), 12.0);
    QCOMPARE(Vector3(1, 2, 3).lengthSquared(), 14.0);
    QCOMPARE(Vector3(1, -2, 3).negated(), Vector3(-1, 2, -3));
    QCOMPARE(Vector3(1, 2, 3) + Vector3(1, 1, 1), Vector3(2, 3, 4));
    QCOMPARE(Vector3(1, 2, 3) - Vector3(1, 1, 1), Vector3(0, 1, 2));
    QCOMPARE(2.0 * Vector3(1, 2, 3), Vector3(2, 4, 6));
    QCOMPARE(Vector3(2, 4, 8) / 2.0, Vector3(1, 2, 4));
    Vector3 w(7, 8, 9);
    w[1] = -1;
    QCOMPARE(w.y, -1.0);
    w.setZero();
    QCOMPARE(w, Vector3::zero);

    const Vertex plain(1, 2, 3);
    QCOMPARE(plain.position(), Vector3(1, 2, 3));
    QCOMPARE(plain.normal(), Vector3::zero);
    QCOMPARE(plain.extra, Vector3::zero);
    const Vertex withNormal({1, 1, 1}, {0, 0, 1});
    QCOMPARE(withNormal.normal(), Vector3(0, 0, 1));
}

void TestMath::layoutMatchesOpenGL()
{
    // Translations sit in elements 12..14, the bottom row in 3, 7, 11, 15.
    const Matrix4 t = Matrix4::translation(1, 2, 3);
    QCOMPARE(t[12], 1.0);
    QCOMPARE(t[13], 2.0);
    QCOMPARE(t[14], 3.0);
    QCOMPARE(t.at(0, 3), 1.0);
    const Vector3 v(4, 5, 6);
    QCOMPARE(v.data()[2], 6.0);
    QCOMPARE(static_cast<const void *>(v.data()), static_cast<const void *>(&v));
    QCOMPARE(sizeof(Matrix4), 16 * sizeof(double));
    QCOMPARE(Matrix4(), Matrix4::identity);
    Matrix4 m = Matrix4::scaling(3);
    QCOMPARE(m[15], 1.0);
    m.setIdentity();
    QCOMPARE(m, Matrix4::identity);
}

void TestMath::productsApplyInOrder()
{
    const Matrix4 T = Matrix4::translation(1, 2, 3);
    const Matrix4 S = Matrix4::scaling(2);
    QCOMPARE(T.preMultiplied(S).transformPoint({1, 1, 1}), Vector3(4, 6, 8));
    QCOMPARE(S.preMultiplied(T).transformPoint({1, 1, 1}), Vector3(3, 4, 5));
    Matrix4 A = T;
    A.preMultiply(S);
    QCOMPARE(A, T.preMultiplied(S));
    QCOMPARE(Matrix4::translation(Vector3(-4, 5, 9)).transformPoint(Vector3::zero),
             Vector3(-4, 5, 9));
}

void TestMath::rotationSignAndAxes()
{
    const Matrix4 r = Matrix4::rotation({1, 0, 0}, 90);
    QVERIFY2(near(r.transformPoint({0, 0, 1}), {0, 1, 0}), show(r.transformPoint({0, 0, 1})));
    QVERIFY(near(r.transformPoint({0, 1, 0}), {0, 0, -1}));
    // Axis length does not matter.
    QVERIFY(near(Matrix4::rotation({5, 0, 0}, 90), r));
    QCOMPARE(Matrix4::rotation({0.3, -2, 7}, 0), Matrix4::identity);
    // Rotations compose: 30 then 60 is 90.
    const Matrix4 r30 = Matrix4::rotation({0, 1, 0}, 30);
    const Matrix4 r60 = Matrix4::rotation({0, 1, 0}, 60);
    QVERIFY(near(r30.preMultiplied(r60), Matrix4::rotation({0, 1, 0}, 90)));
    // The inverse of a rotation is its transpose.
    const Matrix4 inv = Matrix4::rotation({1, 2, 3}, 47).inverse();
    QVERIFY(near(inv, Matrix4::rotation({1, 2, 3}, -47)));
}

void TestMath::rotationDegenerateAxisIsIdentity()
{
    const Matrix4 r = Matrix4::rotation(Vector3::zero, 35);
    QVERIFY(finite(r));
    QCOMPARE(r, Matrix4::identity);
}

void TestMath::inverseAffineAndGeneral()
{
    const Matrix4 t = Matrix4::translation(0, 0, -800);
    const Matrix4 inv = t.inverse();
    QCOMPARE(inv, Matrix4::translation(0, 0, 800));
    QCOMPARE(inv[3], 0.0);
    QCOMPARE(inv[7], 0.0);
    QCOMPARE(inv[11], 0.0);
    QCOMPARE(inv[15], 1.0);

    // An affine chain: M * M^-1 = I.
    const Matrix4 m = Matrix4::translation(3, -2, 7)
                          .preMultiplied(Matrix4::rotation({1, 1, 0}, 33))
                          .preMultiplied(Matrix4::scaling(2.5));
    QVERIFY(near(m.inverse().preMultiplied(m), Matrix4::identity, 1e-12));
    QVERIFY(near(m.preMultiplied(m.inverse()), Matrix4::identity, 1e-12));

    // A projective matrix takes the general path and still inverts.
    Matrix4 p = m;
    p[3] = 0.01;
    p[11] = -0.2;
    p[15] = 2.0;
    QVERIFY(near(p.inverse().preMultiplied(p), Matrix4::identity, 1e-10));
}

void TestMath::inverseOfSingularIsIdentity()
{
    Matrix4 affine; // column 1 all zero
    affine[4] = affine[5] = affine[6] = 0.0;
    QCOMPARE(affine.inverse(), Matrix4::identity);
    Matrix4 general = affine;
    general[15] = 3.0;
    general[3] = 1.0;
    QCOMPARE(general.inverse(), Matrix4::identity);
}

void TestMath::transformPointAtInfinityStaysFinite()
{
    Matrix4 m;
    m[15] = 0.0; // sends every point with h3 = 0
    const Vector3 p = m.transformPoint({1, 2, 3});
    QVERIFY(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
    QCOMPARE(p, Vector3(1, 2, 3));
    Matrix4 h;
    h[15] = 2.0;
    QCOMPARE(h.transformPoint({2, 4, 6}), Vector3(1, 2, 3));
}

void TestMath::randomSequence()
{
    Random::reseedForTests(1);
    // The classic sequence from seed 1.
    QCOMPARE(Random::next(), 41);
    QCOMPARE(Random::next(), 18467);
    QCOMPARE(Random::next(), 6334);
    Random::reseedForTests(1);
    int lowest = Random::Max, highest = 0;
    for (int i = 0; i < 200000; ++i) {
        const int v = Random::next();
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
    }
    QCOMPARE(lowest, 0);
    QCOMPARE(highest, 32767);
}

QTEST_GUILESS_MAIN(TestMath)
#include "tst_math.moc"
