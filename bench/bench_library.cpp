// Start-up cost of the graftal library: loading a library of 300 graftals with six
// levels each, against merely decoding the same PNG files on one thread.
#include "BenchSupport.h"
#include "Graftal.h"
#include "LoggerOutput.h"
#include "TreeManager.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cmath>
#include <cstdio>

namespace {
constexpr int GraftalCount = 300;
constexpr int LevelCount = 6;

// Draws a plausible level: a few strokes that thin out with the level of detail.
LevelPair drawLevel(int graftal, int level)
{
    QPixmap texture(Graftal::LevelSide, Graftal::LevelSide),
        mask(Graftal::LevelSide, Graftal::LevelSide);
    texture.fill(Qt::transparent);
    mask.fill(Qt::transparent);
    QPainter t(&texture), m(&mask);
    t.setRenderHint(QPainter::Antialiasing);
    m.setRenderHint(QPainter::Antialiasing);
    const int strokes = 24 >> (level / 2);
    for (int s = 0; s < strokes; ++s) {
        const double a = (graftal * 31 + s * 17) % 360 * M_PI / 180.0;
        const QPointF base(200 + 120 * std::cos(a) * 0.5, 390);
        const QPointF tip(200 + 180 * std::cos(a), 40 + (s * 37 % 120));
        t.setPen(QPen(QColor::fromHsv((graftal * 7 + s * 11) % 360, 200, 180), 14 - level * 2,
                      Qt::SolidLine, Qt::RoundCap));
        t.drawLine(base, tip);
        m.setPen(QPen(Qt::black, 6, Qt::SolidLine, Qt::RoundCap));
        m.drawLine(base, (base + tip) / 2);
    }
    return {texture, mask};
}

int generate(const QString &dir)
{
    QDir::setCurrent(dir);
    QDir().mkpath(Graftal::Directory);
    for (int i = 0; i < GraftalCount; ++i) {
        auto g = Graftal::create(i + 1, QStringLiteral("bench %1").arg(i + 1));
        for (int l = 0; l < LevelCount; ++l) {
            if (l > 0)
                g->addLevel();
            g->setLevel(l, drawLevel(i, l));
        }
        if (!g->save())
            return 1;
    }
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--generate")) {
        const int result = generate(args[2]);
        LoggerOutput::shutdown();
        return result;
    }

    QTemporaryDir dir;
    std::printf("generating %d graftals x %d levels ...\n", GraftalCount, LevelCount);
    std::fflush(stdout);
    if (QProcess::execute(args[0], {QStringLiteral("--generate"), dir.path()}) != 0) {
        std::fprintf(stderr, "generation failed\n");
        return 1;
    }
    QDir::setCurrent(dir.path());
    const QStringList pngs =
        QDir(Graftal::Directory).entryList({QStringLiteral("*.png")}, QDir::Files);
    std::printf("%lld PNG files\n", static_cast<long long>(pngs.size()));

    auto decodeAll = [&] {
        qint64 pixels = 0;
        for (const QString &file : pngs)
            pixels += QImage(Graftal::Directory + QLatin1Char('/') + file).width();
        if (pixels == 0)
            std::printf("nothing decoded\n");
    };
    decodeAll(); // warm the file cache

    const double before = bench::residentMiB();
    double loadMs = 0;
    {
        QTreeWidget tree;
        TreeManager library(&tree);
        QElapsedTimer clock;
        clock.start();
        library.loadAllGraftals();
        loadMs = clock.nsecsElapsed() / 1e6;
        std::printf("library resident after load: %.1f MiB (+%.1f MiB)\n", bench::residentMiB(),
                    bench::residentMiB() - before);
        if (library.listedGraftals().size() != GraftalCount)
            std::printf("WARNING: %lld graftals listed\n",
                        static_cast<long long>(library.listedGraftals().size()));
    }
    // Repeat the load a few times for a stable median.
    const double loadMedian = bench::medianMs(3, [] {
        QTreeWidget tree;
        TreeManager library(&tree);
        library.loadAllGraftals();
    });
    const double decodeMedian = bench::medianMs(3, decodeAll);
    std::printf("loadAllGraftals: first %.0f ms, median %.0f ms\n", loadMs, loadMedian);
    std::printf("raw QImage decode, one thread: median %.0f ms\n", decodeMedian);
    std::printf("ratio load / decode: %.2f (target <= 1.25)\n", loadMedian / decodeMedian);
    std::printf("peak resident memory: %.1f MiB\n", bench::peakResidentMiB());
    LoggerOutput::shutdown();
    return 0;
}
