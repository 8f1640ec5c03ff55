#include <GL/glew.h>

#include "GLRender.h"

#include "GlObjects.h"
#include "Graftal.h"
#include "Logger.h"
#include "ModelLoadTask.h"
#include "Scene.h"

#include <GL/glu.h>
#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QSurfaceFormat>
#include <QTimer>
#include <QWheelEvent>
#include <cmath>
#include <unordered_map>

namespace {
bool missingOpenGl2ForTests = false;
constexpr int MipmapLevels = 9; // 256 x 256 down to 1 x 1
constexpr double PixelsPerUnit = 6.0;
// A load that takes longer than this shows its progress.
constexpr int ProgressDelayMs = 500;
constexpr int ProgressIntervalMs = 100;
// How much of a model's arrays goes to OpenGL per turn of the event loop.
constexpr size_t UploadSliceBytes = size_t(16) << 20;
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
    missingOpenGl2ForTests = missing;
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
    progressTimer = new QTimer(this);
    progressTimer->setInterval(ProgressIntervalMs);
    connect(progressTimer, &QTimer::timeout, this, &GLRender::showLoadProgress);
    uploadTimer = new QTimer(this);
    uploadTimer->setInterval(0);
    connect(uploadTimer, &QTimer::timeout, this, &GLRender::uploadStagedModel);
    updateCursor();
}

GLRender::~GLRender()
{
    // A running load is stopped and waited for: its reader is killed at once.
    delete std::exchange(loadTask, nullptr);
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
        setCursor(Qt::CrossCursor);
        break;
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

    const GLenum status = glewInit();
    // Under an EGL context GLEW reports that it found no GLX display although every
    // entry point loaded; only the version decides.
    const bool glewUsable = status == GLEW_OK || status == GLEW_ERROR_NO_GLX_DISPLAY;
    gl2 = glewUsable && GLEW_VERSION_2_0 && !missingOpenGl2ForTests;
    initialized = true;
    if (!gl2) {
        logger->error(
            QStringLiteral("OpenGL 2.0 is not available (GLEW status %1, version %2)")
                .arg(status)
                .arg(QString::fromLatin1(reinterpret_cast<const char *>(glGetString(GL_VERSION)))));
        // Shown once the set-up is over, not from inside it.
        QMetaObject::invokeMethod(this, &GLRender::showFailure, Qt::QueuedConnection);
        return;
    }
    loadShader();
    theScene->setGlReady(true);
    const QSet<Graftal *> waiting = std::exchange(pendingUploads, {});
    for (Graftal *g : waiting)
        uploadGraftal(g);
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
    QFile file(QStringLiteral(":object_color.frag"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        logger->error(QStringLiteral("the fragment shader resource cannot be opened"));
        return;
    }
    const QByteArray source = file.readAll();
    const char *text = source.constData();

    GlShader shader(glCreateShader(GL_FRAGMENT_SHADER));
    glShaderSource(shader.get(), 1, &text, nullptr);
    glCompileShader(shader.get());
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader.get(), GL_COMPILE_STATUS, &compiled);
    auto infoLog = [](GLuint id, bool isProgram) {
        GLint length = 0;
        isProgram ? glGetProgramiv(id, GL_INFO_LOG_LENGTH, &length)
                  : glGetShaderiv(id, GL_INFO_LOG_LENGTH, &length);
        QByteArray log(std::max(length, 1), '\0');
        isProgram ? glGetProgramInfoLog(id, length, nullptr, log.data())
                  : glGetShaderInfoLog(id, length, nullptr, log.data());
        return QString::fromLocal8Bit(log).trimmed();
    };
    if (!compiled) {
        shaderMessages = infoLog(shader.get(), false);
        logger->error(
            QStringLiteral("the fragment shader does not compile: %1").arg(shaderMessages));
    }

    GlProgram program(glCreateProgram());
    glAttachShader(program.get(), shader.get());
    glLinkProgram(program.get());
    GLint linked = GL_FALSE;
    glGetProgramiv(program.get(), GL_LINK_STATUS, &linked);
    if (!linked) {
        const QString log = infoLog(program.get(), true);
        shaderMessages += (shaderMessages.isEmpty() ? QString() : QStringLiteral("\n")) + log;
        logger->error(QStringLiteral("the shader program does not link: %1").arg(log));
    }
    glUseProgram(program.get());
    resources->shader = std::move(shader);
    resources->program = std::move(program);
}

