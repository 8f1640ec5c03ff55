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
#include "Scene.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
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
        scene->clearView(false);
        scene->applyCameraRotation();
        scene->applyCameraTranslation();
        scene->render(0);
        glFinish();
    });
    view.doneCurrent();
    return ms;
}

double sortMs(Scene *scene)
{
    const std::vector<GraftalInstance *> all = scene->collectInstances();
    return bench::medianMs(5, [&] {
        std::vector<std::pair<double, GraftalInstance *>> byDistance;
        byDistance.reserve(all.size());
        for (GraftalInstance *i : all)
            byDistance.emplace_back(i->distanceSquaredToEye(), i);
        std::sort(byDistance.begin(), byDistance.end(),
                  [](const auto &a, const auto &b) { return a.first > b.first; });
    });
}
} // namespace

int main(int argc, char **argv)
{
    GLRender::setDefaultSurfaceFormat();
    QApplication app(argc, argv);
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
    const int faces = view.scene()->faceCount();
    std::vector<double> times, stalls;
    for (int i = 0; i < 3; ++i) {
        const bench::LoadWatch again(view, path);
        times.push_back(again.ms);
        stalls.push_back(again.longestStallMs);
    }
    std::sort(times.begin(), times.end());
    const double loadMs = times[1];

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
    const double pickRefreshMs = bench::medianMs(5, [&] { view.scene()->refreshPickBuffer(); });
    view.doneCurrent();
    int found = 0;
    const double pickMs =
        bench::medianMs(1001, [&] { found += view.scene()->pickFace(960, 540) != nullptr; });
    std::printf("refreshPickBuffer at %dx%d: %.1f ms; one pickFace: %.6f ms\n",
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
    LoggerOutput::shutdown();
    return 0;
}
