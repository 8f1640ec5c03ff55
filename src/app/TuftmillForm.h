#pragma once

class Tuftmill;
class QWidget;
class QHBoxLayout;
class QVBoxLayout;
class QTreeWidget;
class QToolBar;
class QActionGroup;
class QAction;
class QSpinBox;
class QDoubleSpinBox;
class QComboBox;
class TreeManager;
class GLRender;
class TextureManager;
class GraftalThumbnailNavigator;
class GraftalDetailNavigator;
class Configurator;

// The main window's form: non-owning pointers to every widget and panel of the
// window, filled by setupUi. Qt's parent-child tree owns the widgets.
struct TuftmillClass
{
    Tuftmill *window = nullptr;
    QWidget *centralWidget = nullptr;
    QHBoxLayout *mainLayout = nullptr;
    QVBoxLayout *editColumnLayout = nullptr;
    QVBoxLayout *viewColumnLayout = nullptr;
    TextureManager *textureManager = nullptr;
    GLRender *view = nullptr;
    GraftalThumbnailNavigator *thumbnailNavigator = nullptr;
    GraftalDetailNavigator *detailNavigator = nullptr;
    QWidget *libraryPanel = nullptr;
    QHBoxLayout *libraryLayout = nullptr;
    QTreeWidget *graftalTree = nullptr;
    QToolBar *treeToolBar = nullptr;
    Configurator *configurator = nullptr;
    TreeManager *treeManager = nullptr;
    QToolBar *viewToolBar = nullptr;
    QActionGroup *modeGroup = nullptr;
    QSpinBox *brushRadiusBox = nullptr;
    QSpinBox *sprayRateBox = nullptr;
    QDoubleSpinBox *brushDensityBox = nullptr; // "Paint density"'s graftals per square unit
    QAction *brushDensityAction = nullptr;     // its place in the tool row
    QAction *undoSceneAction = nullptr;
    QAction *redoSceneAction = nullptr;
    QAction *saveSceneAction = nullptr;
    QAction *reloadSceneAction = nullptr;
    QAction *exportAction = nullptr;
    QAction *turntableAction = nullptr;
    QAction *frameAction = nullptr;
    QDoubleSpinBox *graftalScaleBox = nullptr;
    QAction *fitGraftalScaleAction = nullptr;
    QToolBar *styleToolBar = nullptr;   // shading, lines, light, antialiasing
    QToolBar *graftalToolBar = nullptr; // graftal scale, fade, up axis, two-sided
    QComboBox *shadingBox = nullptr; // "Flat", "Shaded", "Toon" in the order of Shading
    QAction *outlinesAction = nullptr;
    QComboBox *upAxisBox = nullptr; // "+X" … "−Z" in the order of UpAxis from PlusX
    QAction *twoSidedAction = nullptr;
    QAction *renderFrameAction = nullptr; // "Show render frame", in the view's tool row
    QAction *showAllAction = nullptr;     // "Show every graftal", beside it
    // The finishing choices: lines, light, bands, antialiasing.
    QSpinBox *outlineWidthBox = nullptr;
    QAction *outlineColorAction = nullptr;
    QComboBox *lightBox = nullptr; // "follows camera", "fixed to model"
    QSpinBox *bandsBox = nullptr;
    QDoubleSpinBox *fadeFromBox = nullptr, *fadeToBox = nullptr; // "Fade from" < "Fade to"
    QSpinBox *smoothAngleBox = nullptr; // degrees; 0 reads "Off"
    QAction *antialiasingAction = nullptr;

    void setupUi(Tuftmill *window);
};
