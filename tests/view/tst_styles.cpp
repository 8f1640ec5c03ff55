#include <GL/glew.h>

#include "../support/GlTestMain.h"
#include "../support/Models.h"
#include "../support/SphereView.h"
#include "../support/TestSupport.h"
#include "Camera.h"
#include "GLRender.h"
#include "Graftal.h"
#include "LoggerOutput.h"
#include "Scene.h"
#include "EdgeSmoothing.h"
#include "RenderSettings.h"
#include "OffscreenTarget.h"
#include "SceneRenderer.h"
#include "TreeManager.h"

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

// A picture of the view's scene through its renderer, in the scene's style changed by `how`.
template <typename Change>
QImage pictureOf(testsupport::SphereView &v, Change how, int width = 400, int height = 300)
{
    RenderSettings settings = settingsOf(v.scene()->style);
    how(settings);
    v.view.makeCurrent();
    QString error;
    v.view.renderer().prepareTextures(*v.scene());
    const QImage image = v.view.renderer().picture(*v.scene(), v.scene()->camera(), settings,
                                                   width, height, error);
    v.view.doneCurrent();
    if (qEnvironmentVariableIsSet("TUFTMILL_KEEP_PICTURES"))
        image.save(QStringLiteral("/tmp/%1-%2x%3.png")
                       .arg(QString::fromLatin1(QTest::currentDataTag()))
                       .arg(width)
                       .arg(height));
    return image.convertToFormat(QImage::Format_RGB32);
}

bool near(QRgb p, QRgb q, int levels)
{
    return std::abs(qRed(p) - qRed(q)) <= levels && std::abs(qGreen(p) - qGreen(q)) <= levels &&
           std::abs(qBlue(p) - qBlue(q)) <= levels;
}

// The OpenGL state the renderer's passes set, as OpenGL tells it.
std::vector<GLint> drawingState()
{
    std::vector<GLint> state;
    for (GLenum capability : {GL_BLEND, GL_DEPTH_TEST, GL_CULL_FACE, GL_POLYGON_OFFSET_FILL,
                              GL_MULTISAMPLE, GL_DITHER})
        state.push_back(glIsEnabled(capability));
    for (GLenum value : {GL_BLEND_SRC_RGB, GL_BLEND_DST_RGB, GL_BLEND_SRC_ALPHA, GL_BLEND_DST_ALPHA,
                         GL_DEPTH_WRITEMASK, GL_DEPTH_FUNC, GL_CURRENT_PROGRAM, GL_ACTIVE_TEXTURE,
                         GL_DRAW_FRAMEBUFFER_BINDING, GL_READ_FRAMEBUFFER_BINDING}) {
        GLint v = 0;
        glGetIntegerv(value, &v);
        state.push_back(v);
    }
    GLint active = 0, viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    for (GLenum unit : {GL_TEXTURE0, GL_TEXTURE1}) {
        glActiveTexture(unit);
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        state.push_back(bound);
        state.push_back(glIsEnabled(GL_TEXTURE_2D));
    }
    glActiveTexture(GLenum(active));
    glGetIntegerv(GL_VIEWPORT, viewport);
    state.insert(state.end(), viewport, viewport + 4);
    return state;
}

// Stands a graftal on every `step`-th face of the ball from `first` on.
void dress(testsupport::SphereView &v, Graftal *g, int first, int step)
{
    Scene &scene = *v.scene();
    int faces = 0;
    for (const auto &mesh : scene.meshFaces())
        faces += int(mesh.size());
    for (int f = first; f < faces; f += step)
        scene.addInstance(scene.face(f), {0.3, 0.3}, g);
}
} // namespace

