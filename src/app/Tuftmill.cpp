#include "Tuftmill.h"

#include "Configurator.h"
#include "GLRender.h"
#include "Graftal.h"
#include "GraftalDetailNavigator.h"
#include "GraftalThumbnailNavigator.h"
#include "Logger.h"
#include "Scene.h"
#include "SceneSession.h"
#include "TextureManager.h"
#include "TreeManager.h"
#include "UpAxis.h"

#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>

Tuftmill::Tuftmill(QWidget *parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags),
      mainLogger(std::make_unique<Logger>(QStringLiteral("app.ui.main"))),
      coreLogger(std::make_unique<Logger>(QStringLiteral("app.core")))
{
    directoriesMade = makeDirectories();
    if (!directoriesMade) {
        coreLogger->error(
            QStringLiteral("cannot create the directories \"graftals\" and \"scenes\" in %1")
                .arg(QDir::currentPath()));
        return;
    }
    ui.setupUi(this);
    // A status line, there from the start so that nothing moves when it first speaks.
    statusBar();
    connectPanels();
    updateTitle();
    if (!ui.treeManager->loadAllGraftals())
        ui.treeManager->addGraftal();
    ui.treeManager->startAutosave(autosaveIntervalMs());
    // Without a window manager (a bare X server) maximising is only a hint that nobody
    // honours; start at the screen's full available size so the window looks the same.
    if (QScreen *screen = this->screen())
        setGeometry(screen->availableGeometry());
    showMaximized();
}

Tuftmill::~Tuftmill() = default;

