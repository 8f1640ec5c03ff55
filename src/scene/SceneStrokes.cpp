// Strokes as steps of the undo history, and whether the painted state needs saving.
#include "Scene.h"

#include "Graftal.h"

void Scene::beginStroke()
{
    if (history.recording())
        endStroke();
    history.beginStroke();
    densityStroke.reset();
}

void Scene::endStroke()
{
    // The history reads what the stroke took off before any of it is destroyed.
    history.endStroke(instancesByKeyMap);
    endDensityStroke();
    densityStroke.reset();
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

int Scene::instanceCountOf(const Graftal *g) const
{
    int n = 0;
    for (const auto &[key, list] : instancesByKeyMap)
        if (g && key.second == int(g->id()))
            n += int(list.size());
    return n;
}

int Scene::removeInstancesOf(const Graftal *g)
{
    if (!g)
        return 0;
    if (history.recording())
        endStroke();
    const int id = int(g->id());
    // Also when none is painted now: a redo could still paint some.
    history.forgetGraftal(id);
    int removed = 0;
    for (auto it = instancesByKeyMap.begin(); it != instancesByKeyMap.end();) {
        if (it->first.second != id) {
            ++it;
            continue;
        }
        removed += int(it->second.size());
        it = instancesByKeyMap.erase(it);
    }
    if (removed == 0)
        return 0;
    allInstanceList = collectInstances();
    ++instancesRevision;
    markChanged();
    return removed;
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