class TestStyles : public QObject
{
    Q_OBJECT
private slots:
    void stylesDrawTheirLightAndLines_data();
    void stylesDrawTheirLightAndLines();
    void graftalTexturesHaveNoDarkFringes();
    void finishedFrames_data();
    void finishedFrames();
    void samplesGoFromCheapToCostly_data();
    void samplesGoFromCheapToCostly();
    void variedGraftalsLookAlikeEverywhere();
    void smoothOrFacetedByChoice_data();
    void smoothOrFacetedByChoice();
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
    v.scene()->style.antialiasing = false; // the look without it is the one of the baselines
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

// What a row of the finished-frame table checks.
enum class Check
{
    Overlap,     // bars on clear cards: both halves together show what each shows alone
    ExportDetail, // a picture at twice the size shows the graftals' levels the view shows
    Ring,         // an antialiased ball on white has in-between pixels round it, `param` samples
    LineWidth,    // lines `param` pixels wide: twice the pixels of lines half as wide
    State,        // drawing with `param` samples leaves OpenGL's state as it was and needs none
    Mask          // blue cards under a mask of alpha `param`: faint, the model's colour stays
                  // off them beside the ball; opaque, they take the ball's light at their roots
};

void TestStyles::finishedFrames_data()
{
    QTest::addColumn<int>("check");
    QTest::addColumn<int>("shading");
    QTest::addColumn<double>("scale");
    QTest::addColumn<bool>("outlines");
    QTest::addColumn<int>("param");
    QTest::addColumn<QString>("model"); // instead of the ball
    QTest::newRow("overlap-flat") << int(Check::Overlap) << int(Shading::Flat) << 1.0 << false << 1 << QString();
    QTest::newRow("overlap-shaded-large-antialiased")
        << int(Check::Overlap) << int(Shading::Shaded) << 2.5 << false << 4 << QString();
    QTest::newRow("overlap-toon-outlines-small")
        << int(Check::Overlap) << int(Shading::Toon) << 0.6 << true << 1 << QString();
    QTest::newRow("export-detail")
        << int(Check::ExportDetail) << int(Shading::Flat) << 5.0 << false << 1 << QString();
    QTest::newRow("ring-none") << int(Check::Ring) << int(Shading::Flat) << 1.0 << false << 1 << QString();
    QTest::newRow("ring-2") << int(Check::Ring) << int(Shading::Flat) << 1.0 << false << 2 << QString();
    QTest::newRow("ring-2-toon-outlines") << int(Check::Ring) << int(Shading::Toon) << 1.0 << true << 2 << QString();
    QTest::newRow("ring-4") << int(Check::Ring) << int(Shading::Flat) << 1.0 << false << 4 << QString();
    QTest::newRow("ring-4-outlines") << int(Check::Ring) << int(Shading::Flat) << 1.0 << true << 4 << QString();
    QTest::newRow("ring-8") << int(Check::Ring) << int(Shading::Flat) << 1.0 << false << 8 << QString();
    QTest::newRow("ring-16-outlines") << int(Check::Ring) << int(Shading::Flat) << 1.0 << true << 16 << QString();
    QTest::newRow("lines-2") << int(Check::LineWidth) << int(Shading::Flat) << 1.0 << true << 2 << QString();
    QTest::newRow("lines-2-creases")
        << int(Check::LineWidth) << int(Shading::Flat) << 1.0 << true << 2 << QStringLiteral("box 20 20 20");
    QTest::newRow("lines-4") << int(Check::LineWidth) << int(Shading::Flat) << 1.0 << true << 4 << QString();
    QTest::newRow("lines-6-toon") << int(Check::LineWidth) << int(Shading::Toon) << 1.0 << true << 6 << QString();
    QTest::newRow("mask-faint-flat") << int(Check::Mask) << int(Shading::Flat) << 1.0 << false << 48 << QString();
    QTest::newRow("mask-faint-shaded") << int(Check::Mask) << int(Shading::Shaded) << 1.0 << false << 48 << QString();
    QTest::newRow("mask-faint-toon") << int(Check::Mask) << int(Shading::Toon) << 1.0 << false << 48 << QString();
    QTest::newRow("mask-opaque-toon") << int(Check::Mask) << int(Shading::Toon) << 1.0 << false << 255 << QString();
    QTest::newRow("state-flat") << int(Check::State) << int(Shading::Flat) << 1.0 << false << 1 << QString();
    QTest::newRow("state-shaded-antialiased") << int(Check::State) << int(Shading::Shaded) << 1.0 << false << 4 << QString();
    QTest::newRow("state-toon-outlines") << int(Check::State) << int(Shading::Toon) << 1.0 << true << 1 << QString();
    QTest::newRow("state-shaded-outlines-supersampled")
        << int(Check::State) << int(Shading::Shaded) << 1.0 << true << 16 << QString();
}

void TestStyles::finishedFrames()
{
    QFETCH(int, check);
    QFETCH(int, shading);
    QFETCH(double, scale);
    QFETCH(bool, outlines);
    QFETCH(int, param);
    QFETCH(QString, model);
    testsupport::SphereView v({Qt::red});
    if (!model.isEmpty()) {
        // Seen from above a corner, its three faces meeting in creases.
        QVERIFY(v.view.openModel(testsupport::shapeModel(model, QStringLiteral("."))));
        v.scene()->commitRotation(35, 30);
        const Camera &c = v.scene()->camera();
        v.scene()->setCamera(c.framed(v.scene()->boundsMin, v.scene()->boundsMax, 400, 300));
    }
    Graftal *g = v.graftals[0];
    // Overlaps seen from above, where cards nearer the eye are drawn before others behind
    // their ends; the ball whole for its edges.
    const bool whole = Check(check) == Check::Ring || Check(check) == Check::LineWidth ||
                       Check(check) == Check::Mask;
    if (model.isEmpty())
        v.scene()->commitTranslation(0, 0, whole ? -150 : -20);
    if (Check(check) == Check::Overlap)
        v.scene()->commitRotation(0, 30);
    const auto style = [&](RenderSettings &s) {
        s.style.shading = Shading(shading);
        s.style.graftalScale = scale;
        s.style.outlines = outlines;
        s.samples = Check(check) == Check::LineWidth || Check(check) == Check::Mask ? 1 : param;
    };
    if (Check(check) == Check::Mask)
        v.scene()->background = Qt::black;
    const QImage bare = pictureOf(v, style);
    QPixmap bar(400, 400), clear(400, 400);
    bar.fill(Qt::transparent);
    clear.fill(Qt::transparent);
    QPainter(&bar).fillRect(170, 0, 60, 400, QColor(200, 30, 160));

    if (Check(check) == Check::Overlap) {
        // Bars on clear cards, half of them on the even faces, half on the odd.
        g->setLevel(0, {bar, clear});
        v.view.bindTexturesForGraftal(g);
        QImage halves[2];
        for (int half = 0; half < 2; ++half) {
            v.scene()->clearInstances();
            dress(v, g, half, 2);
            halves[half] = pictureOf(v, style);
        }
        v.scene()->clearInstances();
        dress(v, g, 0, 1);
        const QImage both = pictureOf(v, style);
        qint64 shown = 0, lost = 0;
        for (int y = 0; y < bare.height(); ++y)
            for (int x = 0; x < bare.width(); ++x) {
                const auto barAt = [&](const QImage &i) {
                    return !near(i.pixel(x, y), bare.pixel(x, y), 24);
                };
                if (barAt(halves[0]) || barAt(halves[1])) {
                    ++shown;
                    lost += !barAt(both);
                }
            }
        QVERIFY2(shown > 2000, qPrintable(QString::number(shown)));
        QVERIFY2(double(lost) <= 0.005 * double(shown),
                 qPrintable(QStringLiteral("%1 of %2 bar pixels lost").arg(lost).arg(shown)));
    } else if (Check(check) == Check::Ring) {
        // In-between: neither the background, nor the ball, nor a line.
        const QRgb background = bare.pixel(0, 0), ball = bare.pixel(200, 150);
        int between = 0;
        for (int y = 0; y < bare.height(); ++y)
            for (int x = 0; x < bare.width(); ++x) {
                const QRgb c = bare.pixel(x, y);
                between += !near(c, background, 8) && !near(c, ball, 8) && !dark(c);
            }
        // The ball is some 60 pixels across: a ring of about 200 pixels.
        QVERIFY2(param == 1 ? between < 10 : between > 150, qPrintable(QString::number(between)));
        // The edge pass changes only pixels beside a change of colour.
        if (param == 2) {
            const QImage plain = pictureOf(v, [&](RenderSettings &s) { style(s), s.samples = 1; });
            int kept = 0, inside = 0;
            for (int y = 1; y + 1 < plain.height(); ++y)
                for (int x = 1; x + 1 < plain.width(); ++x) {
                    bool even = true;
                    for (int k = 0; k < 9; ++k)
                        even = even && plain.pixel(x - 1 + k % 3, y - 1 + k / 3) == plain.pixel(x, y);
                    inside += even;
                    kept += even && bare.pixel(x, y) == plain.pixel(x, y);
                }
            QCOMPARE(kept, inside);
        }
        // Off, the samples are not taken: today's pixels.
        const QImage off = pictureOf(v, [&](RenderSettings &s) { style(s), s.style.antialiasing = false; });
        QCOMPARE(off == pictureOf(v, [&](RenderSettings &s) { style(s), s.samples = 1; }), true);
    } else if (Check(check) == Check::LineWidth) {
        const auto lines = [&](const QImage &i, QRgb colour) {
            int n = 0;
            for (int y = 0; y < i.height(); ++y)
                for (int x = 0; x < i.width(); ++x)
                    n += near(i.pixel(x, y), colour, 40);
            return n;
        };
        const QImage half = pictureOf(v, [&](RenderSettings &s) {
            style(s), s.style.outlineWidth = param / 2;
        });
        const QImage full = pictureOf(v, [&](RenderSettings &s) {
            style(s), s.style.outlineWidth = param, s.style.outlineColor = 0xff8000;
        });
        const int narrow = lines(half, qRgb(0x14, 0x14, 0x1a)), wide = lines(full, qRgb(255, 128, 0));
        QVERIFY2(narrow > 100, qPrintable(QString::number(narrow)));
        // One pixel against two: creases at 2 are broken where the faces' slopes are alike.
        const double least = param == 2 ? 1.4 : 1.6;
        QVERIFY2(wide > least * narrow && wide < 2.4 * narrow,
                 qPrintable(QStringLiteral("%1 line pixels at %2, %3 at %4")
                                .arg(narrow).arg(param / 2).arg(wide).arg(param)));
        QCOMPARE(lines(full, qRgb(0x14, 0x14, 0x1a)), 0);
    } else if (Check(check) == Check::Mask) {
        g->setLevel(0, {testsupport::filledLevel(Qt::blue), testsupport::filledLevel(QColor(0, 0, 0, param))});
        v.view.bindTexturesForGraftal(g);
        dress(v, g, 0, 1);
        const QImage dressed = pictureOf(v, style);
        QSet<QRgb> ball, bands;
        std::vector<QRgb> cards;
        int beside = 0, tinted = 0;
        for (int y = 0; y < bare.height(); ++y)
            for (int x = 0; x < bare.width(); ++x) {
                const QRgb was = bare.pixel(x, y), c = dressed.pixel(x, y);
                if (was != qRgb(0, 0, 0))
                    ball.insert(was);
                else if (c != was && qBlue(c) > 128) // a card beside the ball
                    ++beside, tinted += qGreen(c) > 4 || qRed(c) > 4;
                if (c != was)
                    cards.push_back(c);
            }
        if (param < 51) { // under the smallest alpha that takes the model's colour
            QVERIFY2(beside > 200, qPrintable(QString::number(beside)));
            QVERIFY2(tinted == 0, qPrintable(QStringLiteral("%1 of %2 pixels beside the ball tinted")
                                                 .arg(tinted).arg(beside)));
        } else {
            // The masked pixels have the bands of the ball's light (but where faded cards
            // blend), and the cards show several.
            qint64 lit = 0;
            for (QRgb c : cards)
                if (ball.contains(c))
                    ++lit, bands.insert(c);
            QVERIFY2(cards.size() > 2000 && lit > 0.9 * double(cards.size()) && bands.size() >= 2,
                     qPrintable(QStringLiteral("%1 of %2 pixels in %3 bands")
                                    .arg(lit).arg(cards.size()).arg(bands.size())));
        }
    } else if (Check(check) == Check::State) {
        dress(v, g, 0, 5);
        const QImage before = pictureOf(v, style);
        v.view.refreshPicking();
        const std::vector<unsigned char> ids = v.scene()->pickPicture().rgb;
        // Every switch turned the other way and state no pass wants: kept through every kind
        // of drawing, and the pictures as before.
        v.view.makeCurrent();
        for (GLenum capability : {GL_BLEND, GL_DEPTH_TEST, GL_CULL_FACE, GL_POLYGON_OFFSET_FILL,
                                  GL_MULTISAMPLE, GL_DITHER})
            glIsEnabled(capability) ? glDisable(capability) : glEnable(capability);
        OffscreenTarget own, read;
        QVERIFY(own.resize(64, 48) && read.resize(32, 32));
        GlTexture stray(genTexture());
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, own.framebuffer());
        glBindFramebuffer(GL_READ_FRAMEBUFFER, read.framebuffer());
        glViewport(3, 5, 40, 30);
        glBlendFuncSeparate(GL_ONE, GL_ONE, GL_ONE, GL_ONE);
        glPolygonOffset(8.0f, 512.0f);
        glDepthMask(GL_FALSE);
        glDepthFunc(GL_GREATER);
        glUseProgram(0);
        for (GLenum unit : {GL_TEXTURE0, GL_TEXTURE1}) {
            glActiveTexture(unit);
            glBindTexture(GL_TEXTURE_2D, stray.get());
            glIsEnabled(GL_TEXTURE_2D) ? glDisable(GL_TEXTURE_2D) : glEnable(GL_TEXTURE_2D);
        }
        const std::vector<GLint> odd = drawingState();
        RenderSettings settings = settingsOf(v.scene()->style);
        style(settings);
        QString error;
        for (int time = 0; time < 2; ++time) {
            const QImage again =
                v.view.renderer().picture(*v.scene(), v.scene()->camera(), settings, 400, 300, error);
            QCOMPARE(drawingState(), odd);
            QVERIFY2(again.convertToFormat(QImage::Format_RGB32) == before, qPrintable(error));
        }
        v.view.renderer().drawFinished(*v.scene(), v.scene()->camera(), settings, 64, 48);
        QCOMPARE(drawingState(), odd);
        v.view.renderer().refreshPicking(*v.scene());
        QCOMPARE(drawingState(), odd);
        QVERIFY(v.view.renderer().modelDrawnInView(*v.scene(), v.scene()->camera(), 400, 300));
        QCOMPARE(drawingState(), odd);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        v.view.doneCurrent();
        QVERIFY(v.scene()->pickPicture().rgb == ids);
    } else {
        // Red near, blue far: the levels of detail show in the colours.
        g->setLevel(0, {testsupport::filledLevel(Qt::red), clear});
        g->addLevel();
        g->setLevel(1, {testsupport::filledLevel(Qt::blue), clear});
        v.view.bindTexturesForGraftal(g);
        dress(v, g, 0, 3);
        const auto redShare = [](const QImage &i) {
            qint64 red = 0, blue = 0;
            for (int y = 0; y < i.height(); ++y)
                for (int x = 0; x < i.width(); ++x) {
                    const QRgb c = i.pixel(x, y);
                    red += qRed(c) > 150 && qBlue(c) < 100 && qGreen(c) < 100;
                    blue += qBlue(c) > 150 && qRed(c) < 100 && qGreen(c) < 100;
                }
            return double(red) / double(std::max<qint64>(red + blue, 1));
        };
        const double view = redShare(pictureOf(v, style));
        const double twice = redShare(pictureOf(
            v, [&](RenderSettings &s) { style(s), s.detailScale = 2.0; }, 800, 600));
        QVERIFY2(view > 0.1 && view < 0.9, qPrintable(QString::number(view)));
        QVERIFY2(std::abs(twice - view) < 0.05,
                 qPrintable(QStringLiteral("%1 red in the view, %2 at twice its size").arg(view).arg(twice)));
    }
}

