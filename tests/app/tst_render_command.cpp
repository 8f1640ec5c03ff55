// `tuftmill --render`: pictures from the command line, without a window and without a
// display, and a clear one-line failure for everything that can go wrong.
#include "../support/HostileOutputs.h"
#include "../support/Models.h"
#include "../support/RenderWorkspace.h"
#include "../support/TestSupport.h"
#include "../support/VideoDecode.h"
#include "Graftal.h"
#include "GraftalVariation.h"
#include "LoggerOutput.h"
#include "RenderCommand.h"
#include "SceneViewFile.h"

#include <QDataStream>
#include <QPainter>
#include <tuple>
#include <QProcessEnvironment>
#include <cmath>
#include <sys/stat.h>

namespace {
using testsupport::Result;
using testsupport::runTuftmill;
using testsupport::Workspace;

int count(const QImage &image, const std::function<bool(QRgb)> &wanted)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += wanted(image.pixel(x, y));
    return n;
}
bool red(QRgb c)
{
    return qRed(c) > 180 && qGreen(c) < 80 && qBlue(c) < 80;
}
bool green(QRgb c)
{
    return qGreen(c) > 90 && qRed(c) < 80 && qBlue(c) < 80;
}

// Finished frames to assemble: a_ whole (1-5), f_ without frame 3, s_ with a smaller
// frame 2, l_ with a link for frame 2.
bool writeFrameSets(const QString &dir)
{
    QImage frame(32, 24, QImage::Format_RGB32);
    bool ok = true;
    for (int n = 1; n <= 5; ++n) {
        frame.fill(QColor(40 * n, 90, 200));
        const QString number = QStringLiteral("_%1.png").arg(n, 4, 10, QLatin1Char('0'));
        ok = ok && frame.save(dir + "/a" + number);
        ok = ok && (n == 3 || frame.save(dir + "/f" + number));
        ok = ok && (n > 2 || (n == 1 ? frame : frame.copy(0, 0, 30, 24)).save(dir + "/s" + number));
    }
    return ok && QFile::copy(dir + "/a_0001.png", dir + "/l_0001.png") &&
           QFile::link(dir + "/a_0002.png", dir + "/l_0002.png");
}

} // namespace

