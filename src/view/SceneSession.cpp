#include "SceneSession.h"

#include "GraftalFit.h"
#include "Logger.h"
#include "ModelLoadController.h"
#include "SafeFile.h"
#include "Scene.h"
#include "SceneViewFile.h"

#include <QAbstractButton>
#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QWidget>
#include <utility>

SceneSession::SceneSession(Scene &painted, ModelLoadController &models, QWidget &parent)
    : scene(painted), loader(models), dialogParent(parent),
      logger(std::make_unique<Logger>(QStringLiteral("app.gl.render")))
{
    loader.askBeforeReplacing = [this](const QString &fileName) {
        return settleUnsavedScene(QStringLiteral("opening %1").arg(fileName));
    };
    // A model comes with the view its scene was saved with, before its first pick picture;
    // textures it could not show are named in the status line.
    connect(&loader, &ModelLoadController::modelInstalled, this, [this] {
        const QString opened =
            std::exchange(sceneFollowsModel, false) ? loadSceneOfModel() : QString();
        QStringList notes = scene.modelNotes() + restoreView(false);
        if (notes.isEmpty() && !opened.isEmpty()) {
            emit statusMessage(opened);
            emit confirmed(opened);
            return;
        }
        if (!opened.isEmpty())
            notes.prepend(opened);
        if (!notes.isEmpty())
            emit statusMessage(notes.join(QStringLiteral("; ")));
    });
    connect(&loader, &ModelLoadController::finished, this, [this] { sceneFollowsModel = false; });
}

SceneSession::~SceneSession()
{
    loader.askBeforeReplacing = nullptr;
}

QString SceneSession::modelFilters()
{
    // Every format the model reader takes, then each on its own.
    static const QStringList formats = {
        QStringLiteral("3DS files (*.3ds)"),         QStringLiteral("OBJ files (*.obj)"),
        QStringLiteral("glTF files (*.gltf *.glb)"), QStringLiteral("FBX files (*.fbx)"),
        QStringLiteral("PLY files (*.ply)"),         QStringLiteral("STL files (*.stl)"),
        QStringLiteral("Collada files (*.dae)"),     QStringLiteral("3MF files (*.3mf)"),
        QStringLiteral("OFF files (*.off)"),         QStringLiteral("DirectX files (*.x)"),
        QStringLiteral("AC3D files (*.ac)"),         QStringLiteral("ASE files (*.ase)"),
        QStringLiteral("LightWave files (*.lwo)")};
    QStringList patterns;
    for (const QString &f : formats)
        patterns.append(f.section(QLatin1Char('('), 1).chopped(1));
    const QString filters =
        QStringLiteral("All models (%1);;").arg(patterns.join(QLatin1Char(' '))) +
        formats.join(QStringLiteral(";;"));
    return filters;
}

bool SceneSession::isModelFile(const QString &path)
{
    static const QStringList suffixes = {
        QStringLiteral("3ds"), QStringLiteral("obj"), QStringLiteral("gltf"), QStringLiteral("glb"),
        QStringLiteral("fbx"), QStringLiteral("ply"), QStringLiteral("stl"),  QStringLiteral("dae"),
        QStringLiteral("3mf"), QStringLiteral("off"), QStringLiteral("x"),    QStringLiteral("ac"),
        QStringLiteral("ase"), QStringLiteral("lwo")};
    return suffixes.contains(QFileInfo(path).suffix().toLower());
}

void SceneSession::openModelInteractively()
{
    const QString name = QFileDialog::getOpenFileName(nullptr, QStringLiteral("Open 3DS model"),
                                                      QString(), modelFilters());
    // A new model takes the painted graftals with it.
    if (name.isEmpty() ||
        !settleUnsavedScene(QStringLiteral("opening %1").arg(QFileInfo(name).fileName())))
        return;
    loader.load(name);
    loader.rememberQuestionAt(scene.stateId());
}

