// Closing the window with a painted scene that was not saved: the "Unsaved scene"
// question and each of its answers, failures to save, and the end of a session.
#include "../support/GlTestMain.h"
#include "../support/Models.h"
#include "../support/ReaderSupport.h"
#include "../support/TestSupport.h"
#include "GLRender.h"
#include "LoggerOutput.h"
#include "Scene.h"
#include "TreeManager.h"
#include "Tuftmill.h"

#include <QAbstractButton>
#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>
#include <QToolBar>
#include <functional>

using testsupport::ScopedWorkDir;

namespace {
// Answers every message box as it shows: the "Unsaved scene" question with one of its
// buttons, any other box with OK; notes the titles and what the question offered.
struct Answer : QObject
{
    QStringList titles;
    QStringList offered;
    QTimer timer;

    explicit Answer(QMessageBox::StandardButton choice)
    {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [this, choice] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            titles.append(box->windowTitle());
            if (box->windowTitle() == QStringLiteral("Unsaved scene")) {
                offered.clear();
                for (QAbstractButton *b : box->buttons())
                    offered.append(b->text().remove(QLatin1Char('&')));
                box->button(choice)->click();
            } else {
                box->accept();
            }
        });
        timer.start();
    }
};

// Calls `act` with every message box that shows, until it returns true; notes the titles.
struct OnBox : QObject
{
    QStringList titles;
    QTimer timer;
    explicit OnBox(std::function<bool(QMessageBox *)> act)
    {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [this, act] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (titles.isEmpty() || titles.last() != box->windowTitle())
                titles.append(box->windowTitle());
            act(box);
        });
        timer.start();
    }
};

constexpr qint64 Header = 15, Record = 24;

// A scene file of `records` graftals of the given id on the first three faces.
QByteArray sceneFile(int records, int graftalId)
{
    QByteArray bytes;
    QDataStream s(&bytes, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_4_3);
    s << QColor(Qt::white) << qint32(records);
    for (int i = 0; i < records; ++i)
        s << qint32(i % 3) << qint32(graftalId) << 0.2 << 0.2;
    return bytes;
}

// "Open 3DS file" as the toolbar carries it out, choosing a box model in the file dialog.
void openBoxFromTheToolbar(Tuftmill &window)
{
    ModelBuilder box;
    box.addBox("box", {0, 0, 0}, {1, 1, 1}, QString());
    QVERIFY(box.save("box.3ds"));
    testsupport::ModalDriver chooser([](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        if (!dialog)
            return false;
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(QDir::current().absoluteFilePath("box.3ds"));
        static_cast<QDialog *>(dialog)->accept();
        return true;
    });
    QAction open;
    open.setData(1);
    window.form().view->dispatchAction(&open);
}

// The main window with the two-mesh model open and, unless told otherwise, one graftal
// painted on it in a stroke.
struct Session
{
    ScopedWorkDir work;
    Tuftmill window;
    Scene *scene = nullptr;

    explicit Session(bool paint = true, const QString &model = QStringLiteral("two.3ds"))
    {
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        testsupport::twoMeshModel().save(model);
        GLRender *view = window.form().view;
        QVERIFY(view->openModel(model));
        scene = view->scene();
        if (paint) {
            scene->beginStroke();
            scene->addInstance(scene->face(0), {0.25, 0.25},
                               TreeManager::instance()->currentGraftal());
            scene->endStroke();
        }
    }
    ~Session() { TreeManager::destroyInstance(); }
    int graftalId() const { return int(TreeManager::instance()->currentGraftal()->id()); }
};
} // namespace

class TestUnsavedScene : public QObject
{
    Q_OBJECT
private slots:
    void eachAnswer_data();
    void eachAnswer();
    void nothingIsAskedWithoutChanges();
    void aFailedSaveKeepsTheWindowOpen();
    void terminationSavesWithoutAsking();
    void openingAnotherModelAsksFirst_data() { eachAnswer_data(); }
    void openingAnotherModelAsksFirst();
    void aModelArrivingDuringTheQuestionWaits();
    void paintingWhileAModelLoadsAsksAtItsArrival_data() { eachAnswer_data(); }
    void paintingWhileAModelLoadsAsksAtItsArrival();
    void sessionEndWhileAskingSaves();
    void sessionEndDuringSaveFailedStillCloses();
    void sessionEndKeepsAnEarlierSceneFileNeverLoaded();
    void titleTellsTheModelAndUnsavedChanges();
    void longModelNamesKeepTheirGraftals_data();
    void longModelNamesKeepTheirGraftals();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestUnsavedScene::eachAnswer_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("saved");
    QTest::newRow("Save") << int(QMessageBox::Save) << true << true;
    QTest::newRow("Discard") << int(QMessageBox::Discard) << true << false;
    QTest::newRow("Cancel") << int(QMessageBox::Cancel) << false << false;
}

