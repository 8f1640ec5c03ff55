// The 3D view on big models and many graftals: loading a 1,000,000-triangle model,
// picking, drawing 10,000 and 100,000 graftals and a density stroke. Needs an X display
// (run it under xvfb-run).
#include <GL/glew.h>

#include "BenchSupport.h"
#include "GLRender.h"
#include "Graftal.h"
#include "LoadWatch.h"
#include "LoggerOutput.h"
#include "ModelBuilder.h"
#include "RenderSettings.h"
#include "Scene.h"
#include "SceneRenderer.h"

#include <QApplication>
#include <QPainter>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <ctime>
#include <lib3ds/file.h>

namespace {
constexpr int Meshes = 100;
constexpr int Rings = 51;
constexpr int Segments = 100; // 2 * Segments * (Rings - 1) = 10,000 triangles per mesh

double renderMs(GLRender &view, int frames)
{
    view.makeCurrent();
    Scene *scene = view.scene();
    const double ms = bench::medianMs(frames, [&] {
        view.renderer().draw(*scene, scene->camera(), settingsOf(scene->style),
                             scene->viewportWidth, scene->viewportHeight);
        glFinish();
    });
    view.doneCurrent();
    return ms;
}

double medianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One frame in every style as a ratio to the flat frame: the lit modes may cost at most 15 %
// more, their outlines at most 30 %. The styles take turns frame by frame, so that other work
// on the machine weighs on all of them alike; the median of each is compared.
void styleFigures(GLRender &view, int windowSamples)
{
    Scene *scene = view.scene();
    const ViewStyle kept = scene->style;
    struct Style
    {
        Shading shading;
        bool outlines;
        const char *name;
        std::vector<double> ms;
        bool antialiased = false;
    };
    std::vector<Style> styles = {{Shading::Flat, false, "Flat", {}},
                                 {Shading::Flat, true, "Flat with Outlines", {}},
                                 {Shading::Shaded, false, "Shaded", {}},
                                 {Shading::Shaded, true, "Shaded with Outlines", {}},
                                 {Shading::Toon, false, "Toon", {}},
                                 {Shading::Toon, true, "Toon with Outlines", {}}};
    // Each again antialiased, as the window draws it: at most 1.6 times the frame without.
    for (size_t i = 0, n = styles.size(); i < n; ++i) {
        styles.push_back(styles[i]);
        styles.back().antialiased = true;
    }
    view.makeCurrent();
    for (int round = 0; round <= 21; ++round)
        for (Style &style : styles) {
            scene->style.shading = style.shading;
            scene->style.outlines = style.outlines;
            scene->style.antialiasing = style.antialiased;
            const double ms = bench::medianMs(1, [&] {
                view.renderer().drawFinished(*scene, scene->camera(),
                                             settingsOf(scene->style, windowSamples),
                                             scene->viewportWidth, scene->viewportHeight);
                glFinish();
            });
            if (round > 0) // the first round warms llvmpipe's code for each style
                style.ms.push_back(ms);
        }
    const double flatMs = medianOf(styles[0].ms);
    for (size_t i = 0; i < styles.size(); ++i) {
        const Style &style = styles[i];
        const double ms = medianOf(style.ms);
        if (style.antialiased)
            std::printf("  %s antialiased (%d samples): %.1f ms per frame, %.2f of it without "
                        "(target <= 1.6)\n",
                        style.name, windowSamples, ms, ms / medianOf(styles[i - styles.size() / 2].ms));
        else
            std::printf("  %s: %.1f ms per frame, %.2f of Flat (target <= %s)\n", style.name, ms,
                        ms / flatMs,
                        style.outlines ? "1.3" : (style.shading == Shading::Flat ? "-" : "1.15"));
    }
    // A still of the window's size, with and without its samples, taking turns: at most 2 x.
    for (const bool outlined : {false, true}) {
        scene->style.shading = outlined ? Shading::Toon : Shading::Flat;
        scene->style.outlines = outlined;
        scene->style.antialiasing = true;
        std::vector<double> plain, sampled;
        for (int round = 0; round <= 5; ++round)
            for (const int samples : {1, PictureSamples}) {
                QString error;
                const double ms = bench::medianMs(1, [&] {
                    view.renderer().picture(*scene, scene->camera(), settingsOf(scene->style, samples),
                                            1920, 1080, error);
                });
                if (round > 0)
                    (samples == 1 ? plain : sampled).push_back(ms);
            }
        std::printf("  still 1920x1080 %s: %.0f ms, antialiased %.0f ms, %.2f x (target <= 2)\n",
                    outlined ? "Toon with Outlines" : "Flat", medianOf(plain), medianOf(sampled),
                    medianOf(sampled) / medianOf(plain));
    }
    view.doneCurrent();
    scene->style = kept;
}

// "Show every graftal" against the fade on the same frame, taking turns frame by frame:
// at most 1.3 times.
void showAllFigure(GLRender &view, Graftal *g, int count)
{
    Scene *scene = view.scene();
    // Blades: an opaque stripe up the middle of clear cards, on every level.
    QPixmap blade(Graftal::LevelSide, Graftal::LevelSide), clear(blade.size());
    blade.fill(Qt::transparent);
    clear.fill(Qt::transparent);
    QPainter(&blade).fillRect(blade.width() * 3 / 10, 0, blade.width() * 2 / 5, blade.height(),
                              QColor(60, 150, 40));
    for (int level = 0; level < g->levelCount(); ++level)
        g->setLevel(level, {blade, clear});
    view.bindTexturesForGraftal(g);
    std::vector<double> faded, all;
    view.makeCurrent();
    view.renderer().prepareTextures(*scene);
    if (view.renderer().textures().names(g)[0] == 0)
        std::printf("the graftal's textures were not made: no graftal is drawn\n");
    for (int round = 0; round <= 7; ++round)
        for (const bool showAll : {false, true}) {
            RenderSettings settings = settingsOf(scene->style);
            settings.showAllGraftals = showAll;
            const double ms = bench::medianMs(1, [&] {
                view.renderer().draw(*scene, scene->camera(), settings, scene->viewportWidth,
                                     scene->viewportHeight);
                glFinish();
            });
            if (round > 0) // the first round warms llvmpipe's code for each
                (showAll ? all : faded).push_back(ms);
        }
    view.doneCurrent();
    std::printf("render with %d graftals, every graftal shown: %.1f ms per frame against %.1f ms "
                "with the fade, %.2f x (target <= 1.3)\n",
                count, medianOf(all), medianOf(faded), medianOf(all) / medianOf(faded));
}

double sortMs(Scene *scene)
{
    const std::vector<GraftalInstance *> all = scene->collectInstances();
    return bench::medianMs(5, [&] {
        std::vector<std::pair<double, GraftalInstance *>> byDistance;
        byDistance.reserve(all.size());
        for (GraftalInstance *i : all)
            byDistance.emplace_back(i->distanceSquaredToEye(scene->camera().eye), i);
        std::sort(byDistance.begin(), byDistance.end(),
                  [](const auto &a, const auto &b) { return a.first > b.first; });
    });
}
// CPU time of this thread, in milliseconds: the work of one event, without waiting.
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void spreadGraftals(Scene *scene, Graftal *g, int count)
{
    scene->clearInstances();
    const int faces = scene->faceCount();
    for (int i = 0; i < count; ++i)
        scene->addInstance(scene->face(int((qint64(i) * 7919) % faces)), Scene::randomBarycentric(),
                           g);
    // The flat list as painting leaves it.
    scene->beginDensityStroke(scene->face(0));
    scene->endDensityStroke();
}

// "Paint density" at radius 100 along a path over 100,000 graftals spread on the model: a
// stroke that fills, the same stroke again, and one that thins to half the density.
void densityFigures(Scene *scene, Graftal *g, QPoint middle)
{
    // A density at which a circle of radius 100 on the model wants about 1,500 graftals.
    double density = 1.0;
    for (int tries = 0; tries < 48; ++tries) {
        scene->beginStroke();
        const int n = scene->paintDensityAt(middle.x(), middle.y(), 100, density, false);
        scene->endStroke();
        scene->undo();
        if (n > 0 && n < Scene::MaxDensityPlacements) {
            density *= 1500.0 / n;
            break;
        }
        density *= n == 0 ? 10.0 : 0.1;
    }
    spreadGraftals(scene, g, 100000);
    const auto stroke = [&](double perUnit, bool thin, int &changed) {
        std::vector<double> times;
        scene->beginStroke();
        for (int event = 0; event < 41; ++event) {
            const double t = threadCpuMs();
            changed += scene->paintDensityAt(middle.x() - 400 + event * 20, middle.y() + event * 2,
                                             100, perUnit, thin);
            times.push_back(threadCpuMs() - t);
        }
        const double t = threadCpuMs();
        scene->endStroke();
        const double end = threadCpuMs() - t;
        const double longest = *std::max_element(times.begin(), times.end());
        std::printf(
            "  median %.3f ms CPU, longest %.3f ms (target < 2), end of the stroke %.2f ms\n",
            medianOf(times), longest, end);
    };
    int added = 0, again = 0, thinned = 0;
    std::printf("density brush, radius 100, 41 events 20 px apart, %.4g graftals per unit^2:\n",
                density);
    stroke(density, false, added);
    std::printf("  filling: %d graftals added\n", added);
    stroke(density, false, again);
    std::printf("  the same path again: %d added\n", again);
    stroke(density / 2, true, thinned);
    std::printf("  thinning to half (Shift): %d taken off\n", -thinned);
}

// The brush, the eraser and the history on 100,000 graftals (rendering excluded).
void brushFigures(GLRender &view, Graftal *g)
{
    Scene *scene = view.scene();
    spreadGraftals(scene, g, 100000);
    const QPoint middle(scene->viewportWidth / 2, scene->viewportHeight / 2);
    std::vector<double> spray;
    int placed = 0;
    for (int event = 0; event < 21; ++event) {
        const int before = scene->instanceCount();
        scene->beginStroke();
        const double t = threadCpuMs();
        scene->sprayAt(middle.x() - 200 + event * 20, middle.y(), 100, 50);
        spray.push_back(threadCpuMs() - t);
        scene->endStroke();
        placed += scene->instanceCount() - before;
    }
    std::printf("spray event, radius 100, rate 50 (%d of %d placed): %.3f ms CPU, median of 21 "
                "(target < 2)\n",
                placed, 21 * 50, medianOf(spray));

    spreadGraftals(scene, g, 100000);
    double t = threadCpuMs();
    scene->prepareEraser();
    const double prepare = threadCpuMs() - t;
    scene->beginStroke();
    t = threadCpuMs();
    int removed = scene->eraseAt(middle.x(), middle.y(), 200);
    std::vector<double> erase{threadCpuMs() - t};
    for (int event = 1; event <= 20; ++event) {
        t = threadCpuMs();
        removed += scene->eraseAt(middle.x() + event * 5, middle.y(), 200);
        erase.push_back(threadCpuMs() - t);
    }
    t = threadCpuMs();
    scene->endStroke();
    const double endErase = threadCpuMs() - t;
    std::printf("erase event, radius 200, over 100000 graftals spread on the model: %.3f ms CPU "
                "(median of 21, target < 2), %d removed; filing them by screen cell beforehand "
                "%.1f ms; end of the stroke %.2f ms\n",
                medianOf(erase), removed, prepare, endErase);

    // The worst case: 100,000 graftals sprayed where the brush then erases them all at once.
    scene->clearInstances();
    scene->beginStroke();
    for (int event = 0; scene->instanceCount() < 100000 && event < 10000; ++event)
        scene->sprayAt(middle.x(), middle.y(), 190, 50);
    scene->endStroke();
    const int sprayed = scene->instanceCount();
    scene->prepareEraser();
    scene->beginStroke();
    t = threadCpuMs();
    removed = scene->eraseAt(middle.x(), middle.y(), 200);
    const double eraseAll = threadCpuMs() - t;
    t = threadCpuMs();
    scene->endStroke();
    std::printf("erase event taking %d of %d graftals off at once: %.2f ms CPU; end of the "
                "stroke (its history step) %.2f ms\n",
                removed, sprayed, eraseAll, threadCpuMs() - t);

    densityFigures(scene, g, middle);

    spreadGraftals(scene, g, 100000);
    std::vector<double> undo, redo;
    for (int run = 0; run < 5; ++run) {
        scene->beginStroke();
        scene->beginDensityStroke(scene->face(run * 10000));
        scene->updateDensityStroke(1000); // 4,000 graftals
        scene->endStroke();
        t = threadCpuMs();
        scene->undo();
        undo.push_back(threadCpuMs() - t);
        t = threadCpuMs();
        scene->redo();
        redo.push_back(threadCpuMs() - t);
    }
    std::printf("undo of a stroke that added 4000 graftals to 100000: %.3f ms CPU, redo %.3f ms "
                "(medians of 5, target < 2)\n",
                medianOf(undo), medianOf(redo));
}

// `tuftmill --render` of the big model with 10,000 graftals at 3840 x 2160, as a separate
// process without a display: wall time and its peak memory.
void renderCommandFigures(const QString &model, Graftal *g, GLRender &view)
{
    QDir().mkpath(QStringLiteral("graftals"));
    QDir().mkpath(QStringLiteral("scenes"));
    if (!g->save()) {
        std::printf("--render: the graftal could not be saved\n");
        return;
    }
    spreadGraftals(view.scene(), g, 10000);
    view.scene()->saveState();
    QProcess render;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    render.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    render.start(QStringLiteral(TUFTMILL_APP_PATH),
                 {QStringLiteral("--render"), model, QStringLiteral("--scene"),
                  view.scene()->stateFileName(), QStringLiteral("--size"),
                  QStringLiteral("3840x2160"), QStringLiteral("--output"),
                  QStringLiteral("big.png")});
    render.waitForFinished(600000);
    const double ms = clock.nsecsElapsed() / 1e6;
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    std::printf("tuftmill --render, 1000000 triangles, 10000 graftals, 3840x2160, no display: "
                "status %d, %.0f ms, peak memory %.0f MiB\n",
                render.exitCode(), ms, children.ru_maxrss / 1024.0);
}
} // namespace

