#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class Logger;
class ModelLoadController;
class QWidget;
class Scene;

// The painted scene and its file, as the user deals with them: the "Unsaved scene"
// question before painted graftals would be lost (closing, opening another model, a model
// that arrives after more painting), saving and reloading with their questions and
// messages, and the "(recovered)" file beside a scene file that another session saved when
// nobody can be asked. The main window owns it and lends it to the view.
class SceneSession : public QObject
{
    Q_OBJECT
public:
    // `parent` parents the questions; a model arriving through `models` waits while one
    // is open, and is asked about before it replaces painted graftals.
    SceneSession(Scene &painted, ModelLoadController &models, QWidget &parent);
    ~SceneSession() override;

    // Before painted graftals that changed since they were loaded or saved would be lost
    // (`when`: "closing", "opening a.3ds"): the "Unsaved scene" question, Save writing the
    // scene state first. Without asking when `quietly` (the state is saved), or when
    // `ended` turns true while the question is open. True when it is all right to go on;
    // false when the user chose to stay or the save failed (which is shown).
    bool settleUnsavedScene(const QString &when, bool quietly = false,
                            const std::function<bool()> &ended = {});
    // "Open 3DS file": the file dialog, then the question about the painted scene, then
    // the load.
    void openModelInteractively();
    // "Open model…": like "Open 3DS file" but the painted graftals saved with the model
    // come too; the dialog starts in `folder`. The file chosen, empty when cancelled.
    QString openModelWithSceneInteractively(const QString &folder);
    // Opens `path` with its saved scene and view, after the question about the painted
    // scene; false when the user chose to stay.
    bool openModelWithScene(const QString &path);
    // True for a file whose name ends in a model format the reader takes.
    static bool isModelFile(const QString &path);
    // "Save current state of scene": asks before replacing a scene painted on another
    // model, and says when the save failed.
    void saveSceneInteractively();
    // "Reload state for scene from disk": asks about unsaved graftals first, refuses a file
    // that is no scene with a message, and tells how many graftals could not be placed.
    void reloadSceneInteractively();
    // "Set background color": a cancelled dialog keeps the colour there was.
    void chooseBackground();

signals:
    // A stroke that was running ended: the history changed.
    void historyChanged();
    // What the view shows of the scene changed: reloaded graftals, a new background.
    void sceneChanged();
    // A line for the window's status bar.
    void statusMessage(const QString &message);
    // Follows the status message that confirms something went as asked: it may go after
    // a while, where a problem stays until it is solved.
    void confirmed(const QString &message);
    // The camera and the view style came back from the view saved with the scene.
    void viewRestored();

private:
    // Saves the scene file, then the view beside it; the status line tells.
    bool saveSceneAndView();
    // Brings back the view saved beside the scene file, if there is a usable one; the
    // notes for the status line, about a missing one only when `reloading`.
    QStringList restoreView(bool reloading);
    QString viewFileName() const;
    // A free "(recovered)" name beside the scene file that fits a folder entry.
    QString recoveredFileName() const;
    // Saves the painted graftals under a "(recovered)" name when their own file cannot be
    // written or is another session's (`why`, a clause for the message), and tells where;
    // the name, or empty when that failed too.
    QString saveRecovered(const QString &when, const QString &why);
    QString cannotWrite() const;
    static QString recoveredNote(const QString &recovered);
    // The model the view beside the scene file names when that is not the one open.
    QString otherModelOfView() const;
    // The dialog's filter of every model format, then each on its own.
    static QString modelFilters();
    // Loads the scene file of the model just installed; the status line's words for it.
    QString loadSceneOfModel();

    Scene &scene;
    ModelLoadController &loader;
    QWidget &dialogParent;
    std::unique_ptr<Logger> logger;
    // The model loading now came through "Open model…": its scene follows it.
    bool sceneFollowsModel = false;
};
