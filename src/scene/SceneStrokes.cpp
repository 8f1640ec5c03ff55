// Strokes as steps of the undo history, and whether the painted state needs saving.
#include "Scene.h"

#include "Graftal.h"

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
    if (!g || instanceCountOf(g) == 0)
        return 0;
    beginStroke();
    int removed = 0;
    for (auto it = instancesByKeyMap.begin(); it != instancesByKeyMap.end();) {
        if (it->first.second != int(g->id())) {
            ++it;
            continue;
        }
        history.touch(it->first, it->second);
        removed += int(it->second.size());
        // They live until the step is made: the history reads them then.
        for (auto &instance : it->second)
            erased.push_back(std::move(instance));
        it = instancesByKeyMap.erase(it);
    }
    flatListStale = true;
    ++instancesRevision;
    endStroke();
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
