#pragma once

#include "Camera.h"
#include "GraftalInstance.h"
#include "LargeBuffer.h"
#include "Matrix4.h"
#include "MeshFace.h"
#include "ModelBuffers.h"
#include "ModelImport.h"
#include "SceneBrush.h"
#include "SceneHistory.h"
#include "SurfaceColours.h"
#include "Vector3.h"
#include "ViewStyle.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QPointF>
#include <QString>
#include <array>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

class Graftal;
class GraftalLookup;
class Logger;

// The one 3D model the user works on: its triangles as render buffers and as faces on
// which graftals stand, the camera that looks at it, the graftals painted on it, and
// the picture of face ids used to find the face under the pointer. The SceneRenderer
// draws it and makes its pictures.
//
// Uploading the model's buffers needs the view's OpenGL context to be current; loading,
// placement and the camera arithmetic work without one.
class Scene : public QObject
{
    Q_OBJECT
public:
    using Rgb = std::array<float, 3>;
    using InstanceKey = QPair<int, int>; // (mesh index, graftal id)
    using InstanceList = std::vector<std::unique_ptr<GraftalInstance>>;
    static constexpr int TrailLength = 500;
    static constexpr double ResetDistance = Camera::ResetDistance;
    static constexpr double ModelSize = Camera::ModelSize;

    Scene();
    ~Scene() override;

    // ---- model ----
    // Loads a 3DS model. A file that cannot be read, or that is damaged, leaves the
    // scene exactly as it was and explains itself in `error`. Blocks until the model is
    // read; the view loads through ModelImport off the GUI thread and installs the result.
    bool loadModel(const QString &path, QString &error);
    // Replaces the current model by one built by ModelImport.
    void installModel(const QString &path, std::unique_ptr<LoadedModel> model);
    // The same in steps, so that none holds the GUI thread long: the model's arrays go into
    // new OpenGL buffers a slice at a time while the current model stays drawn, then the
    // staged model replaces the current one at once. uploadStaged copies about `bytes`
    // more (at least one buffer's worth) and says whether everything is there (at once
    // without an OpenGL context).
    void stageModel(const QString &path, std::unique_ptr<LoadedModel> model);
    bool uploadStaged(size_t bytes);
    // Nothing can be picked until the renderer makes the new model's face-id picture.
    void installStaged();
    void discardStagedModel();
    bool hasStagedModel() const { return staged != nullptr; }
    QString stagedPath() const { return staged ? staged->path : QString(); }
    // The message for a model that could not be loaded: a first line for every failure,
    // then the file and what happened.
    static QString loadError(const QString &path, const QString &problem);
    bool loaded() const { return isLoaded; }
    const QString &modelPath() const { return currentPath; }
    int faceCount() const { return int(faceTotal); }
    int meshCount() const { return int(meshFaceLists.size()); }
    const MeshFace *face(int faceIndex) const { return &(*faceStore)[size_t(faceIndex)]; }
    const QList<QList<const MeshFace *>> &meshFaces() const { return meshFaceLists; }
    const QMap<int, Rgb> &meshColors() const { return colorsByMesh; }
    const QStringList &meshNames() const { return names; }
    float boundsMin[3] = {0, 0, 0};
    float boundsMax[3] = {0, 0, 0};
    float extent[3] = {0, 0, 0};
    float center[3] = {0, 0, 0};

    // The view tells the scene when its OpenGL context can be used; buffers of a model
    // loaded before that are uploaded then.
    void setGlReady(bool ready);
    bool glReady() const { return contextReady; }
    // The model's OpenGL buffers, a range of faces each, in face order.
    const std::vector<ModelBuffers> &modelBuffers() const;
    // The model's textures, uploaded with its buffers; TextureElements::texture indexes them.
    const std::vector<ModelTexture> &modelTextures() const;
    // The textures' colours on the model's faces, for what stands on them.
    const SurfaceColours &surfaceColours() const { return surface; }
    // What the load of the current model has to tell (textures missing or refused), a
    // line each, for the status line.
    const QStringList &modelNotes() const { return notes; }

    // ---- smoothing by angle ----
    // The angle the model's normal buffers are smoothed by; 0 while they hold the file's
    // own normals (which are kept, so that going back to them shows exactly the same).
    double smoothAngleShown() const { return normalsAngle; }
    // The faces, for computing normals off the GUI thread (smoothnormals::compute): a model
    // replaced meanwhile stays readable to that work.
    std::shared_ptr<const LargeBuffer<MeshFace>> sharedFaces() const { return faceStore; }
    // Normals computed for `degrees` from `faces` (nine floats a face) go into new buffers,
    // about `bytes` at each call of uploadSmoothNormals, the current ones staying drawn
    // until all are there; true once they are drawn (and when there is nothing to upload).
    // Normals of faces that are no longer the model's are dropped.
    void stageSmoothNormals(double degrees, const LargeBuffer<MeshFace> *faces,
                            LargeBuffer<float> normals);
    bool uploadSmoothNormals(size_t bytes);
    bool smoothNormalsStaged() const;
    // The file's own normals drawn again, at once.
    void showFileNormals();
    // Brings the buffers to the style's smoothing angle at once, computing on this thread
    // (the render command, tests). Needs the OpenGL context and the model's buffers.
    void followSmoothAngle();