class TestRenderCommand : public QObject
{
    Q_OBJECT
private slots:
    void optionsAreRead_data();
    void optionsAreRead();
    void rendersWithoutADisplay();
    void rendersThroughTheDisplayToo();
    void texturesShowWhereTheModelIsLit_data();
    void texturesShowWhereTheModelIsLit();
    void framesAnyModelWhole_data();
    void framesAnyModelWhole();
    void failuresSayWhyInOneLine_data();
    void failuresSayWhyInOneLine();
    void outputsAreNeverWrittenThrough_data();
    void outputsAreNeverWrittenThrough();
    void lightStaysWithTheModel_data();
    void lightStaysWithTheModel();
    void fadeChoiceShowsInPictures();
    void variationIsSeededByPlace_data();
    void variationIsSeededByPlace();
    void facetedModelsShadeSmoothByAngle();
    void helpAndVersionArePrinted();
    void finishedFramesAreAssembled_data();
    void finishedFramesAreAssembled();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestRenderCommand::optionsAreRead_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("wanted");
    QTest::addColumn<QString>("problem"); // empty: read
    QTest::newRow("no options") << QStringList{} << false << QString();
    QTest::newRow("Qt's own") << QStringList{"-platform", "xcb"} << false << QString();
    QTest::newRow("all") << QStringList{"--render",
                                        "m.3ds",
                                        "--output=o.png",
                                        "--scene",
                                        "s.dat",
                                        "--size",
                                        "640x480",
                                        "--yaw",
                                        "-30",
                                        "--pitch",
                                        "12.5",
                                        "--distance=200",
                                        "--frame",
                                        "--shading",
                                        "toon",
                                        "--outlines",
                                        "--graftal-scale=0.5",
                                        "--outline-width", "4",
                                        "--outline-color", "#A0b0C0",
                                        "--light=model",
                                        "--bands", "5",
                                        "--samples", "16",
                                        "--fade", "0.25:0.9",
                                        "--show-all",
                                        "--smooth-angle", "60"}
                         << true << QString();
    QTest::newRow("no output") << QStringList{"--render", "m.3ds"} << true << "--output";
    QTest::newRow("no model") << QStringList{"--output", "o.png"} << true << "--render";
    QTest::newRow("unknown") << QStringList{"--render", "m", "--output", "o", "--zoom", "2"} << true
                             << "unknown option --zoom";
    QTest::newRow("stray") << QStringList{"--render", "m", "--output", "o", "extra"} << true
                           << "unexpected argument extra";
    QTest::newRow("no value") << QStringList{"--output", "o", "--render"} << true
                              << "--render needs a value";
    QTest::newRow("twice") << QStringList{"--render", "m", "--render", "n", "--output", "o"} << true
                           << "given twice";
    QTest::newRow("size 0") << QStringList{"--render", "m", "--output", "o", "--size", "0x10"}
                            << true << "--size";
    QTest::newRow("size too big") << QStringList{"--render", "m",      "--output",
                                                 "o",        "--size", "8193x10"}
                                  << true << "8192";
    QTest::newRow("size words") << QStringList{"--render", "m", "--output", "o", "--size", "big"}
                                << true << "--size";
    QTest::newRow("yaw words") << QStringList{"--render", "m", "--output", "o", "--yaw", "left"}
                               << true << "--yaw needs a number";
    QTest::newRow("pitch nan") << QStringList{"--render", "m", "--output", "o", "--pitch", "nan"}
                               << true << "--pitch needs a number";
    QTest::newRow("shading words")
        << QStringList{"--render", "m", "--output", "o.png", "--shading", "soft"} << true
        << "--shading needs flat, shaded or toon";
    QTest::newRow("scale 0") << QStringList{"--render",        "m", "--output", "o.png",
                                            "--graftal-scale", "0"}
                             << true << "--graftal-scale needs a number above 0";
    QTest::newRow("frame alone") << QStringList{"--frame"} << true << "--render";
    QTest::newRow("frames backwards") << QStringList{"--render",    "m", "--output", "o_%04d.png",
                                                     "--turntable", "12", "--frames", "5-3"}
                                      << true << "--frames needs A-B with 1 <= A <= B";
    QTest::newRow("fps words") << QStringList{"--render",    "m",  "--output", "o_%04d.png",
                                              "--turntable", "12", "--fps",    "fast"}
                               << true << "--fps needs a whole number";
    QTest::newRow("up words") << QStringList{"--render", "m", "--output", "o.png", "--up", "top"}
                              << true << "--up needs x, y, z, -x, -y or -z, not top";
    QTest::newRow("elevation words")
        << QStringList{"--render", "m", "--output", "o.png", "--elevation", "high"} << true
        << "--elevation needs a number";
    for (const auto &[option, value, problem] :
         {std::tuple{"--outline-width", "9", "--outline-width needs a whole number from 1 to 8"},
          std::tuple{"--bands", "1", "--bands needs a whole number from 2 to 6"},
          std::tuple{"--samples", "3", "--samples needs 1, 2, 4, 8 or 16"},
          std::tuple{"--outline-color", "#12345", "--outline-color needs #RRGGBB"},
          std::tuple{"--outline-color", "#12345g", "--outline-color needs #RRGGBB"},
          std::tuple{"--light", "sun", "--light needs camera or model"},
          std::tuple{"--fade", "0.5:0.5", "--fade needs FROM:TO"},
          std::tuple{"--fade", "near:far", "--fade needs FROM:TO"},
          std::tuple{"--fade", "0.5:1.2", "--fade needs FROM:TO"},
          std::tuple{"--fade", "0.6", "--fade needs FROM:TO"},
          std::tuple{"--smooth-angle", "0", "--smooth-angle needs degrees above 0 and at most 180"},
          std::tuple{"--smooth-angle", "181", "--smooth-angle needs degrees above 0"},
          std::tuple{"--smooth-angle", "wide", "--smooth-angle needs a number"}})
        QTest::newRow(option) << QStringList{"--render", "m", "--output", "o.png", option, value}
                              << true << problem;
    QTest::newRow("degrees of a still")
        << QStringList{"--render", "m", "--output", "o.png", "--degrees", "90"} << true
        << "--degrees needs --turntable";
}

void TestRenderCommand::optionsAreRead()
{
    QFETCH(QStringList, args);
    QFETCH(bool, wanted);
    QFETCH(QString, problem);
    QCOMPARE(RenderCommand::wanted(args), wanted);
    if (!wanted)
        return;
    RenderCommand::Options o;
    QString error;
    QCOMPARE(RenderCommand::parse(args, o, error), problem.isEmpty());
    QVERIFY2(error.contains(problem), qPrintable(error));
    if (problem.isEmpty()) {
        QCOMPARE(o.model, QStringLiteral("m.3ds"));
        QCOMPARE(o.output, QStringLiteral("o.png"));
        QCOMPARE(o.scene, QStringLiteral("s.dat"));
        QCOMPARE(QSize(o.width, o.height), QSize(640, 480));
        QCOMPARE(o.yaw, -30.0);
        QCOMPARE(o.pitch, 12.5);
        QCOMPARE(o.distance, 200.0);
        QVERIFY(o.frame && o.outlines);
        QCOMPARE(o.shading, std::optional(Shading::Toon));
        QCOMPARE(o.graftalScale, std::optional(0.5));
        QCOMPARE(o.outlineWidth, std::optional(4));
        QCOMPARE(o.outlineColor, std::optional(0xa0b0c0u));
        QCOMPARE(o.lightOnModel, std::optional(true));
        QCOMPARE(o.bands, std::optional(5));
        QCOMPARE(o.samples, 16);
        QCOMPARE(o.fade, std::optional(FadeRange{0.25, 0.9}));
        QVERIFY(o.showAll);
        QCOMPARE(o.smoothAngle, std::optional(60.0));
    }
}

