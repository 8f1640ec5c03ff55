#include <GL/glew.h>

#include "GLRender.h"

#include "GlObjects.h"
#include "GlSetup.h"
#include "Graftal.h"
#include "Logger.h"
#include "ModelLoadController.h"
#include "Scene.h"
#include "SceneSession.h"

#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QSurfaceFormat>
#include <QTimer>
#include <QWheelEvent>
#include <cmath>
#include <unordered_map>

namespace {
constexpr double PixelsPerUnit = 6.0;
} // namespace

struct GLRender::GlResources
{
    GlShader shader;
    GlProgram program;
    GlTexture newTexture;
    // The two textures (levels, masks) of every graftal uploaded so far.
    std::unordered_map<Graftal *, std::pair<GlTexture, GlTexture>> graftalTextures;
};

void GLRender::setDefaultSurfaceFormat()
{
    QSurfaceFormat format;
    format.setAlphaBufferSize(8);
    format.setDepthBufferSize(24);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    QSurfaceFormat::setDefaultFormat(format);
}

void GLRender::simulateMissingOpenGl2ForTests(bool missing)
{
    glsetup::simulateMissingOpenGl2(missing);
}

GLRender::GLRender(QWidget *parent)
    : QOpenGLWidget(parent), logger(std::make_unique<Logger>(QStringLiteral("app.gl.render"))),
      theScene(std::make_unique<Scene>()), resources(std::make_unique<GlResources>())
{
    hint = new QLabel(QStringLiteral("Open a 3DS model with \"Open 3DS file\" below,\n"
                                     "then paint the selected graftal onto it."),
                      this);
    hint->setAlignment(Qt::AlignCenter);
    hint->setStyleSheet(QStringLiteral("color: #606060; background: transparent;"));
    hint->setAttribute(Qt::WA_TransparentForMouseEvents);
    loader = std::make_unique<ModelLoadController>(*this, *theScene);
    loader->askBeforeReplacing = [this](const QString &fileName) {
        return settleUnsavedScene(QStringLiteral("opening %1").arg(fileName));
    };
    connect(loader.get(), &ModelLoadController::modelInstalled, this, [this] {
        updateHint();
        update();
    });
    connect(loader.get(), &ModelLoadController::pickingDue, this, &GLRender::refreshPicking);
    connect(loader.get(), &ModelLoadController::finished, this, &GLRender::modelLoadEnded);
    session = std::make_unique<SceneSession>(*theScene, *loader, *this);
    connect(session.get(), &SceneSession::historyChanged, this, &GLRender::announceHistory);
    connect(session.get(), &SceneSession::statusMessage, this, &GLRender::statusMessage);
    connect(session.get(), &SceneSession::sceneReplaced, this, [this] { update(); });
    updateCursor();
}

GLRender::~GLRender()
{
    // A running load is stopped and waited for: its reader is killed at once.
    session.reset();
    loader.reset();
    // OpenGL names can only be deleted with their context current.
    makeCurrent();
    theScene.reset();
    resources.reset();
    doneCurrent();
}

QPoint GLRender::toDevicePixels(const QPoint &widgetPos) const
{
    const double ratio = devicePixelRatioF();
    return {int(std::floor(widgetPos.x() * ratio)), int(std::floor(widgetPos.y() * ratio))};
}

void GLRender::updateCursor()
{
    // The pointer tells that a model is on its way, or what a drag will do.
    if (loadingModel()) {
        setCursor(Qt::BusyCursor);
        return;
    }
    switch (mouseMode) {
    case PaintMode:
    case EraseMode: {
        // The brush's circle, as large as it paints; a cross for the smallest brushes.
        const double ratio = devicePixelRatioF();
        const int r = int(std::lround(radius / ratio));
        if (r < 3) {
            setCursor(Qt::CrossCursor);
            break;
        }
        const int side = 2 * r + 3;
        QPixmap ring(side, side);
        ring.fill(Qt::transparent);
        QPainter painter(&ring);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF middle(side / 2.0, side / 2.0);
        painter.setPen(QPen(QColor(0, 0, 0, 200), 3.0));
        painter.drawEllipse(middle, r, r);
        painter.setPen(
            QPen(mouseMode == EraseMode ? QColor(255, 120, 120) : QColor(255, 255, 255), 1.2));
        painter.drawEllipse(middle, r, r);
        painter.drawLine(middle - QPointF(3, 0), middle + QPointF(3, 0));
        painter.drawLine(middle - QPointF(0, 3), middle + QPointF(0, 3));
        painter.end();
        setCursor(QCursor(ring, side / 2, side / 2));
        break;
    }
    case DensityMode:
        setCursor(Qt::SizeVerCursor);
        break;
    default:
        setCursor(drag == NoDrag ? Qt::OpenHandCursor : Qt::ClosedHandCursor);
        break;
    }
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
}