QString SceneSession::openModelWithSceneInteractively(const QString &folder)
{
    const QString name = QFileDialog::getOpenFileName(dialogParent.window(),
                                                      QStringLiteral("Open model"), folder,
                                                      modelFilters());
    return !name.isEmpty() && openModelWithScene(name) ? name : QString();
}

bool SceneSession::openModelWithScene(const QString &path)
{
    if (!settleUnsavedScene(QStringLiteral("opening %1").arg(QFileInfo(path).fileName())))
        return false;
    loader.load(path);
    loader.rememberQuestionAt(scene.stateId());
    sceneFollowsModel = true;
    return true;
}

QString SceneSession::loadSceneOfModel()
{
    const QString model = QFileInfo(scene.modelPath()).fileName();
    const QString file = scene.stateFileName();
    if (!safefile::exists(file))
        return QStringLiteral("Opened %1; no scene is saved for it yet (%2)").arg(model, file);
    QString error;
    qint64 records = 0, used = 0;
    if (!scene.loadStateFrom(file, error, &records, &used)) {
        logger->warn(QStringLiteral("the scene %1 of %2 is not loaded: %3").arg(file, model, error));
        return QStringLiteral("Opened %1 without its scene: %2 could not be loaded: %3")
            .arg(model, file, error);
    }
    emit historyChanged();
    emit sceneChanged();
    const QLocale english(QLocale::English);
    QString opened = QStringLiteral("Opened %1 with %2 painted graftals from %3")
                         .arg(model, english.toString(used), file);
    if (used < records)
        opened += QStringLiteral(" (%1 of them could not be placed)").arg(english.toString(records - used));
    return opened;
}