int Tuftmill::autosaveIntervalMs()
{
    // Test-only: the end-to-end tests shorten the interval so that they need not wait
    // half a minute. Users have no reason to set it and nothing documents it for them.
    bool ok = false;
    const int forTests = qEnvironmentVariableIntValue("TUFTMILL_TEST_AUTOSAVE_MS", &ok);
    return ok && forTests > 0 ? forTests : 30000;
}

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
    // The one table of connections between panels, in this order: where several slots
    // hang on one signal they run in the order they were connected.
    TreeManager *library = ui.treeManager;
    // The scene finds the graftals of its state file in the library.
    ui.view->scene()->setGraftalLookup(library);
    sceneSession = std::make_unique<SceneSession>(*ui.view->scene(), ui.view->modelLoader(), *this);
    ui.view->setSession(sceneSession.get());
    connect(ui.treeToolBar, &QToolBar::actionTriggered, library, &TreeManager::treeAction);
    connect(ui.textureManager, &TextureManager::graftalPixmapChanged, library,
            &TreeManager::graftalPixmapChanged);
    connect(ui.configurator, &Configurator::configurationChanged, library,
            &TreeManager::graftalParametersChanged);
    connect(this, &Tuftmill::aboutToQuit, library, &TreeManager::beforeQuitHook);
    connect(ui.thumbnailNavigator, &GraftalThumbnailNavigator::dispatchAddGraftal, library,
            &TreeManager::addGraftal);
    connect(ui.thumbnailNavigator, &GraftalThumbnailNavigator::dispatchSaveCurrent, library,
            &TreeManager::saveCurrentGraftal);
    connect(ui.thumbnailNavigator, &GraftalThumbnailNavigator::dispatchSaveAll, library,
            &TreeManager::saveAllGraftals);
    connect(this, &Tuftmill::afterLoaded, library, &TreeManager::flushChangedTexturesToOpenGL);
    connect(ui.thumbnailNavigator, &GraftalThumbnailNavigator::graftalSelected, library,
            &TreeManager::setSelected);
    connect(ui.viewToolBar, &QToolBar::actionTriggered, ui.view, &GLRender::dispatchAction);
    connect(ui.styleToolBar, &QToolBar::actionTriggered, ui.view, &GLRender::dispatchAction);
    connect(library, &TreeManager::selectedChanged, ui.view, &GLRender::currentGraftalChanged);
    connect(library, &TreeManager::reloadTextures, ui.view, &GLRender::bindTexturesForGraftal);
    connect(library, &TreeManager::selectedChanged, ui.configurator,
            &Configurator::graftalSelected);
    connect(library, &TreeManager::selectedChanged, ui.textureManager,
            &TextureManager::graftalSelected);
    connect(library, &TreeManager::graftalAdded, ui.thumbnailNavigator,
            &GraftalThumbnailNavigator::graftalAdded);
    connect(library, &TreeManager::pixmapUpdated, ui.thumbnailNavigator,
            &GraftalThumbnailNavigator::pixmapUpdated);
    connect(library, &TreeManager::selectedChanged, ui.detailNavigator,
            &GraftalDetailNavigator::graftalSelected);
    connect(library, &TreeManager::pixmapUpdated, ui.detailNavigator,
            &GraftalDetailNavigator::pixmapUpdated);
    connect(ui.detailNavigator, &GraftalDetailNavigator::pixmapIndexChanged, ui.textureManager,
            &TextureManager::setPixmapIndex);
    // Levels and graftals duplicated, removed and reordered.
    connect(ui.detailNavigator, &GraftalDetailNavigator::levelsChanged, library,
            &TreeManager::graftalLevelsChanged);
    connect(library, &TreeManager::selectedChanged, ui.thumbnailNavigator,
            &GraftalThumbnailNavigator::showSelected);
    connect(ui.thumbnailNavigator, &GraftalThumbnailNavigator::dispatchDuplicateGraftal, library,
            [library] { library->duplicateGraftal(library->currentGraftal()); });
    connect(ui.thumbnailNavigator, &GraftalThumbnailNavigator::dispatchRemoveGraftal, this,
            &Tuftmill::removeSelectedGraftal);
    connect(library, &TreeManager::graftalRemoved, ui.thumbnailNavigator,
            &GraftalThumbnailNavigator::graftalRemoved);
    connect(library, &TreeManager::graftalRemoved, ui.view, &GLRender::removeInstancesOf);
    // What the library must tell without stopping the user goes into the status line.
    connect(library, &TreeManager::problemReported, this, [this](const QString &message) {
        if (message.isEmpty())
            statusBar()->clearMessage();
        else
            statusBar()->showMessage(message);
    });
    connect(ui.view, &GLRender::statusMessage, this,
            [this](const QString &message) { statusBar()->showMessage(message); });
    // The brush and the scene's undo history.
    connect(ui.brushRadiusBox, &QSpinBox::valueChanged, ui.view, &GLRender::setBrushRadius);
    connect(ui.sprayRateBox, &QSpinBox::valueChanged, ui.view, &GLRender::setSprayRate);
    connect(ui.graftalScaleBox, &QDoubleSpinBox::valueChanged, ui.view, &GLRender::setGraftalScale);
    connect(ui.view, &GLRender::styleShown, this, &Tuftmill::showViewStyle);
    connect(ui.view, &GLRender::sceneStatusChanged, this, &Tuftmill::updateTitle);
    // How the view draws the scene.
    connect(ui.shadingBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        ui.view->scene()->style.shading = Shading(index);
        ui.view->update();
    });
    connect(ui.outlinesAction, &QAction::toggled, this, [this](bool on) {
        ui.view->scene()->style.outlines = on;
        ui.view->update();
    });
    connect(ui.upAxisBox, &QComboBox::currentIndexChanged, this,
            [this](int index) { ui.view->setUpAxis(UpAxis(index + 1)); });
    connect(ui.twoSidedAction, &QAction::toggled, ui.view, &GLRender::setTwoSided);
    connect(ui.renderFrameAction, &QAction::toggled, ui.view, &GLRender::setRenderFrameShown);
    const auto restyle = [this](auto change) {
        return [this, change](auto value) {
            change(ui.view->scene()->style, value);
            ui.view->update();
        };
    };
    connect(ui.outlineWidthBox, &QSpinBox::valueChanged, this,
            restyle([](ViewStyle &s, int n) { s.outlineWidth = n; }));
    connect(ui.bandsBox, &QSpinBox::valueChanged, this,
            restyle([](ViewStyle &s, int n) { s.bands = n; }));
    connect(ui.lightBox, &QComboBox::currentIndexChanged, this,
            restyle([](ViewStyle &s, int index) { s.lightOnModel = index == 1; }));
    connect(ui.antialiasingAction, &QAction::toggled, this,
            restyle([](ViewStyle &s, bool on) { s.antialiasing = on; }));
    connect(ui.outlineColorAction, &QAction::triggered, this, [this] {
        ViewStyle &style = ui.view->scene()->style;
        const QColor chosen = QColorDialog::getColor(QColor(QRgb(style.outlineColor)), this,
                                                     QStringLiteral("Outline colour"));
        if (!chosen.isValid())
            return;
        style.outlineColor = chosen.rgb() & 0xffffffu;
        ui.view->update();
    });
    connect(ui.view, &GLRender::undoAvailable, ui.undoSceneAction, &QAction::setEnabled);
    connect(ui.view, &GLRender::redoAvailable, ui.redoSceneAction, &QAction::setEnabled);
}