void TestUnsavedScene::eachAnswer()
{
    QFETCH(int, choice);
    QFETCH(bool, closes);
    QFETCH(bool, saved);
    Session s;
    QVERIFY(s.scene->changedSinceSaved());
    Answer answer{QMessageBox::StandardButton(choice)};
    s.window.close();
    QCOMPARE(answer.titles, QStringList{"Unsaved scene"});
    answer.offered.sort();
    QCOMPARE(answer.offered, (QStringList{"Cancel", "Discard", "Save"}));
    QCOMPARE(s.window.isVisible(), !closes);
    QCOMPARE(QFileInfo::exists("scenes/two.dat"), saved);
    if (saved) {
        QCOMPARE(QFileInfo("scenes/two.dat").size(), 15 + 24);
        QVERIFY(!s.scene->changedSinceSaved());
    }
}

void TestUnsavedScene::nothingIsAskedWithoutChanges()
{
    {
        Session s(false);
        Answer answer{QMessageBox::Cancel};
        s.window.close();
        QVERIFY(!s.window.isVisible());
        QVERIFY(answer.titles.isEmpty());
    }
    // Painted, saved, then painted and undone: what is on disk is what shows.
    Session s;
    QVERIFY(s.scene->saveState());
    s.scene->beginStroke();
    s.scene->addInstance(s.scene->face(2), {0.1, 0.1}, TreeManager::instance()->currentGraftal());
    s.scene->endStroke();
    QVERIFY(s.scene->undo());
    Answer answer{QMessageBox::Cancel};
    s.window.close();
    QVERIFY(!s.window.isVisible());
    QVERIFY(answer.titles.isEmpty());
}

void TestUnsavedScene::aFailedSaveKeepsTheWindowOpen()
{
    Session s;
    QVERIFY(QDir().rename("scenes", "scenes.away"));
    QVERIFY(testsupport::writeBytes("scenes", "a file where the directory was"));
    {
        Answer answer{QMessageBox::Save};
        s.window.close();
        QCOMPARE(answer.titles, (QStringList{"Unsaved scene", "Save failed"}));
        QVERIFY(s.window.isVisible());
        QVERIFY(s.scene->changedSinceSaved());
    }
    QVERIFY(QFile::remove("scenes"));
    QVERIFY(QDir().rename("scenes.away", "scenes"));
    Answer answer{QMessageBox::Save};
    s.window.close();
    QVERIFY(!s.window.isVisible());
    QVERIFY(QFileInfo::exists("scenes/two.dat"));
}

void TestUnsavedScene::terminationSavesWithoutAsking()
{
    Session s;
    Answer answer{QMessageBox::Cancel};
    s.window.closeForTermination();
    QVERIFY(!s.window.isVisible());
    QVERIFY(answer.titles.isEmpty());
    QCOMPARE(QFileInfo("scenes/two.dat").size(), 15 + 24);
}

void TestUnsavedScene::openingAnotherModelAsksFirst()
{
    // A new model takes the painted graftals with it: the same question comes first, and
    // Cancel keeps the model and its graftals.
    QFETCH(int, choice);
    QFETCH(bool, closes);
    QFETCH(bool, saved);
    Session s;
    Answer answer{QMessageBox::StandardButton(choice)};
    openBoxFromTheToolbar(s.window);
    QCOMPARE(answer.titles, QStringList{"Unsaved scene"});
    QTRY_VERIFY(!s.window.form().view->loadingModel());
    QCOMPARE(QFileInfo(s.scene->modelPath()).fileName(),
             closes ? QStringLiteral("box.3ds") : QStringLiteral("two.3ds"));
    QCOMPARE(s.scene->instanceCount(), closes ? 0 : 1);
    QCOMPARE(QFileInfo("scenes/two.dat").size(), saved ? 15 + 24 : 0);
}

