// Turntables: the frames of one orbit as PNG pictures or as a video read back with
// FFmpeg's libraries, split runs, and renders given up part way; nothing half-written is
// ever left under the output's name.
#include "../support/RenderWorkspace.h"
#include "../support/VideoDecode.h"
#include "FrameWriter.h"
#include "HeadlessContext.h"
#include "LoggerOutput.h"
#include "PictureFile.h"
#include "Scene.h"
#include "SceneRenderer.h"
#include "TurntableRender.h"

#include <QApplication>
#include <QSet>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <memory>

namespace {
using testsupport::decode;
using testsupport::Decoded;
using testsupport::Result;
using testsupport::runTuftmill;
using testsupport::Workspace;

const QStringList Sphere{"--render", "sphere.3ds", "--scene", "sphere.dat", "--pitch", "20"};

QByteArray pixels(const QString &path)
{
    const QImage image = QImage(path).convertToFormat(QImage::Format_RGB32);
    return QByteArray(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
}
} // namespace

class TestTurntable : public QObject
{
    Q_OBJECT
private slots:
    void framesGoRoundTheModel();
    void videosHoldEveryFrame_data();
    void videosHoldEveryFrame();
    void rendersGivenUpLeaveNothing_data();
    void rendersGivenUpLeaveNothing();
    void aFrameNotWrittenStopsTheWriter();
    void interruptedRunsLeaveNothing_data();
    void interruptedRunsLeaveNothing();
    void quickFramesKeepEveryPixel_data();
    void quickFramesKeepEveryPixel();
    void graftalsNeverPop_data();
    void graftalsNeverPop();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestTurntable::framesGoRoundTheModel()
{
    Workspace w(true);
    QVERIFY(QDir(w.dir.path()).mkpath("one") && QDir(w.dir.path()).mkpath("split"));
    const QStringList small{"--size", "160x120"};
    for (const QStringList &how :
         {QStringList{"--turntable", "12", "--output", "one/f_%04d.png"},
          QStringList{"--turntable", "12", "--frames", "1-6", "--output", "split/f_%04d.png"},
          QStringList{"--turntable", "12", "--frames", "7-12", "--output", "split/f_%04d.png"},
          QStringList{"--output", "still.png"}}) {
        const Result r = runTuftmill(w.dir.path(), Sphere + small + how);
        QCOMPARE(r.status, 0);
        QCOMPARE(r.err, QString());
    }
    QSet<QByteArray> seen;
    for (int n = 1; n <= 12; ++n) {
        const QString name = QStringLiteral("f_%1.png").arg(n, 4, 10, QLatin1Char('0'));
        const QByteArray bytes = testsupport::readBytes(w.file("one/" + name));
        QVERIFY2(!bytes.isEmpty(), qPrintable(name));
        // A split run draws the same frames, to the byte.
        QCOMPARE(testsupport::readBytes(w.file("split/" + name)), bytes);
        seen.insert(pixels(w.file("one/" + name)));
    }
    QCOMPARE(seen.size(), 12);
    QCOMPARE(QDir(w.file("one")).entryList(QDir::Files).size(), 12);
    // The first frame is the start view, drawn as a still of it is.
    QCOMPARE(pixels(w.file("one/f_0001.png")), pixels(w.file("still.png")));
}

void TestTurntable::videosHoldEveryFrame_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<int>("frames");
    QTest::newRow("mp4") << "turn.mp4" << "h264" << 12;
    QTest::newRow("webm") << "turn.webm" << "vp9" << 12;
    // Four pictures once decoded as three: the container counted the stream a frame short.
    QTest::newRow("mp4 of four") << "turn.mp4" << "h264" << 4;
}

void TestTurntable::videosHoldEveryFrame()
{
    QFETCH(QString, output);
    QFETCH(QString, codec);
    QFETCH(int, frames);
    Workspace w(true);
    for (const QStringList &how : {QStringList{"--turntable", QString::number(frames), "--fps",
                                               "12", "--output", output},
                                   QStringList{"--output", "still.png"}}) {
        const Result r = runTuftmill(w.dir.path(), Sphere + QStringList{"--size", "160x120"} + how);
        QCOMPARE(r.status, 0);
        QCOMPARE(r.err, QString());
    }
    const Decoded video = decode(w.file(output));
    QCOMPARE(video.codec, codec);
    QCOMPARE(video.frames, frames);
    QCOMPARE(video.size, QSize(160, 120));
    // Its colours are the picture's: tagged, and decoded by the tags within a few levels.
    QCOMPARE(video.tags, (QStringList{"bt709", "bt709", "bt709", "tv"}));
    const QImage still = QImage(w.file("still.png")).convertToFormat(QImage::Format_RGBX8888);
    QCOMPARE(video.first.size(), still.size());
    qint64 off = 0;
    for (int y = 0; y < still.height(); ++y)
        for (int x = 0; x < still.width() * 4; ++x)
            if (x % 4 != 3)
                off += std::abs(int(still.constScanLine(y)[x]) - int(video.first.constScanLine(y)[x]));
    const double mean = double(off) / (3.0 * still.width() * still.height());
    QVERIFY2(mean <= 3.0, qPrintable(QString::number(mean)));
    // The video is a new file like the still: the temporary's own mode does not stay.
    QCOMPARE(QFileInfo(w.file(output)).permissions(), QFileInfo(w.file("still.png")).permissions());
    QCOMPARE(w.written(), (QStringList{"still.png", output}));
}

void TestTurntable::rendersGivenUpLeaveNothing_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("discard"); // or dropped unfinished
    for (const char *output : {"f_%04d.png", "turn.mp4"}) {
        QTest::addRow("%s discarded", output) << output << true;
        QTest::addRow("%s dropped", output) << output << false;
    }
}