// Varied graftals look the same in the window, in a picture of the same view and after the
// graftal and the scene are saved and read again: each instance's variation comes from
// where it stands.
void TestStyles::variedGraftalsLookAlikeEverywhere()
{
    testsupport::SphereView v({Qt::red});
    v.scene()->style.shading = Shading::Toon;
    v.scene()->style.antialiasing = false; // the window's frame is then the picture's
    Graftal *g = v.graftals.first();
    dress(v, g, 0, 2);
    const GraftalVariation amounts{0.3, 0.2, 15, 40, 0.3};
    g->setVariation(amounts);
    const QImage picture = pictureOf(v, [](RenderSettings &) {});
    QCOMPARE(v.view.grabFramebuffer().convertToFormat(QImage::Format_RGB32), picture);

    QDir().mkdir(Graftal::Directory);
    QVERIFY(v.library->saveGraftal(g) && v.scene()->saveStateTo("scenes/sphere.dat"));
    v.scene()->removeInstancesOf(g); // nothing is left pointing at the library's graftals
    TreeManager::destroyInstance();
    v.library = TreeManager::instance(&v.tree);
    QVERIFY(v.library->loadAllGraftals());
    v.scene()->setGraftalLookup(v.library);
    QCOMPARE(v.library->listedGraftals().first()->variation(), amounts);
    v.view.currentGraftalChanged(v.library->listedGraftals().first());
    QString error;
    QVERIFY2(v.scene()->loadStateFrom("scenes/sphere.dat", error), qPrintable(error));
    QCOMPARE(pictureOf(v, [](RenderSettings &) {}), picture);
}

