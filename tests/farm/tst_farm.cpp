// Turntables on a render farm: a one-node Slurm cluster (started around this test by
// tst_farm.sh) runs the turntable batch script as a job array, and a job after it joins
// the frames into a video. The frames must be those of one process, byte for byte.
#include "../support/TestSupport.h"
#include "../support/VideoDecode.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString Script = QStringLiteral(TUFTMILL_SOURCE_DIR "/packaging/tuftmill-turntable.sbatch");
// The settings of every run: 12 frames of 160 x 120 of the sample torus.
const QStringList Settings{"TUFTMILL=" TUFTMILL_APP_PATH, "FRAMES=12", "SIZE=160x120",
                           "OUTPUT=frames/t_%04d.png", "SCENE=scenes/torus.dat"};

// Runs a program in `dir` to its end (within what a busy machine needs); its output, or
// nothing when it did not end well.
QString run(const QString &dir, const QString &program, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    const bool ended =
        p.waitForFinished(150000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return ended ? QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed() : QString();
}

// A workspace as a user shares it with the farm: the sample graftals, models and scene.
bool fillWorkspace(const QString &dir)
{
    const QString examples = QStringLiteral(TUFTMILL_SOURCE_DIR "/examples/");
    return QProcess::execute("cp", {"-r", examples + "graftals", examples + "models",
                                    examples + "scenes", dir}) == 0;
}
} // namespace

class TestFarm : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void arraysRenderWhatOneProcessDoes_data();
    void arraysRenderWhatOneProcessDoes();

private:
    QTemporaryDir reference;
    qint64 oneProcessMs = 0;
};

void TestFarm::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("SLURM_CONF"), "run through tst_farm.sh");
    QVERIFY(fillWorkspace(reference.path()));
    // The script outside Slurm renders every frame in one process.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!run(reference.path(), "bash", QStringList{Script, "MODEL=models/torus.3ds"} + Settings)
                 .isEmpty());
    oneProcessMs = clock.elapsed();
}

void TestFarm::arraysRenderWhatOneProcessDoes_data()
{
    QTest::addColumn<QString>("array");
    QTest::addColumn<QString>("model");
    // The shares follow from the array's bounds and step, not from the task numbers.
    QTest::newRow("three tasks") << "1-3"
                                 << "models/torus.3ds";
    QTest::newRow("stepped bounds") << "0-10:5"
                                    << "models/torus.3ds";
    // Failed tasks fail their jobs: the assembly is cancelled, nothing is left.
    QTest::newRow("failed tasks") << "1-3"
                                  << "models/none.3ds";
}

void TestFarm::arraysRenderWhatOneProcessDoes()
{
    QFETCH(QString, array);
    QFETCH(QString, model);
    QTemporaryDir shared;
    QVERIFY(fillWorkspace(shared.path()));
    QElapsedTimer clock;
    clock.start();
    const QString job =
        run(shared.path(), "sbatch",
            QStringList{"--parsable", "--array=" + array, Script, "MODEL=" + model} + Settings);
    QVERIFY(!job.isEmpty());
    // Waits for the assembly, which waits for the array (or is cancelled with it).
    QVERIFY(!run(shared.path(), "sbatch",
                 QStringList{"--parsable", "--wait", "--kill-on-invalid-dep=yes",
                             "--dependency=afterok:" + job, Script, "VIDEO=t.mp4"} +
                     Settings)
                 .isEmpty());
    const qint64 farmMs = clock.elapsed();
    QString logs;
    for (const QString &name : QDir(shared.path()).entryList({"tuftmill-turntable-*.log"}))
        logs += QString::fromLocal8Bit(testsupport::readBytes(shared.filePath(name)));
    const QStringList frames = QDir(shared.filePath("frames")).entryList(QDir::Files);
    const testsupport::Decoded video = testsupport::decode(shared.filePath("t.mp4"));
    if (model.contains("none")) {
        QCOMPARE(logs.count("cannot load the model models/none.3ds"), 3);
        QCOMPARE(frames, QStringList());
        QVERIFY(!QFile::exists(shared.filePath("t.mp4")));
        return;
    }
    for (const char *share : {"frames 1-4 of 12", "frames 5-8 of 12", "frames 9-12 of 12"})
        QVERIFY2(logs.contains(QLatin1String(share)), qPrintable(logs));
    QCOMPARE(frames, QDir(reference.filePath("frames")).entryList(QDir::Files));
    QCOMPARE(frames.size(), 12);
    for (const QString &name : frames)
        QVERIFY2(testsupport::readBytes(shared.filePath("frames/" + name)) ==
                     testsupport::readBytes(reference.filePath("frames/" + name)),
                 qPrintable(name));
    QCOMPARE(video.frames, 12);
    QCOMPARE(video.size, QSize(160, 120));
    QCOMPARE(video.codec, QStringLiteral("h264"));
    qInfo("%s: one process %lld ms, array and assembly %lld ms", QTest::currentDataTag(),
          oneProcessMs, farmMs);
}

QTEST_GUILESS_MAIN(TestFarm)
#include "tst_farm.moc"
