#include "Tuftmill.h"

#include "AppSettings.h"
#include "Configurator.h"
#include "GLRender.h"
#include "Graftal.h"
#include "GraftalPainter.h"
#include "GraftalDetailNavigator.h"
#include "GraftalThumbnailNavigator.h"
#include "Logger.h"
#include "MainMenu.h"
#include "ModelLoadController.h"
#include "PainterKeys.h"
#include "Scene.h"
#include "SceneSession.h"
#include "TextureManager.h"
#include "TreeManager.h"
#include "UpAxis.h"

#include <cmath>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QColorDialog>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
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
    mainMenu = new MainMenu(ui);
    connectMenu();
    new PainterKeys(*ui.textureManager->painter(), this);
    updateTitle();
    if (!ui.treeManager->loadAllGraftals())
        ui.treeManager->addGraftal();
    ui.treeManager->startAutosave(autosaveIntervalMs());
    restoreSettings();
    // A window that was maximised starts maximised as on the first start: its saved place
    // is of no use then (and off by the menu bar's height on a bare X server).
    if (settings->restoreWindow(*this) && !(windowState() & Qt::WindowMaximized)) {
        show();
        return;
    }
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
    // A graftal's size and variation show at once.
    connect(ui.configurator, &Configurator::configurationChanged, ui.view,
            [view = ui.view] { view->update(); });
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
    // Each tool action, from its button, the menu bar or its key.
    const QList<QAction *> tools = ui.viewToolBar->actions() << ui.fitGraftalScaleAction;
    for (QAction *action : tools)
        if (action->data().isValid())
            connect(action, &QAction::triggered, ui.view,
                    [view = ui.view, action] { view->dispatchAction(action); });
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
        libraryProblem = message;
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
    connect(ui.brushDensityBox, &QDoubleSpinBox::valueChanged, ui.view, &GLRender::setBrushDensity);
    connect(ui.modeGroup, &QActionGroup::triggered, this, [this](QAction *mode) {
        ui.brushDensityAction->setVisible(mode->data().toInt() == GLRender::DensityBrushMode);
    });
    connect(ui.graftalScaleBox, &QDoubleSpinBox::valueChanged, ui.view, &GLRender::setGraftalScale);
    connect(ui.view, &GLRender::styleShown, this, &Tuftmill::showViewStyle);
    connect(ui.view, &GLRender::sceneStatusChanged, this, &Tuftmill::updateTitle);
    // The graftal counts stand at the status line's end, beside its messages.
    auto *counts = new QLabel(statusBar());
    counts->setObjectName(QStringLiteral("graftalCounts"));
    // Graftal names are the artist's text, never markup.
    counts->setTextFormat(Qt::PlainText);
    statusBar()->addPermanentWidget(counts);
    connect(ui.view, &GLRender::graftalCountsChanged, counts, &QLabel::setText);
    connect(ui.configurator, &Configurator::configurationChanged, ui.view,
            &GLRender::announceCounts);
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
    connect(ui.showAllAction, &QAction::toggled, ui.view, &GLRender::setShowAllGraftals);
    connect(ui.view, &GLRender::showAllGraftalsChanged, ui.showAllAction, &QAction::setChecked);
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
    connect(ui.smoothAngleBox, &QSpinBox::valueChanged, this,
            restyle([](ViewStyle &s, int degrees) { s.smoothAngle = degrees; }));
    connect(ui.lightBox, &QComboBox::currentIndexChanged, this,
            restyle([](ViewStyle &s, int index) { s.lightOnModel = index == 1; }));
    // The fade's two ends stay apart by a step: moving one past the other moves that too.
    const auto fadeEnd = [this](QDoubleSpinBox *moved, QDoubleSpinBox *other, bool isFrom) {
        connect(moved, &QDoubleSpinBox::valueChanged, this, [this, other, isFrom](double value) {
            if (isFrom ? value >= other->value() - 0.001 : value <= other->value() + 0.001)
                other->setValue(isFrom ? value + 0.05 : value - 0.05);
            ViewStyle &style = ui.view->scene()->style;
            style.fade = {ui.fadeFromBox->value(), ui.fadeToBox->value()};
            ui.view->update();
        });
    };
    fadeEnd(ui.fadeFromBox, ui.fadeToBox, true);
    fadeEnd(ui.fadeToBox, ui.fadeFromBox, false);
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