void TestStyles::smoothOrFacetedByChoice_data()
{
    QTest::addColumn<QString>("shape"); // of testsupport::shapeModel
    QTest::addColumn<double>("degrees");
    QTest::addColumn<bool>("smooth");
    QTest::newRow("ball as its file has it") << "faceted ball 10" << 0.0 << false;
    QTest::newRow("ball at 60") << "faceted ball 10" << 60.0 << true;
    QTest::newRow("ball at 180") << "faceted ball 10" << 180.0 << true;
    QTest::newRow("box at 60") << "faceted box 10 10 10" << 60.0 << false;
}

void TestStyles::smoothOrFacetedByChoice()
{
    QFETCH(QString, shape);
    QFETCH(double, degrees);
    QFETCH(bool, smooth);
    testsupport::SphereView v({Qt::red});
    const QString file = testsupport::shapeModel(shape, QDir::currentPath());
    QVERIFY(!file.isEmpty());
    QVERIFY(v.view.openModel(file));
    // From above a corner, the model whole: the box shows three of its sides.
    v.scene()->commitRotation(35, 25);
    v.act(GLRender::FrameAction);
    const auto shaded = [](RenderSettings &s) {
        s.style.shading = Shading::Shaded;
        s.style.antialiasing = false;
        s.samples = 1;
    };
    const QImage own = pictureOf(v, shaded);
    const QRgb background = own.pixel(0, 0);
    const int faceted = testsupport::largestStep(own, background);
    QVERIFY2(faceted > 12, qPrintable(QString::number(faceted)));

    // The window's view follows the style's angle off the GUI thread.
    v.scene()->style.smoothAngle = degrees;
    v.view.update();
    QTRY_COMPARE(v.scene()->smoothAngleShown(), degrees);
    QTRY_VERIFY(!v.view.smoothShading().busy());
    const int step = testsupport::largestStep(pictureOf(v, shaded), background);
    const QString steps = QStringLiteral("steps of %1 faceted, %2 at %3 degrees")
                              .arg(faceted)
                              .arg(step)
                              .arg(degrees);
    QVERIFY2(smooth ? step * 3 < faceted : step * 10 >= faceted * 8, qPrintable(steps));

    // Off again: the file's own normals, today's pixels exactly.
    v.scene()->style.smoothAngle = 0.0;
    v.view.update();
    QTRY_COMPARE(v.scene()->smoothAngleShown(), 0.0);
    QCOMPARE(pictureOf(v, shaded) == own, true);
}