void GLRender::resizeGL(int w, int h)
{
    QMutexLocker lock(&paintMutex);
    const double ratio = devicePixelRatioF();
    const int width = std::max(1, int(std::lround(w * ratio)));
    const int height = std::max(1, int(std::lround(h * ratio)));
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, double(width) / double(height), double(0.1f), 4000.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    theScene->viewportWidth = width;
    theScene->viewportHeight = height;
    if (gl2)
        theScene->refreshPickBuffer();
}

void GLRender::paintGL()
{
    QMutexLocker lock(&paintMutex);
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
    return loadTask != nullptr || uploadTimer->isActive();
}

void GLRender::loadModelInBackground(const QString &path)
{
    if (loadTask) {
        // The load it replaces ends in the background; its result is thrown away.
        ModelLoadTask *old = std::exchange(loadTask, nullptr);
        old->disconnect(this);
        old->cancel();
        connect(old, &ModelLoadTask::finished, old, &QObject::deleteLater);
    }
    if (uploadTimer->isActive()) {
        uploadTimer->stop();
        makeCurrent();
        theScene->discardStagedModel();
        doneCurrent();
    }
    loadingPath = path;
    loadTask = new ModelLoadTask(path, this);
    connect(loadTask, &ModelLoadTask::finished, this, &GLRender::finishModelLoad);
    loadClock.start();
    progressTimer->start();
    updateCursor();
}

void GLRender::cancelModelLoad()
{
    if (loadTask) {
        loadTask->cancel();
    } else if (uploadTimer->isActive()) {
        uploadTimer->stop();
        makeCurrent();
        theScene->discardStagedModel();
        doneCurrent();
        endModelLoad(false);
    }
}

void GLRender::showLoadProgress()
{
    if (!loadingModel() || loadClock.elapsed() < ProgressDelayMs)
        return;
    if (!progress) {
        progress = new QProgressDialog(this);
        progress->setWindowTitle(QStringLiteral("Opening model"));
        progress->setCancelButtonText(QStringLiteral("Cancel"));
        progress->setWindowModality(Qt::NonModal);
        progress->setAutoClose(false);
        progress->setAutoReset(false);
        progress->setMinimumDuration(0);
        progress->setMinimumWidth(420);
        connect(progress, &QProgressDialog::canceled, this, &GLRender::cancelModelLoad);
    }
    const QString file = QFileInfo(loadingPath).fileName();
    if (!loadTask) {
        progress->setLabelText(QStringLiteral("Preparing %1 for drawing...").arg(file));
        progress->setRange(0, 0);
    } else if (loadTask->cancelled()) {
        progress->setLabelText(QStringLiteral("Cancelling the opening of %1...").arg(file));
    } else if (loadTask->stage() == LoadControl::Reading) {
        progress->setLabelText(QStringLiteral("Reading %1...").arg(file));
        progress->setRange(0, 0);
    } else {
        const qint64 total = std::max<qint64>(1, loadTask->faceTotal());
        progress->setLabelText(
            QStringLiteral("Building the %1 triangles of %2...")
                .arg(QLocale(QLocale::English).toString(loadTask->faceTotal()), file));
        // The bar counts in thousandths, whatever the number of triangles.
        progress->setRange(0, 1000);
        progress->setValue(int(std::min<qint64>(1000, loadTask->facesBuilt() * 1000 / total)));
    }
    if (!progress->isVisible())
        progress->show();
}

void GLRender::finishModelLoad()
{
    std::unique_ptr<ModelLoadTask> task(std::exchange(loadTask, nullptr));
    std::unique_ptr<LoadedModel> model = task->takeModel();
    if (model && !task->cancelled()) {
        // The current model stays drawn until the new one is in OpenGL's buffers.
        theScene->stageModel(task->path(), std::move(model));
        uploadTimer->start();
        return;
    }
    if (!task->problem().isEmpty()) {
        logger->warn(QStringLiteral("%1 not loaded: %2").arg(task->path(), task->problem()));
        // The progress goes before the message comes.
        progressTimer->stop();
        if (progress)
            progress->hide();
        QMessageBox::critical(this, QStringLiteral("Error"),
                              Scene::loadError(task->path(), task->problem()), QMessageBox::Ok);
    }
    endModelLoad(false);
}

