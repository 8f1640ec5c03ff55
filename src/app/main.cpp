#include "GLRender.h"
#include "Logger.h"
#include "LoggerOutput.h"
#include "RenderCommand.h"
#include "TerminationWatcher.h"
#include "TreeManager.h"
#include "Tuftmill.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // `--render` and `--help` run the picture command instead of the window.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
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
