#pragma once

#include "GlSetup.h"
#include "Graftal.h"
#include "GraftalFit.h"
#include "ImageExport.h"
#include "ModelLoadController.h"
#include "SmoothShading.h"
#include "OrbitDrag.h"
#include "SceneRenderer.h"

#include <QMutex>
#include <QOpenGLWidget>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <memory>
#include <optional>

class Logger;
class ModelLoadController;
class QTimer;
class SceneSession;
class QAction;
class QLabel;
class QProgressDialog;
class Scene;

// The OpenGL view of the loaded model and the graftals painted on it. It owns the scene
// and turns mouse, wheel and keys into camera moves, brush strokes (spraying, erasing) or
// density strokes and their undo and redo, and the view toolbar's actions into calls.
// Its SceneRenderer draws; models open through its ModelLoadController; the painted
// scene's questions and files are the SceneSession's that the window lends it.
class GLRender : public QOpenGLWidget
{
    Q_OBJECT
public:
    enum Mode
    {
        CameraMode = 2,
        PaintMode = 3,
        DensityMode = 4,
        EraseMode = 8,
        OrbitMode = 12,
        // "Paint density": the brush fills the surface under it up to a density, or with
        // Shift thins it down to that.
        DensityBrushMode = 16
    };
    // Data of the view toolbar's actions beyond the modes.
    enum ActionData
    {
        OpenAction = 1,
        BackgroundAction = 5,
        SaveStateAction = 6,
        ReloadStateAction = 7,
        UndoAction = 9,
        RedoAction = 10,
        ExportAction = 11,
        FrameAction = 13,
        FitGraftalScaleAction = 14,
        TurntableAction = 15
    };
    enum DragKind
    {
        NoDrag = 0,
        RotateDrag = 1,
        MoveDrag = 2
    };

    static constexpr double FittedShare = graftalfit::Share;

    explicit GLRender(QWidget *parent = nullptr);
    ~GLRender() override;

    Scene *scene() const { return theScene.get(); }
    SceneRenderer &renderer() const { return *sceneRenderer; }
    ModelLoadController &modelLoader() const { return *loader; }
    // Keeps the model's normals on the style's smoothing angle (followed before each frame).
    SmoothShading &smoothShading() const { return *smoothing; }
    // The session that asks about, saves and reloads the painted scene; without one
    // "Save" and "Reload" do nothing and models replace the scene without asking.
    void setSession(SceneSession *session);
    int mode() const { return mouseMode; }
    int dragKind() const { return drag; }
    QPoint pressPosition() const { return pressPos; }
    QPoint dragDelta() const { return delta; }
    int renderFlags() const { return flags; }
    bool showsAllGraftals() const { return showAllGraftals; }
    // The line graftalCountsChanged tells.
    QString graftalCountLine() const;
    // Whether OpenGL 2.0 was found and the view draws; false after the "Failure" message.
    bool openGlReady() const { return gl2; }
    const QString &shaderLog() const { return sceneRenderer->shaderLog(); }

    // Starts loading a model as "Open 3DS file" does once a file was chosen. The file is
    // read and built off the GUI thread; a load that takes longer than half a second shows
    // its progress in a dialog with a "Cancel" button. The new model replaces the current
    // one only once it is complete; a file that cannot be loaded gives an "Error" box and
    // leaves the current model as it was. A load started while another runs replaces it.
    void loadModelInBackground(const QString &path) { loader->load(path); }
    bool loadingModel() const { return loader->loading(); }
    // Stops the running load; the current model stays.
    void cancelModelLoad() { loader->cancel(); }
    QProgressDialog *loadProgressDialog() const { return loader->progressDialog(); }
    // Loads a model and waits for the outcome (for tests and benchmarks), running the
    // event loop meanwhile; true when the model was loaded.
    bool openModel(const QString &path) { return loader->loadAndWait(path); }

    // Refreshes the face-id picture outside a paint, with the context made current; for a
    // big model over several turns of the event loop.
    void refreshPicking();
    // Frames and face-id pictures of models of more than twice this many faces are drawn
    // this many faces a turn of the event loop (2^19 to start), so that the window keeps
    // answering; the last whole frame stays shown meanwhile.
    void setFacesPerStep(size_t faces) { facesPerStep = std::max<size_t>(faces, 1); }
    // Whether a frame or the face-id picture is being drawn over several turns.
    bool drawingInSteps() const;
    // How many whole frames the view has drawn.
    int framesFinished() const { return finishedFrames; }
    // Converts a widget position to the device pixels that picking works in.
    QPoint toDevicePixels(const QPoint &widgetPos) const;

    // The brush of the paint and erase modes: radius in device pixels, graftals per event.
    int brushRadius() const { return radius; }
    int sprayRate() const { return rate; }
    // What "Paint density" fills to: graftals per square unit of the model's surface.
    double brushDensity() const { return density; }
    static constexpr double MaxBrushDensity = 1e9;
    // Draws the view off screen at twice its size in device pixels and writes it as a
    // PNG, whole or not at all; false with the reason.
    bool exportImage(const QString &path, QString &error)
    {
        return imageexport::exportImage(*this, path, error);
    }

    // The surface format the view needs (alpha, depth, compatibility profile); must be
    // set before the application object exists.
    static void setDefaultSurfaceFormat() { glsetup::setDefaultSurfaceFormat(); }

