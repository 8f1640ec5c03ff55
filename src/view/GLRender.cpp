#include "GLRender.h"

#include "Graftal.h"
#include "Logger.h"
#include "ModelLoadController.h"
#include "Scene.h"
#include "SceneSession.h"
#include "ViewLooks.h"

#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>
#include <cmath>

namespace {
constexpr double PixelsPerUnit = 6.0;
} // namespace

GLRender::GLRender(QWidget *parent)
    : QOpenGLWidget(parent), logger(std::make_unique<Logger>(QStringLiteral("app.gl.render"))),
      theScene(std::make_unique<Scene>()), sceneRenderer(std::make_unique<SceneRenderer>())
{
    hint = makeEmptyViewHint(this);
    frameShade = makeRenderFrameShade(this, [this] { return renderFrame(); });
    loader = std::make_unique<ModelLoadController>(*this, *theScene);
    connect(loader.get(), &ModelLoadController::started, this, &GLRender::updateCursor);
    connect(loader.get(), &ModelLoadController::modelInstalled, this, [this] {
        updateHint();
        update();
    });
    connect(loader.get(), &ModelLoadController::pickingDue, this, &GLRender::refreshPicking);
    connect(loader.get(), &ModelLoadController::finished, this, &GLRender::modelLoadEnded);
    smoothing = std::make_unique<SmoothShading>(*this, *theScene);
    pickStepTimer = new QTimer(this);
    pickStepTimer->setInterval(0);
    connect(pickStepTimer, &QTimer::timeout, this, &GLRender::stepPicking);
    frameStepTimer = new QTimer(this);
    frameStepTimer->setInterval(0);
    connect(frameStepTimer, &QTimer::timeout, this, &GLRender::stepFrame);
    updateCursor();
}

GLRender::~GLRender()
{
    // A running load is stopped and waited for: its reader is killed at once.
    loader.reset();
    smoothing.reset();
    // OpenGL names can only be deleted with their context current.
    makeCurrent();
    theScene.reset();
    sceneRenderer.reset();
    doneCurrent();
}

void GLRender::setSession(SceneSession *scenes)
{
    if (session)
        session->disconnect(this);
    session = scenes;
    if (!session)
        return;
    connect(session, &SceneSession::historyChanged, this, &GLRender::announceHistory);
    connect(session, &SceneSession::statusMessage, this, &GLRender::statusMessage);
    connect(session, &SceneSession::sceneChanged, this, [this] { update(); });
    connect(session, &SceneSession::viewRestored, this, [this] {
        // A model just installed gets its pick picture after its first frame anyway.
        if (!theScene->pickPicture().rgb.empty())
            refreshPicking();
        emit styleShown();
        update();
    });
    connect(session, &QObject::destroyed, this, [this] { session = nullptr; });
}

QPoint GLRender::toDevicePixels(const QPoint &widgetPos) const
{
    const double ratio = devicePixelRatioF();
    return {int(std::floor(widgetPos.x() * ratio)), int(std::floor(widgetPos.y() * ratio))};
}

void GLRender::updateCursor()
{
    // The pointer tells that a model is on its way, or what a drag will do.
    if (loadingModel())
        setCursor(Qt::BusyCursor);
    else if (brushMode())
        setCursor(brushCursor(radius, devicePixelRatioF(), mouseMode == EraseMode));
    else if (mouseMode == DensityMode)
        setCursor(Qt::SizeVerCursor);
    else
        setCursor(drag == NoDrag && !orbit.active() ? Qt::OpenHandCursor : Qt::ClosedHandCursor);
}

void GLRender::updateHint()
{
    hint->setVisible(!theScene->loaded());
    hint->setGeometry(rect());
}

void GLRender::resizeEvent(QResizeEvent *event)
{
    QOpenGLWidget::resizeEvent(event);
    updateHint();
    frameShade->setGeometry(rect());
}

void GLRender::initializeGL()
{
    QString problem;
    gl2 = sceneRenderer->initialize(problem);
    initialized = true;
    if (!gl2) {
        logger->error(problem);
        // Shown once the set-up is over, not from inside it.
        QMetaObject::invokeMethod(this, &GLRender::showFailure, Qt::QueuedConnection);
        return;
    }
    if (!shaderLog().isEmpty())
        logger->error(QStringLiteral("the fragment shader: %1").arg(shaderLog()));
    theScene->setGlReady(true);
    sceneRenderer->prepareTextures(*theScene);
}

void GLRender::showFailure()
{
    QMessageBox::critical(
        this, QStringLiteral("Failure"),
        QStringLiteral("Your system doesn't seem to support OpenGL 2.0 which is needed "
                       "to run this application."),
        QMessageBox::Ok);
}

void GLRender::resizeGL(int w, int h)
{
    QMutexLocker lock(&paintMutex);
    const double ratio = devicePixelRatioF();
    theScene->viewportWidth = std::max(1, int(std::lround(w * ratio)));
    theScene->viewportHeight = std::max(1, int(std::lround(h * ratio)));
    if (inSteps())
        pickStepTimer->start();
    else
        sceneRenderer->refreshPicking(*theScene);
}

