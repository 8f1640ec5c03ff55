#include "ModelLoadTask.h"

#include <QtConcurrent/QtConcurrentRun>

ModelLoadTask::ModelLoadTask(const QString &path, QObject *parent)
    : QObject(parent), modelPath(path)
{
    connect(&watcher, &QFutureWatcher<void>::finished, this, &ModelLoadTask::finished);
    // The worker writes `model` and `why`; they are read only after it has finished.
    watcher.setFuture(QtConcurrent::run(&ModelImport::loadThreads(), [this] {
        model = ModelImport::load(modelPath, why, &control);
    }));
}

ModelLoadTask::~ModelLoadTask()
{
    cancel();
    watcher.waitForFinished();
}
