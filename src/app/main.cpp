#include "GLRender.h"
#include "Logger.h"
#include "LoggerOutput.h"
#include "ModelReaderProcess.h"
#include "RenderCommand.h"
#include "TerminationWatcher.h"
#include "TreeManager.h"
#include "Tuftmill.h"
#include "Workspace.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <cstdio>
#include <vector>

namespace {
// The model reader is beside the program in the build tree. Installed, it is a helper in
// libexec rather than a command on the PATH: TUFTMILL_READER_FROM_BIN is its folder as
// seen from the installed program's, so that the whole tree may move to another prefix.
void locateModelReader()
{
    // Resolved like QCoreApplication::applicationDirPath, which needs the application
    // object; the render command makes its own later.
    const QString programDir = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    const QString name = QLatin1String(ModelReaderProcess::ReaderName);
    if (programDir.isEmpty() || QFileInfo::exists(programDir + QLatin1Char('/') + name))
        return;
    const QString installed =
        QDir::cleanPath(programDir + QStringLiteral("/" TUFTMILL_READER_FROM_BIN "/") + name);
    if (QFileInfo::exists(installed))
        ModelReaderProcess::setReaderPath(installed);
}
} // namespace

int main(int argc, char *argv[])
{
    locateModelReader();
    // `--render`, `--help` and `--version` run the picture command instead of the window.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // `--workspace DIR` and `--workspace-default` move into the workspace before anything
    // is written, the log included; the rest of the command line goes on without them.
    workspace::Choice place;
    QString error;
    if (!workspace::takeOptions(arguments, place, error) ||
        (place.wanted() &&
         !workspace::enter(place,
                           QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath() +
                               QStringLiteral("/" TUFTMILL_EXAMPLES_FROM_BIN),
                           error))) {
        std::fprintf(stderr, "tuftmill: %s\n", qPrintable(error));
        return 1;
    }
    std::vector<QByteArray> kept{QByteArray(argv[0])};
    for (const QString &a : std::as_const(arguments))
        kept.push_back(a.toLocal8Bit());
    std::vector<char *> keptArgv;
    for (QByteArray &a : kept)
        keptArgv.push_back(a.data());
    keptArgv.push_back(nullptr);
    argc = int(kept.size());
    argv = keptArgv.data();
    if (RenderCommand::wanted(arguments))
        return RenderCommand::run(argc, argv);

    // The first logger of the process starts the log writer.
    Logger mainLogger(QStringLiteral("main"));

    // The OpenGL view needs alpha and depth; the format must be set before the
    // application object exists.
    GLRender::setDefaultSurfaceFormat();

    int result = 0;
    {
        QApplication app(argc, argv);
        // Where QSettings keeps the painter's brush and the like.
        QCoreApplication::setOrganizationName(QStringLiteral("Tuftmill"));
        QCoreApplication::setApplicationName(QStringLiteral("Tuftmill"));
        // Desktops match the window to its installed desktop entry and icon by this name;
        // the icon is in the icon theme once installed (none in the build tree).
        QGuiApplication::setDesktopFileName(QStringLiteral(TUFTMILL_APP_ID));
        QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(TUFTMILL_APP_ID)));
        TerminationWatcher watcher;
        QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &app,
                         &QApplication::closeAllWindows);
        {
            Tuftmill window;
            if (!window.startedUp()) {
                LoggerOutput::shutdown();
                return 1;
            }
            // The end of the session saves a changed scene without asking.
            QObject::disconnect(&watcher, nullptr, &app, nullptr);
            QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &window,
                             &Tuftmill::closeForTermination);
            QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, &Tuftmill::aboutToQuit);
            window.show();
            emit window.afterLoaded();
            QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app,
                             &QCoreApplication::quit);

            result = app.exec();
            LoggerOutput::shutdown();
        }
        TreeManager::destroyInstance();
    }
    return result;
}