void TestRenderCommand::rendersWithoutADisplay()
{
    Workspace w;
    const Result bare = runTuftmill(
        w.dir.path(), {"--render", "sphere.3ds", "--output", "bare.png", "--size", "640x360"});
    QCOMPARE(bare.status, 0);
    QCOMPARE(bare.err, QString());
    const Result dressed =
        runTuftmill(w.dir.path(), {"--render", "sphere.3ds", "--output", "dressed.png", "--scene",
                                   "sphere.dat", "--size", "640x360"});
    QCOMPARE(dressed.status, 0);
    QCOMPARE(dressed.err, QString());
    // Graftal files that cannot be used leave the picture and standard error as they were:
    // a level cut short (libpng complains when it is decoded) and a document nested deep.
    const QByteArray level = testsupport::readBytes(w.file("graftals/Red_001.png"));
    QVERIFY(testsupport::writeBytes(w.file("graftals/Red_002.png"), level.left(level.size() / 2)));
    QVERIFY(testsupport::writeBytes(w.file("graftals/Deep.xml"),
                                    "<config>" + QByteArray("<a>").repeated(5000) + "</config>"));
    const Result hostile =
        runTuftmill(w.dir.path(), {"--render", "sphere.3ds", "--output", "hostile.png", "--scene",
                                   "sphere.dat", "--size", "640x360"});
    QCOMPARE(hostile.status, 0);
    QCOMPARE(hostile.err, QString());
    QCOMPARE(QImage(w.file("hostile.png")).size(), QSize(640, 360));
    QVERIFY(QFile::remove(w.file("graftals/Red_002.png")));
    QVERIFY(QFile::remove(w.file("graftals/Deep.xml")));
    const QImage plain(w.file("bare.png")), picture(w.file("dressed.png"));
    QCOMPARE(picture.size(), QSize(640, 360));
    QVERIFY(!picture.hasAlphaChannel()); // opaque, and its file carries no alpha
    QCOMPARE(plain.pixelColor(2, 2), QColor(Qt::white));
    QCOMPARE(picture.pixelColor(2, 2), QColor(255, 250, 200)); // the scene's background
    QCOMPARE(count(plain, red), 0);
    QVERIFY(count(picture, red) > 200);   // graftals along the silhouette
    // Fitted to the ball 20 across, the graftals are drawn at 0.4 of their size.
    const Result fitted =
        runTuftmill(w.dir.path(), {"--render", "sphere.3ds", "--output", "fitted.png", "--scene",
                                   "sphere.dat", "--size", "640x360", "--graftal-scale", "fit"});
    QCOMPARE(fitted.status, 0);
    const int fittedRed = count(QImage(w.file("fitted.png")), red);
    QVERIFY2(fittedRed > 20 && fittedRed < count(picture, red) * 3 / 4,
             qPrintable(QString::number(fittedRed)));
    QVERIFY(count(picture, green) > 500); // the ball where it faces the viewer
    if (qEnvironmentVariableIsSet("TUFTMILL_SHOTS"))
        picture.save(qEnvironmentVariable("TUFTMILL_SHOTS") + "/render-command.png");

    // The camera: closer, framed, or closer in the view saved beside the scene shows a
    // bigger ball (a JPEG for a .jpg name).
    SceneViewFile view;
    const float extent[3] = {20, 20, 20}, centre[3] = {0, 0, 0};
    view.camera = Camera::reset(extent, centre).dolly(0.5, Vector3::zero);
    QString why;
    QVERIFY(view.write(w.file("sphere.view.json"), why));
    for (const QStringList &how : {QStringList{"--distance", "400"}, QStringList{"--frame"},
                                   QStringList{"--scene", "sphere.dat"}}) {
        const Result r = runTuftmill(w.dir.path(), QStringList{"--render", "sphere.3ds", "--output",
                                                               "near.jpg", "--size", "640x360"} +
                                                       how);
        QCOMPARE(r.status, 0);
        QVERIFY(testsupport::readBytes(w.file("near.jpg")).startsWith("\xff\xd8\xff"));
        QVERIFY2(count(QImage(w.file("near.jpg")), green) > 2 * count(plain, green),
                 qPrintable(how.join(' ')));
    }
    // Nothing but the picture is written: no graftal files and no scene files change.
    QCOMPARE(QDir(w.file("graftals")).entryList(QDir::Files | QDir::Hidden).size(), 2);
    QVERIFY(!QFileInfo::exists(w.file("scenes")));
}

void TestRenderCommand::rendersThroughTheDisplayToo()
{
    // With a display, and with one that is named but gone (a closed forwarding): the
    // picture is the same, and nothing waits for or falls over the display.
    Workspace w;
    for (const QStringList &env : {QStringList{}, QStringList{"DISPLAY=:987"}}) {
        const Result r = runTuftmill(w.dir.path(),
                                     {"--render", "sphere.3ds", "--output", "x.png", "--scene",
                                      "sphere.dat", "--size", "320x200"},
                                     true, env);
        QCOMPARE(r.status, 0);
        QCOMPARE(r.err, QString());
        const QImage picture(w.file("x.png"));
        QCOMPARE(picture.size(), QSize(320, 200));
        QVERIFY(count(picture, red) > 50);
        QVERIFY(QFile::remove(w.file("x.png")));
    }
}