void Tuftmill::connectMenu()
{
    settings = std::make_unique<AppSettings>();
    MainMenu &m = *mainMenu;
    connect(m.openModelAction, &QAction::triggered, this,
            [this] { sceneSession->openModelWithSceneInteractively(settings->lastModelFolder()); });
    connect(&m, &MainMenu::recentModelChosen, this,
            [this](const QString &path) { sceneSession->openModelWithScene(path); });
    connect(m.forgetMissingAction, &QAction::triggered, this, [this] {
        settings->forgetMissingModels();
        mainMenu->showRecentModels(settings->recentModels());
    });
    connect(ui.view, &GLRender::modelLoadFinished, this, [this](bool loaded) {
        if (!loaded)
            return;
        settings->rememberModel(ui.view->scene()->modelPath());
        mainMenu->showRecentModels(settings->recentModels());
    });
    connect(m.openWorkspaceAction, &QAction::triggered, this, &Tuftmill::openWorkspace);
    connect(m.quitAction, &QAction::triggered, this, &QWidget::close);
    connect(m.shortcutsAction, &QAction::triggered, this, &Tuftmill::showShortcuts);
    connect(m.aboutAction, &QAction::triggered, this, &Tuftmill::showAbout);
    // Notes about a model go when another one opens; confirmations after a while; what
    // the library still has to tell comes back when they go.
    connect(&ui.view->modelLoader(), &ModelLoadController::started, this,
            &Tuftmill::showStandingProblem);
    connect(sceneSession.get(), &SceneSession::confirmed, this,
            [this](const QString &message) { statusBar()->showMessage(message, ConfirmationMs); });
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString &message) {
        if (message.isEmpty() && !libraryProblem.isEmpty())
            statusBar()->showMessage(libraryProblem);
    });
    ui.view->setAcceptDrops(true);
    ui.view->installEventFilter(this);
}

void Tuftmill::restoreSettings()
{
    ui.brushRadiusBox->setValue(settings->brushRadius(ui.brushRadiusBox->value()));
    ui.sprayRateBox->setValue(settings->sprayRate(ui.sprayRateBox->value()));
    ui.brushDensityBox->setValue(settings->brushDensity(ui.brushDensityBox->value()));
    mainMenu->showRecentModels(settings->recentModels());
}

void Tuftmill::showStandingProblem()
{
    if (libraryProblem.isEmpty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(libraryProblem);
}

bool Tuftmill::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != ui.view ||
        (event->type() != QEvent::DragEnter && event->type() != QEvent::Drop))
        return QMainWindow::eventFilter(watched, event);
    auto *drop = static_cast<QDropEvent *>(event);
    const QList<QUrl> urls = drop->mimeData()->urls();
    const QString path = urls.size() == 1 && urls[0].isLocalFile() ? urls[0].toLocalFile() : QString();
    if (!SceneSession::isModelFile(path) || !QFileInfo(path).isFile())
        return QMainWindow::eventFilter(watched, event);
    drop->acceptProposedAction();
    // The question about the painted scene waits until the drop is over.
    if (event->type() == QEvent::Drop)
        QTimer::singleShot(0, this, [this, path] { sceneSession->openModelWithScene(path); });
    return true;
}

void Tuftmill::openWorkspace()
{
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Open workspace"),
                                                             QDir::currentPath());
    if (folder.isEmpty() || QDir(folder) == QDir::current())
        return;
    // Everything is saved or settled as for quitting; then Tuftmill starts again there.
    if (close() && !QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                            {QStringLiteral("--workspace"), folder}))
        coreLogger->error(QStringLiteral("cannot start Tuftmill in %1").arg(folder));
}

void Tuftmill::showShortcuts()
{
    if (!shortcutsDialog) {
        shortcutsDialog = new QDialog(this);
        shortcutsDialog->setWindowTitle(QStringLiteral("Keyboard shortcuts"));
        auto *layout = new QVBoxLayout(shortcutsDialog);
        auto *scroller = new QScrollArea(shortcutsDialog);
        auto *page = new QLabel(MainMenu::shortcutsPage());
        page->setObjectName(QStringLiteral("shortcutsPage"));
        page->setTextFormat(Qt::RichText);
        page->setMargin(8);
        scroller->setWidget(page);
        layout->addWidget(scroller);
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, shortcutsDialog);
        connect(buttons, &QDialogButtonBox::rejected, shortcutsDialog, &QDialog::close);
        layout->addWidget(buttons);
        shortcutsDialog->resize(page->sizeHint().width() + 60, 640);
    }
    shortcutsDialog->show();
    shortcutsDialog->raise();
}

void Tuftmill::showAbout()
{
    QMessageBox::about(this, QStringLiteral("About Tuftmill"),
                       QStringLiteral("<h3>Tuftmill %1</h3><p>Draw graftals (fur, grass, leaves) "
                                      "and spray them onto 3D models.</p><p>Licence: "
                                      "GPL-3.0-or-later</p>")
                           .arg(QStringLiteral(TUFTMILL_VERSION)));
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
        quietLight(ui.lightBox), quietSamples(ui.antialiasingAction), quietFrom(ui.fadeFromBox),
        quietTo(ui.fadeToBox), quietSmooth(ui.smoothAngleBox);
    ui.fadeFromBox->setValue(style.fade.from);
    ui.fadeToBox->setValue(style.fade.to);
    // The box counts whole degrees; an angle under one still reads as on.
    ui.smoothAngleBox->setValue(style.smoothAngle > 0.0 ? std::max(1, int(std::lround(style.smoothAngle))) : 0);
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
    if (settings) {
        settings->saveWindow(*this);
        settings->saveBrush(ui.brushRadiusBox->value(), ui.sprayRateBox->value());
        settings->saveBrushDensity(ui.brushDensityBox->value());
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