// Paint on two.3ds, start opening other.3ds, close the window while it loads; the model
// arrives while "Unsaved scene" is open and only then the user answers "Save": what was
// painted on two.3ds is saved to its own file, and other.3ds's scene file is untouched.
void TestUnsavedScene::aModelArrivingDuringTheQuestionWaits()
{
    Session s;
    testsupport::twoMeshModel().save(QStringLiteral("other.3ds"));
    const QByteArray otherScene = sceneFile(3, s.graftalId());
    QVERIFY(testsupport::writeBytes(QStringLiteral("scenes/other.dat"), otherScene));
    GLRender *view = s.window.form().view;
    view->loadModelInBackground(QStringLiteral("other.3ds"));
    // The user answers only once the model has come and waits behind the question (or,
    // should it never come, after a minute, for the check below to say so).
    bool arrived = false;
    QElapsedTimer clock;
    clock.start();
    OnBox answer([&](QMessageBox *box) {
        arrived = s.scene->hasStagedModel();
        if (!arrived && clock.elapsed() < 60000)
            return false;
        box->button(QMessageBox::Save)->click();
        return true;
    });
    s.window.close();
    QVERIFY2(arrived, "the model did not arrive while the question was open");
    QCOMPARE(answer.titles, QStringList{"Unsaved scene"});
    QVERIFY(!s.window.isVisible());
    QCOMPARE(QFileInfo(QStringLiteral("scenes/two.dat")).size(), Header + Record);
    QCOMPARE(testsupport::readBytes(QStringLiteral("scenes/other.dat")), otherScene);
}

// Nothing painted when "Open 3DS file" is chosen, so nothing is asked then; the artist
// paints while the model loads. When it arrives, the same question comes, and Cancel keeps
// the model on screen with what was painted.
void TestUnsavedScene::paintingWhileAModelLoadsAsksAtItsArrival()
{
    QFETCH(int, choice);
    QFETCH(bool, closes);
    QFETCH(bool, saved);
    Session s(false);
    GLRender *view = s.window.form().view;
    const testsupport::ReaderFault slow("slow:1500");
    Answer answer{QMessageBox::StandardButton(choice)};
    openBoxFromTheToolbar(s.window);
    QVERIFY(view->loadingModel());
    QVERIFY(answer.titles.isEmpty());
    s.scene->beginStroke();
    s.scene->addInstance(s.scene->face(0), {0.25, 0.25}, TreeManager::instance()->currentGraftal());
    s.scene->endStroke();
    QTRY_VERIFY_WITH_TIMEOUT(!view->loadingModel(), 30000);
    QCOMPARE(answer.titles, QStringList{"Unsaved scene"});
    QCOMPARE(QFileInfo(s.scene->modelPath()).fileName(),
             closes ? QStringLiteral("box.3ds") : QStringLiteral("two.3ds"));
    QCOMPARE(s.scene->instanceCount(), closes ? 0 : 1);
    QCOMPARE(QFileInfo("scenes/two.dat").size(), saved ? Header + Record : 0);
}

// The session ends (SIGTERM and the like) while the question is open: the scene is saved
// and the window goes.
void TestUnsavedScene::sessionEndWhileAskingSaves()
{
    Session s;
    bool ended = false;
    OnBox answer([&](QMessageBox *) {
        if (!ended) {
            ended = true;
            s.window.closeForTermination();
        }
        return true;
    });
    s.window.close();
    QVERIFY(ended);
    QCOMPARE(answer.titles.first(), QStringLiteral("Unsaved scene"));
    QVERIFY(!s.window.isVisible());
    QCOMPARE(QFileInfo(QStringLiteral("scenes/two.dat")).size(), Header + Record);
}

// "Save" fails, and while "Save failed" shows the session ends: the window still closes.
void TestUnsavedScene::sessionEndDuringSaveFailedStillCloses()
{
    Session s;
    QVERIFY(QDir().rename("scenes", "scenes.away"));
    QVERIFY(testsupport::writeBytes("scenes", "a file where the directory was"));
    bool ended = false;
    OnBox answer([&](QMessageBox *box) {
        if (box->windowTitle() == QStringLiteral("Unsaved scene"))
            box->button(QMessageBox::Save)->click();
        else if (!ended) {
            ended = true;
            s.window.closeForTermination();
        }
        return true;
    });
    s.window.close();
    QVERIFY(ended);
    QTRY_VERIFY_WITH_TIMEOUT(!s.window.isVisible(), 3000);
}