void TestRenderCommand::texturesShowWhereTheModelIsLit_data()
{
    QTest::addColumn<QString>("shading");
    QTest::addColumn<bool>("textureShows");
    QTest::newRow("flat") << "flat" << false;
    QTest::newRow("shaded") << "shaded" << true;
    QTest::newRow("toon") << "toon" << true;
}

void TestRenderCommand::texturesShowWhereTheModelIsLit()
{
    // A green ball wrapped in an image whose upper half is red, the lower blue; its 3DS
    // material names the image in capitals, as 8.3 names are stored.
    QFETCH(QString, shading);
    QFETCH(bool, textureShows);
    Workspace w;
    QImage halves(64, 64, QImage::Format_RGB32);
    halves.fill(Qt::blue);
    QPainter(&halves).fillRect(0, 0, 64, 32, Qt::red);
    QVERIFY(halves.save(w.file("halves.png")));
    ModelBuilder b;
    b.addMaterial("wrapped", 0.1f, 0.6f, 0.1f, "HALVES.PNG");
    ModelBuilder::Mesh &ball = b.addSphere("ball", {0, 0, 0}, 10, 12, 16, "wrapped");
    for (const auto &p : ball.points)
        ball.texCoords.append({float(std::atan2(p[1], p[0]) / (2 * M_PI) + 0.5), p[2] / 20.0f + 0.5f});
    QVERIFY(b.save(w.file("ball.3ds")));
    const Result r =
        runTuftmill(w.dir.path(), {"--render", "ball.3ds", "--output", "ball.png", "--size",
                                   "320x240", "--frame", "--shading", shading});
    QCOMPARE(r.status, 0);
    const QImage picture(w.file("ball.png"));
    const auto blue = [](QRgb c) { return qBlue(c) > 90 && qRed(c) < 60 && qGreen(c) < 60; };
    const auto reddish = [](QRgb c) { return qRed(c) > 90 && qGreen(c) < 60 && qBlue(c) < 60; };
    const int model = count(picture, [](QRgb c) { return c != qRgb(255, 255, 255); });
    QVERIFY2(model > 5000, qPrintable(QString::number(model)));
    QCOMPARE(count(picture, reddish) > model / 10, textureShows);
    QCOMPARE(count(picture, blue) > model / 10, textureShows);
    QCOMPARE(count(picture, [](QRgb c) { return qGreen(c) > 2 * qRed(c) + 20; }) > model / 2,
             !textureShows);
}

void TestRenderCommand::framesAnyModelWhole_data()
{
    QTest::addColumn<int>("row");
    const QList<testsupport::FramedShape> rows = testsupport::framedShapes();
    for (int i = 0; i < rows.size(); ++i)
        QTest::addRow("%d %s %s", i, qPrintable(rows[i].shape), qPrintable(rows[i].args.join(' ')))
            << i;
}

void TestRenderCommand::framesAnyModelWhole()
{
    QFETCH(int, row);
    const testsupport::FramedShape shape = testsupport::framedShapes()[row];
    static QMap<QString, double> shares;
    Workspace w;
    const QString model = testsupport::shapeModel(shape.shape, w.dir.path());
    QVERIFY(!model.isEmpty());
    const QString output =
        shape.frames ? QStringLiteral("f_%02d.png") : QStringLiteral("still.png");
    QStringList line{"--render", model, "--output", output, "--size", "320x240", "--frame"};
    if (shape.frames)
        line << "--turntable" << QString::number(shape.frames);
    const Result r = runTuftmill(w.dir.path(), line + shape.args);
    QVERIFY2(r.status == 0, qPrintable(r.err));
    for (int f = 1; f <= std::max(shape.frames, 1); ++f) {
        const QString file = shape.frames ? QString::asprintf("f_%02d.png", f) : output;
        const QImage picture(w.file(file));
        QCOMPARE(picture.size(), QSize(320, 240));
        QString seen;
        QVERIFY2(testsupport::framedAsWanted(picture, shape, shares, seen),
                 qPrintable(file + ": " + seen));
    }
}

void TestRenderCommand::lightStaysWithTheModel_data()
{
    QTest::addColumn<QString>("light");
    QTest::addColumn<bool>("moves");
    QTest::newRow("camera") << "camera" << false;
    QTest::newRow("model") << "model" << true;
}

