// The sample workspace in examples/ is exactly what its generator makes.
#include "../support/TestSupport.h"

#include <QDirIterator>

class TestSamples : public QObject
{
    Q_OBJECT
private slots:
    void examplesAreWhatTheGeneratorMakes();
};

void TestSamples::examplesAreWhatTheGeneratorMakes()
{
    QTemporaryDir out;
    QProcess generator;
    generator.setProcessChannelMode(QProcess::ForwardedChannels);
    generator.start(QStringLiteral(TUFTMILL_SAMPLES_TOOL), {out.path()});
    QVERIFY(generator.waitForFinished(120000));
    QCOMPARE(generator.exitCode(), 0);

    const QDir examples(QStringLiteral(TUFTMILL_SOURCE_DIR "/examples"));
    QStringList made;
    QDirIterator it(out.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        made << QDir(out.path()).relativeFilePath(it.next());
    made.sort();
    QVERIFY(made.contains(QStringLiteral("graftals/Grass_blades_005.png")));
    QVERIFY(made.contains(QStringLiteral("models/figure.3ds")));
    QVERIFY(made.contains(QStringLiteral("scenes/torus.dat")));
    for (const QString &file : made)
        QVERIFY2(testsupport::readBytes(out.filePath(file)) ==
                     testsupport::readBytes(examples.filePath(file)),
                 qPrintable(file + " differs from examples/; run the generator again"));

    QStringList committed;
    QDirIterator kept(examples.path(), QDir::Files, QDirIterator::Subdirectories);
    while (kept.hasNext())
        committed << examples.relativeFilePath(kept.next());
    committed.removeAll(QStringLiteral("README.md"));
    committed.sort();
    QCOMPARE(committed, made);
}

QTEST_GUILESS_MAIN(TestSamples)
#include "tst_samples.moc"