    // ---- view state ----
    QColor background = Qt::white;
    // How the view draws the scene (kept beside the scene file, not in it).
    ViewStyle style;
    int viewportWidth = 0;
    int viewportHeight = 0;

    // ---- picking ----
    // The face-id picture of the current view: RGB rows, bottom row first.
    struct PickPicture
    {
        std::vector<unsigned char> rgb;
        int width = 0;
        int height = 0;
    };
    void setPickPicture(PickPicture picture);
    const PickPicture &pickPicture() const { return pick; }
    // The face under window pixel (x, y), origin top left, in device pixels; none for the
    // background, outside the view, or before the first pick picture.
    const MeshFace *pickFace(int x, int y) const;

    // ---- overlays ----
    void toggleAxes() { showAxes = !showAxes; }
    void toggleTrail() { showTrail = !showTrail; }
    bool axesShown() const { return showAxes; }
    bool trailShown() const { return showTrail; }
    const QList<Vector3> &eyeTrail() const { return trail; }
    // Adds the camera's eye to the trail (once per frame the view shows).
    void recordEye();

    // ---- camera ----
    const Camera &camera() const { return cam; }
    void setCamera(const Camera &camera) { cam = camera; }
    void resetCamera();
    void fitModel();
    // Stands the model on the style's up axis, the eye staying where it is.
    void orientModel();
    // Previews of a drag: compute the matrix for the whole displacement, update the
    // eye vectors and multiply the matrix into the current OpenGL matrix.
    Matrix4 rotateCamera(double yaw, double pitch);
    Matrix4 translateCamera(double right, double up, double along);
    // The same without touching OpenGL: the camera's eye vectors follow, its matrices
    // stay.
    Matrix4 previewRotation(double yaw, double pitch);
    Matrix4 previewTranslation(double right, double up, double along);
    // The camera a drag shows before its release: turned (yaw, pitch) or moved (right, up)
    // by the whole displacement so far.
    Camera previewTurn(double yaw, double pitch);
    Camera previewMove(double right, double up);
    void commitRotation(double yaw, double pitch);
    void commitTranslation(double right, double up, double along);
    void applyCameraRotation() const;
    void applyCameraTranslation() const;
    Vector3 pitchAxis() const;

    // ---- graftals on the surface ----
    Graftal *currentGraftal() const { return graftal; }
    void setCurrentGraftal(Graftal *g) { graftal = g; }
    static QPointF randomBarycentric();
    std::vector<GraftalInstance *> collectInstances() const;
    void clearInstances();
    void paintAt(int x, int y);
    // Places one instance and files it under (mesh, graftal id).
    GraftalInstance *addInstance(const MeshFace *face, const QPointF &uv, Graftal *g);
    const std::map<InstanceKey, InstanceList> &instancesByKey() const { return instancesByKeyMap; }
    const std::vector<GraftalInstance *> &allInstances() const { return allInstanceList; }
    int instanceCount() const;

    // ---- mesh density ----
    void beginDensityStroke(const MeshFace *face);
    void updateDensityStroke(int rise);
    void endDensityStroke();
    int densityMesh() const { return densityMeshIndex; }
    int removedInstanceCount() const { return int(removedInstances.size()); }

    // ---- state file ----
    // The graftals the state file's records name, by id (none: every record is dropped).
    void setGraftalLookup(const GraftalLookup *lookup) { graftals = lookup; }
    QString stateFileName() const;
    bool saveState();
    // The same into another file (the scene counts as saved only in its own file).
    bool saveStateTo(const QString &fileName);
    // Whether the state file holds what this scene loaded or saved since its model was
    // opened, or does not exist: writing it then replaces nothing of another session.
    bool stateFileIsOurs() const;
    bool loadState();
    // Loads the painted state from a given file; false with the reason when the file
    // cannot be read or there is no model.
    // `records` and `used` tell how many graftals the file holds and how many were placed.
    bool loadStateFrom(const QString &fileName, QString &error, qint64 *records = nullptr,
                       qint64 *used = nullptr);
    // Why the last save of the state failed.
    const QString &stateError() const { return lastStateError; }
    // Whether the state file on disk, if any, could have been painted on this model: every
    // record on one of its faces. False with the reason when it holds graftals of faces
    // this model does not have.
    bool stateFileFitsModel(QString &why) const;

