// A long run of the model loader against generated and damaged 3DS files, for release
// checks: every file must end in a consistent model or a message, within the reader's
// limits. Build with the sanitizers (scripts/test.sh does) to catch memory faults.
//
//   tuftmill_fuzz_models [CASES] [SEED]
#include "ChunkTree.h"
#include "FuzzCase.h"
#include "LoggerOutput.h"
#include "Scene.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 cases = argc > 1 ? QByteArray(argv[1]).toLongLong() : 100000;
    const uint32_t seed = argc > 2 ? QByteArray(argv[2]).toUInt() : 20261207u;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fuzz.3ds"));
    ChunkFuzzer fuzzer(seed);
    Scene scene;
    qint64 loaded = 0, failures = 0;
    QElapsedTimer clock;
    clock.start();
    for (qint64 i = 0; i < cases; ++i) {
        const Chunk model = fuzzer.model();
        const QByteArray bytes = i % 10 == 0 ? model.bytes() : fuzzer.mutate(model);
        const FuzzOutcome outcome = loadFuzzCase(scene, path, bytes);
        loaded += outcome.loaded;
        if (!outcome.failure.isEmpty()) {
            ++failures;
            const QString kept = dir.filePath(QStringLiteral("failure-%1.3ds").arg(i));
            QFile::copy(path, kept);
            std::printf("case %lld: %s (kept as %s)\n", static_cast<long long>(i),
                        qPrintable(outcome.failure), qPrintable(kept));
            dir.setAutoRemove(false);
        }
        if ((i + 1) % 1000 == 0) {
            std::printf("%lld cases, %lld loaded, %lld failures, %.1f cases/s\n",
                        static_cast<long long>(i + 1), static_cast<long long>(loaded),
                        static_cast<long long>(failures), (i + 1) * 1000.0 / clock.elapsed());
            std::fflush(stdout);
        }
    }
    std::printf("done: %lld cases, %lld loaded, %lld failures\n", static_cast<long long>(cases),
                static_cast<long long>(loaded), static_cast<long long>(failures));
    LoggerOutput::shutdown();
    return failures == 0 ? 0 : 1;
}
