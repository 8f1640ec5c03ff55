// The density stroke: a vertical drag sets how many graftals of the current graftal
// cover the pressed mesh, four per pixel, measured from the count at the press.
#include "Graftal.h"
#include "Random.h"
#include "Scene.h"

void Scene::beginDensityStroke(const MeshFace *face)
{
    // A stroke still running (a second button pressed during it) ends cleanly first: its
    // graftals taken off go for good and the flat list is complete again.
    endDensityStroke();
    if (!face || !graftal) {
        densityMeshIndex = -1;
        densityStroking = false;
        return;
    }
    // While the counts change the scene draws straight from the per-key lists.
    allInstanceList.clear();
    densityStroking = true;
    densityMeshIndex = face->meshIndex;
    densityKey = InstanceKey(face->meshIndex, int(graftal->id()));
    InstanceList &list = instancesByKeyMap[densityKey];
    history.touch(densityKey, list);
    densityStartCount = int(list.size());
}

void Scene::updateDensityStroke(int rise)
{
    if (densityMeshIndex < 0 || !densityStroking)
        return;
    InstanceList &list = instancesByKeyMap[densityKey];
    ++instancesRevision;
    const qint64 wanted = qint64(densityStartCount) + 4 * qint64(rise);
    const size_t target = size_t(std::max<qint64>(0, wanted));

    while (list.size() > target) {
        removedInstances.push_back(std::move(list.back()));
        list.pop_back();
    }
    // Graftals taken off earlier in this stroke come back first, the latest first.
    while (list.size() < target && !removedInstances.empty()) {
        list.push_back(std::move(removedInstances.back()));
        removedInstances.pop_back();
    }
    const QList<const MeshFace *> &faces = meshFaceLists[densityMeshIndex];
    while (list.size() < target) {
        const qint64 index = qint64(Random::next()) * (faces.size() - 1) / Random::Max;
        list.push_back(
            std::make_unique<GraftalInstance>(faces[int(index)], randomBarycentric(), graftal));
    }
}

void Scene::endDensityStroke()
{
    if (densityMeshIndex < 0 || !densityStroking)
        return;
    densityStroking = false;
    allInstanceList = collectInstances();
    // Graftals taken off and not put back are gone for good.
    while (!removedInstances.empty())
        removedInstances.pop_back();
}
