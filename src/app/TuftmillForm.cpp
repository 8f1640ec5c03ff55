#include "TuftmillForm.h"

#include "Configurator.h"
#include "GLRender.h"
#include "GraftalDetailNavigator.h"
#include "GraftalThumbnailNavigator.h"
#include "Scene.h"
#include "TextureManager.h"
#include "TreeManager.h"
#include "Tuftmill.h"
#include "UpAxis.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
QVBoxLayout *zeroMarginColumn(QWidget *owner)
{
    auto *layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

QAction *addToolAction(QToolBar *bar, int data, const QString &text, const QString &icon)
{
    auto *action = new QAction(QIcon(icon), text, bar);
    action->setData(data);
    bar->addAction(action);
    return action;
}

// A tool action whose button screen readers know by the action's text.
QAction *namedToolAction(QToolBar *bar, int data, const QString &text, const QString &icon)
{
    QAction *action = addToolAction(bar, data, text, icon);
    bar->widgetForAction(action)->setAccessibleName(text);
    return action;
}
} // namespace

void TuftmillClass::setupUi(Tuftmill *w)
{
    window = w;
    if (w->objectName().isEmpty())
        w->setObjectName(QStringLiteral("TuftmillClass"));

    mainLayout = new QHBoxLayout;
    mainLayout->setContentsMargins(4, 4, 4, 4);
    mainLayout->setSpacing(6);

    // Left column: graftal thumbnails, the painter, the level strip, the library row.
    auto *editColumn = new QWidget;
    editColumnLayout = zeroMarginColumn(editColumn);
    editColumnLayout->setSpacing(4);
    thumbnailNavigator = new GraftalThumbnailNavigator(editColumn);
    editColumnLayout->addWidget(thumbnailNavigator, 1);
    textureManager = new TextureManager(editColumn);
    textureManager->setupToolBar();
    // Ctrl+Z and its kin act on the painter's history anywhere in this column, and so do
    // its zoom keys; the view keeps Ctrl+Z for the scene's history.
    textureManager->coverColumnShortcuts(editColumn);
    editColumnLayout->addWidget(textureManager, 1);
    detailNavigator = new GraftalDetailNavigator(editColumn);
    editColumnLayout->addWidget(detailNavigator, 1);

    libraryPanel = new QWidget(editColumn);
    libraryLayout = new QHBoxLayout(libraryPanel);
    libraryLayout->setContentsMargins(0, 0, 0, 0);
    auto *treeColumn = new QWidget(libraryPanel);
    auto *treeColumnLayout = zeroMarginColumn(treeColumn);
    graftalTree = new QTreeWidget(treeColumn);
    graftalTree->setColumnCount(1);
    graftalTree->setHeaderLabels({QStringLiteral("Graftal")});
    graftalTree->setRootIsDecorated(false);
    graftalTree->setMinimumHeight(48);
    treeColumnLayout->addWidget(graftalTree, 0);
    treeToolBar = new QToolBar(treeColumn);
    treeToolBar->setIconSize(QSize(20, 20));
    addToolAction(treeToolBar, 1, QStringLiteral("New"), QStringLiteral(":/icons/filenew.png"));
    addToolAction(treeToolBar, 2, QStringLiteral("Save"), QStringLiteral(":/icons/filesave.png"));
    treeColumnLayout->addWidget(treeToolBar, 0);
    libraryLayout->addWidget(treeColumn, 2);
    configurator = new Configurator(libraryPanel);
    configurator->setupTabs();
    libraryLayout->addWidget(configurator, 5);
    editColumnLayout->addWidget(libraryPanel, 1);
    // On a screen too short for the painter and both thumbnail strips at their least
    // height, the column scrolls instead of pushing the window past the screen.
    auto *editScroller = new QScrollArea;
    editScroller->setWidget(editColumn);
    editScroller->setWidgetResizable(true);
    editScroller->setFrameShape(QFrame::NoFrame);
    editScroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    editScroller->setMinimumWidth(editColumn->minimumSizeHint().width() +
                                  editScroller->verticalScrollBar()->sizeHint().width());
    mainLayout->addWidget(editScroller, 1);

    // Right column: the 3D view with its toolbar beneath.
    auto *viewColumn = new QWidget;
    viewColumnLayout = zeroMarginColumn(viewColumn);
    view = new GLRender(viewColumn);
    view->setMinimumSize(200, 200);
    viewColumnLayout->addWidget(view, 0);
    viewToolBar = new QToolBar(viewColumn);
    QAction *open = addToolAction(viewToolBar, 1, QStringLiteral("Open 3DS file"),
                                  QStringLiteral(":/icons/fileopen.png"));
    // The model alone; Ctrl+O is the menu's "Open model…", which brings its scene too.
    open->setToolTip(QStringLiteral("Open a model without its scene: 3DS, OBJ, glTF, FBX, PLY, "
                                    "STL, Collada, 3MF, OFF, DirectX, AC3D, ASE or LightWave"));
    viewToolBar->addSeparator();
    modeGroup = new QActionGroup(viewToolBar);
    modeGroup->setExclusive(true);
    const struct
    {
        int data;
        const char *text;
        const char *icon;
    } modes[] = {
        {2, "Move camera around subject", ":/icons/move.png"},
        {GLRender::OrbitMode, "Orbit camera around model", ":/icons/orbit.png"},
        {3, "Paint graftals on object", ":/icons/airbrush.png"},
        {4, "Increase mesh density", ":/icons/3uparrow.png"},
        {GLRender::DensityBrushMode, "Paint density", ":/icons/paint_density.png"},
        {GLRender::EraseMode, "Erase graftals from object", ":/icons/erase_graftals.png"},
    };
    for (const auto &mode : modes) {
        auto *action = new QAction(QIcon(QString::fromLatin1(mode.icon)),
                                   QString::fromLatin1(mode.text), modeGroup);
        action->setData(mode.data);
        action->setCheckable(true);
        viewToolBar->addAction(action);
        // The view starts in the camera mode.
        action->setChecked(mode.data == GLRender::CameraMode);
    }
    viewToolBar->widgetForAction(modeGroup->actions()[1])
        ->setAccessibleName(QStringLiteral("Orbit camera around model"));
    viewToolBar->widgetForAction(modeGroup->actions()[4])
        ->setAccessibleName(QStringLiteral("Paint density"));
    // The brush of painting and erasing.
    auto spinBox = [&](const QString &name, int maximum, const QString &affix, bool prefix) {
        auto *box = new QSpinBox(viewToolBar);
        box->setRange(1, maximum);
        box->setValue(1);
        box->setAccessibleName(name);
        box->setToolTip(name);
        prefix ? box->setPrefix(affix) : box->setSuffix(affix);
        viewToolBar->addWidget(box);
        return box;
    };
    brushRadiusBox = spinBox(QStringLiteral("Brush radius"), Scene::MaxBrushRadius,
                             QStringLiteral(" px"), false);
    // What "Paint density" fills to, shown while it is the tool.
    brushDensityBox = new QDoubleSpinBox(viewToolBar);
    brushDensityBox->setRange(0.0, GLRender::MaxBrushDensity);
    brushDensityBox->setDecimals(3);
    brushDensityBox->setStepType(QAbstractSpinBox::AdaptiveDecimalStepType);
    brushDensityBox->setValue(1.0);
    brushDensityBox->setSuffix(QString::fromUtf8(" per unit\u00b2"));
    brushDensityBox->setAccessibleName(QStringLiteral("Density"));
    brushDensityBox->setToolTip(
        QStringLiteral("Density: graftals per square unit of the model's surface "
                       "(Shift+drag thins to it)"));
    brushDensityAction = viewToolBar->addWidget(brushDensityBox);
    brushDensityAction->setVisible(false);
    sprayRateBox = spinBox(QStringLiteral("Spray rate"), Scene::MaxSprayRate,
                           QString::fromUtf8("\u00d7 "), true);
    viewToolBar->addSeparator();
    undoSceneAction =
        addToolAction(viewToolBar, GLRender::UndoAction, QStringLiteral("Undo scene change"),
                      QStringLiteral(":/icons/undo.png"));
    redoSceneAction =
        addToolAction(viewToolBar, GLRender::RedoAction, QStringLiteral("Redo scene change"),
                      QStringLiteral(":/icons/redo.png"));
    undoSceneAction->setEnabled(false);
    redoSceneAction->setEnabled(false);
    viewToolBar->addSeparator();
    addToolAction(viewToolBar, 5, QStringLiteral("Set background color"),
                  QStringLiteral(":/icons/colorize.png"));
    viewToolBar->addSeparator();
    saveSceneAction = addToolAction(viewToolBar, 6, QStringLiteral("Save current state of scene"),
                                    QStringLiteral(":/icons/filesave.png"));
    reloadSceneAction =
        addToolAction(viewToolBar, 7, QStringLiteral("Reload state for scene from disk"),
                      QStringLiteral(":/icons/rotate.png"));
    exportAction =
        addToolAction(viewToolBar, GLRender::ExportAction, QStringLiteral("Export image"),
                      QStringLiteral(":/icons/export_image.png"));
    turntableAction = namedToolAction(viewToolBar, GLRender::TurntableAction,
                                      QStringLiteral("Render turntable…"),
                                      QStringLiteral(":/icons/render_turntable.png"));
    // Framing, beside what the scene file keeps.
    viewToolBar->addSeparator();
    frameAction = namedToolAction(viewToolBar, GLRender::FrameAction, QStringLiteral("Frame model"),
                                  QStringLiteral(":/icons/frame_model.png"));
    frameAction->setToolTip(QStringLiteral("Frame model (Home)"));
    // Home frames the model wherever the keyboard focus is in the window.
    frameAction->setShortcut(QKeySequence(Qt::Key_Home));
    frameAction->setShortcutContext(Qt::WindowShortcut);
    renderFrameAction = viewToolBar->addAction(QStringLiteral("Show render frame"));
    renderFrameAction->setCheckable(true);
    renderFrameAction->setToolTip(
        QStringLiteral("Show render frame: darken what a turntable of the chosen size leaves out"));
    showAllAction = viewToolBar->addAction(QStringLiteral("Show every graftal"));
    showAllAction->setCheckable(true);
    showAllAction->setToolTip(QStringLiteral(
        "Show every graftal (S): whole, whatever its facing; those the fade hides tinted"));
    viewColumnLayout->addWidget(viewToolBar, 0);
    // A second row: how the model and its graftals are drawn.
    styleToolBar = new QToolBar(viewColumn);
    styleToolBar->setObjectName(QStringLiteral("styleToolBar"));
    shadingBox = new QComboBox(styleToolBar);
    shadingBox->addItems(
        {QStringLiteral("Flat"), QStringLiteral("Shaded"), QStringLiteral("Toon")});
    shadingBox->setAccessibleName(QStringLiteral("Shading"));
    shadingBox->setToolTip(QStringLiteral("Shading"));
    styleToolBar->addWidget(new QLabel(QStringLiteral(" Shading "), styleToolBar));
    styleToolBar->addWidget(shadingBox);
    outlinesAction = styleToolBar->addAction(QStringLiteral("Outlines"));
    outlinesAction->setCheckable(true);
    outlinesAction->setToolTip(QStringLiteral("Outlines"));
    const auto spin = [&](const QString &name, int low, int high, int value) {
        auto *box = new QSpinBox(styleToolBar);
        box->setRange(low, high);
        box->setValue(value);
        box->setAccessibleName(name);
        box->setToolTip(name);
        styleToolBar->addWidget(new QLabel(QLatin1Char(' ') + name + QLatin1Char(' '), styleToolBar));
        styleToolBar->addWidget(box);
        return box;
    };
    outlineWidthBox = spin(QStringLiteral("Outline width"), 1, 8, 2);
    outlineColorAction = styleToolBar->addAction(QStringLiteral("Outline colour…"));
    outlineColorAction->setToolTip(QStringLiteral("Outline colour"));
    lightBox = new QComboBox(styleToolBar);
    lightBox->addItems({QStringLiteral("follows camera"), QStringLiteral("fixed to model")});
    lightBox->setAccessibleName(QStringLiteral("Light"));
    lightBox->setToolTip(QStringLiteral("Light"));
    styleToolBar->addWidget(new QLabel(QStringLiteral(" Light "), styleToolBar));
    styleToolBar->addWidget(lightBox);
    bandsBox = spin(QStringLiteral("Bands"), 2, 6, 3);
    // Off (0) keeps the model file's normals; an angle smooths across gentler edges.
    smoothAngleBox = spin(QStringLiteral("Smooth by angle"), 0, 180, 0);
    smoothAngleBox->setSpecialValueText(QStringLiteral("Off"));
    smoothAngleBox->setSuffix(QString::fromUtf8("\u00b0"));
    antialiasingAction = styleToolBar->addAction(QStringLiteral("Antialiasing"));
    antialiasingAction->setCheckable(true);
    antialiasingAction->setChecked(true);
    antialiasingAction->setToolTip(QStringLiteral("Antialiasing"));
    viewColumnLayout->addWidget(styleToolBar, 0);
    // A third row, so that every choice stays in reach on a screen of common width (a row
    // that overflows hides its boxes): how big the graftals stand and where they fade, and
    // how the model's file stands.
    graftalToolBar = new QToolBar(viewColumn);
    graftalToolBar->setObjectName(QStringLiteral("graftalToolBar"));
    // The graftals' drawn size, in the model's units.
    graftalScaleBox = new QDoubleSpinBox(graftalToolBar);
    graftalScaleBox->setRange(0.0001, 10000.0);
    graftalScaleBox->setDecimals(4);
    graftalScaleBox->setValue(1.0);
    graftalScaleBox->setPrefix(QString::fromUtf8("\u00d7 "));
    graftalScaleBox->setAccessibleName(QStringLiteral("Graftal scale"));
    graftalScaleBox->setToolTip(QStringLiteral("Graftal scale"));
    graftalToolBar->addWidget(new QLabel(QStringLiteral(" Graftal scale "), graftalToolBar));
    graftalToolBar->addWidget(graftalScaleBox);
    fitGraftalScaleAction = namedToolAction(graftalToolBar, GLRender::FitGraftalScaleAction,
                                            QStringLiteral("Fit graftal size to model"),
                                            QStringLiteral(":/icons/fit_graftal_scale.png"));
    // Where graftals fade away as their faces turn towards the eye.
    const auto fadeSpin = [&](const QString &name, double low, double value) {
        auto *box = new QDoubleSpinBox(graftalToolBar);
        box->setRange(low, low + 0.99);
        box->setSingleStep(0.05);
        // A value typed in counts when it is finished: a half-typed "0.5" on the way to
        // "0.58" must not push the other end away.
        box->setKeyboardTracking(false);
        box->setDecimals(2);
        box->setValue(value);
        box->setAccessibleName(name);
        box->setToolTip(name + QStringLiteral(" (how far a face turns towards the eye: 0 at the "
                                              "silhouette, 1 face on)"));
        graftalToolBar->addWidget(new QLabel(QLatin1Char(' ') + name + QLatin1Char(' '), graftalToolBar));
        graftalToolBar->addWidget(box);
        return box;
    };
    fadeFromBox = fadeSpin(QStringLiteral("Fade from"), 0.0, FadeRange::DefaultFrom);
    fadeToBox = fadeSpin(QStringLiteral("Fade to"), 0.01, FadeRange::DefaultTo);
    // Which axis of the model's file stands up, and whether back faces are drawn.
    graftalToolBar->addSeparator();
    upAxisBox = new QComboBox(graftalToolBar);
    upAxisBox->addItems(upaxis::labels());
    upAxisBox->setCurrentIndex(int(UpAxis::PlusZ) - 1);
    upAxisBox->setAccessibleName(QStringLiteral("Up axis"));
    upAxisBox->setToolTip(QStringLiteral("Up axis"));
    graftalToolBar->addWidget(new QLabel(QStringLiteral(" Up axis "), graftalToolBar));
    graftalToolBar->addWidget(upAxisBox);
    twoSidedAction = graftalToolBar->addAction(QStringLiteral("Two-sided"));
    twoSidedAction->setCheckable(true);
    twoSidedAction->setToolTip(QStringLiteral("Two-sided: draw the back faces of open sheets"));
    viewColumnLayout->addWidget(graftalToolBar, 0);
    mainLayout->addWidget(viewColumn, 1);

    centralWidget = new QWidget(w);
    centralWidget->setLayout(mainLayout);
    w->setCentralWidget(centralWidget);

    treeManager = TreeManager::instance(graftalTree);
}
