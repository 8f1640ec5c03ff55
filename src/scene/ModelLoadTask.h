#pragma once

#include "ModelImport.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <memory>

// One model load running off the GUI thread: the reader process, the checks and the
// building of faces and arrays. The owner polls how far it got, may cancel it, and takes
// the model (or the reason there is none) when `finished` arrives on the GUI thread.
class ModelLoadTask : public QObject
{
    Q_OBJECT
public:
    explicit ModelLoadTask(const QString &path, QObject *parent = nullptr);
    // A task still running is cancelled and waited for: the reader is killed at once.
    ~ModelLoadTask() override;

    const QString &path() const { return modelPath; }
    void cancel() { control.cancel = true; }
    bool cancelled() const { return control.cancel.load(); }
    bool running() const { return watcher.isRunning(); }
    LoadControl::Stage stage() const { return LoadControl::Stage(control.stage.load()); }
    qint64 facesBuilt() const { return control.facesBuilt.load(); }
    qint64 faceTotal() const { return control.faceTotal.load(); }

    // After `finished`: the model, or none with `problem()` saying why (empty when the
    // load was cancelled).
    std::unique_ptr<LoadedModel> takeModel() { return std::move(model); }
    const QString &problem() const { return why; }

signals:
    void finished();

private:
    QString modelPath;
    LoadControl control;
    std::unique_ptr<LoadedModel> model;
    QString why;
    QFutureWatcher<void> watcher;
};
