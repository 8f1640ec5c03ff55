#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class Logger;
class ModelLoadTask;
class QOpenGLWidget;
class QProgressDialog;
class QTimer;
class Scene;

// Opening a model without holding up the window: the file is read and built off the GUI
// thread (ModelLoadTask), a load that takes longer than half a second shows its progress
// in a dialog with a "Cancel" button, and the finished model goes into OpenGL a slice per
// turn of the event loop while the current one stays drawn. A file that cannot be loaded
// gives an "Error" box and leaves the current model as it was.
class ModelLoadController : public QObject
{
    Q_OBJECT
public:
    // `view` gives the OpenGL context and parents the dialogs.
    ModelLoadController(QOpenGLWidget &glView, Scene &shown);
    ~ModelLoadController() override;

    // A load started while another runs replaces it.
    void load(const QString &path);
    bool loading() const;
    // Stops the running load; the current model stays.
    void cancel();
    QProgressDialog *progressDialog() const { return progress; }
    // Loads and waits for the outcome (for tests and benchmarks), running the event loop
    // meanwhile; true when the model was loaded.
    bool loadAndWait(const QString &path);

    // While the user is asked about the scene on screen, a model that arrives waits.
    void setInstallsHeld(bool held) { installsHeld = held; }
    bool installsHeldNow() const { return installsHeld; }
    // The user was asked about the painted scene before this load, in the scene's state
    // `stateId`; graftals painted after that are asked about again when the model arrives,
    // through `askBeforeReplacing` (given the new model's file name; true to go on).
    void rememberQuestionAt(quint64 stateId) { sceneAtQuestion = stateId; }
    std::function<bool(const QString &fileName)> askBeforeReplacing;

signals:
    // A load began.
    void started();
    // The new model is drawn from now on; its face ids follow in a turn of their own.
    void modelInstalled();
    // The picture of face ids of the new model is due (the context is not current).
    void pickingDue();
    // The load ended: loaded, failed or cancelled.
    void finished(bool loaded);

private:
    void taskFinished();
    void uploadStaged();
    void completeInstall();
    void discardStaged();
    void end(bool loaded);
    void showProgress();

    QOpenGLWidget &view;
    Scene &scene;
    std::unique_ptr<Logger> logger;
    ModelLoadTask *task = nullptr;
    QProgressDialog *progress = nullptr;
    QTimer *progressTimer = nullptr;
    QTimer *uploadTimer = nullptr; // uploads a staged model a slice per turn of the event loop
    QString loadingPath;
    bool installsHeld = false;
    bool installedAwaitingPick = false; // a new model is drawn, its face ids not yet
    std::optional<quint64> sceneAtQuestion;
    QElapsedTimer clock;
};
