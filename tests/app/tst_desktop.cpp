#include <GL/glew.h>

#include "../support/GlTestMain.h"
#include "../support/Models.h"
#include "../support/TestSupport.h"
#include "AppSettings.h"
#include "Configurator.h"
#include "GLRender.h"
#include "Graftal.h"
#include "GraftalPainter.h"
#include "LoggerOutput.h"
#include "MainMenu.h"
#include "Scene.h"
#include "TextureManager.h"
#include "TreeManager.h"
#include "Tuftmill.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QDataStream>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QTreeWidget>

using testsupport::ScopedWorkDir;

namespace {
// The window in a fresh folder, with the two-mesh model saved there and, when `records`
// is above zero, a scene of that many graftals saved for it.
struct Desk
{
    ScopedWorkDir work;
    Tuftmill window;
    const TuftmillClass &ui = window.form();

    explicit Desk(int records = 0)
    {
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(testsupport::twoMeshModel().save(QStringLiteral("two.3ds")));
        if (records <= 0)
            return;
        QByteArray bytes;
        QDataStream s(&bytes, QIODevice::WriteOnly);
        s.setVersion(QDataStream::Qt_4_3);
        s << QColor(Qt::white) << qint32(records);
        const auto id = qint32(TreeManager::instance()->currentGraftal()->id());
        for (int i = 0; i < records; ++i)
            s << qint32(i % 3) << id << 0.2 << 0.2;
        QFile file(QStringLiteral("scenes/two.dat"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    ~Desk() { TreeManager::destroyInstance(); }
    QString model() const { return work.file(QStringLiteral("two.3ds")); }
    QString status() { return window.statusBar()->currentMessage(); }
    QMenu *menu(const QString &title) const
    {
        for (QAction *a : window.menuBar()->actions())
            if (a->text().remove(QLatin1Char('&')) == title)
                return a->menu();
        return nullptr;
    }
};

QList<QAction *> allActions(const QMenu *menu)
{
    QList<QAction *> found;
    for (QAction *a : menu->actions()) {
        found.append(a);
        if (a->menu())
            found += allActions(a->menu());
    }
    return found;
}
} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void menusHoldTheToolbarsActions_data();
    void menusHoldTheToolbarsActions();
    void keysDoNotClashAndAllAreListed();
    void modelOpensWithItsScene_data();
    void modelOpensWithItsScene();
    void settingsLastAcrossARestart();
    void statusMessagesStayTrue();
    void painterKeysFollowThePointer_data();
    void painterKeysFollowThePointer();
    void workspaceOfTheDesktopEntry_data();
    void workspaceOfTheDesktopEntry();
    void cleanupTestCase() { LoggerOutput::shutdown(); }

private:
    QTemporaryDir config;
};

void TestDesktop::initTestCase()
{
    // Settings of our own, never the user's.
    QVERIFY(config.isValid());
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
}

void TestDesktop::menusHoldTheToolbarsActions_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("data"); // the toolbar action's, -1 for the outlines toggle
    const struct
    {
        const char *menu, *text;
        int data;
    } rows[] = {
        {"File", "Save current state of scene", 6},
        {"File", "Reload state for scene from disk", 7},
        {"File", "Export image", GLRender::ExportAction},
        {"File", "Render turntable…", GLRender::TurntableAction},
        {"View", "Frame model", GLRender::FrameAction},
        {"View", "Fit graftal size to model", GLRender::FitGraftalScaleAction},
        {"View", "Outlines", -1},
        {"View", "Move camera around subject", GLRender::CameraMode},
        {"View", "Orbit camera around model", GLRender::OrbitMode},
        {"View", "Paint graftals on object", GLRender::PaintMode},
        {"View", "Increase mesh density", GLRender::DensityMode},
        {"View", "Paint density", GLRender::DensityBrushMode},
        {"View", "Erase graftals from object", GLRender::EraseMode},
    };
    for (const auto &r : rows)
        QTest::newRow(r.text) << QString::fromUtf8(r.menu) << QString::fromUtf8(r.text) << r.data;
}

void TestDesktop::menusHoldTheToolbarsActions()
{
    QFETCH(QString, menu);
    QFETCH(QString, text);
    QFETCH(int, data);
    Desk desk;
    QMenu *m = desk.menu(menu);
    QVERIFY(m);
    QAction *inMenu = nullptr;
    for (QAction *a : allActions(m))
        if (a->text() == text)
            inMenu = a;
    QVERIFY2(inMenu, qPrintable(text));
    // The very action of the toolbar: one state, one code path.
    const QList<QAction *> bars = desk.ui.viewToolBar->actions() +
                                       desk.ui.styleToolBar->actions() +
                                       desk.ui.graftalToolBar->actions();
    QVERIFY(bars.contains(inMenu));
    QCOMPARE(data == -1 ? int(inMenu == desk.ui.outlinesAction) : inMenu->data().toInt(),
             data == -1 ? 1 : data);
    // Chosen from the menu it does what its button does.
    QVERIFY(desk.ui.view->openModel(desk.model()));
    if (inMenu->isCheckable() && inMenu->actionGroup()) {
        inMenu->trigger();
        QCOMPARE(desk.ui.view->mode(), data);
    } else if (data == GLRender::FitGraftalScaleAction) {
        const double before = desk.ui.graftalScaleBox->value();
        inMenu->trigger();
        QVERIFY(desk.ui.graftalScaleBox->value() != before);
    }
}

void TestDesktop::keysDoNotClashAndAllAreListed()
{
    Desk desk;
    QHash<QString, QString> windowWide;
    QString listed;
    for (const auto &[keys, what] : MainMenu::keyTable())
        listed += keys + QLatin1Char('\n');
    for (QAction *a : desk.window.findChildren<QAction *>()) {
        for (const QKeySequence &key : a->shortcuts()) {
            const QString name = key.toString(QKeySequence::PortableText);
            QVERIFY2(listed.contains(name), qPrintable(name + " is not on the shortcuts page"));
            if (a->shortcutContext() != Qt::WindowShortcut)
                continue;
            QVERIFY2(!windowWide.contains(name),
                     qPrintable(name + " is both " + windowWide[name] + " and " + a->text()));
            windowWide[name] = a->text();
        }
    }
    QCOMPARE(windowWide.value(QStringLiteral("Ctrl+O")), QStringLiteral("&Open model…"));
    QCOMPARE(windowWide.value(QStringLiteral("Ctrl+Q")), QStringLiteral("&Quit"));
    QCOMPARE(windowWide.value(QStringLiteral("Ctrl+S")),
             QStringLiteral("Save current state of scene"));
    // The painter's and the view's keys are named on the page too, not only the actions'.
    for (const char *key : {"[", "]", "I", "Home", "F1", "F2", "F3", "F12"})
        QVERIFY2(MainMenu::shortcutsPage().contains(QStringLiteral("<b>%1").arg(key)), key);
}

void TestDesktop::modelOpensWithItsScene_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("records");
    QTest::addColumn<QString>("told");
    const QString opened = QStringLiteral("Opened two.3ds with %1 painted graftals from "
                                          "scenes/two.dat");
    QTest::newRow("menu") << "menu" << 1200 << opened.arg(QStringLiteral("1,200"));
    QTest::newRow("recent") << "recent" << 3 << opened.arg(3);
    QTest::newRow("drop") << "drop" << 7 << opened.arg(7);
    QTest::newRow("no scene yet") << "menu" << 0
                                  << "Opened two.3ds; no scene is saved for it yet "
                                     "(scenes/two.dat)";
}

