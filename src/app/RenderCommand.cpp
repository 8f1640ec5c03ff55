#include "RenderCommand.h"

#include "AssembleCommand.h"
#include "Framing.h"
#include "GlSetup.h"
#include "GraftalFit.h"
#include "HeadlessContext.h"
#include "ImageExport.h"
#include "Logger.h"
#include "LoggerOutput.h"
#include "PictureFile.h"
#include "SafeFile.h"
#include "Scene.h"
#include "SceneRenderer.h"
#include "SceneViewFile.h"
#include "TerminationWatcher.h"
#include "TreeManager.h"
#include "TurntableRender.h"
#include "UpAxis.h"

#include <QApplication>
#include <QRegularExpression>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace {
const QStringList ValueOptions = {
    "--render",        "--output",        "--scene",     "--size",      "--yaw",
    "--pitch",         "--distance",      "--shading",   "--graftal-scale",
    "--turntable",     "--degrees",       "--frames",    "--fps",       "--up",
    "--elevation",     "--azimuth",       "--outline-width", "--outline-color",
    "--light",         "--bands",         "--samples",   "--fade",      "--smooth-angle"};
const QStringList FlagOptions = {"--frame", "--outlines", "--show-all"};

// Where the command's own lines go: standard error as it was when the command started.
int commandOutput = STDERR_FILENO;

void say(const QString &message)
{
    QString line = message;
    line.replace(QLatin1Char('\n'), QStringLiteral(": "));
    const QByteArray bytes = "tuftmill: " + line.toLocal8Bit() + '\n';
    if (::write(commandOutput, bytes.constData(), size_t(bytes.size())) < 0)
        return; // nowhere left to tell
}

// One line on standard error: the program's failures are read by scripts.
int fail(const QString &message)
{
    say(message);
    return 1;
}

// What libraries print on standard error themselves (libpng's complaints about a damaged
// level image, a driver's remarks) goes to the log while the command runs, so that
// standard error carries only the command's own line.
class LibraryOutputToLog
{
public:
    explicit LibraryOutputToLog(Logger &log) : logger(log)
    {
        captured = ::memfd_create("tuftmill-library-output", MFD_CLOEXEC);
        saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        if (captured < 0 || saved < 0 || ::dup2(captured, STDERR_FILENO) < 0) {
            release();
            return;
        }
        commandOutput = saved;
    }
    ~LibraryOutputToLog()
    {
        if (saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        commandOutput = STDERR_FILENO;
        QByteArray text;
        char chunk[4096];
        ::lseek(captured, 0, SEEK_SET);
        for (ssize_t n; (n = ::read(captured, chunk, sizeof chunk)) > 0 && text.size() < (1 << 20);)
            text.append(chunk, qsizetype(n));
        for (const QByteArray &line : text.split('\n'))
            if (!line.trimmed().isEmpty())
                logger.warn(QString::fromLocal8Bit(line));
        release();
    }
    LibraryOutputToLog(const LibraryOutputToLog &) = delete;
    LibraryOutputToLog &operator=(const LibraryOutputToLog &) = delete;

private:
    void release()
    {
        if (captured >= 0)
            ::close(std::exchange(captured, -1));
        if (saved >= 0)
            ::close(std::exchange(saved, -1));
    }
    Logger &logger;
    int captured = -1;
    int saved = -1;
};
} // namespace

bool RenderCommand::wanted(const QStringList &arguments)
{
    if (AssembleCommand::wanted(arguments))
        return true;
    for (const QString &a : arguments) {
        const QString name = a.section(QLatin1Char('='), 0, 0);
        if (ValueOptions.contains(name) || FlagOptions.contains(a) ||
            a == QLatin1String("--help") || a == QLatin1String("-h") ||
            a == QLatin1String("--version"))
            return true;
    }
    return false;
}