bool GLRender::inSteps() const
{
    return gl2 && size_t(theScene->faceCount()) > 2 * facesPerStep;
}

bool GLRender::drawingInSteps() const
{
    return pickStepTimer->isActive() || frameStepTimer->isActive() || sceneRenderer->stepping() ||
           steppedCamera.has_value();
}

namespace {
bool sameView(const Camera &a, const Camera &b, int width, int height)
{
    const Matrix4 views[4] = {a.modelView(), b.modelView(), a.projection(width, height),
                              b.projection(width, height)};
    return std::equal(views[0].data(), views[0].data() + 16, views[1].data()) &&
           std::equal(views[2].data(), views[2].data() + 16, views[3].data());
}
} // namespace

void GLRender::paintGL()
{
    QMutexLocker lock(&paintMutex);
    smoothing->follow();
    sceneRenderer->prepareTextures(*theScene);
    // A drag shows its whole displacement so far; the scene's eye follows it.
    const double dx = delta.x() / PixelsPerUnit, dy = delta.y() / PixelsPerUnit;
    const bool dragging = theScene->loaded() && drag != NoDrag;
    const Camera shown = !dragging          ? theScene->camera()
                         : drag == MoveDrag ? theScene->previewMove(dx, dy)
                                            : theScene->previewTurn(dx, dy);
    RenderSettings settings = settingsOf(theScene->style, ViewSamples);
    settings.pickPicture = (flags & SceneRenderer::ShowPickBuffer) != 0;
    settings.showAllGraftals = showAllGraftals;
    const int w = theScene->viewportWidth, h = theScene->viewportHeight;
    if (inSteps() && !cannotStep && !settings.pickPicture) {
        // A frame under way keeps the camera it began with and is drawn by a timer, a share
        // a turn; the last whole frame shows until it is done, then the view as it is now
        // follows.
        if (!steppedCamera)
            steppedCamera = shown;
        const Camera drawn = *steppedCamera;
        if (!sceneRenderer->stepFrame(*theScene, drawn, settings, w, h, 0)) {
            sceneRenderer->showFinishedFrame(*theScene, w, h);
            frameStepTimer->start();
            return;
        }
        steppedCamera.reset();
        sceneRenderer->drawFinished(*theScene, drawn, settings, w, h);
        sceneRenderer->keepFinishedFrame(w, h);
        if (!sameView(drawn, shown, w, h))
            QTimer::singleShot(0, this, [this] { update(); });
    } else {
        steppedCamera.reset();
        sceneRenderer->dropSteppedFrame();
        sceneRenderer->drawFinished(*theScene, shown, settings, w, h);
    }
    ++finishedFrames;
    if (gl2 && theScene->loaded() && !settings.pickPicture)
        theScene->recordEye();
}

void GLRender::stepFrame()
{
    if (!steppedCamera) {
        frameStepTimer->stop();
        return;
    }
    RenderSettings settings = settingsOf(theScene->style, ViewSamples);
    makeCurrent();
    const bool done = sceneRenderer->stepFrame(*theScene, *steppedCamera, settings,
                                               theScene->viewportWidth, theScene->viewportHeight,
                                               facesPerStep);
    // Steps that end without the frame (no target for them here) leave frames whole.
    cannotStep = done && !sceneRenderer->stepFrame(*theScene, *steppedCamera, settings,
                                                   theScene->viewportWidth,
                                                   theScene->viewportHeight, 0);
    doneCurrent();
    if (done) {
        frameStepTimer->stop();
        update();
    }
}

void GLRender::stepPicking()
{
    // The frame goes first: the picture of face ids waits for it.
    if (steppedCamera)
        return;
    makeCurrent();
    const bool done = sceneRenderer->stepPicking(*theScene, facesPerStep);
    doneCurrent();
    if (done)
        pickStepTimer->stop();
}

void GLRender::refreshPicking()
{
    if (!gl2)
        return;
    if (inSteps()) {
        pickStepTimer->start();
        return;
    }
    makeCurrent();
    sceneRenderer->refreshPicking(*theScene);
    doneCurrent();
}

void GLRender::modelLoadEnded(bool loaded)
{
    updateCursor();
    // A new model starts a new history.
    announceHistory();
    emit modelLoadFinished(loaded);
}

void GLRender::finishStroke()
{
    theScene->endStroke();
    announceHistory();
}

void GLRender::currentGraftalChanged(Graftal *g)
{
    theScene->setCurrentGraftal(g);
    announceCounts();
    prepareEraserSoon();
    // A graftal without textures would paint as black squares.
    if (g)
        refreshTextures();
}

void GLRender::removeInstancesOf(Graftal *g)
{
    const bool gone = theScene->removeInstancesOf(g) > 0;
    // The history may have lost steps even when nothing was painted.
    announceHistory();
    if (gone) {
        prepareEraserSoon();
        update();
    }
}

void GLRender::bindTexturesForGraftal(Graftal *g)
{
    // Made again now if it is shown or about to be painted, else when it is.
    if (g)
        sceneRenderer->textures().markStale(g);
    if (g && SceneRenderer::inUse(*theScene, g))
        refreshTextures();
}

