// The sample workspace in examples/ is what its generator makes.
#include "../support/TestSupport.h"

#include <QDirIterator>
#include <algorithm>
#include <vector>

namespace {
// Qt blends antialiased edges with whatever vector unit the processor has, so the same
// drawing comes out a level or two apart at its edge pixels from one machine to the next.
// Pictures are therefore compared by what they show: the difference of the two, averaged
// over every 3 x 3 square, must stay within ShownAlike levels in every channel. Drawn at
// another precision, thousands of edge pixels of a sample change and that average does
// not; the whole drawing moved by a tenth of a pixel moves it by 16, by a quarter of a
// pixel by 42, by one pixel by 80 or more; a missing grass blade by 255.
constexpr int ShownAlike = 24;

// The largest difference, in levels of 255, of any channel of the two pictures averaged
// over a 3 x 3 square (255 for pictures that cannot be compared).
int shownDifference(const QImage &a, const QImage &b)
{
    if (a.isNull() || a.size() != b.size())
        return 255;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = x.width(), h = x.height();
    // Sums of the differences over three pixels of a row, then of those over three rows.
    std::vector<int> rows(size_t(w) * size_t(h) * 4);
    for (int r = 0; r < h; ++r) {
        const uchar *p = x.constScanLine(r), *q = y.constScanLine(r);
        for (int c = 0; c < w * 4; ++c) {
            int sum = 0;
            for (int d = -4; d <= 4; d += 4) {
                const int at = std::clamp(c + d, c % 4, (w - 1) * 4 + c % 4);
                sum += p[at] - q[at];
            }
            rows[size_t(r) * size_t(w) * 4 + size_t(c)] = sum;
        }
    }
    int most = 0;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w * 4; ++c) {
            int sum = 0;
            for (int d = -1; d <= 1; ++d)
                sum += rows[size_t(std::clamp(r + d, 0, h - 1)) * size_t(w) * 4 + size_t(c)];
            most = std::max(most, std::abs(sum) / 9);
        }
    return most;
}
} // namespace

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
    for (const QString &file : made) {
        const QString again = file + " differs from examples/; run the generator again";
        if (!file.endsWith(QStringLiteral(".png"))) {
            QVERIFY2(testsupport::readBytes(out.filePath(file)) ==
                         testsupport::readBytes(examples.filePath(file)),
                     qPrintable(again));
            continue;
        }
        const int difference =
            shownDifference(QImage(out.filePath(file)), QImage(examples.filePath(file)));
        QVERIFY2(difference <= ShownAlike,
                 qPrintable(again + QStringLiteral(" (by %1 levels)").arg(difference)));
    }
    // The comparison sees a drawing moved by one pixel.
    const QImage grass(examples.filePath(QStringLiteral("graftals/Grass_blades_001.png")));
    QVERIFY(shownDifference(grass, grass.copy(grass.rect().translated(1, 0))) > ShownAlike);

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