void GLRender::initializeGL()
{
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);

    QString problem;
    gl2 = glsetup::loadEntryPoints(problem);
    initialized = true;
    if (!gl2) {
        logger->error(problem);
        // Shown once the set-up is over, not from inside it.
        QMetaObject::invokeMethod(this, &GLRender::showFailure, Qt::QueuedConnection);
        return;
    }
    loadShader();
    theScene->setGlReady(true);
    // The graftals waiting for textures get them now if shown, else when they are.
    uploadTexturesInUse();
}

void GLRender::showFailure()
{
    QMessageBox::critical(
        this, QStringLiteral("Failure"),
        QStringLiteral("Your system doesn't seem to support OpenGL 2.0 which is needed "
                       "to run this application."),
        QMessageBox::Ok);
}

void GLRender::loadShader()
{
    GLuint shader = 0, program = 0;
    glsetup::buildObjectColorProgram(shader, program, shaderMessages);
    if (!shaderMessages.isEmpty())
        logger->error(QStringLiteral("the fragment shader: %1").arg(shaderMessages));
    resources->shader = GlShader(shader);
    resources->program = GlProgram(program);
}

void GLRender::resizeGL(int w, int h)
{
    QMutexLocker lock(&paintMutex);
    const double ratio = devicePixelRatioF();
    const int width = std::max(1, int(std::lround(w * ratio)));
    const int height = std::max(1, int(std::lround(h * ratio)));
    glViewport(0, 0, width, height);
    Scene::loadPerspective(width, height);
    theScene->viewportWidth = width;
    theScene->viewportHeight = height;
    if (gl2)
        theScene->refreshPickBuffer();
}