void TestRenderCommand::lightStaysWithTheModel()
{
    // A ball looks the same from all round under a light that follows the camera; under a
    // light that stays with it, a quarter turn shows its lit side moving away.
    QFETCH(QString, light);
    QFETCH(bool, moves);
    Workspace w;
    const Result r = runTuftmill(
        w.dir.path(), {"--render", "sphere.3ds", "--output", "f_%02d.png", "--size", "160x120",
                       "--frame", "--shading", "toon", "--light", light, "--turntable", "4",
                       "--frames", "1-2"});
    QCOMPARE(r.status, 0);
    const QImage a(w.file("f_01.png")), b(w.file("f_02.png"));
    QCOMPARE(a.size(), b.size());
    int model = 0, changed = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            model += p != qRgb(255, 255, 255);
            changed += std::abs(qGreen(p) - qGreen(q)) > 30;
        }
    QVERIFY2(model > 3000, qPrintable(QString::number(model)));
    QVERIFY2((changed > model / 10) == moves,
             qPrintable(QStringLiteral("%1 of %2 pixels changed").arg(changed).arg(model)));
}

void TestRenderCommand::fadeChoiceShowsInPictures()
{
    // The dressed ball as pictures drew it before the fade could be chosen, then with other
    // fades and with every graftal shown.
    Workspace w;
    const auto render = [&](const QStringList &how) {
        const QString out = QStringLiteral("fade%1.png").arg(how.join(QString()));
        const Result r = runTuftmill(w.dir.path(), QStringList{"--render", "sphere.3ds", "--scene",
                                                               "sphere.dat", "--size", "320x240",
                                                               "--output", out} +
                                                       how);
        return r.status == 0 && r.err.isEmpty() ? QImage(w.file(out)) : QImage();
    };
    const auto graftal = [](QRgb c) { return qRed(c) > 150 && qRed(c) > qGreen(c) + 50; };
    const auto tinted = [](QRgb c) {
        return qRed(c) > 150 && qBlue(c) > 80 && qRed(c) > qGreen(c) + 40 && qBlue(c) > qGreen(c) + 10;
    };
    const QImage plain = render({}), named = render({"--fade", "0.5:0.7"}),
                 wide = render({"--fade", "0.9:0.95"}), all = render({"--show-all"});
    QVERIFY(!plain.isNull() && !named.isNull() && !wide.isNull() && !all.isNull());
    const QImage before(testsupport::realModel(QStringLiteral("styles/render-dressed.png")));
    QCOMPARE(plain.size(), before.size());
    qint64 off = 0;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
            off += (plain.pixel(x, y) | 0xff000000u) != (before.pixel(x, y) | 0xff000000u);
    QVERIFY2(off <= plain.width() * plain.height() / 1000, qPrintable(QString::number(off)));
    QCOMPARE(named, plain);
    // The wide fade adds graftals where the default shows the bare ball facing the eye.
    const int shown = count(plain, graftal), ball = count(plain, green);
    int added = 0;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
            added += green(plain.pixel(x, y)) && !green(wide.pixel(x, y));
    QVERIFY2(count(wide, graftal) > shown && added > ball / 5,
             qPrintable(QStringLiteral("%1 graftal pixels, %2 with the wide fade, on %3 of %4 "
                                       "pixels of the bare ball")
                            .arg(shown)
                            .arg(count(wide, graftal))
                            .arg(added)
                            .arg(ball)));
    QCOMPARE(count(plain, tinted), 0);
    QVERIFY(count(all, tinted) > 20 * 20);
    QVERIFY(count(all, graftal) > shown);
    if (qEnvironmentVariableIsSet("TUFTMILL_SHOTS"))
        for (const auto &[image, name] : {std::pair{&wide, "wide"}, std::pair{&all, "all"}})
            image->save(qEnvironmentVariable("TUFTMILL_SHOTS") + "/fade-" + name + ".png");
}

void TestRenderCommand::variationIsSeededByPlace_data()
{
    QTest::addColumn<QString>("shading");
    QTest::newRow("flat") << "flat";
    QTest::newRow("shaded") << "shaded";
}