QString RenderCommand::usage()
{
    return QStringLiteral(
        "Usage: tuftmill [--render MODEL --output PICTURE.png|PICTURE.jpg [options]]\n"
        "\n"
        "Without options Tuftmill opens its window in the working directory.\n"
        "With --render it draws MODEL with its painted graftals into PICTURE.png\n"
        "and ends, without a window (and without a display if there is none).\n"
        "Graftals come from graftals/ of the working directory.\n"
        "\n"
        "Options:\n"
        "  --render MODEL         the model to draw: 3DS, OBJ, glTF/GLB, FBX, PLY, STL,\n"
        "                         Collada, 3MF, OFF, DirectX, AC3D, ASE or LightWave\n"
        "  --output PICTURE.png   where to write the picture (replaced whole); a name\n"
        "                         ending in .jpg or .jpeg writes a JPEG\n"
        "  --scene FILE.dat       the painted graftals and background, as saved by\n"
        "                         \"Save current state of scene\" (default: none); the\n"
        "                         view saved beside it (FILE.view.json) is the start view\n"
        "  --size WIDTHxHEIGHT    picture size in pixels, up to 8192 a side (default 1920x1080)\n"
        "  --yaw DEGREES          turn the camera right from the start view\n"
        "  --pitch DEGREES        turn the camera down from the start view\n"
        "  --distance UNITS       move the camera forward along its view (negative: back)\n"
        "  --frame                start from a view of the whole model (\"Frame model\");\n"
        "                         a view that shows none of it faces its largest side\n"
        "  --elevation DEGREES    orbit the camera up over the model's centre from the\n"
        "                         start (or framed) view, as the orbit mode does\n"
        "  --azimuth DEGREES      orbit the camera round the model's centre, as a\n"
        "                         sideways drag of the orbit mode does\n"
        "  --up x|y|z|-x|-y|-z    the axis of the model's file that stands up (default:\n"
        "                         its format's, or the view saved with the scene)\n"
        "  --shading flat|shaded|toon  how the model is drawn (default: flat)\n"
        "  --outlines             draw outlines along the silhouette and creases\n"
        "  --graftal-scale S|fit  multiply the drawn size of every graftal (default 1);\n"
        "                         fit: a graftal of base size 1 is 2 % of the model's\n"
        "                         largest side (\"Fit graftal size to model\")\n"
        "  --outline-width N      outlines N pixels wide, 1 to 8 (default 2)\n"
        "  --outline-color '#RRGGBB'  the outlines' colour (default #14141a)\n"
        "  --light camera|model   the light follows the camera (default) or stays with\n"
        "                         the model as it turns\n"
        "  --bands N              bands of toon shading, 2 to 6 (default 3)\n"
        "  --samples N            antialiasing samples a pixel: 1 (none), 2, 4, 8 or 16\n"
        "                         (default 4)\n"
        "  --fade FROM:TO         graftals fade out between these facings of their faces\n"
        "                         (0 at the silhouette, 1 face on; 0 <= FROM < TO <= 1;\n"
        "                         default 0.5:0.7, or the view saved with the scene)\n"
        "  --show-all             draw every graftal whole whatever its facing, those\n"
        "                         the fade would hide tinted (\"Show every graftal\")\n"
        "  --smooth-angle DEG     shade the model smooth across edges whose faces are\n"
        "                         less than DEG degrees apart (above 0, at most 180; 60\n"
        "                         is usual), instead of the normals of its file\n"
        "  --turntable FRAMES     render FRAMES pictures while the camera orbits the\n"
        "                         model's centre from the start view; --output is then a\n"
        "                         pattern such as frames/horse_%04d.png (one PNG per\n"
        "                         frame) or a .mp4 (H.264) or .webm (VP9) video\n"
        "  --degrees D            how far the turntable turns in all (default 360)\n"
        "  --frames A-B           render only frames A to B of the turntable (1-based)\n"
        "  --fps N                frames per second of a video (default 24)\n"
        "  --assemble PATTERN     join finished PNG frames (frames/t_%04d.png, frames 1 to\n"
        "                         the highest, or --frames A-B) into the --output video;\n"
        "                         refused when a frame is missing or of another size\n"
        "  --help                 show this text\n"
        "  --version              show the version of Tuftmill\n"
        "\n"
        "Options on the line win over the view saved with the scene.\n"
        "Exit status 0 when the picture was written, 1 with a message otherwise (also\n"
        "when no pixel of the picture would show the model).\n");
}

