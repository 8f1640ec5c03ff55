#include "ModelLoadController.h"

#include "Logger.h"
#include "ModelLoadTask.h"
#include "Scene.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QOpenGLWidget>
#include <QProgressDialog>
#include <QTimer>

namespace {
// A load that takes longer than this shows its progress.
constexpr int ProgressDelayMs = 500;
constexpr int ProgressIntervalMs = 100;
// How much of a model's arrays goes to OpenGL per turn of the event loop.
constexpr size_t UploadSliceBytes = size_t(16) << 20;
} // namespace

ModelLoadController::ModelLoadController(QOpenGLWidget &glView, Scene &shown)
    : view(glView), scene(shown), logger(std::make_unique<Logger>(QStringLiteral("app.gl.render")))
{
    progressTimer = new QTimer(this);
    progressTimer->setInterval(ProgressIntervalMs);
    connect(progressTimer, &QTimer::timeout, this, &ModelLoadController::showProgress);
    uploadTimer = new QTimer(this);
    uploadTimer->setInterval(0);
    connect(uploadTimer, &QTimer::timeout, this, &ModelLoadController::uploadStaged);
}

ModelLoadController::~ModelLoadController()
{
    // A running load is stopped and waited for: its reader is killed at once.
    delete std::exchange(task, nullptr);
}

bool ModelLoadController::loading() const
{
    return task != nullptr || uploadTimer->isActive();
}

void ModelLoadController::discardStaged()
{
    uploadTimer->stop();
    view.makeCurrent();
    scene.discardStagedModel();
    view.doneCurrent();
}

void ModelLoadController::load(const QString &path)
{
    sceneAtQuestion.reset();
    if (task) {
        // The load it replaces ends in the background; its result is thrown away.
        ModelLoadTask *old = std::exchange(task, nullptr);
        old->disconnect(this);
        old->cancel();
        connect(old, &ModelLoadTask::finished, old, &QObject::deleteLater);
    }
    if (installedAwaitingPick)
        completeInstall(); // the model it replaces is in place already
    else if (uploadTimer->isActive())
        discardStaged();
    loadingPath = path;
    task = new ModelLoadTask(path, &view); // among the view's children, where tests find it
    connect(task, &ModelLoadTask::finished, this, &ModelLoadController::taskFinished);
    clock.start();
    progressTimer->start();
    emit started();
}

bool ModelLoadController::loadAndWait(const QString &path)
{
    bool loaded = false;
    QEventLoop waiting;
    const QMetaObject::Connection done =
        connect(this, &ModelLoadController::finished, &waiting, [&](bool ok) {
            loaded = ok;
            waiting.quit();
        });
    load(path);
    waiting.exec();
    disconnect(done);
    return loaded;
}

void ModelLoadController::cancel()
{
    if (task) {
        task->cancel();
    } else if (installedAwaitingPick) {
        completeInstall(); // too late to cancel: the model is drawn already
    } else if (uploadTimer->isActive()) {
        discardStaged();
        end(false);
    }
}

void ModelLoadController::showProgress()
{
    if (!loading() || clock.elapsed() < ProgressDelayMs)
        return;
    if (!progress) {
        progress = new QProgressDialog(&view);
        progress->setWindowTitle(QStringLiteral("Opening model"));
        progress->setCancelButtonText(QStringLiteral("Cancel"));
        progress->setWindowModality(Qt::NonModal);
        progress->setAutoClose(false);
        progress->setAutoReset(false);
        progress->setMinimumDuration(0);
        progress->setMinimumWidth(420);
        connect(progress, &QProgressDialog::canceled, this, &ModelLoadController::cancel);
    }
    const QString file = QFileInfo(loadingPath).fileName();
    if (!task) {
        progress->setLabelText(QStringLiteral("Preparing %1 for drawing...").arg(file));
        progress->setRange(0, 0);
    } else if (task->cancelled()) {
        progress->setLabelText(QStringLiteral("Cancelling the opening of %1...").arg(file));
    } else if (task->stage() == LoadControl::Reading) {
        progress->setLabelText(QStringLiteral("Reading %1...").arg(file));
        progress->setRange(0, 0);
    } else {
        const qint64 total = std::max<qint64>(1, task->faceTotal());
        progress->setLabelText(
            QStringLiteral("Building the %1 triangles of %2...")
                .arg(QLocale(QLocale::English).toString(task->faceTotal()), file));
        // The bar counts in thousandths, whatever the number of triangles.
        progress->setRange(0, 1000);
        progress->setValue(int(std::min<qint64>(1000, task->facesBuilt() * 1000 / total)));
    }
    if (!progress->isVisible())
        progress->show();
}

void ModelLoadController::taskFinished()
{
    std::unique_ptr<ModelLoadTask> done(std::exchange(task, nullptr));
    std::unique_ptr<LoadedModel> model = done->takeModel();
    if (model && !done->cancelled()) {
        // The current model stays drawn until the new one is in OpenGL's buffers.
        scene.stageModel(done->path(), std::move(model));
        uploadTimer->start();
        return;
    }
    if (!done->problem().isEmpty()) {
        logger->warn(QStringLiteral("%1 not loaded: %2").arg(done->path(), done->problem()));
        // The progress goes before the message comes.
        progressTimer->stop();
        if (progress)
            progress->hide();
        QMessageBox::critical(&view, QStringLiteral("Error"),
                              Scene::loadError(done->path(), done->problem()), QMessageBox::Ok);
    }
    end(false);
}

void ModelLoadController::uploadStaged()
{
    // While the user is asked about the scene on screen, the new model waits, looked at
    // now and then rather than at every turn of the event loop.
    if (installedAwaitingPick) {
        completeInstall();
        return;
    }
    uploadTimer->setInterval(installsHeld ? 50 : 0);
    if (installsHeld)
        return;
    view.makeCurrent();
    const bool complete = scene.uploadStaged(UploadSliceBytes);
    view.doneCurrent();
    if (!complete)
        return;
    // Graftals painted on the current model while the new one loaded go with it: the user
    // who was asked when the load began is asked again about those.
    if (sceneAtQuestion && scene.changedSinceSaved() && scene.stateId() != *sceneAtQuestion) {
        sceneAtQuestion.reset();
        if (askBeforeReplacing && !askBeforeReplacing(QFileInfo(scene.stagedPath()).fileName())) {
            discardStaged();
            end(false);
            return;
        }
    }
    view.makeCurrent();
    scene.installStaged();
    view.doneCurrent();
    // The first frame and the picture of face ids each cost a frame's drawing: they go in
    // turns of their own, the frame first.
    installedAwaitingPick = true;
    emit modelInstalled();
}

void ModelLoadController::completeInstall()
{
    installedAwaitingPick = false;
    uploadTimer->stop();
    emit pickingDue();
    end(true);
}

void ModelLoadController::end(bool loaded)
{
    progressTimer->stop();
    if (progress)
        progress->hide();
    emit finished(loaded);
}
