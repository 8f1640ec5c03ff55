// Start-up cost of the graftal library: 300 graftals of six levels listed with their
// thumbnails, against decoding on one thread what that decodes; and the whole window on
// 1000 graftals of four levels, until it answers and what it then holds (under a display).
#include "BenchSupport.h"
#include "GLRender.h"
#include "Graftal.h"
#include "GraftalThumbnailNavigator.h"
#include "LevelMemory.h"
#include "LoggerOutput.h"
#include "TreeManager.h"
#include "Tuftmill.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
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

// A library of `count` graftals of `levels` levels each; the drawings repeat every 50
// graftals, which changes nothing of what loading them costs.
int generate(const QString &dir, int count, int levels)
{
    QDir::setCurrent(dir);
    QDir().mkpath(Graftal::Directory);
    QList<QList<LevelPair>> drawings;
    for (int i = 0; i < std::min(count, 50); ++i) {
        drawings.append(QList<LevelPair>());
        for (int l = 0; l < levels; ++l)
            drawings.last().append(drawLevel(i, l));
    }
    for (int i = 0; i < count; ++i) {
        auto g = Graftal::create(i + 1, QStringLiteral("bench %1").arg(i + 1));
        for (int l = 0; l < levels; ++l) {
            if (l > 0)
                g->addLevel();
            g->setLevel(l, drawings[i % drawings.size()][l]);
        }
        if (!g->save())
            return 1;
    }
    return 0;
}

bool makeLibrary(const QString &program, const QString &dir, int count, int levels)
{
    std::printf("generating %d graftals x %d levels ...\n", count, levels);
    std::fflush(stdout);
    return QProcess::execute(program, {QStringLiteral("--generate"), dir, QString::number(count),
                                       QString::number(levels)}) == 0;
}

// Every listed graftal shows its thumbnail (they are decoded off the GUI thread).
bool thumbnailsDone(TreeManager &library)
{
    const QList<Graftal *> listed = library.listedGraftals();
    return std::all_of(listed.cbegin(), listed.cend(),
                       [](const Graftal *g) { return !g->thumbnail().isNull(); });
}

// The library as the window starts it: listed, its thumbnails shown, the first graftal
// selected in the painter (its levels decoded); against decoding exactly those files on
// one thread.
void libraryAgainstItsDecoding(const QString &dir)
{
    QDir::setCurrent(dir);
    auto startLibrary = [] {
        QTreeWidget tree;
        TreeManager library(&tree);
        GraftalThumbnailNavigator thumbnails;
        QObject::connect(&library, &TreeManager::graftalAdded, &thumbnails,
                         &GraftalThumbnailNavigator::graftalAdded);
        QObject::connect(&library, &TreeManager::selectedChanged, &library,
                         [](Graftal *g) { g->levels(); });
        library.loadAllGraftals();
        while (!thumbnailsDone(library))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    };
    QStringList decoded;
    {
        QTreeWidget tree;
        TreeManager library(&tree);
        library.loadAllGraftals();
        const QList<Graftal *> listed = library.listedGraftals();
        for (const Graftal *g : listed)
            decoded << g->fileName() + QStringLiteral("_001.png");
        for (int l = 1; l < listed.first()->levelCount(); ++l)
            decoded << QStringLiteral("%1_%2.png")
                           .arg(listed.first()->fileName())
                           .arg(l + 1, 3, 10, QChar('0'));
    }
    auto decodeThose = [&] {
        qint64 pixels = 0;
        for (const QString &file : std::as_const(decoded))
            pixels += QImage(Graftal::Directory + QLatin1Char('/') + file).width();
        if (pixels == 0)
            std::printf("nothing decoded\n");
    };
    decodeThose(); // warm the file cache
    const double loadMedian = bench::medianMs(3, startLibrary);
    const double decodeMedian = bench::medianMs(3, decodeThose);
    std::printf("library with thumbnails and the first graftal: median %.0f ms\n", loadMedian);
    std::printf("one-thread decode of the %lld files that decodes: median %.0f ms\n",
                static_cast<long long>(decoded.size()), decodeMedian);
    std::printf("ratio: %.2f (target <= 1.25)\n", loadMedian / decodeMedian);
}

// The whole window on a library: until it answers input, and what it holds once every
// thumbnail is in.
void windowOnLibrary(const QString &dir)
{
    QDir::setCurrent(dir);
    const double before = bench::residentMiB();
    QElapsedTimer clock;
    clock.start();
    double interactiveMs = 0, longestWaitMs = 0;
    {
        Tuftmill window;
        window.show();
        emit window.afterLoaded();
        QTimer::singleShot(0, [&] { interactiveMs = clock.nsecsElapsed() / 1e6; });
        QElapsedTimer turn;
        turn.start();
        TreeManager &library = *TreeManager::instance();
        while (interactiveMs == 0 || !thumbnailsDone(library)) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (interactiveMs > 0)
                longestWaitMs = std::max(longestWaitMs, turn.nsecsElapsed() / 1e6);
            turn.restart();
        }
        const double settledMs = clock.nsecsElapsed() / 1e6;
        std::printf("window interactive after %.0f ms (target <= 2000); every thumbnail in after "
                    "%.0f ms; longest turn of the event loop meanwhile %.0f ms\n",
                    interactiveMs, settledMs, longestWaitMs);
        std::printf("resident: %.0f MiB (+%.0f MiB; target <= 1024 MiB), peak %.0f MiB; decoded "
                    "levels %.0f MiB, level files kept %.0f MiB\n",
                    bench::residentMiB(), bench::residentMiB() - before, bench::peakResidentMiB(),
                    LevelMemory::instance().residentBytes() / 1048576.0,
                    LevelMemory::instance().encodedBytes() / 1048576.0);
    }
    TreeManager::destroyInstance();
}
} // namespace

int main(int argc, char **argv)
{
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !display)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    GLRender::setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("--generate")) {
        const int result = generate(args[2], args[3].toInt(), args[4].toInt());
        LoggerOutput::shutdown();
        return result;
    }
    QTemporaryDir small, large;
    if (!makeLibrary(args[0], small.path(), 300, 6)) {
        std::fprintf(stderr, "generation failed\n");
        return 1;
    }
    libraryAgainstItsDecoding(small.path());
    if (!display) {
        std::printf("no display: the window on 1000 graftals x 4 levels is not measured\n");
    } else if (!makeLibrary(args[0], large.path(), 1000, 4)) {
        std::fprintf(stderr, "generation failed\n");
        return 1;
    } else {
        windowOnLibrary(large.path());
    }
    LoggerOutput::shutdown();
    return 0;
}