    // ---- brush ----
    static constexpr int MaxBrushRadius = 200;
    static constexpr int MaxSprayRate = 50;
    // Sprays `rate` graftals at random pixels of the circle of `radius` device pixels
    // around window pixel (x, y), each at the surface point under its pixel. Radius 1
    // and rate 1 is paintAt: one graftal at a random point of the face under (x, y).
    void sprayAt(int x, int y, int radius, int rate);
    // Takes off the graftals of the current graftal whose anchor is visible and shows
    // inside the circle; returns how many.
    int eraseAt(int x, int y, int radius);
    // Files the current graftal's instances by where they show, so that the eraser's
    // events find them at once; done by the first event if not before.
    void prepareEraser();
    // Where a point in model coordinates shows in the view, in device pixels with the
    // origin at the top left; false when it lies behind the eye.
    bool projectToWindow(const Vector3 &point, QPointF &window) const;

    // ---- density brush ----
    // Graftals one density event places at most; the events after it place the rest.
    static constexpr int MaxDensityPlacements = 2000;
    // Fills the surface under the circle of `radius` device pixels around window pixel
    // (x, y) with the current graftal up to `density` graftals per square unit of the
    // model's surface, counting those of it already standing there; `thin` takes them off
    // down to the density instead. Only what shows under the circle counts and changes.
    // Returns how many were added (taken off: negative).
    int paintDensityAt(int x, int y, int radius, double density, bool thin);

    // ---- strokes and their history ----
    // A stroke runs from a press to its release; what it changes is one step of the
    // history. Beginning a stroke while one runs ends that one first.
    void beginStroke();
    void endStroke();
    bool strokeRunning() const { return history.recording(); }
    bool canUndo() const { return history.canUndo(); }
    bool canRedo() const { return history.canRedo(); }
    int undoSteps() const { return history.undoSteps(); }
    int redoSteps() const { return history.redoSteps(); }
    bool undo();
    bool redo();
    // How many instances of the graftal are painted, and taking them all off for good: the
    // graftal left the library, so neither this nor any step of the history that painted
    // it can be undone into instances again (the rest of the history stays). The scene
    // counts as changed until it is saved.
    int instanceCountOf(const Graftal *g) const;
    int removeInstancesOf(const Graftal *g);
    // Whether the painted graftals or the background differ from what was last loaded
    // or saved.
    bool changedSinceSaved() const;
    // Tells the scene's states apart: painting, erasing, undo and redo each give another.
    quint64 stateId() const { return history.stateId(); }
    // A change the history does not hold (the background colour).
    void markChanged() { changedOutsideHistory = true; }
    void markSaved();

private:
    void uploadBuffers();
    void releaseBuffers();
    // The staged model's buffers become the ones drawn.
    void takeStagedBuffers();

    std::unique_ptr<Logger> logger;

    QString currentPath;
    bool isLoaded = false;
    bool contextReady = false;
    // Faces are built in place by several threads; shared with work on them off the GUI
    // thread, which may outlive the model.
    std::shared_ptr<const LargeBuffer<MeshFace>> faceStore;
    size_t faceTotal = 0;
    QList<QList<const MeshFace *>> meshFaceLists;
    QMap<int, Rgb> colorsByMesh;
    QStringList names;

    QStringList notes;
    // Render arrays and textures waiting for upload; released once they are in OpenGL.
    std::unique_ptr<RenderArrays> pendingArrays;
    QList<QImage> pendingTextures;
    SurfaceColours surface;
    double normalsAngle = 0.0;
    // A model on its way in, and how far its upload got (array, byte offset).
    struct Staged
    {
        QString path;
        std::unique_ptr<LoadedModel> model;
        size_t uploadedFaces = 0;
        bool uploaded = false; // all of it is in OpenGL buffers
    };
    std::unique_ptr<Staged> staged;
    bool ownsStateFile = false;
    const GraftalLookup *graftals = nullptr;
    QString lastStateError;
    struct GlState;
    std::unique_ptr<GlState> gl;

    Camera cam;
    PickPicture pick;
    bool showAxes = false;
    bool showTrail = false;
    QList<Vector3> trail;

    Graftal *graftal = nullptr;
    std::map<InstanceKey, InstanceList> instancesByKeyMap;
    std::vector<GraftalInstance *> allInstanceList;
    InstanceList removedInstances;
    int densityMeshIndex = -1;
    InstanceKey densityKey{-1, -1};
    int densityStartCount = 0;
    bool densityStroking = false;

    // Appends a new instance to the flat list unless that is being rebuilt.
    void listInstance(GraftalInstance *instance);
    std::unique_ptr<GraftalInstance> remake(const SceneHistory::Placement &p);
    SceneHistory history;
    // Changes whenever an instance list changes.
    quint64 instancesRevision = 0;
    bool eraserReady() const;
    quint64 savedStateId = 0;
    bool changedOutsideHistory = false;
    // The flat list waits to be rebuilt (during an erase stroke).
    bool flatListStale = false;
    BrushIndex eraseIndex;
    // Graftals an erase or density stroke took off; they live until its end.
    InstanceList erased;
    DensityFiling densityFiling;
    DensityStroke densityStroke;
    // Files the current graftal's instances on the mesh by face, once per filing.
    void fileForDensity(int mesh);
    // Takes the instances off their lists as the eraser does.
    void takeOffForDensity(const std::vector<GraftalInstance *> &going);
};