bool SceneSession::settleUnsavedScene(const QString &when, bool quietly,
                                      const std::function<bool()> &ended)
{
    if (scene.strokeRunning()) {
        scene.endStroke();
        emit historyChanged();
    }
    if (!scene.loaded() || !scene.changedSinceSaved())
        return true;
    // What is asked about is the scene on screen now: a model that finishes loading
    // meanwhile waits until the question is settled.
    struct Holding
    {
        ModelLoadController &loader;
        bool before = loader.installsHeldNow();
        ~Holding() { loader.setInstallsHeld(before); }
    } holding{loader};
    loader.setInstallsHeld(true);
    auto save = [&] {
        if (saveSceneAndView())
            return true;
        logger->error(QStringLiteral("the scene could not be saved to %1 before %2")
                          .arg(scene.stateFileName(), when));
        return false;
    };
    // Without anybody to ask, a scene file another session saved is kept, and the graftals
    // go beside it.
    auto saveUnasked = [&] {
        if (!scene.stateFileIsOurs())
            saveRecovered(when, QStringLiteral("beside the earlier %1").arg(scene.stateFileName()));
        else if (!save())
            saveRecovered(when, cannotWrite());
    };
    if (quietly) {
        saveUnasked();
        return true;
    }
    const QString replacing = scene.stateFileIsOurs()
                                  ? QString()
                                  : QStringLiteral(" (replacing the scene saved there before)");
    QMessageBox box(
        QMessageBox::Question, QStringLiteral("Unsaved scene"),
        QStringLiteral("The graftals painted on %1 have changed since they were "
                       "last saved.\nSave them to %2%3 before %4?")
            .arg(QFileInfo(scene.modelPath()).fileName(), scene.stateFileName(), replacing, when),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, dialogParent.window());
    box.setDefaultButton(QMessageBox::Save);
    // Every answer within reach of the keyboard (Alt+S, Alt+D, Alt+C), whatever the theme.
    box.button(QMessageBox::Save)->setText(QStringLiteral("&Save"));
    box.button(QMessageBox::Discard)->setText(QStringLiteral("&Discard"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("&Cancel"));
    const int answer = box.exec();
    if (ended && ended()) {
        saveUnasked();
        return true;
    }
    if (answer == QMessageBox::Discard)
        return true;
    if (answer != QMessageBox::Save)
        return false;
    if (save())
        return true;
    const QString recovered = saveRecovered(when, cannotWrite());
    QMessageBox::warning(
        dialogParent.window(), QStringLiteral("Save failed"),
        QStringLiteral("The scene could not be saved to %1.").arg(scene.stateFileName()) +
            recoveredNote(recovered));
    // A session that ended meanwhile still ends.
    return ended && ended();
}

void SceneSession::saveSceneInteractively()
{
    const QString file = scene.stateFileName();
    // A scene file of another model under the same name is replaced only when asked.
    QString why;
    const QString otherModel = otherModelOfView();
    if (!otherModel.isEmpty())
        why = QStringLiteral("its view names %1").arg(otherModel);
    if (scene.loaded() && !scene.stateFileIsOurs() &&
        (!otherModel.isEmpty() || !scene.stateFileFitsModel(why)) &&
        QMessageBox::question(dialogParent.window(), QStringLiteral("Replace scene"),
                              QStringLiteral("%1 holds a scene painted on another model: %2.\n"
                                             "Replace it with the graftals painted on %3?")
                                  .arg(file, why, QFileInfo(scene.modelPath()).fileName()),
                              QMessageBox::Save | QMessageBox::Cancel,
                              QMessageBox::Cancel) != QMessageBox::Save)
        return;
    if (saveSceneAndView())
        return;
    const QString failure = scene.stateError();
    const QString recovered = saveRecovered(QStringLiteral("going on"), cannotWrite());
    QMessageBox::warning(&dialogParent, QStringLiteral("Save failed"),
                         QStringLiteral("The scene could not be saved to %1.\n%2").arg(file, failure) +
                             recoveredNote(recovered));
}

void SceneSession::reloadSceneInteractively()
{
    // What is painted and not saved goes only when the user says so.
    if (!settleUnsavedScene(QStringLiteral("reloading it from disk")))
        return;
    const QString file = scene.stateFileName();
    QString error;
    qint64 records = 0, used = 0;
    if (!scene.loadStateFrom(file, error, &records, &used)) {
        QMessageBox::warning(
            &dialogParent, QStringLiteral("Reload failed"),
            QStringLiteral("The scene could not be reloaded from %1:\n%2").arg(file, error));
        return;
    }
    QStringList notes = restoreView(true);
    emit sceneChanged();
    if (used < records)
        notes.prepend(QStringLiteral("%1 of the %2 graftals of %3 could not be placed: their "
                                     "graftal is not in the library or their face is not on "
                                     "this model")
                          .arg(records - used)
                          .arg(records)
                          .arg(file));
    else
        notes.prepend(QStringLiteral("Scene reloaded from %1").arg(file));
    emit statusMessage(notes.join(QStringLiteral("; ")));
    if (notes.size() == 1 && used == records)
        emit confirmed(notes.first());
}

QString SceneSession::recoveredFileName() const
{
    // Beside the scene file, under a name short enough to be saved whatever the model's:
    // the base is cut (at a whole character) until the name fits a folder entry.
    constexpr qsizetype LongestFileName = 255; // bytes, on every common file system
    const QFileInfo state(scene.stateFileName());
    QString base = state.completeBaseName();
    auto nameOf = [&](int n) {
        return base + (n < 2 ? QStringLiteral(" (recovered).dat")
                             : QStringLiteral(" (recovered %1).dat").arg(n));
    };
    auto fits = [&](int n) { return QFile::encodeName(nameOf(n)).size() <= LongestFileName; };
    int n = 1;
    for (;; ++n) {
        while (!base.isEmpty() && !fits(n))
            base.chop(base.size() >= 2 && base.at(base.size() - 1).isLowSurrogate() ? 2 : 1);
        if (!safefile::exists(state.dir().filePath(nameOf(n))))
            break;
    }
    return state.dir().filePath(nameOf(n));
}

QString SceneSession::cannotWrite() const
{
    return QStringLiteral("as %1 could not be written").arg(scene.stateFileName());
}

QString SceneSession::saveRecovered(const QString &when, const QString &why)
{
    const QString beside = recoveredFileName();
    if (!scene.saveStateTo(beside)) {
        logger->error(
            QStringLiteral("the scene could not be saved to %1 before %2").arg(beside, when));
        return {};
    }
    const QString told =
        QStringLiteral("The painted graftals were saved to %1 before %2, %3").arg(beside, when, why);
    logger->warn(told);
    emit statusMessage(told);
    return beside;
}

QString SceneSession::recoveredNote(const QString &recovered)
{
    return recovered.isEmpty()
               ? QString()
               : QStringLiteral("\nThe painted graftals were saved to %1 instead.").arg(recovered);
}

QString SceneSession::viewFileName() const
{
    return SceneViewFile::besideScene(scene.stateFileName());
}

bool SceneSession::saveSceneAndView()
{
    if (!scene.saveState())
        return false;
    SceneViewFile view;
    view.camera = scene.camera();
    view.style = scene.style;
    view.modelPath = QFileInfo(scene.modelPath()).absoluteFilePath();
    QString why;
    if (!view.write(viewFileName(), why)) {
        logger->warn(
            QStringLiteral("the view could not be saved to %1: %2").arg(viewFileName(), why));
        emit statusMessage(QStringLiteral("Scene saved to %1; its view could not be saved: %2")
                               .arg(scene.stateFileName(), why));
        return true;
    }
    emit statusMessage(QStringLiteral("Scene saved to %1").arg(scene.stateFileName()));
    emit confirmed(QStringLiteral("Scene saved to %1").arg(scene.stateFileName()));
    return true;
}

QString SceneSession::otherModelOfView() const
{
    SceneViewFile view;
    QString why;
    if (!scene.loaded() || view.read(viewFileName(), why) != SceneViewFile::Outcome::Read)
        return {};
    const QString ours = QFileInfo(scene.modelPath()).absoluteFilePath();
    return view.modelPath == ours ? QString() : view.modelPath;
}

QStringList SceneSession::restoreView(bool reloading)
{
    if (!scene.loaded())
        return {};
    SceneViewFile view;
    view.style.twoSided = scene.style.twoSided; // kept when the file does not say
    QString why;
    const QString file = viewFileName();
    const SceneViewFile::Outcome outcome = view.read(file, why);
    QStringList notes;
    if (outcome != SceneViewFile::Outcome::Read && !reloading) {
        // Graftal sizes are in the model's units: another model starts from its own, fitted
        // when a graftal of base size 1 would be far out of proportion with it.
        scene.style.graftalScale = ViewStyle().graftalScale;
        if (graftalfit::wanted(scene.extent)) {
            scene.style.graftalScale = graftalfit::fitted(scene.extent);
            notes.append(graftalfit::message(scene.style.graftalScale));
        }
        emit viewRestored();
    }
    if (outcome == SceneViewFile::Outcome::Missing)
        return reloading ? QStringList{QStringLiteral("no view was saved with it (%1 is missing)")
                                           .arg(file)}
                         : notes;
    if (outcome == SceneViewFile::Outcome::Refused) {
        logger->warn(QStringLiteral("%1 is ignored: %2").arg(file, why));
        return notes + QStringList{QStringLiteral("%1 is ignored: %2").arg(file, why)};
    }
    scene.style = view.style;
    scene.orientModel();
    scene.setCamera(view.cameraFor(scene.camera()));
    emit viewRestored();
    if (view.modelPath != QFileInfo(scene.modelPath()).absoluteFilePath())
        return {QStringLiteral("this scene was painted on %1").arg(view.modelPath)};
    return {};
}

void SceneSession::chooseBackground()
{
    const QColor color = QColorDialog::getColor(Qt::white, nullptr);
    if (!color.isValid())
        return;
    if (color != scene.background)
        scene.markChanged();
    scene.background = color;
    emit sceneChanged();
}
