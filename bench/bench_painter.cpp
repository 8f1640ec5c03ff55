// The painter under a long stroke of a big translucent brush: the cost of each mouse move
// (and of drawing the frame after it), of the release that merges the stroke and makes its
// undo entry, and of a fill that covers the whole 400 × 400 image; then the same strokes with
// the brush's smoothing and mirror on, with a soft tip, and tapered. Run under a display.
#include "BrushSettings.h"
#include "FloodFill.h"
#include "Graftal.h"
#include "GraftalPainter.h"
#include "LoggerOutput.h"
#include "TextureManager.h"

#include <QAction>
#include <QApplication>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {
constexpr int Strokes = 5;
constexpr int EventsPerStroke = 200;
constexpr int Fills = 9;

// CPU time of this thread, in milliseconds: what the GUI thread spends, whatever else runs.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Times one call on this thread's CPU clock.
template <typename Work> double timed(Work &&work)
{
    const double start = cpuMs();
    work();
    return cpuMs() - start;
}

struct Figures
{
    std::vector<double> ms;
    void add(double v) { ms.push_back(v); }
    double median()
    {
        std::sort(ms.begin(), ms.end());
        return ms[ms.size() / 2];
    }
    double max() const { return *std::max_element(ms.begin(), ms.end()); }
};

// A zigzag over the whole frame that crosses itself many times.
QPoint along(int i)
{
    const int x = 20 + (i * 37) % 360;
    const int y = 20 + (i * 9) % 360;
    return {x, y};
}

// A target of 0 is none.
void print(const char *what, Figures &f, double target = 0)
{
    const double median = f.median();
    std::printf("%-46s median %7.3f ms  max %7.3f ms", what, median, f.max());
    if (target > 0)
        std::printf("  (target <= %.0f ms) %s", target, f.max() <= target ? "ok" : "OVER");
    std::printf("\n");
}

// The share of the image's pixels that something covers: the strokes did land.
double coveredShare(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    qint64 covered = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            covered += qAlpha(argb.pixel(x, y)) > 0;
    return double(covered) / (qint64(argb.width()) * argb.height());
}
// Strokes over the zigzag with the panel's current brush: one mouse move, the same with the
// frame drawn after it, and the release.
void strokes(GraftalPainter *painter, const char *label, double moveTarget)
{
    Figures move, moveAndFrame, release;
    for (int s = 0; s < Strokes; ++s) {
        QTest::mousePress(painter, Qt::LeftButton, {}, along(s));
        for (int i = 1; i < EventsPerStroke; ++i) {
            const QPoint at = along(s + i);
            const double handled = timed([&] { QTest::mouseMove(painter, at); });
            move.add(handled);
            moveAndFrame.add(handled + timed([&] { painter->repaint(); }));
        }
        const QPoint end = along(s + EventsPerStroke);
        release.add(timed([&] { QTest::mouseRelease(painter, Qt::LeftButton, {}, end); }));
        QApplication::processEvents();
    }
    std::printf("%s: the strokes cover %.0f %% of the level\n", label,
                100 * coveredShare(painter->currentPixmaps().first.toImage()));
    print("one mouse move while stroking", move, moveTarget);
    print("the same with the frame drawn after it", moveAndFrame);
    print("release (merge, undo entry, level stored)", release, moveTarget > 0 ? 10 : 0);
}
} // namespace

int main(int argc, char **argv)
{
    // The panel remembers its brush: in a folder of the bench's own, not the user's settings.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    QApplication app(argc, argv);
    auto g = Graftal::create(1, QStringLiteral("Bench"));
    TextureManager panel;
    panel.setupToolBar();
    panel.show();
    if (!QTest::qWaitForWindowExposed(&panel)) {
        std::fprintf(stderr, "the panel did not show\n");
        return 1;
    }
    panel.graftalSelected(g.get());
    panel.brushSizeBox()->setValue(100);
    panel.opacityBox()->setValue(50);
    GraftalPainter *painter = panel.painter();
    std::printf("stroke: %d events at brush size %d, opacity %d %%, on a %d x %d level; "
                "%d strokes\n",
                EventsPerStroke, painter->brushSize(), painter->opacity(), GraftalPainter::Side,
                GraftalPainter::Side, Strokes);

    strokes(painter, "plain pen", 2);

    // Smoothing and mirror on, hard and then soft; and a tapered stroke, drawn again whole
    // at each event (its ends depend on its length).
    panel.action(QStringLiteral("Mirror"))->trigger();
    const struct
    {
        const char *label;
        BrushSettings brush;
        double target;
    } shaped[] = {{"smoothing 60, mirror", {100, 50, 100, false, 0, false, 60}, 2},
                  {"soft, smooth edge, smoothing 60, mirror", {100, 50, 0, true, 0, false, 60}, 2},
                  {"soft, taper 30, smoothing 60, mirror", {100, 50, 0, true, 30, false, 60}, 0},
                  {"\"Tapered blade\" (24 px), mirror", brushpresets::shipped().at(2).brush, 0}};
    for (const auto &run : shaped) {
        painter->clearPixmap();
        panel.applyBrush(run.brush);
        strokes(painter, run.label, run.target);
    }
    panel.action(QStringLiteral("Mirror"))->trigger();
    panel.applyBrush({100, 50, 100, false, 0, false, 0});

    // Each fill covers the whole image: it is all one colour after a clear.
    panel.action(QStringLiteral("Fill"))->trigger();
    Figures fill, region;
    for (int i = 0; i < Fills; ++i) {
        painter->clearPixmap();
        QApplication::processEvents();
        const QPoint at(10 + i * 40, 200);
        fill.add(timed([&] {
            QTest::mousePress(painter, Qt::LeftButton, {}, at);
            QTest::mouseRelease(painter, Qt::LeftButton, {}, at);
        }));
        const QImage filled = painter->currentPixmaps().first.toImage();
        region.add(timed([&] { floodfill::similarRegion(filled, at); }));
    }
    print("fill of the whole 400 x 400 image", fill, 20);
    print("  of which finding the region", region);
    LoggerOutput::shutdown();
    return 0;
}
