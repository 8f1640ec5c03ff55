#pragma once

#include "GraftalInstance.h"

#include <QPair>
#include <QPointF>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class Graftal;
class MeshFace;

// The undo history of the painted graftals. One step is one stroke (press to release of
// a spray, an erase or a density stroke). A step keeps only what the stroke changed: for
// every list of (mesh, graftal id) it touched, the graftals it took out with their places
// in the list before, and the graftals it put in with their places in the list after.
// Undo and redo rebuild exactly those lists, so the scene file is byte for byte what it
// was. Changes made outside a stroke cannot be undone and clear the history.
class SceneHistory
{
public:
    using Key = QPair<int, int>; // (mesh index, graftal id)
    using List = std::vector<std::unique_ptr<GraftalInstance>>;
    using Lists = std::map<Key, List>;
    // Where a graftal stands: all an instance needs to be made again.
    struct Placement
    {
        const MeshFace *face = nullptr;
        QPointF uv;
        Graftal *graftal = nullptr;
    };
    using Maker = std::function<std::unique_ptr<GraftalInstance>(const Placement &)>;
    static constexpr int MaxSteps = 200;

    SceneHistory();

    bool recording() const { return active; }
    // Starts a stroke: lists are remembered as they are when the stroke first touches them.
    void beginStroke();
    // To be called before a list changes. Outside a stroke the change cannot be undone, so
    // the history is dropped.
    void touch(const Key &key, const List &list);
    // Ends the stroke; what it changed becomes one step (none when nothing changed). Every
    // graftal the stroke took out must still exist.
    void endStroke(const Lists &lists);

    bool canUndo() const { return applied > 0; }
    bool canRedo() const { return applied < steps.size(); }
    int undoSteps() const { return int(applied); }
    int redoSteps() const { return int(steps.size() - applied); }
    bool undo(Lists &lists, const Maker &make);
    bool redo(Lists &lists, const Maker &make);
    void clear();
    // The graftal left the library for good: every step forgets its lists, so no undo or
    // redo makes its instances again, and steps about nothing else go. The other lists'
    // steps are untouched, as each step keeps its lists apart.
    void forgetGraftal(int graftalId);

    // Names the painted state: equal numbers mean the same graftals in the same lists.
    quint64 stateId() const { return applied == 0 ? baseId : steps[applied - 1].id; }

private:
    struct Entry
    {
        size_t index;
        Placement what;
    };
    struct Change
    {
        Key key;
        std::vector<Entry> removed; // places in the list before the stroke
        std::vector<Entry> added;   // places in the list after the stroke
    };
    struct Step
    {
        quint64 id = 0;
        std::vector<Change> changes;
    };

    static Placement placementOf(const GraftalInstance *instance);
    // Takes out the instances at the entries' places (ascending); false when the list
    // does not hold them there.
    static bool takeOut(List &list, const std::vector<Entry> &at);
    // Makes the entries' instances at their places (ascending) of the resulting list.
    static bool putIn(List &list, const std::vector<Entry> &at, const Maker &make);
    bool apply(Lists &lists, const Step &step, bool forward, const Maker &make);

    std::deque<Step> steps;
    size_t applied = 0;
    quint64 baseId;
    bool active = false;
    quint64 strokeStart = 0;
    std::map<Key, std::vector<GraftalInstance *>> before;
};
