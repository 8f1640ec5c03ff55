#pragma once

#include "GraftalLookup.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <memory>
#include <vector>

class Graftal;
class Logger;
class QAction;
class QTreeWidget;
class QTreeWidgetItem;

// The library of graftals: loads the stored ones at start-up, creates new untitled
// ones, lists them (in the graftal tree, when it is given one: the render command's
// library has no widget), tracks and announces the selection, saves on request and at
// quit, and relays image changes to the 3D view. It owns every graftal; none is deleted
// while the program runs.
class TreeManager : public QObject, public GraftalLookup
{
    Q_OBJECT
public:
    // The process-wide library, created with `tree` on the first call.
    static TreeManager *instance(QTreeWidget *tree = nullptr);
    // Deletes the process-wide library with every graftal (the next instance() makes a
    // new one). The program does it once, after the window is gone and before the
    // application object, so that no image outlives the application.
    static void destroyInstance();

    // What is read of graftals/ at the most; more is left on disk as it is.
    static constexpr int MaxGraftals = 10000;
    // The small file of ours in graftals/ that records the ids the workspace has seen.
    static QString idsFileName();

    explicit TreeManager(QTreeWidget *tree);
    ~TreeManager() override;

    bool loadAllGraftals();
    // A library that only reads (the render command) never records the ids it has seen.
    void setRecordingIds(bool recording) { recordingIds = recording; }
    Graftal *graftalById(int id) const override;
    bool containsId(int id) const override;

    Graftal *currentGraftal() const { return current; }
    qint64 nextGraftalId() const { return nextId; }
    qint64 nextUntitledNumber() const { return nextUntitled; }
    // Every listed graftal, in the order of the tree.
    QList<Graftal *> listedGraftals() const;

    // Saves one graftal under a file name no other graftal uses; false with a message
    // naming what could not be written.
    bool saveGraftal(Graftal *g, QString *error = nullptr);

    // Adds a copy of `g` named "<name> copy" with a fresh id and every level, and selects it.
    Graftal *duplicateGraftal(Graftal *g);
    // Takes `g` out of the list after writing what it has unsaved, and moves its files to
    // the desktop trash, or where there is none into graftals/.removed/; nothing is deleted.
    // The graftal object itself lives on under no id the library answers for, so that
    // nothing still pointing at it dangles; graftalRemoved tells the scene to let it go. False with
    // the reason when a file could not be moved: it then stays listed.
    bool removeGraftal(Graftal *g, QString *why = nullptr);
    // The folder files go to when there is no desktop trash.
    static QString removedDirectory();

    // Writes every changed graftal without asking; returns what failed, one entry each.
    QStringList saveChangedGraftals();
    // From now on every graftal with unsaved changes is written each `intervalMs`
    // milliseconds, so that a crash loses at most that much work.
    void startAutosave(int intervalMs);
    int autosaveInterval() const { return autosaveTimer.isActive() ? autosaveTimer.interval() : 0; }

signals:
    void graftalChanged(Graftal *g);
    void selectedChanged(Graftal *g);
    void reloadTextures(Graftal *g);
    void graftalAdded(Graftal *g);
    void graftalRemoved(Graftal *g);
    void pixmapUpdated(Graftal *g, int index);
    // Something the user should know without being stopped: level images that could not
    // be read, or an autosave that failed. An empty message means the trouble is over.
    void problemReported(const QString &message);

public slots:
    void treeAction(QAction *a);
    void graftalSelected(QTreeWidgetItem *i);
    void beforeQuitHook();
    void addGraftal();
    void saveCurrentGraftal();
    void saveAllGraftals();
    void flushChangedTexturesToOpenGL();
    void graftalPixmapChanged(Graftal *g);
    // Levels of `g` came, went or moved.
    void graftalLevelsChanged(Graftal *g);
    void graftalParametersChanged(Graftal *g);
    void setSelected(Graftal *g);
    // Writes every listed graftal that has unsaved changes, the way quitting does. A
    // failure is logged and reported once, not at every attempt.
    void autosave();

private:
    // Lists a graftal last, with an item in the tree when there is one.
    void list(Graftal *g);
    // Makes a listed graftal the selected one (through the tree when there is one).
    void select(Graftal *g);
    void setWindowCursor(Qt::CursorShape shape);
    void assignUniqueFileName(Graftal *g);
    bool baseNameTaken(const QString &base, const Graftal *g) const;
    bool baseBlocked(const QString &base, int levels) const;
    QHash<unsigned int, QString> readKnownIds();
    void recordKnownIds();
    unsigned int allocateId();
    void settleLoadedIds(const QList<Graftal *> &loaded);
    // Every listed graftal with unsaved changes, in the order of the tree.
    QList<Graftal *> changedGraftals() const;
    // The autosave's failure line goes once every change is on disk, whichever save wrote it.
    void clearAutosaveWarningIfAllSaved();
    // Saves the graftals; user-initiated saves show what failed, the others log it.
    // Returns the failures, one entry per graftal.
    QStringList saveGraftals(const QList<Graftal *> &graftals, bool interactive);
    Graftal *take(std::unique_ptr<Graftal> g);
    // Lists, announces and selects a graftal new to the library.
    void addNew(Graftal *g);
    bool moveAway(const QString &file, QString &why);

    std::unique_ptr<Logger> logger;
    // Wider than the ids and numbers they count on from, so that the largest stored
    // ones do not overflow.
    qint64 nextId = 1;
    qint64 nextUntitled = 1;
    QHash<int, Graftal *> graftalsById;
    QList<int> ids;
    QSet<unsigned int> usedIds;
    QTreeWidget *tree;
    QMap<QTreeWidgetItem *, Graftal *> graftalsByItem;
    QList<Graftal *> listed; // every listed graftal, in the order listed (the tree's order)
    Graftal *current = nullptr;
    std::vector<std::unique_ptr<Graftal>> owned;
    QTimer autosaveTimer;
    bool autosaveFailing = false;
    QByteArray knownIdsContent;
    QHash<unsigned int, QString> knownIds; // as recorded when the library was loaded
    bool recordingIds = true;
};