bool RenderCommand::parse(const QStringList &arguments, Options &options, QString &error)
{
    QStringList seen;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            options.help = true;
            continue;
        }
        if (a == QLatin1String("--version")) {
            options.version = true;
            continue;
        }
        if (FlagOptions.contains(a)) {
            (a == QLatin1String("--frame")      ? options.frame
             : a == QLatin1String("--show-all") ? options.showAll
                                                : options.outlines) = true;
            continue;
        }
        QString name = a, value;
        bool hasValue = false;
        if (a.startsWith(QLatin1String("--")) && a.contains(QLatin1Char('='))) {
            name = a.section(QLatin1Char('='), 0, 0);
            value = a.section(QLatin1Char('='), 1);
            hasValue = true;
        }
        if (!ValueOptions.contains(name)) {
            error = a.startsWith(QLatin1Char('-'))
                        ? QStringLiteral("unknown option %1").arg(a)
                        : QStringLiteral("unexpected argument %1").arg(a);
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            value = arguments[++i];
        }
        if (seen.contains(name)) {
            error = QStringLiteral("%1 is given twice").arg(name);
            return false;
        }
        seen.append(name);
        if (value.isEmpty()) {
            error = QStringLiteral("%1 needs a value").arg(name);
            return false;
        }
        auto number = [&](double &out) {
            bool ok = false;
            out = value.toDouble(&ok);
            if (!ok || !std::isfinite(out) || std::abs(out) > 1e6) {
                error = QStringLiteral("%1 needs a number, not %2").arg(name, value);
                return false;
            }
            return true;
        };
        if (name == QLatin1String("--render")) {
            options.model = value;
        } else if (name == QLatin1String("--output")) {
            options.output = value;
        } else if (name == QLatin1String("--scene")) {
            options.scene = value;
        } else if (name == QLatin1String("--size")) {
            static const QRegularExpression size(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
            const QRegularExpressionMatch m = size.match(value);
            const int w = m.hasMatch() ? m.captured(1).toInt() : 0;
            const int h = m.hasMatch() ? m.captured(2).toInt() : 0;
            if (w < 1 || h < 1 || w > MaxSide || h > MaxSide) {
                error = QStringLiteral("--size needs WIDTHxHEIGHT from 1x1 to %1x%1, not %2")
                            .arg(MaxSide)
                            .arg(value);
                return false;
            }
            options.width = w;
            options.height = h;
        } else if (name == QLatin1String("--shading")) {
            const QStringList names = {"flat", "shaded", "toon"};
            if (!names.contains(value)) {
                error = QStringLiteral("--shading needs flat, shaded or toon, not %1").arg(value);
                return false;
            }
            options.shading = std::array{Shading::Flat, Shading::Shaded,
                                         Shading::Toon}[size_t(names.indexOf(value))];
        } else if (name == QLatin1String("--graftal-scale") && value == QLatin1String("fit")) {
            options.fitGraftalScale = true;
        } else if (name == QLatin1String("--up")) {
            UpAxis up = UpAxis::Default;
            if (!upaxis::fromName(value, up) || up == UpAxis::Default) {
                error = QStringLiteral("--up needs x, y, z, -x, -y or -z, not %1").arg(value);
                return false;
            }
            options.up = up;
        } else if (name == QLatin1String("--outline-width") || name == QLatin1String("--bands") ||
                   name == QLatin1String("--samples")) {
            const int n = value.toInt();
            const bool width = name == QLatin1String("--outline-width");
            const bool bands = name == QLatin1String("--bands");
            const bool fits = QString::number(n) == value &&
                              (width   ? n >= 1 && n <= 8
                               : bands ? n >= 2 && n <= 6
                                       : QList<int>{1, 2, 4, 8, 16}.contains(n));
            if (!fits) {
                error = QStringLiteral("%1 needs %2, not %3")
                            .arg(name,
                                 width   ? QStringLiteral("a whole number from 1 to 8")
                                 : bands ? QStringLiteral("a whole number from 2 to 6")
                                         : QStringLiteral("1, 2, 4, 8 or 16"),
                                 value);
                return false;
            }
            if (width)
                options.outlineWidth = n;
            else if (bands)
                options.bands = n;
            else
                options.samples = n;
        } else if (name == QLatin1String("--outline-color")) {
            options.outlineColor = colorNamed(value);
            if (!options.outlineColor) {
                error = QStringLiteral("--outline-color needs #RRGGBB, not %1").arg(value);
                return false;
            }
        } else if (name == QLatin1String("--light")) {
            if (value != QLatin1String("camera") && value != QLatin1String("model")) {
                error = QStringLiteral("--light needs camera or model, not %1").arg(value);
                return false;
            }
            options.lightOnModel = value == QLatin1String("model");
        } else if (name == QLatin1String("--fade")) {
            bool fromOk = false, toOk = false;
            const FadeRange fade{value.section(QLatin1Char(':'), 0, 0).toDouble(&fromOk),
                                 value.section(QLatin1Char(':'), 1).toDouble(&toOk)};
            if (!fromOk || !toOk || value.count(QLatin1Char(':')) != 1 || !fade.valid()) {
                error = QStringLiteral("--fade needs FROM:TO, two numbers with 0 <= FROM < TO "
                                       "<= 1, not %1")
                            .arg(value);
                return false;
            }
            options.fade = fade;
        } else if (name == QLatin1String("--smooth-angle")) {
            double degrees = 0.0;
            if (!number(degrees))
                return false;
            if (!(degrees > 0.0 && degrees <= 180.0)) {
                error = QStringLiteral("--smooth-angle needs degrees above 0 and at most 180, not %1")
                            .arg(value);
                return false;
            }
            options.smoothAngle = degrees;
        } else if (name == QLatin1String("--graftal-scale")) {
            double scale = 0.0;
            if (!number(scale))
                return false;
            if (!(scale > 0.0)) {
                error = QStringLiteral("--graftal-scale needs a number above 0, not %1").arg(value);
                return false;
            }
            options.graftalScale = scale;
        } else if (name == QLatin1String("--turntable") || name == QLatin1String("--fps")) {
            const int n = value.toInt();
            if (n < 1 || n > 100000 || QString::number(n) != value) {
                error = QStringLiteral("%1 needs a whole number from 1 to 100000, not %2")
                            .arg(name, value);
                return false;
            }
            (name == QLatin1String("--fps") ? options.fps : options.turntable) = n;
        } else if (name == QLatin1String("--frames")) {
            static const QRegularExpression range(QStringLiteral("^(\\d{1,6})-(\\d{1,6})$"));
            const QRegularExpressionMatch m = range.match(value);
            options.firstFrame = m.hasMatch() ? m.captured(1).toInt() : 0;
            options.lastFrame = m.hasMatch() ? m.captured(2).toInt() : 0;
            if (options.firstFrame < 1 || options.lastFrame < options.firstFrame) {
                error = QStringLiteral("--frames needs A-B with 1 <= A <= B, not %1").arg(value);
                return false;
            }
        } else if (!number(name == QLatin1String("--yaw")         ? options.yaw
                           : name == QLatin1String("--pitch")     ? options.pitch
                           : name == QLatin1String("--degrees")   ? options.degrees
                           : name == QLatin1String("--elevation") ? options.elevation
                           : name == QLatin1String("--azimuth")   ? options.azimuth
                                                                  : options.distance)) {
            return false;
        }
    }
    if (options.help || options.version)
        return true;
    if (options.model.isEmpty() || options.output.isEmpty()) {
        error = options.model.isEmpty() ? QStringLiteral("--render MODEL is missing")
                                        : QStringLiteral("--output PICTURE.png is missing");
        return false;
    }
    if (options.turntable > 0)
        return TurntableRender::check(requestOf(options), error);
    for (const char *only : {"--degrees", "--frames", "--fps"})
        if (seen.contains(QLatin1String(only))) {
            error = QStringLiteral("%1 needs --turntable").arg(QLatin1String(only));
            return false;
        }
    QByteArray format;
    return picturefile::formatFor(options.output, format, error);
}