void TestDesktop::modelOpensWithItsScene()
{
    QFETCH(QString, how);
    QFETCH(int, records);
    QFETCH(QString, told);
    if (how == QLatin1String("recent")) {
        ScopedWorkDir other;
        AppSettings().rememberModel(other.file(QStringLiteral("gone.3ds")));
    }
    Desk desk(records);
    std::unique_ptr<testsupport::ModalDriver> chooser;
    if (how == QLatin1String("menu")) {
        chooser = std::make_unique<testsupport::ModalDriver>([&desk](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            if (!dialog)
                return false;
            dialog->selectFile(desk.model());
            static_cast<QDialog *>(dialog)->accept();
            return true;
        });
        desk.window.menu().openModelAction->trigger();
    } else if (how == QLatin1String("recent")) {
        AppSettings().rememberModel(desk.model());
        desk.window.menu().showRecentModels(AppSettings().recentModels());
        const QList<QAction *> entries = desk.window.menu().recentMenu->actions();
        QCOMPARE(entries[0]->text(), QStringLiteral("two.3ds"));
        // The model gone since is greyed, and can be removed.
        QCOMPARE(entries[1]->text(), QStringLiteral("gone.3ds"));
        QVERIFY(!entries[1]->isEnabled());
        QVERIFY(desk.window.menu().forgetMissingAction->isEnabled());
        entries[0]->trigger();
    } else {
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(desk.model())});
        const QPointF at = desk.ui.view->rect().center();
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &files, Qt::LeftButton, {});
        QApplication::sendEvent(desk.ui.view, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &files, Qt::LeftButton, {});
        QApplication::sendEvent(desk.ui.view, &drop);
        QVERIFY(drop.isAccepted());
    }
    QTRY_VERIFY_WITH_TIMEOUT(desk.ui.view->scene()->loaded(), 30000);
    QTRY_COMPARE(desk.status(), told);
    QCOMPARE(desk.ui.view->scene()->instanceCount(), records);
    // Loaded as saved: nothing to ask about, the history starts there.
    QVERIFY(!desk.ui.view->scene()->changedSinceSaved());
    QCOMPARE(AppSettings().recentModels().value(0), desk.model());
    if (how == QLatin1String("recent")) {
        desk.window.menu().forgetMissingAction->trigger();
        QCOMPARE(AppSettings().recentModels(), QStringList{desk.model()});
    }
}

