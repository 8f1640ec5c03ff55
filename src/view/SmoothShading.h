#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <memory>

class QOpenGLWidget;
class QTimer;
class Scene;

// Keeps the model's normals on the view style's smoothing angle without holding up the
// window: smoothed normals are computed off the GUI thread, go into OpenGL a slice per turn
// of the event loop while the current ones stay drawn, and the view is repainted once they
// are all there. Going back to the file's own normals is at once.
class SmoothShading : public QObject
{
    Q_OBJECT
public:
    // `glView` gives the OpenGL context and is repainted when the normals change.
    SmoothShading(QOpenGLWidget &glView, Scene &shown);
    // A computation still running is cancelled and waited for.
    ~SmoothShading() override;

    // Starts what the style asks for; the view calls it before it draws, its context current.
    void follow();
    // Normals are being computed or uploaded.
    bool busy() const;

signals:
    // The model shows the normals of the style's angle.
    void followed();

private:
    struct Job;
    void computed();
    void upload();

    QOpenGLWidget &view;
    Scene &scene;
    std::shared_ptr<Job> job;
    QFutureWatcher<void> watcher;
    QTimer *uploadTimer = nullptr;
};
