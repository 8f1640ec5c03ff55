// The view toolbar's actions and what they change beside the camera drags: modes, the
// brush, the scene's history, the graftal scale and framing.
#include "GLRender.h"

#include "ImageExport.h"
#include "Scene.h"
#include "SceneSession.h"
#include "TurntableExport.h"

#include <QAction>
#include <QTimer>
#include <algorithm>
#include <cmath>

void GLRender::dispatchAction(QAction *action)
{
    // A stroke whose release never came (a dialog took the pointer) ends before any tool.
    if (theScene->strokeRunning())
        finishStroke();
    switch (action->data().toInt()) {
    case OpenAction:
        if (session)
            session->openModelInteractively();
        break;
    case CameraMode:
    case OrbitMode:
    case PaintMode:
    case DensityMode:
    case EraseMode:
        mouseMode = action->data().toInt();
        action->setChecked(true);
        updateCursor();
        break;
    case BackgroundAction:
        if (session)
            session->chooseBackground();
        break;
    case SaveStateAction:
        if (session)
            session->saveSceneInteractively();
        break;
    case ReloadStateAction:
        if (session)
            session->reloadSceneInteractively();
        break;
    case UndoAction:
        undoSceneChange();
        break;
    case RedoAction:
        redoSceneChange();
        break;
    case ExportAction:
        imageexport::exportInteractively(*this);
        break;
    case TurntableAction:
        TurntableExport::renderInteractively(*this);
        break;
    case FrameAction:
        frameModel();
        break;
    case FitGraftalScaleAction:
        fitGraftalScale();
        break;
    default:
        break;
    }
    // Loading a model or a state file starts a new history.
    announceHistory();
    prepareEraserSoon();
}

void GLRender::prepareEraserSoon()
{
    if (mouseMode != EraseMode)
        return;
    QTimer::singleShot(0, this, [this] {
        if (mouseMode == EraseMode && theScene->loaded() && !theScene->strokeRunning())
            theScene->prepareEraser();
    });
}

void GLRender::announceHistory()
{
    emit sceneStatusChanged();
    const int canUndo = theScene->canUndo(), canRedo = theScene->canRedo();
    if (canUndo != announcedUndo) {
        announcedUndo = canUndo;
        emit undoAvailable(canUndo);
    }
    if (canRedo != announcedRedo) {
        announcedRedo = canRedo;
        emit redoAvailable(canRedo);
    }
}

void GLRender::setBrushRadius(int pixels)
{
    radius = std::clamp(pixels, 1, Scene::MaxBrushRadius);
    updateCursor();
}

void GLRender::setSprayRate(int graftals)
{
    rate = std::clamp(graftals, 1, Scene::MaxSprayRate);
}

void GLRender::stepHistory(bool forward)
{
    if (forward ? theScene->redo() : theScene->undo())
        update();
    announceHistory();
}

void GLRender::setGraftalScale(double scale)
{
    if (!(scale > 0.0) || !std::isfinite(scale) || scale == theScene->style.graftalScale)
        return;
    theScene->style.graftalScale = scale;
    update();
}

void GLRender::fitGraftalScale()
{
    // Graftal sizes are in the model's own units, before the view's normalization.
    const float largest = std::max({theScene->extent[0], theScene->extent[1], theScene->extent[2]});
    if (!theScene->loaded() || !(largest > 0.0f) || !std::isfinite(largest))
        return;
    setGraftalScale(FittedShare * double(largest));
    emit styleShown();
}

void GLRender::frameModel()
{
    if (!theScene->loaded() || theScene->strokeRunning() || drag != NoDrag || orbit.active())
        return;
    OrbitDrag::frame(*theScene);
    refreshPicking();
    update();
}