void TestDesktop::settingsLastAcrossARestart()
{
    ScopedWorkDir work;
    QVERIFY(testsupport::twoMeshModel().save(QStringLiteral("two.3ds")));
    const QRect placed(40, 60, 1100, 760);
    {
        Tuftmill first;
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        first.showNormal();
        first.setGeometry(placed);
        QTRY_COMPARE(first.geometry().size(), placed.size());
        first.form().brushRadiusBox->setValue(23);
        first.form().sprayRateBox->setValue(4);
        first.form().brushDensityBox->setValue(12.5);
        QVERIFY(first.form().view->openModel(QStringLiteral("two.3ds")));
        QVERIFY(first.close());
        TreeManager::destroyInstance();
    }
    Tuftmill second;
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    QTRY_COMPARE(second.geometry().size(), placed.size());
    QVERIFY(!(second.windowState() & Qt::WindowMaximized));
    QCOMPARE(second.form().brushRadiusBox->value(), 23);
    QCOMPARE(second.form().sprayRateBox->value(), 4);
    QCOMPARE(second.form().brushDensityBox->value(), 12.5);
    QCOMPARE(second.form().view->brushDensity(), 12.5);
    QCOMPARE(AppSettings().lastModelFolder(), work.path());
    const QList<QAction *> recent = second.menu().recentMenu->actions();
    QCOMPARE(recent.value(0)->text(), QStringLiteral("two.3ds"));
    QVERIFY(recent.value(0)->isEnabled());
    // At most ten, the newest first, each once.
    AppSettings settings;
    for (int i = 0; i < 12; ++i)
        settings.rememberModel(work.file(QStringLiteral("m%1.3ds").arg(i % 11)));
    QCOMPARE(settings.recentModels().size(), AppSettings::MaxRecentModels);
    QCOMPARE(settings.recentModels().first(), work.file(QStringLiteral("m0.3ds")));
    QCOMPARE(settings.recentModels().count(work.file(QStringLiteral("m0.3ds"))), 1);
    TreeManager::destroyInstance();
}

void TestDesktop::statusMessagesStayTrue()
{
    Desk desk;
    QVERIFY(desk.ui.view->openModel(desk.model()));
    // A note about the model goes when another model opens.
    emit desk.ui.view->statusMessage(QStringLiteral("jeep1.jpg was not found"));
    QVERIFY(testsupport::wallModel().save(QStringLiteral("wall.3ds")));
    desk.ui.view->loadModelInBackground(QStringLiteral("wall.3ds"));
    QTRY_VERIFY(desk.status() != QStringLiteral("jeep1.jpg was not found"));
    QTRY_VERIFY_WITH_TIMEOUT(!desk.ui.view->loadingModel(), 30000);
    QVERIFY(!desk.status().contains(QStringLiteral("jeep1.jpg")));
    // A problem the library reports stays, and comes back after a confirmation.
    const QString problem = QStringLiteral("\"Fur\" could not be saved");
    emit TreeManager::instance()->problemReported(problem);
    desk.ui.saveSceneAction->trigger();
    QCOMPARE(desk.status(), QStringLiteral("Scene saved to scenes/wall.dat"));
    QTRY_COMPARE_WITH_TIMEOUT(desk.status(), problem, 4 * Tuftmill::ConfirmationMs);
    desk.ui.view->loadModelInBackground(desk.model());
    QTRY_VERIFY_WITH_TIMEOUT(!desk.ui.view->loadingModel(), 30000);
    QCOMPARE(desk.status(), problem);
    // Solved, it goes; the next confirmation then leaves an empty line.
    emit TreeManager::instance()->problemReported(QString());
    QVERIFY(desk.status().isEmpty());
    desk.ui.saveSceneAction->trigger();
    QVERIFY(!desk.status().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(desk.status().isEmpty(), 4 * Tuftmill::ConfirmationMs);
}

void TestDesktop::painterKeysFollowThePointer_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<bool>("pointerOver");
    QTest::addColumn<bool>("painterTakes");
    QTest::newRow("tree, pointer over") << "tree" << true << true;
    QTest::newRow("view, pointer over") << "view" << true << true;
    QTest::newRow("tree, pointer away") << "tree" << false << false;
    QTest::newRow("name field") << "name" << true << false;
    QTest::newRow("radius box") << "radius" << true << false;
}

