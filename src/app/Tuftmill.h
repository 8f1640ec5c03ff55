#pragma once

#include "TuftmillForm.h"

#include <QMainWindow>
#include <memory>

class AppSettings;
class Logger;
class MainMenu;
class QDialog;
class SceneSession;

// The single top-level window: builds every panel, lays them out and wires them
// together. Panels never hold pointers to one another; all they tell each other
// passes through the connections made here.
class Tuftmill : public QMainWindow
{
    Q_OBJECT
public:
    explicit Tuftmill(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~Tuftmill() override;

    // False when a working directory could not be made; the program must then end
    // with exit status 1 without showing the window.
    bool startedUp() const { return directoriesMade; }

    const TuftmillClass &form() const { return ui; }
    MainMenu &menu() const { return *mainMenu; }
    // How long a confirmation stays in the status line.
    static constexpr int ConfirmationMs = 5000;

    // Makes "graftals" then "scenes" in the working directory where missing; stops at
    // the first one that cannot be made.
    static bool makeDirectories();
    // How often changed graftals are written while the program runs: 30 seconds.
    static int autosaveIntervalMs();

signals:
    void aboutToQuit();
    void afterLoaded();

public slots:
    // Closes the window without asking anything, saving a changed scene first: the
    // session is ending (SIGTERM, SIGINT, SIGHUP) and nobody may be there to answer.
    void closeForTermination();
    // Asks, saying how many instances are painted on the current model, then removes the
    // selected graftal from the library and its instances from the scene.
    void removeSelectedGraftal();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // A model file dropped onto the view opens with its scene, like "Open model…".
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Asks "Unsaved scene" when the painted scene changed since it was loaded or saved.
    void closeEvent(QCloseEvent *event) override;

private:
    // Saves the changed graftals before the window closes; false when one could not be
    // written and the user keeps the window open.
    bool graftalsSavedForClosing();
    void connectPanels();
    // "horse.3ds* — Tuftmill": the model open, and a star while its painted scene has
    // changes that are not saved; "Tuftmill" alone without a model.
    void updateTitle();
    // The style controls show the scene's view style.
    void showViewStyle();
    // The menu bar's own commands, the settings kept between runs.
    void connectMenu();
    void restoreSettings();
    // "Open workspace…": the folder, the questions of closing, then Tuftmill again there.
    void openWorkspace();
    void showShortcuts();
    void showAbout();
    // The problem the library reports until it is solved, or nothing.
    void showStandingProblem();

    TuftmillClass ui;
    // The painted scene's questions and files; lent to the view, gone before it.
    std::unique_ptr<SceneSession> sceneSession;
    std::unique_ptr<Logger> mainLogger;
    std::unique_ptr<Logger> coreLogger;
    std::unique_ptr<AppSettings> settings;
    MainMenu *mainMenu = nullptr;
    QDialog *shortcutsDialog = nullptr;
    QString libraryProblem;
    bool directoriesMade = false;
    bool terminating = false;
};
