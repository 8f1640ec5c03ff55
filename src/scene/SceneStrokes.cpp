// Strokes as steps of the undo history, and whether the painted state needs saving.
#include "Scene.h"

void Scene::beginStroke()
{
    if (history.recording())
        endStroke();
    history.beginStroke();
}

void Scene::endStroke()
{
    // The history reads what the stroke took off before any of it is destroyed.
    history.endStroke(instancesByKeyMap);
    endDensityStroke();
    erased.clear();
    if (flatListStale) {
        allInstanceList = collectInstances();
        flatListStale = false;
    }
}

std::unique_ptr<GraftalInstance> Scene::remake(const SceneHistory::Placement &p)
{
    return std::make_unique<GraftalInstance>(p.face, p.uv, p.graftal);
}

bool Scene::undo()
{
    if (history.recording())
        endStroke();
    const bool done = history.undo(instancesByKeyMap,
                                   [this](const SceneHistory::Placement &p) { return remake(p); });
    allInstanceList = collectInstances();
    ++instancesRevision;
    return done;
}

bool Scene::redo()
{
    if (history.recording())
        endStroke();
    const bool done = history.redo(instancesByKeyMap,
                                   [this](const SceneHistory::Placement &p) { return remake(p); });
    allInstanceList = collectInstances();
    ++instancesRevision;
    return done;
}

bool Scene::changedSinceSaved() const
{
    return isLoaded && (changedOutsideHistory || history.stateId() != savedStateId);
}

void Scene::markSaved()
{
    savedStateId = history.stateId();
    changedOutsideHistory = false;
}