void GLRender::paintGL()
{
    QMutexLocker lock(&paintMutex);
    uploadTexturesInUse();
    if (!gl2 || !theScene->loaded()) {
        const QColor c = theScene->background;
        glClearColor(float(c.redF()), float(c.greenF()), float(c.blueF()), 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        return;
    }
    theScene->clearView(false);
    if (drag == RotateDrag)
        theScene->rotateCamera(delta.x() / PixelsPerUnit, delta.y() / PixelsPerUnit);
    else
        theScene->applyCameraRotation();
    if (drag == MoveDrag)
        theScene->translateCamera(delta.x() / PixelsPerUnit, delta.y() / PixelsPerUnit, 0.0);
    else
        theScene->applyCameraTranslation();
    theScene->render(flags);
}

void GLRender::refreshPicking()
{
    if (!gl2)
        return;
    makeCurrent();
    theScene->refreshPickBuffer();
    doneCurrent();
}

bool GLRender::loadingModel() const
{
    return loader->loading();
}

QProgressDialog *GLRender::loadProgressDialog() const
{
    return loader->progressDialog();
}

void GLRender::loadModelInBackground(const QString &path)
{
    loader->load(path);
    updateCursor();
}

void GLRender::cancelModelLoad()
{
    loader->cancel();
}

void GLRender::modelLoadEnded(bool loaded)
{
    updateCursor();
    // A new model starts a new history.
    announceHistory();
    emit modelLoadFinished(loaded);
}

bool GLRender::settleUnsavedScene(const QString &when, bool quietly,
                                  const std::function<bool()> &ended)
{
    return session->settleUnsavedScene(when, quietly, ended);
}

bool GLRender::openModel(const QString &path)
{
    bool loaded = false;
    QEventLoop waiting;
    const QMetaObject::Connection done =
        connect(this, &GLRender::modelLoadFinished, &waiting, [&](bool ok) {
            loaded = ok;
            waiting.quit();
        });
    loadModelInBackground(path);
    waiting.exec();
    disconnect(done);
    return loaded;
}

void GLRender::newTexture(QPixmap *pixmap)
{
    if (!pixmap || !gl2)
        return;
    makeCurrent();
    resources->newTexture = GlTexture(genTexture());
    const QImage image = pixmap->toImage().convertToFormat(QImage::Format_RGBA8888).mirrored();
    glBindTexture(GL_TEXTURE_2D, resources->newTexture.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width(), image.height(), 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, image.constBits());
    doneCurrent();
    update();
}

void GLRender::dispatchAction(QAction *action)
{
    // A stroke whose release never came (a dialog took the pointer) ends before any tool.
    if (theScene->strokeRunning())
        finishStroke();
    switch (action->data().toInt()) {
    case 1: {
        const QString name =
            QFileDialog::getOpenFileName(nullptr, QStringLiteral("Open 3DS model"), QString(),
                                         QStringLiteral("3DS files (*.3ds)"));
        // A new model takes the painted graftals with it.
        if (!name.isEmpty() &&
            settleUnsavedScene(QStringLiteral("opening %1").arg(QFileInfo(name).fileName()))) {
            loadModelInBackground(name);
            loader->rememberQuestionAt(theScene->stateId());
        }
        break;
    }
    case CameraMode:
    case PaintMode:
    case DensityMode:
    case EraseMode:
        if (theScene->strokeRunning())
            finishStroke();
        mouseMode = action->data().toInt();
        action->setChecked(true);
        updateCursor();
        break;
    case 5: {
        const QColor color = QColorDialog::getColor(Qt::white, nullptr);
        // A cancelled dialog keeps the colour there was.
        if (color.isValid()) {
            if (color != theScene->background)
                theScene->markChanged();
            theScene->background = color;
            update();
        }
        break;
    }
    case 6:
        session->saveSceneInteractively();
        break;
    case 7:
        session->reloadSceneInteractively();
        break;
    case UndoAction:
        undoSceneChange();
        break;
    case RedoAction:
        redoSceneChange();
        break;
    case ExportAction:
        exportInteractively();
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

void GLRender::undoSceneChange()
{
    if (theScene->undo())
        update();
    announceHistory();
}

void GLRender::redoSceneChange()
{
    if (theScene->redo())
        update();
    announceHistory();
}

void GLRender::finishStroke()
{
    theScene->endStroke();
    announceHistory();
}

void GLRender::exportInteractively()
{
    const QString title = QStringLiteral("Export image");
    if (!theScene->loaded() || !gl2) {
        QMessageBox::warning(
            this, title, QStringLiteral("There is nothing to export yet: open a 3DS file first."));
        return;
    }
    const QString suggested = QFileInfo(theScene->modelPath()).baseName() + QStringLiteral(".png");
    QString name = QFileDialog::getSaveFileName(nullptr, title, suggested,
                                                QStringLiteral("PNG images (*.png)"));
    if (name.isEmpty())
        return;
    if (QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".png");
    QString error;
    if (!exportImage(name, error))
        QMessageBox::critical(
            this, title,
            QStringLiteral("The image could not be exported to %1:\n%2").arg(name, error));
}

bool GLRender::exportImage(const QString &path, QString &error)
{
    if (!gl2 || !theScene->loaded()) {
        error = QStringLiteral("there is no model to draw");
        return false;
    }
    makeCurrent();
    uploadTexturesInUse();
    const QImage image =
        theScene->renderImage(theScene->viewportWidth * 2, theScene->viewportHeight * 2, error);
    doneCurrent();
    if (image.isNull()) {
        logger->warn(QStringLiteral("no picture for %1: %2").arg(path, error));
        return false;
    }
    if (!Scene::writePng(image, path, error)) {
        logger->warn(QStringLiteral("cannot write %1: %2").arg(path, error));
        return false;
    }
    return true;
}

void GLRender::currentGraftalChanged(Graftal *g)
{
    theScene->setCurrentGraftal(g);
    prepareEraserSoon();
    // A graftal that was never uploaded would paint as black squares.
    if (g && (g->textureIds[0] == 0 || pendingUploads.contains(g)))
        bindTexturesForGraftal(g);
}

bool GLRender::textureInUse(const Graftal *g) const
{
    if (g == theScene->currentGraftal())
        return true;
    for (const auto &[key, list] : theScene->instancesByKey())
        if (key.second == int(g->id()) && !list.empty() && list.front()->graftal() == g)
            return true;
    return false;
}

void GLRender::bindTexturesForGraftal(Graftal *g)
{
    if (!g)
        return;
    // Textures are made from every level of a graftal: only for the graftals that are
    // shown or about to be painted, so that a large library costs nothing until used.
    if (!initialized || !textureInUse(g)) {
        pendingUploads.insert(g);
        return;
    }
    if (!gl2)
        return;
    pendingUploads.remove(g);
    makeCurrent();
    uploadGraftal(g);
    doneCurrent();
    update();
}

void GLRender::uploadTexturesInUse()
{
    if (pendingUploads.isEmpty() || !gl2)
        return;
    QSet<const Graftal *> shown;
    for (const auto &[key, list] : theScene->instancesByKey())
        if (!list.empty())
            shown.insert(list.front()->graftal());
    for (auto it = pendingUploads.begin(); it != pendingUploads.end();) {
        Graftal *g = *it;
        if (g == theScene->currentGraftal() || shown.contains(g)) {
            uploadGraftal(g);
            it = pendingUploads.erase(it);
        } else {
            ++it;
        }
    }
}

void GLRender::uploadGraftal(Graftal *g)
{
    auto &names = resources->graftalTextures[g];
    if (g->textureIds[0] == 0 || !names.first) {
        names.first = GlTexture(genTexture());
        names.second = GlTexture(genTexture());
        g->textureIds[0] = names.first.get();
        g->textureIds[1] = names.second.get();
    }
    glsetup::uploadGraftalTextures(g);
}

void GLRender::paintUnder(const QPoint &widgetPos)
{
    const QPoint device = toDevicePixels(widgetPos);
    if (!theScene->strokeRunning())
        theScene->beginStroke();
    theScene->sprayAt(device.x(), device.y(), radius, rate);
    update();
}

void GLRender::eraseUnder(const QPoint &widgetPos)
{
    const QPoint device = toDevicePixels(widgetPos);
    if (!theScene->strokeRunning())
        theScene->beginStroke();
    if (theScene->eraseAt(device.x(), device.y(), radius) > 0)
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
    switch (mouseMode) {
    case CameraMode:
        if (event->button() == Qt::LeftButton)
            drag = RotateDrag;
        else if (event->button() == Qt::RightButton)
            drag = MoveDrag;
        if (drag != NoDrag) {
            pressPos = pos;
            delta = QPoint(0, 0);
        }
        updateCursor();
        break;
    case PaintMode:
        paintUnder(pos);
        break;
    case EraseMode:
        eraseUnder(pos);
        break;
    case DensityMode: {
        const QPoint device = toDevicePixels(pos);
        theScene->beginStroke();
        theScene->beginDensityStroke(theScene->pickFace(device.x(), device.y()));
        pressPos = pos;
        delta = QPoint(0, 0);
        break;
    }
    default:
        break;
    }
}

void GLRender::mouseMoveEvent(QMouseEvent *event)
{
    if (!theScene->loaded())
        return;
    const QPoint pos = event->position().toPoint();
    delta = pos - pressPos;
    switch (mouseMode) {
    case CameraMode:
        update();
        break;
    case PaintMode:
        paintUnder(pos);
        break;
    case EraseMode:
        eraseUnder(pos);
        break;
    case DensityMode:
        theScene->updateDensityStroke(pressPos.y() - pos.y());
        update();
        break;
    default:
        break;
    }
}

void GLRender::mouseReleaseEvent(QMouseEvent *)
{
    if (!theScene->loaded())
        return;
    switch (mouseMode) {
    case CameraMode:
        if (drag == RotateDrag)
            theScene->commitRotation(delta.x() / PixelsPerUnit, delta.y() / PixelsPerUnit);
        else if (drag == MoveDrag)
            theScene->commitTranslation(delta.x() / PixelsPerUnit, delta.y() / PixelsPerUnit, 0.0);
        delta = QPoint(0, 0);
        drag = NoDrag;
        refreshPicking();
        updateCursor();
        break;
    case DensityMode:
        finishStroke();
        delta = QPoint(0, 0);
        break;
    case PaintMode:
    case EraseMode:
        finishStroke();
        break;
    default:
        break;
    }
    prepareEraserSoon();
}

void GLRender::wheelEvent(QWheelEvent *event)
{
    if (mouseMode == CameraMode) {
        theScene->commitTranslation(0.0, 0.0, event->angleDelta().y() * 0.125);
        refreshPicking();
    }
    update();
    prepareEraserSoon();
}

void GLRender::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_F1:
        flags = flags == 0 ? 2 : 0;
        update();
        break;
    case Qt::Key_F2:
        theScene->toggleAxes();
        update();
        break;
    case Qt::Key_F3:
        theScene->toggleTrail();
        update();
        break;
    case Qt::Key_Z:
    case Qt::Key_Y:
        // Ctrl+Z undoes the last stroke; Ctrl+Shift+Z and Ctrl+Y redo it.
        if (event->modifiers() & Qt::ControlModifier) {
            const bool again =
                event->key() == Qt::Key_Y || (event->modifiers() & Qt::ShiftModifier);
            again ? redoSceneChange() : undoSceneChange();
        }
        break;
    default:
        break;
    }
    // The view keeps every key it receives.
    event->accept();
}

void GLRender::keyReleaseEvent(QKeyEvent *event)
{
    event->accept();
}