void GLRender::uploadStagedModel()
{
    makeCurrent();
    const bool complete = theScene->uploadStaged(UploadSliceBytes);
    if (complete)
        theScene->installStaged();
    doneCurrent();
    if (!complete)
        return;
    uploadTimer->stop();
    updateHint();
    update();
    endModelLoad(true);
}

void GLRender::endModelLoad(bool loaded)
{
    progressTimer->stop();
    if (progress)
        progress->hide();
    updateCursor();
    emit modelLoadFinished(loaded);
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
    switch (action->data().toInt()) {
    case 1: {
        const QString name =
            QFileDialog::getOpenFileName(nullptr, QStringLiteral("Open 3DS model"), QString(),
                                         QStringLiteral("3DS files (*.3ds)"));
        if (!name.isEmpty())
            loadModelInBackground(name);
        break;
    }
    case CameraMode:
    case PaintMode:
    case DensityMode:
        mouseMode = action->data().toInt();
        action->setChecked(true);
        updateCursor();
        break;
    case 5: {
        const QColor color = QColorDialog::getColor(Qt::white, nullptr);
        // A cancelled dialog keeps the colour there was.
        if (color.isValid()) {
            theScene->background = color;
            update();
        }
        break;
    }
    case 6:
        if (!theScene->saveState())
            QMessageBox::warning(this, QStringLiteral("Save failed"),
                                 QStringLiteral("The scene could not be saved to %1.")
                                     .arg(theScene->stateFileName()));
        break;
    case 7:
        theScene->loadState();
        update();
        break;
    default:
        break;
    }
}

void GLRender::currentGraftalChanged(Graftal *g)
{
    theScene->setCurrentGraftal(g);
    // A graftal that was never uploaded would paint as black squares.
    if (g && g->textureIds[0] == 0)
        bindTexturesForGraftal(g);
}

void GLRender::bindTexturesForGraftal(Graftal *g)
{
    if (!g)
        return;
    if (!initialized) {
        pendingUploads.insert(g);
        return;
    }
    if (!gl2)
        return;
    makeCurrent();
    uploadGraftal(g);
    doneCurrent();
    update();
}

void GLRender::uploadGraftal(Graftal *g)
{
    if (!glIsEnabled(GL_TEXTURE_2D))
        glEnable(GL_TEXTURE_2D);
    auto &names = resources->graftalTextures[g];
    if (g->textureIds[0] == 0 || !names.first) {
        names.first = GlTexture(genTexture());
        names.second = GlTexture(genTexture());
        g->textureIds[0] = names.first.get();
        g->textureIds[1] = names.second.get();
    }
    const int last = int(g->levels().size()) - 1;
    const double step = last * 0.125 + 0.5;
    for (int unit = 0; unit < 2; ++unit) {
        glActiveTexture(GLenum(GL_TEXTURE0 + unit));
        glBindTexture(GL_TEXTURE_2D, g->textureIds[unit]);
        glEnable(GL_TEXTURE_2D);
        // A graftal is one picture, not a tile: near its edges the filter of the coarse
        // levels must not reach round to the opposite edge (the roots would show as a
        // line along the top of every small graftal).
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        double x = 0.0;
        for (int level = 0; level < MipmapLevels; ++level) {
            const int side = 1 << (8 - level);
            const int detail = std::min(int(x), last);
            x += step;
            const QImage image = (unit == 0 ? g->levelTexture(detail, QSize(side, side))
                                            : g->levelMask(detail, QSize(side, side)))
                                     .convertToFormat(QImage::Format_RGBA8888)
                                     .mirrored();
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
            glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
            glTexImage2D(GL_TEXTURE_2D, level, 4, image.width(), image.height(), 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, image.constBits());
        }
    }
}

void GLRender::paintUnder(const QPoint &widgetPos)
{
    const QPoint device = toDevicePixels(widgetPos);
    theScene->paintAt(device.x(), device.y());
    update();
}

void GLRender::mousePressEvent(QMouseEvent *event)
{
    if (!theScene->loaded())
        return;
    setFocus(Qt::MouseFocusReason);
    const QPoint pos = event->position().toPoint();
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
    case DensityMode: {
        const QPoint device = toDevicePixels(pos);
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
        theScene->endDensityStroke();
        delta = QPoint(0, 0);
        break;
    default:
        break;
    }
}

void GLRender::wheelEvent(QWheelEvent *event)
{
    if (mouseMode == CameraMode) {
        theScene->commitTranslation(0.0, 0.0, event->angleDelta().y() * 0.125);
        refreshPicking();
    }
    update();
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