void Tuftmill::removeSelectedGraftal()
{
    TreeManager *library = ui.treeManager;
    Graftal *g = library->currentGraftal();
    if (!g)
        return;
    const int painted = ui.view->scene()->instanceCountOf(g);
    const QString where =
        painted == 0   ? QStringLiteral("It is not painted on the current model.")
        : painted == 1 ? QStringLiteral("It is painted once on the current model; that instance "
                                        "leaves the scene, and \"Undo scene change\" does not "
                                        "bring it back.")
                       : QStringLiteral("It is painted %1 times on the current model; those "
                                        "instances leave the scene, and \"Undo scene change\" "
                                        "does not bring them back.")
                             .arg(painted);
    QMessageBox box(QMessageBox::Question, QStringLiteral("Remove graftal"),
                    QStringLiteral("Remove \"%1\"? %2 Its files go to the desktop trash.")
                        .arg(g->name(), where),
                    QMessageBox::Yes | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Cancel);
    if (box.exec() != QMessageBox::Yes)
        return;
    QString why;
    if (!library->removeGraftal(g, &why))
        QMessageBox::warning(this, QStringLiteral("Remove graftal"), why);
}

void Tuftmill::showViewStyle()
{
    const ViewStyle &style = ui.view->scene()->style;
    const QSignalBlocker quietShading(ui.shadingBox);
    const QSignalBlocker quietOutlines(ui.outlinesAction);
    const QSignalBlocker quietScale(ui.graftalScaleBox);
    const QSignalBlocker quietUp(ui.upAxisBox);
    const QSignalBlocker quietSides(ui.twoSidedAction);
    const QSignalBlocker quietWidth(ui.outlineWidthBox), quietBands(ui.bandsBox),
        quietLight(ui.lightBox), quietSamples(ui.antialiasingAction);
    ui.outlineWidthBox->setValue(style.outlineWidth);
    ui.bandsBox->setValue(style.bands);
    ui.lightBox->setCurrentIndex(style.lightOnModel ? 1 : 0);
    ui.antialiasingAction->setChecked(style.antialiasing);
    ui.shadingBox->setCurrentIndex(int(style.shading));
    ui.outlinesAction->setChecked(style.outlines);
    ui.graftalScaleBox->setValue(style.graftalScale);
    ui.upAxisBox->setCurrentIndex(int(upaxis::resolved(style.up, ui.view->scene()->modelPath())) -
                                  1);
    ui.twoSidedAction->setChecked(style.twoSided);
}

void Tuftmill::updateTitle()
{
    const Scene &scene = *ui.view->scene();
    const QString app = QStringLiteral("Tuftmill");
    if (!scene.loaded()) {
        setWindowTitle(app);
        return;
    }
    const QString star = scene.changedSinceSaved() ? QStringLiteral("*") : QString();
    setWindowTitle(QFileInfo(scene.modelPath()).fileName() + star + QString::fromUtf8(" \u2014 ") +
                   app);
}

void Tuftmill::closeForTermination()
{
    terminating = true;
    QApplication::closeAllWindows();
}

void Tuftmill::closeEvent(QCloseEvent *event)
{
    // An ending session saves the scene without asking; otherwise the user decides, and
    // may decide to stay. A session that ends while the question is open saves too.
    if (sceneSession && !sceneSession->settleUnsavedScene(QStringLiteral("closing"), terminating,
                                                          [this] { return terminating; })) {
        event->ignore();
        return;
    }
    // Changed graftals are written now, so that one that cannot be written is told while
    // the window is still there to keep it.
    if (!terminating && ui.treeManager && !graftalsSavedForClosing()) {
        event->ignore();
        return;
    }
    event->accept();
}

bool Tuftmill::graftalsSavedForClosing()
{
    const QStringList failures = ui.treeManager->saveChangedGraftals();
    if (failures.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Save failed"),
                    QStringLiteral("%1 graftal(s) could not be saved; closing now loses their "
                                   "latest changes.\nClose anyway?")
                        .arg(failures.size()),
                    QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setDetailedText(failures.join(QStringLiteral("\n\n")));
    box.setDefaultButton(QMessageBox::Cancel);
    // A session that ends while the question is open still ends.
    return box.exec() == QMessageBox::Discard || terminating;
}

void Tuftmill::keyPressEvent(QKeyEvent *event)
{
    // Every key that reaches the window is consumed; only F12 does something.
    if (event->key() == Qt::Key_F12)
        ui.libraryPanel->setVisible(!ui.libraryPanel->isVisible());
    event->accept();
}
