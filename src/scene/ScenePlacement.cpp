// Graftals painted onto the surface: where they come from and how they are kept.
#include "Graftal.h"
#include "Random.h"
#include "Scene.h"

QPointF Scene::randomBarycentric()
{
    // Rejection keeps the point uniformly distributed over the triangle.
    for (;;) {
        const double u = double(Random::next()) / double(Random::Max);
        const double v = double(Random::next()) / double(Random::Max);
        if (u + v <= 1.0)
            return {u, v};
    }
}

std::vector<GraftalInstance *> Scene::collectInstances() const
{
    std::vector<GraftalInstance *> all;
    all.reserve(size_t(instanceCount()));
    for (const auto &[key, list] : instancesByKeyMap)
        for (const auto &instance : list)
            all.push_back(instance.get());
    return all;
}

int Scene::instanceCount() const
{
    size_t n = 0;
    for (const auto &[key, list] : instancesByKeyMap)
        n += list.size();
    return int(n);
}

void Scene::clearInstances()
{
    // Any stroke in progress refers to instances that are about to go.
    removedInstances.clear();
    erased.clear();
    eraseIndex.reset();
    densityFiling.reset();
    densityStroke.reset();
    ++instancesRevision;
    densityMeshIndex = -1;
    densityStroking = false;
    flatListStale = false;
    allInstanceList.clear();
    instancesByKeyMap.clear();
    // A new model or a reloaded state file starts a new history, as it was loaded.
    history.clear();
    markSaved();
}

GraftalInstance *Scene::addInstance(const MeshFace *face, const QPointF &uv, Graftal *g)
{
    auto instance = std::make_unique<GraftalInstance>(face, uv, g);
    GraftalInstance *raw = instance.get();
    const InstanceKey key(face->meshIndex, int(g->id()));
    InstanceList &list = instancesByKeyMap[key];
    history.touch(key, list);
    list.push_back(std::move(instance));
    ++instancesRevision;
    return raw;
}

void Scene::paintAt(int x, int y)
{
    if (!graftal)
        return; // nothing to paint with
    const MeshFace *face = pickFace(x, y);
    if (!face)
        return;
    listInstance(addInstance(face, randomBarycentric(), graftal));
}
