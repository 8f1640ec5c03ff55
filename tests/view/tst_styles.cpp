#include <GL/glew.h>

#include "../support/GlTestMain.h"
#include "../support/Models.h"
#include "../support/SphereView.h"
#include "../support/TestSupport.h"
#include "GLRender.h"
#include "Graftal.h"
#include "LoggerOutput.h"
#include "Scene.h"
#include "SceneRenderer.h"

#include <QPainter>
#include <QSet>

namespace {
struct Look
{
    int distinct = 0;       // colours inside the silhouette, lines left out
    bool darkEdge = false;  // the first model pixel of the middle row from the left is dark
    int modelPixels = 0;
};

bool dark(QRgb c)
{
    return qRed(c) < 60 && qGreen(c) < 60 && qBlue(c) < 60;
}

Look lookAt(const QImage &image, QRgb background)
{
    Look look;
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y) | 0xff000000u;
            if (c == background)
                continue;
            ++look.modelPixels;
            if (!dark(c))
                colours.insert(c);
        }
    look.distinct = int(colours.size());
    const int y = image.height() / 2;
    for (int x = 0; x < image.width(); ++x)
        if ((image.pixel(x, y) | 0xff000000u) != background) {
            look.darkEdge = dark(image.pixel(x, y));
            break;
        }
    return look;
}

// Share of pixels that differ from the baseline by more than software renderers do.
double differingShare(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 1.0;
    qint64 off = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > 48 || std::abs(qGreen(p) - qGreen(q)) > 48 ||
                std::abs(qBlue(p) - qBlue(q)) > 48)
                ++off;
        }
    return double(off) / double(a.width() * a.height());
}
} // namespace

class TestStyles : public QObject
{
    Q_OBJECT
private slots:
    void stylesDrawTheirLightAndLines_data();
    void stylesDrawTheirLightAndLines();
    void graftalTexturesHaveNoDarkFringes();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestStyles::stylesDrawTheirLightAndLines_data()
{
    QTest::addColumn<int>("shading");
    QTest::addColumn<bool>("outlines");
    QTest::addColumn<int>("fewestColours");
    QTest::addColumn<int>("mostColours");
    QTest::newRow("flat") << int(Shading::Flat) << false << 1 << 2;
    QTest::newRow("flat-outlines") << int(Shading::Flat) << true << 1 << 2;
    QTest::newRow("shaded") << int(Shading::Shaded) << false << 20 << 100000;
    QTest::newRow("shaded-outlines") << int(Shading::Shaded) << true << 20 << 100000;
    QTest::newRow("toon") << int(Shading::Toon) << false << 2 << 3;
    QTest::newRow("toon-outlines") << int(Shading::Toon) << true << 2 << 3;
}

void TestStyles::stylesDrawTheirLightAndLines()
{
    QFETCH(int, shading);
    QFETCH(bool, outlines);
    QFETCH(int, fewestColours);
    QFETCH(int, mostColours);
    testsupport::SphereView v({Qt::red});
    // Back off so that the whole sphere shows with background round it.
    v.scene()->commitTranslation(0, 0, -150);
    v.scene()->style.shading = Shading(shading);
    v.scene()->style.outlines = outlines;
    QVERIFY2(v.view.renderer().styleLog().isEmpty(), qPrintable(v.view.renderer().styleLog()));
    const QImage image = v.view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    const Look look = lookAt(image, qRgb(255, 255, 255));
    QVERIFY2(look.modelPixels > 5000, qPrintable(QString::number(look.modelPixels)));
    QVERIFY2(look.distinct >= fewestColours && look.distinct <= mostColours,
             qPrintable(QString::number(look.distinct)));
    QCOMPARE(look.darkEdge, outlines);

    // Against a picture of the same style taken when it was made and looked at.
    const QString name = QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".png");
    const QString baseline = testsupport::realModel(QStringLiteral("styles/") + name);
    if (qEnvironmentVariableIsSet("TUFTMILL_UPDATE_BASELINES"))
        QVERIFY(image.save(baseline));
    const double share = differingShare(image, QImage(baseline).convertToFormat(QImage::Format_RGB32));
    if (share > 0.02)
        image.save(QCoreApplication::applicationDirPath() + QStringLiteral("/styles-") + name);
    QVERIFY2(share <= 0.02, qPrintable(QStringLiteral("%1 of the pixels differ from %2")
                                           .arg(share)
                                           .arg(baseline)));
}

void TestStyles::graftalTexturesHaveNoDarkFringes()
{
    // A graftal whose left half is opaque red and right half empty: filtering near the edge
    // must mix in red, not the black of the empty texels.
    testsupport::SphereView v({Qt::red});
    QPixmap texture(400, 400);
    texture.fill(Qt::transparent);
    QPainter(&texture).fillRect(0, 0, 200, 400, Qt::red);
    Graftal *g = v.graftals[0];
    g->setLevel(0, {texture, testsupport::filledLevel(Qt::transparent)});
    v.view.bindTexturesForGraftal(g);
    const GLuint name = v.view.renderer().textures().names(g)[0];
    QVERIFY(name != 0);
    v.view.makeCurrent();
    glBindTexture(GL_TEXTURE_2D, name);
    for (int level = 0; level < 9; ++level) {
        GLint side = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &side);
        std::vector<unsigned char> texels(size_t(side) * size_t(side) * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        for (size_t i = 0; i < texels.size(); i += 4)
            QVERIFY2(texels[i] > 200 && texels[i + 1] < 60 && texels[i + 2] < 60,
                     qPrintable(QStringLiteral("level %1 texel %2: %3,%4,%5,%6")
                                    .arg(level)
                                    .arg(i / 4)
                                    .arg(texels[i])
                                    .arg(texels[i + 1])
                                    .arg(texels[i + 2])
                                    .arg(texels[i + 3])));
    }
    v.view.doneCurrent();
}

TUFTMILL_GL_TEST_MAIN(TestStyles)
#include "tst_styles.moc"
