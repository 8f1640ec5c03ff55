#pragma once

class Tuftmill;
class QWidget;
class QHBoxLayout;
class QVBoxLayout;
class QTreeWidget;
class QToolBar;
class QActionGroup;
class TreeManager;
class GLRender;

// The main window's form: non-owning pointers to every widget and panel of the
// window, filled by setupUi. Qt's parent-child tree owns the widgets.
struct TuftmillClass
{
    Tuftmill *window = nullptr;
    QWidget *centralWidget = nullptr;
    QHBoxLayout *mainLayout = nullptr;
    QVBoxLayout *editColumnLayout = nullptr;
    QVBoxLayout *viewColumnLayout = nullptr;
    QWidget *textureManager = nullptr;
    GLRender *view = nullptr;
    QWidget *thumbnailNavigator = nullptr;
    QWidget *detailNavigator = nullptr;
    QWidget *libraryPanel = nullptr;
    QHBoxLayout *libraryLayout = nullptr;
    QTreeWidget *graftalTree = nullptr;
    QToolBar *treeToolBar = nullptr;
    QWidget *configurator = nullptr;
    TreeManager *treeManager = nullptr;
    QToolBar *viewToolBar = nullptr;
    QActionGroup *modeGroup = nullptr;

    void setupUi(Tuftmill *window);
};