TurntableRequest RenderCommand::requestOf(const Options &options)
{
    TurntableRequest request;
    request.frames = options.turntable;
    request.degrees = options.degrees;
    request.first = options.firstFrame;
    request.last = options.lastFrame;
    request.fps = options.fps;
    request.width = options.width;
    request.height = options.height;
    request.output = options.output;
    return request;
}

int RenderCommand::run(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QString error;
    if (AssembleCommand::wanted(arguments)) {
        int status = 0;
        {
            Logger log(QStringLiteral("main"));
            const LibraryOutputToLog libraryOutput(log);
            status = AssembleCommand::run(arguments, error) ? 0 : fail(error);
        }
        LoggerOutput::shutdown();
        return status;
    }
    Options options;
    if (!parse(arguments, options, error))
        return fail(error + QStringLiteral(" (see tuftmill --help)"));
    if (options.help) {
        std::fputs(qPrintable(usage()), stdout);
        return 0;
    }
    if (options.version) {
        // The version is the CMake project's, handed down by the build.
        std::fputs("tuftmill " TUFTMILL_VERSION "\n", stdout);
        return 0;
    }
    const int status = render(options, argc, argv);
    LoggerOutput::shutdown();
    return status;
}

namespace {
Logger *qtMessages = nullptr;

// Qt's own remarks go to the log: standard error carries only the command's one line.
void logQtMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (qtMessages)
        qtMessages->warn(message);
}
} // namespace