// Without a variation file a picture is what it was before graftals could vary, pixel for
// pixel (the baselines were drawn by that program; TUFTMILL_UPDATE_BASELINES=1 with
// TUFTMILL_BASELINE_APP naming it draws them again). With one, the graftals differ from one
// another, the same way in every run and in a turntable split into parts.
void TestRenderCommand::variationIsSeededByPlace()
{
    QFETCH(QString, shading);
    Workspace w;
    const QStringList still{"--render", "sphere.3ds", "--scene", "sphere.dat", "--frame",
                            "--size", "320x240", "--shading", shading};
    const QString baseline = testsupport::realModel("variation/unvaried-" + shading + ".png");
    if (qEnvironmentVariableIsSet("TUFTMILL_UPDATE_BASELINES")) {
        const QStringList old{"sh", "-c", "shift; exec \"$0\" \"$@\"",
                              qEnvironmentVariable("TUFTMILL_BASELINE_APP")};
        QCOMPARE(runTuftmill(w.dir.path(), still + QStringList{"--output", baseline}, false, {}, old)
                     .status,
                 0);
    }
    QCOMPARE(runTuftmill(w.dir.path(), still + QStringList{"--output", "plain.png"}).status, 0);
    const QImage plain = QImage(w.file("plain.png")).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(plain, QImage(baseline).convertToFormat(QImage::Format_RGB32));

    QVERIFY(testsupport::writeBytes(w.file("graftals/Red.variation.json"),
                                    GraftalVariation{0.3, 0.2, 15, 40, 0.3}.toJson()));
    // A turntable in two parts is the whole one, byte for byte.
    const QStringList turn = still.mid(0, 5) + QStringList{"--turntable", "4"} + still.mid(5);
    for (const QStringList &run : {turn + QStringList{"--output", "w_%02d.png"},
                                   turn + QStringList{"--output", "p_%02d.png", "--frames", "1-2"},
                                   turn + QStringList{"--output", "p_%02d.png", "--frames", "3-4"}})
        QCOMPARE(runTuftmill(w.dir.path(), run).status, 0);
    for (int f = 1; f <= 4; ++f) {
        const QByteArray whole = testsupport::readBytes(w.file(QString::asprintf("w_%02d.png", f)));
        QVERIFY(!whole.isEmpty());
        QCOMPARE(testsupport::readBytes(w.file(QString::asprintf("p_%02d.png", f))), whole);
    }
    // Pure red before; now reds turned towards orange and towards crimson.
    const QImage varied = QImage(w.file("w_01.png")).convertToFormat(QImage::Format_RGB32);
    const auto redCard = [](QRgb c) { return qRed(c) > 2 * qMax(qGreen(c), qBlue(c)) + 40; };
    const int reds = count(plain, redCard);
    const int warmer = count(varied, [&](QRgb c) { return redCard(c) && qGreen(c) > qBlue(c) + 12; });
    const int cooler = count(varied, [&](QRgb c) { return redCard(c) && qBlue(c) > qGreen(c) + 12; });
    QVERIFY2(reds > 2000 && warmer > reds / 20 && cooler > reds / 20,
             qPrintable(QStringLiteral("%1 red, %2 warmer, %3 cooler").arg(reds).arg(warmer).arg(cooler)));
}

void TestRenderCommand::facetedModelsShadeSmoothByAngle()
{
    Workspace w;
    const QString ball = testsupport::shapeModel(QStringLiteral("faceted ball 10"), w.dir.path());
    QVERIFY(!ball.isEmpty());
    int steps[2] = {0, 0};
    for (int smooth = 0; smooth < 2; ++smooth) {
        const QStringList angle = smooth ? QStringList{"--smooth-angle", "60"} : QStringList{};
        const Result r = runTuftmill(w.dir.path(), QStringList{"--render", ball, "--output",
                                                               "b.png", "--size", "320x240",
                                                               "--frame", "--shading", "shaded",
                                                               "--samples", "1"} +
                                                       angle);
        QCOMPARE(r.status, 0);
        const QImage picture(w.file("b.png"));
        QVERIFY(count(picture, green) > 5000);
        steps[smooth] = testsupport::largestStep(picture, picture.pixel(0, 0));
    }
    QVERIFY2(steps[1] * 3 < steps[0],
             qPrintable(QStringLiteral("steps of %1 faceted, %2 smoothed").arg(steps[0]).arg(steps[1])));
}

