#include "Tuftmill.h"

#include "GLRender.h"
#include "Logger.h"
#include "TreeManager.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QScreen>
#include <QToolBar>

Tuftmill::Tuftmill(QWidget *parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags),
      mainLogger(std::make_unique<Logger>(QStringLiteral("app.ui.main"))),
      coreLogger(std::make_unique<Logger>(QStringLiteral("app.core")))
{
    directoriesMade = makeDirectories();
    if (!directoriesMade) {
        coreLogger->error(QStringLiteral("cannot create the directories \"graftals\" and \"scenes\" in %1")
                              .arg(QDir::currentPath()));
        return;
    }
    ui.setupUi(this);
    connectPanels();
    if (!ui.treeManager->loadAllGraftals())
        ui.treeManager->addGraftal();
    // Without a window manager (a bare X server) maximising is only a hint that nobody
    // honours; start at the screen's full available size so the window looks the same.
    if (QScreen *screen = this->screen())
        setGeometry(screen->availableGeometry());
    showMaximized();
}

Tuftmill::~Tuftmill() = default;

bool Tuftmill::makeDirectories()
{
    const QDir here;
    for (const char *name : {"graftals", "scenes"}) {
        const QString dir = QString::fromLatin1(name);
        if (QFileInfo(dir).isDir())
            continue;
        if (!here.mkdir(dir))
            return false;
    }
    return true;
}

void Tuftmill::connectPanels()
{
    TreeManager *library = ui.treeManager;
    connect(ui.treeToolBar, &QToolBar::actionTriggered, library, &TreeManager::treeAction);
    connect(this, &Tuftmill::aboutToQuit, library, &TreeManager::beforeQuitHook);
    connect(this, &Tuftmill::afterLoaded, library, &TreeManager::flushChangedTexturesToOpenGL);
    connect(ui.viewToolBar, &QToolBar::actionTriggered, ui.view, &GLRender::dispatchAction);
    connect(library, &TreeManager::selectedChanged, ui.view, &GLRender::currentGraftalChanged);
    connect(library, &TreeManager::reloadTextures, ui.view, &GLRender::bindTexturesForGraftal);
}

void Tuftmill::keyPressEvent(QKeyEvent *event)
{
    // Every key that reaches the window is consumed; only F12 does something.
    if (event->key() == Qt::Key_F12)
        ui.libraryPanel->setVisible(!ui.libraryPanel->isVisible());
    event->accept();
}