void TestTurntable::rendersGivenUpLeaveNothing()
{
    QFETCH(QString, output);
    QFETCH(bool, discard);
    Workspace w(true);
    QString error;
    HeadlessContext context;
    QVERIFY2(context.createSurfaceless(error) || context.createThroughWindowSystem(error),
             qPrintable(error));
    SceneRenderer renderer;
    QVERIFY2(renderer.initialize(error), qPrintable(error));
    Scene scene;
    scene.setGlReady(true);
    QVERIFY2(scene.loadModel(w.file("sphere.3ds"), error), qPrintable(error));
    TurntableRequest request;
    request.frames = 12;
    request.width = 160;
    request.height = 120;
    request.output = w.file(output);
    {
        TurntableRender render(renderer, scene, scene.camera(), settingsOf(scene.style), request);
        QVERIFY2(render.begin(error), qPrintable(error));
        for (int n = 0; n < 3; ++n)
            QVERIFY2(render.renderNext(error), qPrintable(error));
        QCOMPARE(render.framesRendered(), 3);
        QVERIFY(!w.written().isEmpty()); // frames, or the video's temporary file
        if (discard) {
            render.discard();
            QCOMPARE(w.written(), QStringList());
        }
    }
    QCOMPARE(w.written(), QStringList());
}

void TestTurntable::aFrameNotWrittenStopsTheWriter()
{
    QTemporaryDir dir;
    QImage frame(16, 8, QImage::Format_RGBX8888);
    frame.fill(Qt::darkCyan);
    QString error;
    FrameWriter writer;
    // A frame of an earlier render stands under the first name: replaced whole, it is not
    // one the writer made.
    QVERIFY(testsupport::writeBytes(dir.filePath("f_0001.png"), "an earlier frame"));
    QVERIFY2(writer.write(frame, dir.filePath("f_0001.png"), error), qPrintable(error));
    QVERIFY2(writer.write(frame, dir.filePath("f_0002.png"), error), qPrintable(error));
    // Handed over once the frame before is written; its own failure shows at the next call.
    QVERIFY2(writer.write(frame, dir.filePath("gone/f_0003.png"), error), qPrintable(error));
    QVERIFY(!writer.write(frame, dir.filePath("f_0004.png"), error));
    QVERIFY2(error.startsWith("cannot write ") && error.contains("gone/f_0003.png"),
             qPrintable(error));
    QVERIFY(!writer.wait(error));
    QVERIFY2(error.contains("gone/f_0003.png"), qPrintable(error));
    QCOMPARE(writer.created(), QStringList{dir.filePath("f_0002.png")});
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"f_0001.png", "f_0002.png"}));
    QCOMPARE(QImage(dir.filePath("f_0001.png")).pixel(3, 3), QColor(Qt::darkCyan).rgb());
}

void TestTurntable::interruptedRunsLeaveNothing_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("output");
    QTest::newRow("SIGTERM, video") << int(SIGTERM) << "turn.mp4";
    QTest::newRow("SIGINT, frames") << int(SIGINT) << "f_%04d.png";
    QTest::newRow("SIGHUP, video") << int(SIGHUP) << "turn.webm";
}

