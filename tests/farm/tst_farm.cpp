// Turntables on a render farm: a one-node Slurm cluster (started around this test by
// tst_farm.sh) runs the turntable batch script as a job array, and a job after it joins
// the frames into a video. The frames must be those of one process, byte for byte.
#include "../support/RenderWorkspace.h"
#include "../support/VideoPackets.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {
using testsupport::Result;

constexpr int Frames = 12;
const QString Size = QStringLiteral("160x120");
const QString Pattern = QStringLiteral("frames/t_%04d.png");
const QString Script = QStringLiteral(TUFTMILL_SOURCE_DIR "/packaging/tuftmill-turntable.sbatch");
// What one submission may take on a busy machine, at most.
constexpr int JobWaitMs = 150000;

// A workspace as a user would share it with the farm: the sample graftals, the torus and
// its painted scene.
bool fillWorkspace(const QString &dir)
{
    const QString examples = QStringLiteral(TUFTMILL_SOURCE_DIR "/examples/");
    bool ok =
        QDir(dir).mkpath("graftals") && QDir(dir).mkpath("models") && QDir(dir).mkpath("scenes");
    for (const QString &name : QDir(examples + "graftals").entryList(QDir::Files))
        ok = ok && QFile::copy(examples + "graftals/" + name, dir + "/graftals/" + name);
    for (const char *name : {"models/torus.3ds", "scenes/torus.dat"})
        ok = ok && QFile::copy(examples + name, dir + "/" + name);
    return ok;
}

Result runIn(const QString &dir, const QString &program, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    if (!p.waitForFinished(JobWaitMs))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

// The state the controller gives a job (for an array, each of its tasks' states).
QStringList jobStates(const QString &job)
{
    const Result r = runIn(QDir::tempPath(), "scontrol", {"show", "job", "-o", job});
    QStringList states;
    static const QRegularExpression state(QStringLiteral("JobState=(\\w+)"));
    for (auto it = state.globalMatch(r.out); it.hasNext();)
        states.append(it.next().captured(1));
    return states;
}

QString logsOf(const QString &dir)
{
    QString text;
    for (const QString &name : QDir(dir).entryList({"tuftmill-turntable-*.log"}, QDir::Files))
        text += QString::fromLocal8Bit(testsupport::readBytes(dir + "/" + name));
    return text;
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
    QVERIFY(QDir(reference.path()).mkpath("frames"));
    QElapsedTimer clock;
    clock.start();
    const Result r = testsupport::runTuftmill(
        reference.path(),
        {"--render", "models/torus.3ds", "--scene", "scenes/torus.dat", "--turntable",
         QString::number(Frames), "--size", Size, "--output", Pattern});
    oneProcessMs = clock.elapsed();
    QVERIFY2(r.status == 0, qPrintable(r.err));
}

void TestFarm::arraysRenderWhatOneProcessDoes_data()
{
    QTest::addColumn<QString>("array");
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("works");
    // The shares follow from the array's bounds and step, not from the task numbers.
    QTest::newRow("three tasks") << "1-3"
                                 << "models/torus.3ds" << true;
    QTest::newRow("stepped bounds") << "0-10:5"
                                    << "models/torus.3ds" << true;
    // A failed task fails its job; the assembly never starts, and no frame is left.
    QTest::newRow("failed tasks") << "1-3"
                                  << "models/none.3ds" << false;
}

void TestFarm::arraysRenderWhatOneProcessDoes()
{
    QFETCH(QString, array);
    QFETCH(QString, model);
    QFETCH(bool, works);
    QTemporaryDir shared;
    QVERIFY(fillWorkspace(shared.path()));
    const QStringList settings{"TUFTMILL=" TUFTMILL_APP_PATH, "FRAMES=" + QString::number(Frames),
                               "OUTPUT=" + Pattern};
    QElapsedTimer clock;
    clock.start();
    const Result tasks =
        runIn(shared.path(), "sbatch",
              QStringList{"--parsable", "--array=" + array, Script, "MODEL=" + model,
                          "SCENE=scenes/torus.dat", "SIZE=" + Size} +
                  settings);
    QVERIFY2(tasks.status == 0, qPrintable(tasks.err));
    const QString job = tasks.out.trimmed();
    // Waits for the assembly, which waits for the array (or is cancelled with it).
    const Result assembly =
        runIn(shared.path(), "sbatch",
              QStringList{"--parsable", "--wait", "--kill-on-invalid-dep=yes",
                          "--dependency=afterok:" + job, Script, "VIDEO=t.mp4"} +
                  settings);
    QVERIFY2(assembly.status >= 0, "the jobs did not end in time");
    const qint64 farmMs = clock.elapsed();
    const QStringList states = jobStates(job);
    QCOMPARE(states.size(), 3);
    QCOMPARE(states.count(works ? "COMPLETED" : "FAILED"), 3);
    QCOMPARE(jobStates(assembly.out.trimmed()), QStringList{works ? "COMPLETED" : "CANCELLED"});
    const QString logs = logsOf(shared.path());
    if (!works) {
        QVERIFY2(logs.contains("cannot load the model models/none.3ds"), qPrintable(logs));
        QVERIFY(QDir(shared.filePath("frames")).isEmpty());
        QVERIFY(!QFile::exists(shared.filePath("t.mp4")));
        return;
    }
    for (const char *share : {"frames 1-4 of 12", "frames 5-8 of 12", "frames 9-12 of 12"})
        QVERIFY2(logs.contains(QLatin1String(share)), qPrintable(logs));
    QCOMPARE(QDir(shared.filePath("frames")).entryList(QDir::Files).size(), Frames);
    for (int n = 1; n <= Frames; ++n) {
        const QString name = QStringLiteral("frames/t_%1.png").arg(n, 4, 10, QLatin1Char('0'));
        const QByteArray split = testsupport::readBytes(shared.filePath(name));
        QVERIFY2(!split.isEmpty(), qPrintable(name));
        QVERIFY2(split == testsupport::readBytes(reference.filePath(name)), qPrintable(name));
    }
    const testsupport::VideoStream video = testsupport::videoStream(shared.filePath("t.mp4"));
    QCOMPARE(video.packets, Frames);
    QCOMPARE(video.size, QSize(160, 120));
    QCOMPARE(video.codec, QStringLiteral("h264"));
    qInfo("%s: one process %lld ms, array and assembly %lld ms", QTest::currentDataTag(),
          oneProcessMs, farmMs);
}

QTEST_GUILESS_MAIN(TestFarm)
#include "tst_farm.moc"