void TestRenderCommand::failuresSayWhyInOneLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("env");
    QTest::addColumn<QString>("says");
    const QStringList out{"--output", "out.png"};
    QTest::newRow("missing model") << (QStringList{"--render", "nothing.3ds"} + out)
                                   << QStringList{} << "cannot load the model nothing.3ds";
    QTest::newRow("damaged model") << (QStringList{"--render", "cut.3ds"} + out) << QStringList{}
                                   << "cannot load the model cut.3ds";
    QTest::newRow("missing scene")
        << (QStringList{"--render", "sphere.3ds", "--scene", "none.dat"} + out) << QStringList{}
        << "cannot read the scene file none.dat";
    QTest::newRow("scene cut short")
        << (QStringList{"--render", "sphere.3ds", "--scene", "short.dat"} + out) << QStringList{}
        << "cut short";
    QTest::newRow("bad option") << (QStringList{"--render", "sphere.3ds", "--fast"} + out)
                                << QStringList{} << "unknown option --fast";
    QTest::newRow("bad size") << (QStringList{"--render", "sphere.3ds", "--size", "10000x10"} + out)
                              << QStringList{} << "--size";
    QTest::newRow("scene of other graftals")
        << (QStringList{"--render", "sphere.3ds", "--scene", "foreign.dat"} + out) << QStringList{}
        << "none of the 3 graftals of foreign.dat could be placed";
    QTest::newRow("no OpenGL") << (QStringList{"--render", "sphere.3ds"} + out)
                               << QStringList{"__EGL_VENDOR_LIBRARY_FILENAMES=/nowhere.json"}
                               << "no OpenGL";
    for (const char *scene : {"pipe.dat", "zero.dat", "notes.dat"})
        QTest::newRow(scene) << (QStringList{"--render", "sphere.3ds", "--scene", scene} + out)
                             << QStringList{}
                             << (scene[0] == 'p'   ? "is not a regular file"
                                 : scene[0] == 'z' ? "is a link"
                                                   : "not a scene file");
    QTest::newRow("model out of the picture")
        << (QStringList{"--render", "sphere.3ds", "--yaw", "180"} + out) << QStringList{}
        << "the model is not in the picture (try --frame, or smaller --yaw/--pitch/--distance)";
    QTest::newRow("gif") << QStringList{"--render", "sphere.3ds", "--output", "out.gif"}
                         << QStringList{} << "out.gif is not a .png, .jpg or .jpeg name";
    QTest::newRow("unwritable output")
        << QStringList{"--render", "sphere.3ds", "--output", "no/dir/out.png"} << QStringList{}
        << "cannot write no/dir/out.png";
    const QStringList turn{"--render", "sphere.3ds", "--turntable", "12", "--output"};
    const auto turntable = [&](const char *row, const QStringList &args, const char *says) {
        QTest::newRow(row) << (turn + args) << QStringList{} << says;
    };
    turntable("two numbers", {"f_%04d_%d.png"}, "needs exactly one frame number");
    turntable("space padding", {"f_%4d.png"}, "may hold only %d or %0Nd");
    turntable("jpeg frames", {"f_%04d.jpg"}, "is not a .png name");
    turntable("unknown kind", {"turn.avi"}, "turn.avi is neither a frame pattern");
    turntable("missing folder", {"no/dir/turn.mp4"}, "no/dir is missing or not writable");
    turntable("odd video", {"turn.webm", "--size", "161x120"}, "even width and height, not 161x120");
    turntable("frames outside", {"f_%04d.png", "--frames", "10-14"},
              "the frames 10-14 are not within 1-12");
    turntable("full disk, frames", {"f_%04d.png", "--size", "640x480"},
              "cannot write f_0001.png: File too large");
    turntable("full disk, video", {"turn.mp4", "--size", "640x480"},
              "cannot write turn.mp4: File too large");
    const auto assemble = [](const char *row, const QStringList &args, const char *says) {
        QTest::newRow(row) << (QStringList{"--assemble"} + args) << QStringList{} << says;
    };
    assemble("assemble, a gap", {"f_%04d.png", "--output", "t.mp4"},
             "frame 3 (f_0003.png) is missing");
    assemble("assemble, short of --frames", {"a_%04d.png", "--frames", "2-7", "--output", "t.mp4"},
             "frame 6 (a_0006.png) is missing");
    assemble("assemble, no frames", {"x_%04d.png", "--output", "t.mp4"},
             "no frames of x_%04d.png are there");
    assemble("assemble, other size", {"s_%04d.png", "--output", "t.webm"},
             "s_0002.png is 30x24, not 32x24 as the first frame");
    assemble("assemble, a link", {"l_%04d.png", "--output", "t.mp4"}, "l_0002.png is a link");
    assemble("assemble, unknown ending", {"a_%04d.png", "--output", "t.avi"},
             "t.avi is not a .mp4 or .webm name");
    assemble("assemble, jpeg frames", {"a_%04d.jpg", "--output", "t.mp4"}, "is not a .png name");
    assemble("assemble, render options", {"a_%04d.png", "--output", "t.mp4", "--size", "8x8"},
             "--size is not an option of --assemble");
}

void TestRenderCommand::failuresSayWhyInOneLine()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, env);
    QFETCH(QString, says);
    const bool fullDisk = QByteArray(QTest::currentDataTag()).startsWith("full disk");
    Workspace w;
    QByteArray model = testsupport::readBytes(w.file("sphere.3ds"));
    QVERIFY(testsupport::writeBytes(w.file("cut.3ds"), model.left(model.size() / 2)));
    QVERIFY(testsupport::writeBytes(w.file("short.dat"), QByteArray::fromHex("01ffff")));
    // Graftal id 7 is not in this workspace.
    QByteArray foreign = testsupport::readBytes(w.file("sphere.dat")).left(15 + 3 * 24);
    foreign[11] = foreign[12] = foreign[13] = 0; // three records, big-endian
    foreign[14] = 3;
    for (int r = 0; r < 3; ++r)
        foreign[15 + 24 * r + 7] = 7;
    QVERIFY(testsupport::writeBytes(w.file("foreign.dat"), foreign));
    // Scene files that must be refused at once: never waited on, never read to the end.
    QCOMPARE(::mkfifo(QFile::encodeName(w.file("pipe.dat")).constData(), 0644), 0);
    QVERIFY(QFile::link("/dev/zero", w.file("zero.dat")));
    QVERIFY(testsupport::writeBytes(w.file("notes.dat"), "these are notes, not a scene\n"));
    QVERIFY(writeFrameSets(w.dir.path()));
    const QStringList before = w.written();
    // A file size limit stands in for a full disk: writes past 1 KiB fail.
    const QStringList limited{"bash", "-c", "trap '' XFSZ; ulimit -S -f 1; exec \"$0\" \"$@\""};
    const Result r = runTuftmill(w.dir.path(), args, false, env, fullDisk ? limited : QStringList{});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.startsWith("tuftmill: ") && r.err.endsWith('\n') && r.err.count('\n') == 1,
             qPrintable(r.err));
    QVERIFY2(r.err.contains(says), qPrintable(r.err));
    // Nothing is left behind: neither the output nor a temporary file.
    QCOMPARE(w.written(), before);
}