// A turntable stopped by a signal once something of it is on disk (the video's temporary
// file, the first frame) ends with its one line and status 1, and leaves nothing.
void TestTurntable::interruptedRunsLeaveNothing()
{
    QFETCH(int, signal);
    QFETCH(QString, output);
    Workspace w;
    QProcess run;
    testsupport::startTuftmill(run, w.dir.path(),
                               Sphere + QStringList{"--turntable", "100000", "--size", "160x120",
                                                    "--output", output});
    QVERIFY(run.waitForStarted(30000));
    const auto begun = [&] {
        const QStringList names = w.written();
        return names.contains("f_0001.png") || !names.filter(".part").isEmpty();
    };
    QTRY_VERIFY_WITH_TIMEOUT(begun() || run.state() == QProcess::NotRunning, 120000);
    QVERIFY2(run.state() == QProcess::Running, run.readAllStandardError().constData());
    QCOMPARE(::kill(pid_t(run.processId()), signal), 0);
    QVERIFY(testsupport::ended(run, 120000));
    const QString err = QString::fromLocal8Bit(run.readAllStandardError());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 1);
    QVERIFY2(err.startsWith("tuftmill: stopped by " + QString::fromLatin1(sigabbrev_np(signal))
                                                          .prepend("SIG")) &&
                 err.count('\n') == 1,
             qPrintable(err));
    QCOMPARE(w.written(), QStringList());
}

void TestTurntable::quickFramesKeepEveryPixel_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<QSize>("size");
    QTest::newRow("opaque, as pictures are drawn") << QImage::Format_RGBX8888 << QSize(97, 61);
    QTest::newRow("three bytes a pixel") << QImage::Format_RGB888 << QSize(1, 1);
    QTest::newRow("with alpha") << QImage::Format_ARGB32 << QSize(64, 3);
}

void TestTurntable::quickFramesKeepEveryPixel()
{
    QFETCH(QImage::Format, format);
    QFETCH(QSize, size);
    // A flat run, a ramp and noise: every kind of row the packing meets.
    QImage picture(size, QImage::Format_ARGB32);
    quint32 noise = 12345;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            noise = noise * 1103515245u + 12345u;
            const int part = 3 * x / size.width();
            picture.setPixel(x, y, part == 0   ? 0xff2850c8u
                                   : part == 1 ? qRgb(x * 3 % 256, y * 5 % 256, 128)
                                               : noise);
        }
    picture = picture.convertToFormat(format);
    QTemporaryDir dir;
    QString error;
    const QString name = dir.filePath("f_0001.png");
    QVERIFY2(picturefile::write(picture, name, error, picturefile::Packing::Quick),
             qPrintable(error));
    const QImage back(name);
    QCOMPARE(back.hasAlphaChannel(), picture.hasAlphaChannel());
    QCOMPARE(back.convertToFormat(QImage::Format_ARGB32),
             picture.convertToFormat(QImage::Format_ARGB32));
}

void TestTurntable::graftalsNeverPop_data()
{
    QTest::addColumn<QString>("fade");
    QTest::newRow("default fade") << "0.5:0.7";
    QTest::newRow("wide fade") << "0.9:0.95";
}

void TestTurntable::graftalsNeverPop()
{
    // Turned a quarter of a degree a frame, the dressed ball changes by about as much from
    // each frame to the next: graftals grow and fade in and out, none appears or goes at once.
    QFETCH(QString, fade);
    Workspace w;
    constexpr int Frames = 40;
    const Result r = runTuftmill(w.dir.path(), Sphere + QStringList{"--size", "320x240", "--fade",
                                                                    fade, "--turntable",
                                                                    QString::number(Frames),
                                                                    "--degrees", "10", "--output",
                                                                    "t_%04d.png"});
    QCOMPARE(r.status, 0);
    std::vector<double> changes;
    QImage previous;
    for (int n = 1; n <= Frames; ++n) {
        const QImage frame =
            QImage(w.file(QStringLiteral("t_%1.png").arg(n, 4, 10, QLatin1Char('0'))))
                .convertToFormat(QImage::Format_RGB32);
        QVERIFY(!frame.isNull());
        if (!previous.isNull()) {
            qint64 change = 0; // over every channel; the alpha channels are alike
            for (qsizetype i = 0; i < frame.sizeInBytes(); ++i)
                change += std::abs(frame.constBits()[i] - previous.constBits()[i]);
            changes.push_back(double(change));
        }
        previous = frame;
    }
    std::vector<double> sorted = changes;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    QVERIFY2(median > 0, "the turntable does not turn");
    QString all;
    for (double c : changes)
        all += QString::number(c / median, 'f', 2) + QLatin1Char(' ');
    // Smooth changes stay within about a third of the median here; graftals that jumped to
    // their size at a facing made frames of 2 to 4 times it.
    QVERIFY2(sorted.back() <= 1.6 * median, qPrintable(all));
}

QTEST_MAIN(TestTurntable)
#include "tst_turntable.moc"
