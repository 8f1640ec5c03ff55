// Loading a model into faces, per-mesh lists, mesh colours and render arrays.
#include "Scene.h"

#include "Logger.h"
#include "ModelImport.h"

#include <QHash>

QString Scene::loadError(const QString &path, const QString &problem)
{
    // The format as the reader took it: by the name's ending, every other file as 3DS.
    static const QHash<QString, QString> formats = {
        {QStringLiteral("obj"), QStringLiteral("OBJ")},
        {QStringLiteral("gltf"), QStringLiteral("glTF")},
        {QStringLiteral("glb"), QStringLiteral("glTF")},
        {QStringLiteral("fbx"), QStringLiteral("FBX")},
        {QStringLiteral("ply"), QStringLiteral("PLY")},
        {QStringLiteral("stl"), QStringLiteral("STL")},
        {QStringLiteral("dae"), QStringLiteral("Collada")},
        {QStringLiteral("3mf"), QStringLiteral("3MF")},
        {QStringLiteral("off"), QStringLiteral("OFF")},
        {QStringLiteral("x"), QStringLiteral("DirectX")},
        {QStringLiteral("ac"), QStringLiteral("AC3D")},
        {QStringLiteral("ase"), QStringLiteral("ASE")},
        {QStringLiteral("lwo"), QStringLiteral("LightWave")}};
    const QString name = path.section(QLatin1Char('/'), -1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString format =
        dot < 0 ? QString() : formats.value(name.mid(dot + 1).toLower(), QString());
    QString error = QStringLiteral("%1 file couldn't be loaded")
                        .arg(format.isEmpty() ? QStringLiteral("3DS") : format);
    if (!problem.isEmpty())
        error += QStringLiteral("\n%1: %2").arg(path, problem);
    return error;
}

bool Scene::loadModel(const QString &path, QString &error)
{
    QString problem;
    std::unique_ptr<LoadedModel> model = ModelImport::load(path, problem);
    if (!model) {
        error = loadError(path, problem);
        logger->warn(QStringLiteral("%1 not loaded: %2").arg(path, problem));
        return false;
    }
    installModel(path, std::move(model));
    return true;
}

void Scene::installModel(const QString &path, std::unique_ptr<LoadedModel> model)
{
    stageModel(path, std::move(model));
    uploadStaged(SIZE_MAX);
    installStaged();
}

void Scene::stageModel(const QString &path, std::unique_ptr<LoadedModel> model)
{
    discardStagedModel();
    staged = std::make_unique<Staged>();
    staged->path = path;
    staged->model = std::move(model);
}

void Scene::installStaged()
{
    if (!staged)
        return;
    const std::unique_ptr<Staged> next = std::move(staged);
    LoadedModel &model = *next->model;
    // Only a model that was read completely replaces the current one.
    currentPath = next->path;
    isLoaded = true;
    ownsStateFile = false;
    background = Qt::white;
    clearInstances();
    for (int k = 0; k < 3; ++k) {
        boundsMin[k] = model.boundsMin[k];
        boundsMax[k] = model.boundsMax[k];
        extent[k] = boundsMax[k] - boundsMin[k];
        center[k] = (boundsMin[k] + boundsMax[k]) * 0.5f;
    }
    faceStore = std::make_shared<const LargeBuffer<MeshFace>>(std::move(model.faceStore));
    faceTotal = model.faceCount;
    meshFaceLists = std::move(model.meshFaces);
    colorsByMesh = std::move(model.meshColors);
    names = std::move(model.meshNames);
    notes = std::move(model.notes);
    surface.build(model.arrays, model.faceCount, model.textures);
    // A new model stands on its format's axis; open sheets show from both sides.
    style.up = UpAxis::Default;
    style.twoSided = model.openEdges;
    if (next->uploaded) {
        // Drawing uses the buffers only.
        takeStagedBuffers();
        pendingArrays.reset();
        pendingTextures.clear();
    } else {
        pendingArrays = std::make_unique<RenderArrays>(std::move(model.arrays));
        pendingTextures = std::move(model.textures);
        if (contextReady)
            uploadBuffers();
    }
    resetCamera();
    // Nothing is picked until the picture of the new model's faces is made.
    pick = PickPicture();
}
