// The view toolbar's actions and what they change beside the camera drags: modes, the
// brush, the scene's history, the graftal scale and framing.
#include "GLRender.h"

#include "Framing.h"
#include "ImageExport.h"
#include "Scene.h"
#include "SceneSession.h"
#include "TurntableExport.h"

#include <QAction>
#include <QLocale>
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
    case DensityBrushMode:
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
    announceCounts();
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

void GLRender::setBrushDensity(double graftalsPerUnit)
{
    if (std::isfinite(graftalsPerUnit))
        density = std::clamp(graftalsPerUnit, 0.0, MaxBrushDensity);
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
    const double scale = graftalfit::fitted(theScene->extent);
    if (!theScene->loaded() || !(scale > 0.0))
        return;
    setGraftalScale(scale);
    emit styleShown();
    emit statusMessage(graftalfit::message(scale));
}

void GLRender::frameModel()
{
    if (!theScene->loaded() || theScene->strokeRunning() || drag != NoDrag || orbit.active())
        return;
    // Within the render frame while it is shown, so that a turntable shows the model whole.
    const QSize frame = renderFrame().isEmpty()
                            ? QSize(theScene->viewportWidth, theScene->viewportHeight)
                            : renderFrameSize;
    makeCurrent();
    Camera framed = framing::showingModel(*sceneRenderer, *theScene,
                                          pictureCamera(frame.width(), frame.height()),
                                          frame.width(), frame.height());
    doneCurrent();
    framed.narrowing = 1.0;
    theScene->setCamera(framed);
    refreshPicking();
    update();
}

void GLRender::setUpAxis(UpAxis up)
{
    if (up == theScene->style.up || theScene->strokeRunning() || drag != NoDrag || orbit.active())
        return;
    theScene->style.up = up;
    if (!theScene->loaded())
        return;
    // Stood anew, the model is seen from the front of its new stance.
    theScene->resetCamera();
    frameModel();
}

void GLRender::setTwoSided(bool on)
{
    if (on == theScene->style.twoSided)
        return;
    theScene->style.twoSided = on;
    refreshPicking();
    update();
}

Camera GLRender::pictureCamera(int width, int height) const
{
    return theScene->camera().forPicture(theScene->viewportWidth, theScene->viewportHeight, width,
                                         height);
}

QRect GLRender::renderFrame() const
{
    if (!(renderFrameToggled || renderFrameHolds > 0) || renderFrameSize.isEmpty())
        return {};
    // The largest rectangle of the picture's aspect, centred in the view.
    const QSize fitted = renderFrameSize.scaled(size(), Qt::KeepAspectRatio);
    return {QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted};
}

void GLRender::setRenderFrameShown(bool shown)
{
    renderFrameToggled = shown;
    frameShade->update();
}

void GLRender::holdRenderFrame(bool held)
{
    renderFrameHolds = std::max(0, renderFrameHolds + (held ? 1 : -1));
    frameShade->update();
}

void GLRender::setRenderFrameSize(const QSize &pictureSize)
{
    if (pictureSize.isEmpty())
        return;
    renderFrameSize = pictureSize;
    frameShade->update();
}

void GLRender::setShowAllGraftals(bool on)
{
    if (on == showAllGraftals)
        return;
    showAllGraftals = on;
    emit showAllGraftalsChanged(on);
    update();
}

QString GLRender::graftalCountLine() const
{
    if (!theScene->loaded())
        return {};
    const QLocale english(QLocale::English);
    const int total = theScene->instanceCount();
    QString line = english.toString(total) +
                   (total == 1 ? QStringLiteral(" graftal") : QStringLiteral(" graftals"));
    if (const Graftal *g = theScene->currentGraftal())
        line += QStringLiteral(", %1 of %2")
                    .arg(english.toString(theScene->instanceCountOf(g)), g->name());
    return line;
}

void GLRender::announceCounts()
{
    emit graftalCountsChanged(graftalCountLine());
}