void GLRender::refreshTextures()
{
    if (!initialized || !gl2)
        return;
    makeCurrent();
    sceneRenderer->prepareTextures(*theScene);
    doneCurrent();
    update();
}

void GLRender::brushUnder(const QPoint &widgetPos, Qt::KeyboardModifiers modifiers)
{
    const QPoint device = toDevicePixels(widgetPos);
    if (!theScene->strokeRunning())
        theScene->beginStroke();
    if (mouseMode == PaintMode)
        theScene->sprayAt(device.x(), device.y(), radius, rate);
    else if (mouseMode == DensityBrushMode) {
        const bool thin = modifiers & Qt::ShiftModifier;
        if (theScene->paintDensityAt(device.x(), device.y(), radius, density, thin) == 0)
            return;
    } else if (theScene->eraseAt(device.x(), device.y(), radius) == 0)
        return;
    update();
}

void GLRender::mousePressEvent(QMouseEvent *event)
{
    if (!theScene->loaded())
        return;
    setFocus(Qt::MouseFocusReason);
    const QPoint pos = event->position().toPoint();
    // A second press never abandons a stroke in progress: it ends cleanly first.
    if (theScene->strokeRunning())
        finishStroke();
    pressPos = pos;
    delta = QPoint(0, 0);
    if (mouseMode == CameraMode) {
        if (event->button() == Qt::LeftButton)
            drag = RotateDrag;
        else if (event->button() == Qt::RightButton)
            drag = MoveDrag;
        updateCursor();
    } else if (mouseMode == OrbitMode) {
        orbit.press(*theScene, event->button(), toDevicePixels(pos));
        updateCursor();
    } else if (brushMode()) {
        brushUnder(pos, event->modifiers());
    } else if (mouseMode == DensityMode) {
        const QPoint device = toDevicePixels(pos);
        theScene->beginStroke();
        theScene->beginDensityStroke(theScene->pickFace(device.x(), device.y()));
    }
}

void GLRender::mouseMoveEvent(QMouseEvent *event)
{
    if (!theScene->loaded())
        return;
    const QPoint pos = event->position().toPoint();
    delta = pos - pressPos;
    if (brushMode())
        brushUnder(pos, event->modifiers());
    else if (mouseMode == DensityMode)
        theScene->updateDensityStroke(pressPos.y() - pos.y());
    else if (mouseMode == OrbitMode)
        orbit.move(*theScene, toDevicePixels(pos));
    if (mouseMode == CameraMode || mouseMode == DensityMode || mouseMode == OrbitMode)
        update();
}

void GLRender::mouseReleaseEvent(QMouseEvent *)
{
    if (!theScene->loaded())
        return;
    if (mouseMode == CameraMode) {
        if (drag == RotateDrag)
            theScene->commitRotation(delta.x() / PixelsPerUnit, delta.y() / PixelsPerUnit);
        else if (drag == MoveDrag)
            theScene->commitTranslation(delta.x() / PixelsPerUnit, delta.y() / PixelsPerUnit, 0.0);
        drag = NoDrag;
        refreshPicking();
        updateCursor();
    } else if (mouseMode == OrbitMode) {
        if (orbit.release())
            refreshPicking();
        updateCursor();
    } else {
        finishStroke();
    }
    delta = QPoint(0, 0);
    prepareEraserSoon();
}

void GLRender::wheelEvent(QWheelEvent *event)
{
    if (mouseMode == CameraMode) {
        theScene->commitTranslation(0.0, 0.0, event->angleDelta().y() * 0.125);
        refreshPicking();
    } else if (mouseMode == OrbitMode && theScene->loaded()) {
        OrbitDrag::wheel(*theScene, event->angleDelta().y());
        refreshPicking();
    }
    update();
    prepareEraserSoon();
}

void GLRender::keyPressEvent(QKeyEvent *event)
{
    const bool control = event->modifiers() & Qt::ControlModifier;
    if (event->key() == Qt::Key_F1)
        flags = flags == 0 ? SceneRenderer::ShowPickBuffer : 0;
    else if (event->key() == Qt::Key_F2)
        theScene->toggleAxes();
    else if (event->key() == Qt::Key_F3)
        theScene->toggleTrail();
    else if (event->key() == Qt::Key_Home)
        frameModel();
    else if (event->key() == Qt::Key_S && !event->isAutoRepeat() &&
             !(event->modifiers() & ~Qt::KeypadModifier))
        setShowAllGraftals(!showAllGraftals);
    // Ctrl+Z undoes the last stroke; Ctrl+Shift+Z and Ctrl+Y redo it.
    else if (control && event->key() == Qt::Key_Z && !(event->modifiers() & Qt::ShiftModifier))
        undoSceneChange();
    else if (control && (event->key() == Qt::Key_Y || event->key() == Qt::Key_Z))
        redoSceneChange();
    if (event->key() >= Qt::Key_F1 && event->key() <= Qt::Key_F3)
        update();
    // The view keeps every key it receives.
    event->accept();
}

void GLRender::keyReleaseEvent(QKeyEvent *event)
{
    event->accept();
}
