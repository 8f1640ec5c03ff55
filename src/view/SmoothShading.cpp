#include "SmoothShading.h"

#include "ModelImport.h"
#include "Scene.h"
#include "SmoothNormals.h"

#include <QOpenGLWidget>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace {
// How much of the normals goes to OpenGL per turn of the event loop.
constexpr size_t UploadSliceBytes = size_t(16) << 20;
} // namespace

// One computation: what it reads (kept alive even if the model is replaced meanwhile) and
// what it makes; the worker writes `normals` and `complete`, read after it has finished.
struct SmoothShading::Job
{
    std::shared_ptr<const LargeBuffer<MeshFace>> faces;
    size_t count = 0;
    double degrees = 0.0;
    std::atomic_bool cancel{false};
    LargeBuffer<float> normals;
    bool complete = false;
};

SmoothShading::SmoothShading(QOpenGLWidget &glView, Scene &shown) : view(glView), scene(shown)
{
    uploadTimer = new QTimer(this);
    uploadTimer->setInterval(0);
    connect(uploadTimer, &QTimer::timeout, this, &SmoothShading::upload);
    connect(&watcher, &QFutureWatcher<void>::finished, this, &SmoothShading::computed);
}

SmoothShading::~SmoothShading()
{
    if (job)
        job->cancel = true;
    watcher.waitForFinished();
}

bool SmoothShading::busy() const
{
    return job != nullptr || uploadTimer->isActive();
}

void SmoothShading::follow()
{
    const double wanted = scene.style.smoothAngle;
    if (busy()) {
        // What runs for another angle or model ends early; the view follows again after it.
        if (job && (job->degrees != wanted || job->faces != scene.sharedFaces()))
            job->cancel = true;
        return;
    }
    if (wanted == scene.smoothAngleShown())
        return;
    if (!(wanted > 0.0)) {
        scene.showFileNormals();
        emit followed();
        return;
    }
    if (!scene.loaded() || scene.modelBuffers().empty())
        return;
    job = std::make_shared<Job>();
    job->faces = scene.sharedFaces();
    job->count = size_t(scene.faceCount());
    job->degrees = wanted;
    watcher.setFuture(QtConcurrent::run(&ModelImport::loadThreads(), [j = job] {
        j->normals = LargeBuffer<float>(j->count * 9);
        j->complete = j->normals.valid() && smoothnormals::compute(j->faces->data(), j->count,
                                                                   j->degrees, j->normals.data(),
                                                                   &j->cancel);
    }));
}

void SmoothShading::computed()
{
    const std::shared_ptr<Job> done = std::move(job);
    if (done && done->complete && !done->cancel && done->faces == scene.sharedFaces() &&
        done->degrees == scene.style.smoothAngle) {
        scene.stageSmoothNormals(done->degrees, done->faces.get(), std::move(done->normals));
        uploadTimer->start();
        return;
    }
    // The style or the model changed meanwhile (or memory ran out): the next frame follows
    // what the style asks now.
    view.update();
}

void SmoothShading::upload()
{
    view.makeCurrent();
    const bool complete = scene.uploadSmoothNormals(UploadSliceBytes);
    view.doneCurrent();
    if (!complete)
        return;
    uploadTimer->stop();
    view.update();
    if (scene.smoothAngleShown() == scene.style.smoothAngle)
        emit followed();
}
