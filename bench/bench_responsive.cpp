// The window while a 6,000,000-triangle model opens: the longest time the GUI thread goes
// without handling events, from the start of the load through the model's first frames
// (the view turned a little before each). A timer asks the event loop every 50 ms; each
// phase prints its longest gap between two of its answers. "--whole" draws every frame at
// once instead of in steps. Needs an X display (run it
// under xvfb-run).
#include "BenchSupport.h"
#include "GLRender.h"
#include "LoggerOutput.h"
#include "ModelBuilder.h"
#include "Scene.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cstdio>

namespace {
// Gaps between a 50 ms timer's answers, kept for the phase they end in.
class GapWatch
{
public:
    GapWatch()
    {
        ticker.setInterval(50);
        QObject::connect(&ticker, &QTimer::timeout, [this] { tick(); });
        since.start();
        ticker.start();
    }
    void enter(const char *name)
    {
        tick();
        phases.push_back({name, 0.0});
    }
    void tick()
    {
        const double ms = since.nsecsElapsed() / 1e6;
        since.restart();
        if (!phases.empty())
            phases.back().longestMs = std::max(phases.back().longestMs, ms);
    }
    void print() const
    {
        double longest = 0;
        for (const Phase &p : phases) {
            std::printf("  %-34s longest gap %6.0f ms\n", p.name, p.longestMs);
            longest = std::max(longest, p.longestMs);
        }
        std::printf("longest gap between event-loop turns: %.0f ms (target <= 500)\n", longest);
    }

private:
    struct Phase
    {
        const char *name;
        double longestMs;
    };
    QTimer ticker;
    QElapsedTimer since;
    std::vector<Phase> phases;
};

// Runs the event loop until `signal` of `sender` comes.
template <typename Sender, typename Signal> void waitFor(Sender *sender, Signal signal)
{
    QEventLoop waiting;
    const QMetaObject::Connection c = QObject::connect(sender, signal, &waiting, &QEventLoop::quit);
    waiting.exec();
    QObject::disconnect(c);
}
} // namespace

int main(int argc, char **argv)
{
    GLRender::setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QString path = dir.filePath(QStringLiteral("big.3ds"));
    // 600 spheres of 10,000 triangles, each a mesh of 5,151 points.
    std::printf("writing a model of 600 meshes x 10000 triangles ...\n");
    std::fflush(stdout);
    if (!ModelBuilder::spheres(600, 51, 100).save(path)) {
        std::fprintf(stderr, "the model could not be written\n");
        return 1;
    }
    GLRender view;
    // "--whole": every frame and face-id picture drawn at once, as before they were stepped.
    if (app.arguments().contains(QStringLiteral("--whole")))
        view.setFacesPerStep(size_t(1) << 40);
    view.resize(1920, 1080);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view)) {
        std::fprintf(stderr, "no window\n");
        return 1;
    }
    view.grabFramebuffer();

    GapWatch gaps;
    QElapsedTimer clock;
    clock.start();
    gaps.enter("reading, building, uploading");
    int framesAtInstall = 0;
    QObject::connect(&view.modelLoader(), &ModelLoadController::modelInstalled, [&] {
        framesAtInstall = view.framesFinished();
        std::printf("  installed after %.1f s\n", clock.elapsed() / 1000.0);
        gaps.enter("first frame and face ids");
    });
    bool loaded = false;
    QObject::connect(&view, &GLRender::modelLoadFinished, [&](bool ok) { loaded = ok; });
    view.loadModelInBackground(path);
    waitFor(&view, &GLRender::modelLoadFinished);
    if (!loaded) {
        std::fprintf(stderr, "the model did not load\n");
        return 1;
    }
    std::printf("  loaded after %.1f s, %d triangles\n", clock.elapsed() / 1000.0,
                view.scene()->faceCount());
    // Settled: a whole frame drawn, nothing left to draw in steps.
    const auto settle = [&view](int framesBefore) {
        return QTest::qWaitFor(
            [&] { return view.framesFinished() > framesBefore && !view.drawingInSteps(); }, 600000);
    };
    gaps.enter("until the view is settled");
    settle(framesAtInstall);
    std::printf("  settled after %.1f s\n", clock.elapsed() / 1000.0);
    gaps.enter("ten frames, turning");
    for (int frame = 0; frame < 10; ++frame) {
        const int before = view.framesFinished();
        view.scene()->commitRotation(3.0, 0.0);
        view.update();
        settle(before);
    }
    gaps.tick();
    std::printf("  done after %.1f s\n", clock.elapsed() / 1000.0);
    gaps.print();
    LoggerOutput::shutdown();
    return 0;
}
