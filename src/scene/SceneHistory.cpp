#include "SceneHistory.h"

namespace {
quint64 newStateId()
{
    static quint64 next = 0;
    return ++next;
}
} // namespace

SceneHistory::SceneHistory() : baseId(newStateId()) {}

void SceneHistory::clear()
{
    steps.clear();
    applied = 0;
    baseId = newStateId();
    before.clear();
    active = false;
}

void SceneHistory::forgetGraftal(int graftalId)
{
    size_t kept = 0, keptApplied = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        std::erase_if(steps[i].changes,
                      [graftalId](const Change &c) { return c.key.second == graftalId; });
        if (steps[i].changes.empty())
            continue;
        if (i < applied)
            ++keptApplied;
        if (kept != i)
            steps[kept] = std::move(steps[i]);
        ++kept;
    }
    steps.resize(kept);
    applied = keptApplied;
}

void SceneHistory::beginStroke()
{
    before.clear();
    active = true;
    strokeStart = GraftalInstance::nextSerial();
}

void SceneHistory::touch(const Key &key, const List &list)
{
    if (!active) {
        clear();
        return;
    }
    if (before.count(key))
        return;
    std::vector<GraftalInstance *> &order = before[key];
    order.reserve(list.size());
    for (const auto &instance : list)
        order.push_back(instance.get());
}

SceneHistory::Placement SceneHistory::placementOf(const GraftalInstance *instance)
{
    return {instance->face(), instance->barycentric, instance->graftal()};
}

void SceneHistory::endStroke(const Lists &lists)
{
    if (!active)
        return;
    active = false;
    Step step;
    for (const auto &[key, was] : before) {
        static const List none;
        const auto found = lists.find(key);
        const List &now = found == lists.end() ? none : found->second;
        Change change{key, {}, {}};
        size_t i = 0, j = 0;
        // Kept graftals keep their order; new ones are told by their serial numbers.
        while (i < was.size() && j < now.size() && was[i] == now[j].get())
            ++i, ++j;
        for (; j < now.size(); ++j) {
            const GraftalInstance *instance = now[j].get();
            if (instance->serial() >= strokeStart) {
                change.added.push_back({j, placementOf(instance)});
                continue;
            }
            while (i < was.size() && was[i] != instance) {
                change.removed.push_back({i, placementOf(was[i])});
                ++i;
            }
            if (i == was.size()) { // an old graftal that was not there: nothing to trust
                clear();
                return;
            }
            ++i;
        }
        for (; i < was.size(); ++i)
            change.removed.push_back({i, placementOf(was[i])});
        if (!change.removed.empty() || !change.added.empty())
            step.changes.push_back(std::move(change));
    }
    before.clear();
    if (step.changes.empty())
        return;
    step.id = newStateId();
    steps.erase(steps.begin() + qsizetype(applied), steps.end());
    steps.push_back(std::move(step));
    if (steps.size() > size_t(MaxSteps)) {
        baseId = steps.front().id;
        steps.pop_front();
    }
    applied = steps.size();
}

bool SceneHistory::takeOut(List &list, const std::vector<Entry> &at)
{
    if (at.empty())
        return true;
    if (at.back().index >= list.size())
        return false;
    for (const Entry &e : at) {
        const GraftalInstance *instance = list[e.index].get();
        if (instance->face() != e.what.face || instance->graftal() != e.what.graftal ||
            instance->barycentric != e.what.uv)
            return false;
    }
    size_t out = at.front().index, k = 0;
    for (size_t i = out; i < list.size(); ++i) {
        if (k < at.size() && at[k].index == i) {
            ++k;
            continue;
        }
        list[out++] = std::move(list[i]);
    }
    list.resize(out);
    return true;
}

bool SceneHistory::putIn(List &list, const std::vector<Entry> &at, const Maker &make)
{
    if (at.empty())
        return true;
    const size_t total = list.size() + at.size();
    const size_t first = at.front().index;
    if (at.back().index >= total || first > list.size())
        return false;
    List tail;
    tail.reserve(list.size() - first);
    for (size_t i = first; i < list.size(); ++i)
        tail.push_back(std::move(list[i]));
    list.resize(first);
    list.reserve(total);
    size_t k = 0, t = 0;
    for (size_t place = first; place < total; ++place) {
        if (k < at.size() && at[k].index == place)
            list.push_back(make(at[k++].what));
        else
            list.push_back(std::move(tail[t++]));
    }
    return true;
}

bool SceneHistory::apply(Lists &lists, const Step &step, bool forward, const Maker &make)
{
    for (const Change &change : step.changes) {
        List &list = lists[change.key];
        const std::vector<Entry> &out = forward ? change.removed : change.added;
        const std::vector<Entry> &in = forward ? change.added : change.removed;
        if (!takeOut(list, out) || !putIn(list, in, make))
            return false;
        if (list.empty())
            lists.erase(change.key);
    }
    return true;
}

bool SceneHistory::undo(Lists &lists, const Maker &make)
{
    if (active || applied == 0)
        return false;
    if (!apply(lists, steps[applied - 1], false, make)) {
        clear();
        return false;
    }
    --applied;
    return true;
}

bool SceneHistory::redo(Lists &lists, const Maker &make)
{
    if (active || applied == steps.size())
        return false;
    if (!apply(lists, steps[applied], true, make)) {
        clear();
        return false;
    }
    ++applied;
    return true;
}