// How each count of samples is taken: more samples never take fewer, and a picture too big
// to draw larger stays at its size.
void TestStyles::samplesGoFromCheapToCostly_data()
{
    QTest::addColumn<int>("samples");
    QTest::addColumn<bool>("outlines");
    QTest::addColumn<int>("side");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("multisamples");
    QTest::addColumn<bool>("smoothed");
    QTest::newRow("1") << 1 << false << 1920 << 1.0 << 1 << false;
    QTest::newRow("2") << 2 << false << 1920 << 1.0 << 1 << true;
    QTest::newRow("2-outlines") << 2 << true << 1920 << 1.0 << 1 << true;
    QTest::newRow("4") << 4 << false << 1920 << 1.5 << 1 << false;
    QTest::newRow("4-too-big") << 4 << false << 6000 << 1.0 << 1 << true;
    QTest::newRow("8") << 8 << false << 1920 << 2.0 << 2 << false;
    QTest::newRow("16") << 16 << false << 1920 << 2.0 << 4 << false;
    QTest::newRow("16-outlines") << 16 << true << 1920 << 2.0 << 1 << false;
    QTest::newRow("16-too-big") << 16 << false << 6000 << 1.0 << 4 << false;
    QTest::newRow("16-outlines-too-big") << 16 << true << 6000 << 1.0 << 1 << true;
}

void TestStyles::samplesGoFromCheapToCostly()
{
    QFETCH(int, samples);
    QFETCH(bool, outlines);
    QFETCH(int, side);
    QFETCH(double, scale);
    QFETCH(int, multisamples);
    QFETCH(bool, smoothed);
    const SamplePlan plan = SamplePlan::of(samples, outlines, 4, 8192, side, side / 2);
    QCOMPARE(plan.scale, scale);
    QCOMPARE(plan.multisamples, multisamples);
    QCOMPARE(plan.smoothEdges, smoothed);
    QCOMPARE(plan.plain(), samples == 1);
}

TUFTMILL_GL_TEST_MAIN(TestStyles)
#include "tst_styles.moc"