void TestDesktop::painterKeysFollowThePointer()
{
    QFETCH(QString, focus);
    QFETCH(bool, pointerOver);
    QFETCH(bool, painterTakes);
    Desk desk;
    desk.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&desk.window));
    GraftalPainter *painter = desk.ui.textureManager->painter();
    QWidget *target = desk.ui.graftalTree;
    if (focus == QLatin1String("view")) {
        QVERIFY(desk.ui.view->openModel(desk.model()));
        target = desk.ui.view;
    }
    auto *name = desk.ui.configurator->findChild<QLineEdit *>();
    QVERIFY(name);
    if (focus == QLatin1String("name"))
        target = name;
    if (focus == QLatin1String("radius"))
        target = desk.ui.brushRadiusBox;
    target->setFocus();
    QTRY_VERIFY(target->hasFocus());
    const QPoint inside = painter->mapToGlobal(painter->rect().center());
    QCursor::setPos(pointerOver ? inside : desk.ui.view->mapToGlobal(QPoint(5, 5)));
    QTRY_COMPARE(painter->rect().contains(painter->mapFromGlobal(QCursor::pos())), pointerOver);
    const int before = painter->brushSize();
    const QString oldName = desk.ui.treeManager->currentGraftal()->name();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_BracketRight, {});
    QCOMPARE(painter->brushSize() > before, painterTakes);
    if (focus != QLatin1String("name"))
        return;
    // The field kept the key; the graftal is renamed when Return leaves it, not before.
    QCOMPARE(name->text(), oldName + QLatin1Char(']'));
    QCOMPARE(desk.ui.treeManager->currentGraftal()->name(), oldName);
    QTest::keyClick(name, Qt::Key_Return);
    QCOMPARE(desk.ui.treeManager->currentGraftal()->name(), oldName + QLatin1Char(']'));
    QTRY_VERIFY(!name->hasFocus());
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &desk.window,
                    Qt::Key_BracketRight, {});
    QVERIFY(painter->brushSize() > before);
}

void TestDesktop::workspaceOfTheDesktopEntry_data()
{
    QTest::addColumn<QString>("arguments"); // "desktop": the desktop entry's own
    QTest::addColumn<QString>("workspace"); // beneath the empty home, or "." its start
    QTest::newRow("desktop entry") << "desktop" << "Tuftmill";
    QTest::newRow("option") << "--workspace work/here" << "start/work/here";
    QTest::newRow("terminal") << "" << "start";
}

void TestDesktop::workspaceOfTheDesktopEntry()
{
    QFETCH(QString, arguments);
    QFETCH(QString, workspace);
    QStringList args = arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (arguments == QLatin1String("desktop")) {
        QFile entry(QStringLiteral(TUFTMILL_SOURCE_DIR "/packaging/org.tuftmill.Tuftmill.desktop"));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QString exec;
        for (const QString &line : QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("Exec=")))
                exec = line.mid(5);
        args = exec.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QCOMPARE(args.takeFirst(), QStringLiteral("tuftmill"));
        args.removeIf([](const QString &a) { return a.startsWith(QLatin1Char('%')); });
    }
    QTemporaryDir home;
    QVERIFY(QDir(home.path()).mkdir(QStringLiteral("start")));
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        env.remove(QString::fromLatin1(name));
    // The first graftal, written soon, tells that the window is up and SIGTERM is heard.
    env.insert(QStringLiteral("TUFTMILL_TEST_AUTOSAVE_MS"), QStringLiteral("100"));
    app.setProcessEnvironment(env);
    app.setWorkingDirectory(home.filePath(QStringLiteral("start")));
    app.start(QStringLiteral(TUFTMILL_APP_PATH), args);
    QVERIFY(app.waitForStarted());
    const QDir place(home.filePath(workspace));
    QTRY_VERIFY_WITH_TIMEOUT(testsupport::readBytes(place.filePath(QStringLiteral("logger.log")))
                                 .contains("starting logger"),
                             60000);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(place.filePath(QStringLiteral("scenes"))).isDir() &&
                                 !QDir(place.filePath(QStringLiteral("graftals")))
                                      .entryList(QDir::Files)
                                      .isEmpty(),
                             60000);
    app.terminate();
    QVERIFY(app.waitForFinished(60000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    // Nothing of the workspace in the home folder itself (its hidden settings aside).
    QStringList visible = QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    visible.removeAll(QStringLiteral("start"));
    QCOMPARE(visible, workspace == QLatin1String("Tuftmill") ? QStringList{workspace}
                                                             : QStringList());
    if (workspace != QLatin1String("start"))
        QCOMPARE(QDir(home.filePath(QStringLiteral("start")))
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 workspace == QLatin1String("Tuftmill") ? QStringList()
                                                        : QStringList{QStringLiteral("work")});
}

TUFTMILL_GL_TEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