int RenderCommand::render(const Options &options, int argc, char **argv)
{
    Logger mainLogger(QStringLiteral("main"));
    qtMessages = &mainLogger;
    qInstallMessageHandler(logQtMessage);
    struct MessagesBack
    {
        ~MessagesBack()
        {
            qInstallMessageHandler(nullptr);
            qtMessages = nullptr;
        }
    } messagesBack;
    const LibraryOutputToLog libraryOutput(mainLogger);
    // OpenGL comes from EGL's surfaceless platform wherever it is there, display or not;
    // Qt then works on images only and never touches a display, which may be named but
    // gone. Only without it does the display's window system give the context.
    HeadlessContext surfacelessContext;
    QString surfacelessProblem;
    const bool surfaceless = surfacelessContext.createSurfaceless(surfacelessProblem);
    const bool display = HeadlessContext::displayReachable();
    if (surfaceless || !display)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    glsetup::setDefaultSurfaceFormat();
    QApplication app(argc, argv);

    // The graftals, as the window would list them at start-up (without any widget).
    TreeManager *library = TreeManager::instance();
    library->setRecordingIds(false); // a picture writes nothing else
    library->loadAllGraftals();
    struct LibraryGone
    {
        ~LibraryGone() { TreeManager::destroyInstance(); }
    } libraryGone;

    QString error;
    if (!surfaceless && !display)
        return fail(
            QStringLiteral("no OpenGL: %1, and there is no display").arg(surfacelessProblem));
    // Made after the application object, and gone before it.
    HeadlessContext windowContext;
    if (!surfaceless && !windowContext.createThroughWindowSystem(error))
        return fail(QStringLiteral("no OpenGL: %1; %2").arg(surfacelessProblem, error));
    SceneRenderer renderer;
    if (!renderer.initialize(error))
        return fail(QStringLiteral("no OpenGL: %1").arg(error));
    if (!renderer.shaderLog().isEmpty())
        return fail(QStringLiteral("no usable OpenGL: the graftal shader does not build: %1")
                        .arg(renderer.shaderLog()));

    Scene scene;
    scene.setGraftalLookup(library);
    scene.setGlReady(true);
    if (!scene.loadModel(options.model, error))
        return fail(QStringLiteral("cannot load the model %1: %2").arg(options.model, error));
    qint64 records = 0, used = 0;
    if (!options.scene.isEmpty() && !scene.loadStateFrom(options.scene, error, &records, &used))
        return fail(QStringLiteral("cannot read the scene file %1: %2").arg(options.scene, error));
    // Records whose graftal is not in graftals/ or whose face is not on this model are
    // left out; a scene none of whose graftals could be placed is another workspace's or
    // another model's.
    if (used == 0 && records > 0)
        return fail(QStringLiteral("none of the %1 graftals of %2 could be placed: their "
                                   "graftals are not in graftals/ here, or the scene is not of "
                                   "this model")
                        .arg(records)
                        .arg(options.scene));
    if (used < records)
        say(QStringLiteral("%1 of the %2 graftals of %3 were left out")
                .arg(records - used)
                .arg(records)
                .arg(options.scene));
    // The view saved with the scene is the start view; the line's options win over it.
    if (!options.scene.isEmpty()) {
        SceneViewFile view;
        view.style.twoSided = scene.style.twoSided; // kept when the file does not say
        const QString viewFile = SceneViewFile::besideScene(options.scene);
        const SceneViewFile::Outcome outcome = view.read(viewFile, error);
        if (outcome == SceneViewFile::Outcome::Read) {
            scene.style = view.style;
            scene.orientModel();
            scene.setCamera(view.cameraFor(scene.camera()));
        } else if (outcome == SceneViewFile::Outcome::Refused) {
            say(QStringLiteral("%1 is ignored: %2").arg(viewFile, error));
        }
    }
    if (options.up) {
        // Stood anew: seen from the front of its new stance.
        scene.style.up = *options.up;
        scene.resetCamera();
    }
    // As the orbit mode turns about the model's centre, then framed from there.
    if (options.elevation != 0.0 || options.azimuth != 0.0)
        scene.setCamera(
            scene.camera().orbited(options.azimuth, options.elevation,
                                   scene.camera().modelMatrix.transformPoint(Vector3(
                                       scene.center[0], scene.center[1], scene.center[2]))));
    if (options.frame)
        scene.setCamera(
            framing::showingModel(renderer, scene, scene.camera(), options.width, options.height));
    // As a drag, then the wheel, would move the camera from the start view.
    scene.commitRotation(options.yaw, options.pitch);
    scene.commitTranslation(0.0, 0.0, options.distance);
    if (options.shading)
        scene.style.shading = *options.shading;
    if (options.outlines)
        scene.style.outlines = true;
    if (options.graftalScale)
        scene.style.graftalScale = *options.graftalScale;
    if (options.fitGraftalScale && graftalfit::fitted(scene.extent) > 0.0)
        scene.style.graftalScale = graftalfit::fitted(scene.extent);
    if (options.outlineWidth)
        scene.style.outlineWidth = *options.outlineWidth;
    if (options.outlineColor)
        scene.style.outlineColor = *options.outlineColor;
    if (options.lightOnModel)
        scene.style.lightOnModel = *options.lightOnModel;
    if (options.bands)
        scene.style.bands = *options.bands;
    if (options.fade)
        scene.style.fade = *options.fade;
    if (options.smoothAngle)
        scene.style.smoothAngle = *options.smoothAngle;
    scene.followSmoothAngle();
    // The line's samples are the picture's antialiasing, whatever the view had.
    scene.style.antialiasing = options.samples > 1;
    RenderSettings settings = settingsOf(scene.style);
    settings.samples = options.samples;
    settings.showAllGraftals = options.showAll;
    if (!renderer.modelInView(scene, scene.camera(), options.width, options.height))
        return fail(QString::fromLatin1(imageexport::MissedModel));

    // Textures only for the graftals in the picture: the library may be large.
    renderer.prepareTextures(scene);
    if (options.turntable > 0) {
        // The model and textures are loaded once; each frame's camera comes from the start.
        // SIGINT, SIGTERM and SIGHUP end the run between frames through the usual way out,
        // which removes the video's temporary file and the frames the run made.
        TerminationWatcher interruption;
        TurntableRender turntable(renderer, scene, scene.camera(), settings, requestOf(options));
        bool ok = turntable.begin(error);
        int signal = 0;
        while (ok && !turntable.done() && !(signal = interruption.takeSignal()))
            ok = turntable.renderNext(error);
        if (ok && !signal)
            signal = interruption.takeSignal();
        if (signal)
            return fail(QStringLiteral("stopped by %1 after %2 of %3 frames; the unfinished "
                                       "turntable is removed")
                            .arg(QString::fromLatin1(sigabbrev_np(signal)).prepend("SIG"))
                            .arg(turntable.framesRendered())
                            .arg(turntable.framesToRender()));
        if (!ok || !turntable.finish(error))
            return fail(error);
        return 0;
    }
    // A link or a special file at the name is refused before the drawing.
    if (!safefile::replaceable(options.output, error))
        return fail(error);
    const QImage image = renderer.picture(scene, scene.camera(), settings, options.width,
                                          options.height, error);
    if (image.isNull())
        return fail(QStringLiteral("cannot draw the picture: %1").arg(error));
    if (!picturefile::write(image, options.output, error))
        return fail(QStringLiteral("cannot write %1: %2").arg(options.output, error));
    return 0;
}