void TestRenderCommand::outputsAreNeverWrittenThrough_data()
{
    QTest::addColumn<QString>("hostile");
    QTest::addColumn<QString>("kind"); // a still, PNG frames or a video
    QTest::addColumn<QString>("says");
    for (const testsupport::HostileOutput &h : testsupport::hostileOutputs())
        for (const char *kind : {"still", "frames", "video"})
            QTest::addRow("%s, %s", h.row, kind) << h.row << kind << h.says;
}

// Whatever stands under the output's name (for frames: the second frame's) is left as it
// was, and so is what a link there points at; earlier frames of the user's keep their
// bytes, and the run leaves nothing behind.
void TestRenderCommand::outputsAreNeverWrittenThrough()
{
    QFETCH(QString, hostile);
    QFETCH(QString, kind);
    QFETCH(QString, says);
    Workspace w;
    const QString name = kind == "still"    ? "out.png"
                         : kind == "frames" ? "f_0002.png"
                                            : "turn.mp4";
    const testsupport::HostileFolder folder(
        hostile, w.dir.path(), name,
        {{"f_0001.png", "the user's frame 1"}, {"f_0003.png", "the user's frame 3"}});
    if (!folder.skipReason().isEmpty())
        QSKIP(qPrintable(folder.skipReason()));
    QStringList args{"--render", "sphere.3ds", "--size", "160x120", "--output"};
    if (kind == "still")
        args << folder.path(name);
    else
        args << folder.path(kind == "frames" ? "f_%04d.png" : name) << "--turntable" << "3";
    const QStringList before = w.written();
    const Result r = runTuftmill(w.dir.path(), args);
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.startsWith("tuftmill: ") && r.err.count('\n') == 1, qPrintable(r.err));
    QVERIFY2(r.err.contains(says), qPrintable(r.err));
    QVERIFY2(hostile == "full disk" || r.err.contains(folder.path(name)), qPrintable(r.err));
    QVERIFY2(folder.changes().isEmpty(), qPrintable(folder.changes()));
    QCOMPARE(w.written(), before);
}

void TestRenderCommand::helpAndVersionArePrinted()
{
    QTemporaryDir dir;
    const Result r = runTuftmill(dir.path(), {"--help"});
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.startsWith("Usage: tuftmill"));
    for (const char *option : {"--render", "--output", "--scene", "--size", "--yaw", "--pitch",
                               "--distance", "--turntable", "--degrees", "--frames", "--fps",
                               "--assemble", "--up", "--elevation", "--azimuth", "--version"})
        QVERIFY2(r.out.contains(QLatin1String(option)), option);
    QCOMPARE(r.err, QString());
    // The version is the build's, whatever else is on the line.
    for (const QStringList &args : {QStringList{"--version"}, {"--render", "m.3ds", "--version"}}) {
        const Result v = runTuftmill(dir.path(), args);
        QCOMPARE(v.status, 0);
        QCOMPARE(v.out, QStringLiteral("tuftmill " TUFTMILL_VERSION "\n"));
        QCOMPARE(v.err, QString());
    }
    QVERIFY(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

void TestRenderCommand::finishedFramesAreAssembled_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("frames");
    QTest::addColumn<QString>("codec");
    QTest::newRow("all there") << QStringList{"--output", "t.mp4"} << 5 << "h264";
    QTest::newRow("a part") << QStringList{"--frames", "2-3", "--output=t.webm", "--fps", "12"} << 2
                            << "vp9";
}

void TestRenderCommand::finishedFramesAreAssembled()
{
    QFETCH(QStringList, args);
    QFETCH(int, frames);
    QFETCH(QString, codec);
    QTemporaryDir dir;
    QVERIFY(writeFrameSets(dir.path()));
    const QStringList before = QDir(dir.path()).entryList(QDir::Files);
    const Result r = runTuftmill(dir.path(), QStringList{"--assemble", "a_%04d.png"} + args);
    QVERIFY2(r.status == 0, qPrintable(r.err));
    QCOMPARE(r.err, QString());
    const QString video =
        args.filter(QRegularExpression("\\.(mp4|webm)$")).first().section('=', -1);
    const testsupport::Decoded v = testsupport::decode(dir.filePath(video));
    QCOMPARE(v.frames, frames);
    QCOMPARE(v.size, QSize(32, 24));
    QCOMPARE(v.codec, codec);
    // The video, and nothing half-written beside it.
    QStringList after = QDir(dir.path()).entryList(QDir::Files);
    after.removeAll(QStringLiteral("logger.log"));
    QStringList expected = before;
    expected.append(video);
    expected.sort();
    QCOMPARE(after, expected);
}

QTEST_MAIN(TestRenderCommand)
#include "tst_render_command.moc"
