#include "../support/Models.h"
#include "../support/ReaderSupport.h"
#include "../support/TestSupport.h"
#include "ChunkTree.h"
#include "FuzzCase.h"
#include "LoggerOutput.h"
#include "Scene.h"

using testsupport::ScopedWorkDir;

namespace {
// Offsets of everything that looks like a chunk header, for damaging files there.
QVector<qint64> chunkOffsets(const QByteArray &bytes)
{
    QVector<qint64> offsets;
    for (qint64 at = 0; at + 6 <= bytes.size(); ++at) {
        const quint32 length = quint8(bytes[at + 2]) | (quint8(bytes[at + 3]) << 8) |
                               (quint8(bytes[at + 4]) << 16) |
                               (quint32(quint8(bytes[at + 5])) << 24);
        if (length >= 6 && at + length <= bytes.size() &&
            (at == 0 || quint8(bytes[at + 1]) >= 0x3d))
            offsets.append(at);
    }
    return offsets;
}
} // namespace

// Damaged and unusual 3DS files through the whole load path: the model reader process, the
// checks of what it hands back, normals, box and render arrays. Each file must end in a
// consistent model or in the usual message; the sanitizers watch the application's side.
class TestModelFuzz : public QObject
{
    Q_OBJECT
private slots:
    void generatedModelsLoad();
    void structureMutationsLoadOrExplain();
    void byteMutationsOfRealFilesLoadOrExplain();
    void cleanupTestCase() { LoggerOutput::shutdown(); }

private:
    testsupport::ShortReaderLimits limits;
};

void TestModelFuzz::generatedModelsLoad()
{
    // The generator's undamaged files are sound 3DS files: every one loads.
    ScopedWorkDir work;
    ChunkFuzzer fuzzer(7);
    Scene scene;
    for (int i = 0; i < 150; ++i) {
        const FuzzOutcome outcome = loadFuzzCase(scene, "model.3ds", fuzzer.model().bytes());
        QVERIFY2(outcome.failure.isEmpty(), qPrintable(outcome.failure));
        QVERIFY2(outcome.loaded, qPrintable(QString::number(i)));
    }
}

void TestModelFuzz::structureMutationsLoadOrExplain()
{
    ScopedWorkDir work;
    ChunkFuzzer fuzzer(20261207);
    Scene scene;
    int loaded = 0;
    const int cases = 2000;
    for (int i = 0; i < cases; ++i) {
        const FuzzOutcome outcome =
            loadFuzzCase(scene, "mutated.3ds", fuzzer.mutate(fuzzer.model()));
        QVERIFY2(outcome.failure.isEmpty(),
                 qPrintable(QString("case %1: %2").arg(i).arg(outcome.failure)));
        loaded += outcome.loaded;
    }
    // Many damaged files still read as a model, many do not; both ways were taken.
    QVERIFY2(loaded > cases / 10 && loaded < cases * 9 / 10, qPrintable(QString::number(loaded)));
}

void TestModelFuzz::byteMutationsOfRealFilesLoadOrExplain()
{
    ScopedWorkDir work;
    quint32 seed = 20261207;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    Scene scene;
    int loaded = 0, tried = 0;
    for (const char *name : {"assimp_CameraRollAnimWithChildObject.3ds", "assimp_test1.3ds",
                             "deb-libirrlicht-doc_room.3ds", "assimp_cubes_with_alpha.3ds"}) {
        const QByteArray original = testsupport::readBytes(testsupport::realModel(name));
        QVERIFY(!original.isEmpty());
        const QVector<qint64> headers = chunkOffsets(original);
        for (int i = 0; i < 250; ++i) {
            QByteArray b = original;
            switch (next() % 4) {
            case 0: // a byte changed anywhere
                b[next() % b.size()] = char(next());
                break;
            case 1: { // a byte changed in a chunk header (id or length)
                const qint64 at = headers[next() % headers.size()] + next() % 6;
                b[at] = char(next());
                break;
            }
            case 2: // cut short
                b.truncate(next() % b.size());
                break;
            default: // a count or index pushed to an extreme
                b[next() % b.size()] = char((next() & 1) ? 0xff : 0x00);
                b[next() % b.size()] = char(0x7f);
                break;
            }
            const FuzzOutcome outcome = loadFuzzCase(scene, "mutated.3ds", b);
            QVERIFY2(outcome.failure.isEmpty(), qPrintable(outcome.failure));
            loaded += outcome.loaded;
            ++tried;
        }
    }
    QVERIFY(loaded > 0 && loaded < tried);
}

QTEST_GUILESS_MAIN(TestModelFuzz)
#include "tst_model_fuzz.moc"