    // Test-only: makes the next OpenGL set-up behave as if OpenGL 2.0 were missing.
    static void simulateMissingOpenGl2ForTests(bool missing)
    {
        glsetup::simulateMissingOpenGl2(missing);
    }

signals:
    // A load started with loadModelInBackground ended: loaded, failed or cancelled.
    void modelLoadFinished(bool loaded);
    void undoAvailable(bool available);
    void redoAvailable(bool available);
    // A line for the window's status bar.
    void statusMessage(const QString &message);
    // The scene's view style changed other than through the style controls (the graftal
    // scale fitted to the model, the style restored with the scene's view).
    void styleShown();
    // The scene may have changed against its file (a stroke, undo, redo, a save, a load).
    void sceneStatusChanged();
    // "Show every graftal" was turned on or off (its key over the view, or the call).
    void showAllGraftalsChanged(bool on);
    // The scene's graftal count and the selected graftal's, for the status line ("4,210
    // graftals, 1,380 of Grass blades"), after every change of them; empty without a model.
    void graftalCountsChanged(const QString &line);

public slots:
    void setBrushRadius(int pixels);
    void setSprayRate(int graftals);
    void setBrushDensity(double graftalsPerUnit);
    void undoSceneChange() { stepHistory(false); }
    void redoSceneChange() { stepHistory(true); }
    void dispatchAction(QAction *action);
    void currentGraftalChanged(Graftal *g);
    void bindTexturesForGraftal(Graftal *g);
    // The graftal left the library: its painted instances leave the scene for good.
    void removeInstancesOf(Graftal *g);
    // The drawn size of every graftal, times their base size; only drawing changes.
    void setGraftalScale(double scale);
    // "Fit graftal size to model": a graftal of base size 1 becomes about FittedShare of
    // the model's largest side.
    void fitGraftalScale();
    // "Frame model" (and Home): the whole model in view, looking at its centre, or at its
    // largest side when the view from here would show none of it.
    void frameModel();
    // "Up axis": the model stands on this axis of its file, seen framed from the front.
    void setUpAxis(UpAxis up);
    // "Two-sided": back faces drawn too.
    void setTwoSided(bool on);
    // "Show render frame": the view darkens what a picture of the given size leaves out.
    void setRenderFrameShown(bool shown);
    // The render frame shown while a caller (the turntable dialog) holds it.
    void holdRenderFrame(bool held);
    // The size of the pictures the render frame stands for (1280 x 720 to start).
    void setRenderFrameSize(const QSize &pictureSize);
    // "Show every graftal" (and S over the view): every painted graftal drawn whole
    // whatever its facing, those the fade would hide tinted; pictures stay as they are.
    void setShowAllGraftals(bool on);
    // Tells the graftal counts again (the selected graftal was renamed, say).
    void announceCounts();

public:
    // The camera of a width x height picture of what the view shows within the render frame.
    Camera pictureCamera(int width, int height) const;
    // The render frame in widget coordinates; empty when it is not shown.
    QRect renderFrame() const;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Makes the textures the scene now needs and repaints, outside a paint.
    void refreshTextures();
    void showFailure();
    void updateHint();
    void updateCursor();
    // Sprays, erases or paints density with the brush under a widget position and
    // repaints; Shift makes the density brush thin.
    void brushUnder(const QPoint &widgetPos, Qt::KeyboardModifiers modifiers);
    bool brushMode() const
    {
        return mouseMode == PaintMode || mouseMode == EraseMode || mouseMode == DensityBrushMode;
    }
    void modelLoadEnded(bool loaded);
    // Undoes or redoes one step of the scene's history.
    void stepHistory(bool forward);
    // Ends the stroke in progress as one step of the history.
    void finishStroke();
    // Tells the toolbar whether undo and redo can be used now.
    void announceHistory();
    // Lets the eraser file the graftals by where they show once the events are handled,
    // so that its strokes start without that work.
    void prepareEraserSoon();

    std::unique_ptr<Logger> logger;
    int flags = 0;
    std::unique_ptr<Scene> theScene;
    QMutex paintMutex;
    int mouseMode = CameraMode;
    int drag = NoDrag;
    QPoint pressPos;
    QPoint delta;

    std::unique_ptr<SceneRenderer> sceneRenderer;
    bool initialized = false;
    bool gl2 = false;
    QLabel *hint = nullptr;
    std::unique_ptr<ModelLoadController> loader;
    std::unique_ptr<SmoothShading> smoothing;
    SceneSession *session = nullptr;
    OrbitDrag orbit;
    int radius = 1;
    int rate = 1;
    double density = 1.0;
    int announcedUndo = -1;
    int announcedRedo = -1;
    bool renderFrameToggled = false;
    int renderFrameHolds = 0;
    QSize renderFrameSize{1280, 720};
    // Whether the model is big enough to be drawn in steps; the camera of the frame under way.
    bool inSteps() const;
    void stepFrame();
    void stepPicking();
    size_t facesPerStep = size_t(1) << 19;
    std::optional<Camera> steppedCamera;
    QTimer *pickStepTimer = nullptr, *frameStepTimer = nullptr;
    int finishedFrames = 0;
    bool cannotStep = false;
    QWidget *frameShade = nullptr; // a child of the view
    bool showAllGraftals = false;
};