// Yesterday's session saved three graftals to scenes/two.dat. Today the model is opened
// (which does not load that file), one graftal is painted, and the session ends: the
// file of yesterday stays as it was, today's graftal goes to a file beside it.
void TestUnsavedScene::sessionEndKeepsAnEarlierSceneFileNeverLoaded()
{
    Session s(false);
    const QByteArray yesterday = sceneFile(3, s.graftalId());
    QVERIFY(testsupport::writeBytes(QStringLiteral("scenes/two.dat"), yesterday));
    s.scene->beginStroke();
    s.scene->addInstance(s.scene->face(0), {0.25, 0.25}, TreeManager::instance()->currentGraftal());
    s.scene->endStroke();
    s.window.closeForTermination();
    QVERIFY(!s.window.isVisible());
    QCOMPARE(testsupport::readBytes(QStringLiteral("scenes/two.dat")), yesterday);
    QCOMPARE(QFileInfo(QStringLiteral("scenes/two (recovered).dat")).size(), Header + Record);
}

void TestUnsavedScene::longModelNamesKeepTheirGraftals_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("saved"); // where the graftals go
    QTest::addColumn<bool>("told");     // the "Save failed" box says where they went
    const QString fits = QString(246, QLatin1Char('m'));
    QTest::newRow("250 bytes, its scene name fits")
        << fits + ".3ds" << "scenes/" + fits + ".dat" << false;
    // No extension: the scene's name is 4 bytes longer than any file's can be.
    const QString cut = QString(255 - 16, QLatin1Char('m')); // " (recovered).dat"
    QTest::newRow("255 bytes, no extension")
        << QString(255, QLatin1Char('m')) << "scenes/" + cut + " (recovered).dat" << true;
}

// "Save current state of scene", then the end of the session: the painted graftals are on
// disk, under the scene's name where it fits and under a shorter "(recovered)" name where it
// does not, which the user is told.
void TestUnsavedScene::longModelNamesKeepTheirGraftals()
{
    QFETCH(QString, model);
    QFETCH(QString, saved);
    QFETCH(bool, told);
    Session s(true, model);
    testsupport::MessageBoxCatcher catcher;
    QAction save;
    save.setData(GLRender::SaveStateAction);
    s.window.form().view->dispatchAction(&save);
    QCOMPARE(catcher.seen, told ? 1 : 0);
    if (told) {
        QCOMPARE(catcher.title, QStringLiteral("Save failed"));
        QVERIFY2(catcher.text.contains("The painted graftals were saved to " + saved + " instead."),
                 qPrintable(catcher.text));
    }
    QCOMPARE(QFileInfo(saved).size(), Header + Record);
    // Still unsaved under its own name, the scene goes to the "(recovered)" name again at
    // the end of the session.
    if (told)
        QVERIFY(QFile::remove(saved));
    s.window.closeForTermination();
    QVERIFY(!s.window.isVisible());
    QCOMPARE(QFileInfo(saved).size(), Header + Record);
    QCOMPARE(QDir("scenes").entryList(QDir::Files | QDir::Hidden), QStringList{saved.mid(7)});
}

void TestUnsavedScene::titleTellsTheModelAndUnsavedChanges()
{
    ScopedWorkDir work;
    Tuftmill window;
    const struct LibraryGone
    {
        ~LibraryGone() { TreeManager::destroyInstance(); }
    } libraryGone;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.windowTitle(), QStringLiteral("Tuftmill"));
    GLRender *view = window.form().view;
    QVERIFY(testsupport::wallModel().save(QStringLiteral("wall.3ds")));
    QVERIFY(view->openModel(QStringLiteral("wall.3ds")));
    const QString clean = QString::fromUtf8("wall.3ds \u2014 Tuftmill");
    const QString changed = QString::fromUtf8("wall.3ds* \u2014 Tuftmill");
    QCOMPARE(window.windowTitle(), clean);
    auto act = [&](int data) {
        for (QAction *a : window.form().viewToolBar->actions())
            if (a->data().toInt() == data)
                a->trigger();
    };
    act(GLRender::PaintMode);
    const QPoint middle = view->rect().center();
    QTest::mouseClick(view, Qt::LeftButton, {}, middle);
    QVERIFY(view->scene()->instanceCount() > 0);
    QCOMPARE(window.windowTitle(), changed);
    act(GLRender::SaveStateAction);
    QCOMPARE(window.windowTitle(), clean);
    QCOMPARE(window.statusBar()->currentMessage(),
             QStringLiteral("Scene saved to scenes/wall.dat"));
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(window.windowTitle(), changed);
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(window.windowTitle(), clean);
}

TUFTMILL_GL_TEST_MAIN(TestUnsavedScene)
#include "tst_unsaved_scene.moc"
