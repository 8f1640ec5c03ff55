// Turntables of a 1,000,000-triangle model with 10,000 graftals at 1920 x 1080: a 48-frame
// turntable to PNG frames and to MP4, each a run of the real program without a display,
// against 48 separate still renders and against drawing and reading back one frame in this
// process; the peak memory of the turntable against that of one still.
// Frames and stills: `bench_turntable [FRAMES]` (default 48).
#include "BenchSupport.h"
#include "Graftal.h"
#include "HeadlessContext.h"
#include "LoggerOutput.h"
#include "ModelBuilder.h"
#include "Scene.h"
#include "SceneRenderer.h"
#include "Turntable.h"
#include "TreeManager.h"

#include <QApplication>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {
constexpr int Graftals = 10000;
const QStringList Picture{"--render", "big.3ds", "--scene", "big.dat", "--size", "1920x1080"};

struct Run
{
    int status = -1;
    double seconds = 0.0;
    double peakMiB = 0.0; // the program's, its model reader's included
};

// The program as a user runs it, without a display, its output to /dev/null.
Run runTuftmill(const QStringList &args)
{
    std::vector<QByteArray> words{QByteArrayLiteral(TUFTMILL_APP_PATH)};
    for (const QString &a : args)
        words.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<QByteArray> env;
    for (char **e = environ; *e; ++e)
        if (!QByteArray(*e).startsWith("DISPLAY=") && !QByteArray(*e).startsWith("QT_QPA_PLATFORM="))
            env.emplace_back(*e);
    std::vector<char *> envp;
    for (QByteArray &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status))
            run.status = WEXITSTATUS(status);
        run.peakMiB = usage.ru_maxrss / 1024.0;
    }
    run.seconds = clock.nsecsElapsed() / 1e9;
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

// A graftal of three levels and a scene standing it on every hundredth face.
bool writeWorkspace()
{
    QDir().mkpath(QStringLiteral("graftals"));
    auto g = Graftal::create(1, QStringLiteral("bench"));
    g->setBaseSize(1.5);
    for (int level = 0; level < 3; ++level) {
        QPixmap texture(400, 400), mask(400, 400);
        texture.fill(QColor::fromHsv(100 + 40 * level, 200, 180));
        mask.fill(Qt::white);
        if (level > 0)
            g->addLevel();
        g->setLevel(level, {texture, mask});
    }
    if (!g->save())
        return false;
    QByteArray scene;
    QDataStream s(&scene, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_4_3);
    s << QColor(235, 240, 250) << qint32(Graftals);
    for (int i = 0; i < Graftals; ++i)
        s << qint32(i * 100) << qint32(1) << 0.3 << 0.3;
    QFile file(QStringLiteral("big.dat"));
    return file.open(QIODevice::WriteOnly) && file.write(scene) == scene.size();
}

struct BareFrames
{
    double start = 0.0; // the start view, median of five
    double orbit = 0.0; // each of the turntable's views once, mean
};

// Drawing and reading back frames as the turntable does, model and textures loaded once:
// the start view, and every view of the orbit (graftals stand along the silhouette, so
// views differ in what they cost); seconds.
BareFrames bareFrameSeconds(int frames)
{
    QString error;
    HeadlessContext context;
    SceneRenderer renderer;
    if (!context.createSurfaceless(error) || !renderer.initialize(error)) {
        std::printf("no OpenGL for the bare frame: %s\n", qPrintable(error));
        return {};
    }
    TreeManager *library = TreeManager::instance();
    library->setRecordingIds(false);
    library->loadAllGraftals();
    BareFrames seconds;
    {
        Scene scene;
        scene.setGraftalLookup(library);
        scene.setGlReady(true);
        if (!scene.loadModel(QStringLiteral("big.3ds"), error) ||
            !scene.loadStateFrom(QStringLiteral("big.dat"), error)) {
            std::printf("the bare frame's scene: %s\n", qPrintable(error));
            return {};
        }
        renderer.prepareTextures(scene);
        const RenderSettings settings = settingsOf(scene.style);
        seconds.start = bench::medianMs(5, [&] {
                            renderer.picture(scene, scene.camera(), settings, 1920, 1080, error);
                        }) /
                        1000.0;
        const Turntable orbit(scene.camera(), scene.center, frames, 360.0);
        QElapsedTimer clock;
        clock.start();
        for (int n = 1; n <= frames; ++n)
            renderer.picture(scene, orbit.cameraOf(n), settings, 1920, 1080, error);
        seconds.orbit = clock.nsecsElapsed() / 1e9 / frames;
    }
    TreeManager::destroyInstance();
    return seconds;
}
} // namespace

int main(int argc, char **argv)
{
    // Pictures here need no display: OpenGL comes from EGL's surfaceless platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 48;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    std::printf("writing a model of 1000000 triangles and a scene of %d graftals ...\n", Graftals);
    std::fflush(stdout);
    if (!ModelBuilder::spheres(100, 51, 100).save(QStringLiteral("big.3ds")) || !writeWorkspace()) {
        std::printf("the workspace could not be written\n");
        return 1;
    }
    QDir().mkpath(QStringLiteral("frames"));
    const QString count = QString::number(frames);

    const Run still = runTuftmill(Picture + QStringList{"--output", "still.png"});
    std::printf("one still: status %d, %.2f s, peak %.0f MiB\n", still.status, still.seconds,
                still.peakMiB);
    double stills = 0.0;
    for (int i = 0; i < frames; ++i)
        stills += runTuftmill(Picture + QStringList{"--output", "still.png"}).seconds;
    const double stillFrame = stills / frames;
    std::printf("%d stills in separate runs: %.2f s per frame\n", frames, stillFrame);

    const BareFrames bareFrames = bareFrameSeconds(frames);
    const double bare = bareFrames.start;
    std::printf("bare drawing and read-back of one frame: %.3f s (the turntable's views: %.3f s "
                "each on average)\n",
                bare, bareFrames.orbit);

    for (const char *output : {"frames/f_%04d.png", "turn.mp4"}) {
        const Run turn = runTuftmill(Picture + QStringList{"--turntable", count, "--output",
                                                           QString::fromLatin1(output)});
        const double perFrame = turn.seconds / frames;
        std::printf("turntable of %d frames to %s: status %d, %.2f s, %.3f s per frame; per "
                    "frame / still %.2f (target <= 0.5), / bare frame %.2f (target <= %s; / the "
                    "same views bare %.2f); peak %.0f MiB, %+.0f MiB over one still (target <= "
                    "100)\n",
                    frames, output, turn.status, turn.seconds, perFrame, perFrame / stillFrame,
                    bare > 0 ? perFrame / bare : 0.0, output[0] == 'f' ? "1.3" : "1.5",
                    bareFrames.orbit > 0 ? perFrame / bareFrames.orbit : 0.0, turn.peakMiB,
                    turn.peakMiB - still.peakMiB);
        std::fflush(stdout);
    }
    LoggerOutput::shutdown();
    return 0;
}