// Graftals with variation against the same frame without, taking turns: each round a frame
// without, the first with (which draws every instance's variation) and one more with (drawn
// from what the instances keep).
void variationFigure(GLRender &view, Graftal *g, int count)
{
    Scene *scene = view.scene();
    const GraftalVariation amounts{0.3, 0.2, 15, 10, 0.2};
    std::vector<double> times[3]; // without, first with, with
    view.makeCurrent();
    for (int round = 0; round <= 7; ++round)
        for (int kind = 0; kind < 3; ++kind) {
            g->setVariation(kind == 0 ? GraftalVariation() : amounts);
            const double ms = bench::medianMs(1, [&] {
                view.renderer().draw(*scene, scene->camera(), settingsOf(scene->style),
                                     scene->viewportWidth, scene->viewportHeight);
                glFinish();
            });
            if (round > 0)
                times[kind].push_back(ms);
        }
    g->setVariation({});
    view.doneCurrent();
    std::printf("render with %d graftals, varied: %.1f ms per frame (the first after a change "
                "%.1f ms) against %.1f ms without, %.2f x\n",
                count, medianOf(times[2]), medianOf(times[1]), medianOf(times[0]),
                medianOf(times[2]) / medianOf(times[0]));
}

int main(int argc, char **argv)
{
    GLRender::setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    // "--styles" measures only what the style figures need: one load and the style frames.
    const bool stylesOnly = app.arguments().contains(QStringLiteral("--styles"));
    // "--show-all": one load and the frames with 100,000 graftals, with and without the fade.
    const bool showAllOnly = app.arguments().contains(QStringLiteral("--show-all"));
    // "--density": one load and the density brush's figures.
    const bool densityOnly = app.arguments().contains(QStringLiteral("--density"));
    // "--samples N": the window's frames at N samples instead of the window's own.
    const qsizetype samplesAt = app.arguments().indexOf(QStringLiteral("--samples"));
    const int windowSamples =
        samplesAt >= 0 && samplesAt + 1 < app.arguments().size()
            ? std::clamp(app.arguments().at(samplesAt + 1).toInt(), 1, 16)
            : ViewSamples;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QString path = dir.filePath(QStringLiteral("big.3ds"));
    std::printf("writing a model of %d meshes x %d triangles ...\n", Meshes,
                2 * Segments * (Rings - 1));
    std::fflush(stdout);
    ModelBuilder::spheres(Meshes, Rings, Segments).save(path);

    const double lib3dsMs = bench::medianMs(3, [&] {
        Lib3dsFile *f = lib3ds_file_load(QFile::encodeName(path).constData());
        lib3ds_file_free(f);
    });

    GLRender view;
    view.resize(1920, 1080);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view)) {
        std::fprintf(stderr, "no window\n");
        return 1;
    }
    view.grabFramebuffer();
    const double before = bench::residentMiB();
    const bench::LoadWatch first(view, path);
    if (!first.loaded) {
        std::fprintf(stderr, "the model did not load\n");
        return 1;
    }
    const double after = bench::residentMiB();
    if (densityOnly) {
        auto g = Graftal::create(1, QStringLiteral("bench"));
        view.scene()->setCurrentGraftal(g.get());
        const Scene *scene = view.scene();
        densityFigures(view.scene(), g.get(),
                       QPoint(scene->viewportWidth / 2, scene->viewportHeight / 2));
        LoggerOutput::shutdown();
        return 0;
    }
    if (stylesOnly) {
        auto g = Graftal::create(1, QStringLiteral("bench"));
        g->addLevel();
        g->addLevel();
        view.bindTexturesForGraftal(g.get());
        view.scene()->setCurrentGraftal(g.get());
        spreadGraftals(view.scene(), g.get(), 10000);
        std::printf("styles with 10000 graftals:\n");
        styleFigures(view, windowSamples);
        LoggerOutput::shutdown();
        return 0;
    }
    const int faces = view.scene()->faceCount();
    std::vector<double> times, stalls;
    for (int i = 0; i < (showAllOnly ? 1 : 3); ++i) {
        const bench::LoadWatch again(view, path);
        times.push_back(again.ms);
        stalls.push_back(again.longestStallMs);
    }
    std::sort(times.begin(), times.end());
    const double loadMs = times[times.size() / 2];

    std::printf("faces: %d\n", faces);
    std::printf("lib3ds_file_load alone: %.0f ms\n", lib3dsMs);
    std::printf("load through the reader process (read, checks, faces, arrays, buffers, pick "
                "picture, first frame): first %.0f ms, median %.0f ms\n",
                first.ms, loadMs);
    std::printf("ratio load / lib3ds: %.2f (target <= 3)\n", loadMs / lib3dsMs);
    std::printf("longest the GUI thread went without answering during a load: %.0f ms "
                "(first load), %.0f ms (largest of the next three)\n",
                first.longestStallMs, *std::max_element(stalls.begin(), stalls.end()));
    std::printf(
        "resident memory added by the model: %.0f MiB = %.0f bytes per face (target <= 600)\n",
        after - before, (after - before) * 1024 * 1024 / faces);

    view.makeCurrent();
    const double pickRefreshMs =
        bench::medianMs(5, [&] { view.renderer().refreshPicking(*view.scene()); });
    view.doneCurrent();
    int found = 0;
    const double pickMs =
        bench::medianMs(1001, [&] { found += view.scene()->pickFace(960, 540) != nullptr; });
    std::printf("refreshing the face-id picture at %dx%d: %.1f ms; one pickFace: %.6f ms\n",
                view.scene()->viewportWidth, view.scene()->viewportHeight, pickRefreshMs, pickMs);

    // Graftals: one graftal with three levels, spread over the model.
    auto g = Graftal::create(1, QStringLiteral("bench"));
    g->addLevel();
    g->addLevel();
    view.bindTexturesForGraftal(g.get());
    view.scene()->setCurrentGraftal(g.get());
    Scene *scene = view.scene();
    for (int count : {10000, 100000}) {
        scene->clearInstances();
        for (int i = 0; i < count; ++i)
            scene->addInstance(scene->face(int((qint64(i) * 7919) % faces)),
                               Scene::randomBarycentric(), g.get());
        scene->endDensityStroke();
        // A flat list as painting leaves it.
        scene->beginDensityStroke(scene->face(0));
        scene->endDensityStroke();
        std::printf("render with %d graftals: %.1f ms per frame, of which sorting %.1f ms\n", count,
                    renderMs(view, 5), sortMs(scene));
        if (count == 10000 && !showAllOnly) {
            std::printf("styles with %d graftals:\n", count);
            styleFigures(view, windowSamples);
        }
        if (count == 100000) {
            showAllFigure(view, g.get(), count);
            variationFigure(view, g.get(), count);
        }
    }
    if (showAllOnly) {
        LoggerOutput::shutdown();
        return 0;
    }
    scene->clearInstances();
    double strokeMs = 0;
    for (int run = 0; run < 3; ++run) {
        scene->beginDensityStroke(scene->face(run * 10000));
        QElapsedTimer t;
        t.start();
        scene->updateDensityStroke(1000); // 4,000 graftals
        strokeMs += t.nsecsElapsed() / 1e6;
        scene->endDensityStroke();
    }
    std::printf("updateDensityStroke adding 4000 graftals: %.1f ms\n", strokeMs / 3);
    brushFigures(view, g.get());
    renderCommandFigures(path, g.get(), view);
    LoggerOutput::shutdown();
    return 0;
}
