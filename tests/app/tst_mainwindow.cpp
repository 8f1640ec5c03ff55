#include <GL/glew.h>
#include <QRegularExpression>

#include "../support/GlTestMain.h"
#include "../support/Models.h"
#include "../support/TestSupport.h"
#include "Configurator.h"
#include "GLRender.h"
#include "Graftal.h"
#include "GraftalDetailNavigator.h"
#include "GraftalPainter.h"
#include "GraftalThumbnailNavigator.h"
#include "LoggerOutput.h"
#include "OrbitDrag.h"
#include "PixmapScroller.h"
#include "Scene.h"
#include "TextureManager.h"
#include "TreeManager.h"
#include "Tuftmill.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>

using testsupport::ScopedWorkDir;

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void buildsDirectoriesAndLayout();
    void toolbarsCarryTheirActions();
    void modeGroupIsExclusive();
    void f12TogglesLibraryAndOtherKeysAreConsumed();
    void cleanRunLogsStartAndStop();
    void unmakeableDirectoryEndsWithStatusOne();
    void startListsStoredGraftalsOrUntitled();
    void selectionReachesPanelsInOrder();
    void f12IsTheViewsOnceItHasTheFocus();
    void oneEditReachesStripsAndTextures();
    void styleRowFitsGraftalsAndHomeFramesFromAnywhere();
    void cleanup() { TreeManager::destroyInstance(); }
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestMainWindow::buildsDirectoriesAndLayout()
{
    ScopedWorkDir work;
    Tuftmill window;
    QVERIFY(window.startedUp());
    QVERIFY(QFileInfo(work.file("graftals")).isDir());
    QVERIFY(QFileInfo(work.file("scenes")).isDir());
    QCOMPARE(window.objectName(), QStringLiteral("TuftmillClass"));
    QVERIFY(window.isVisible());
    QVERIFY(window.windowState() & Qt::WindowMaximized);
    QVERIFY(window.menuBar()->isVisible());

    const TuftmillClass &ui = window.form();
    QCOMPARE(ui.graftalTree->columnCount(), 1);
    QCOMPARE(ui.graftalTree->headerItem()->text(0), QStringLiteral("Graftal"));
    QVERIFY(ui.libraryPanel->isAncestorOf(ui.graftalTree));
    QVERIFY(ui.libraryPanel->isAncestorOf(ui.treeToolBar));
    QVERIFY(ui.view->minimumSize() == QSize(200, 200));
    // Two columns side by side: the edit column left of the view column.
    QVERIFY(ui.libraryPanel->mapTo(&window, QPoint(0, 0)).x() <
            ui.view->mapTo(&window, QPoint(0, 0)).x());
    QVERIFY(ui.view->geometry().bottom() < ui.viewToolBar->geometry().top());
}

void TestMainWindow::toolbarsCarryTheirActions()
{
    ScopedWorkDir work;
    Tuftmill window;
    const TuftmillClass &ui = window.form();

    QCOMPARE(ui.treeToolBar->iconSize(), QSize(20, 20));
    const QList<QAction *> tree = ui.treeToolBar->actions();
    QCOMPARE(tree.size(), 2);
    QCOMPARE(tree[0]->text(), QStringLiteral("New"));
    QCOMPARE(tree[0]->data().toInt(), 1);
    QCOMPARE(tree[1]->text(), QStringLiteral("Save"));
    QCOMPARE(tree[1]->data().toInt(), 2);

    struct Expected
    {
        int data;
        const char *text;
        bool checkable;
    };
    const Expected expected[] = {
        {1, "Open 3DS file", false},
        {0, nullptr, false},
        {2, "Move camera around subject", true},
        {12, "Orbit camera around model", true},
        {3, "Paint graftals on object", true},
        {4, "Increase mesh density", true},
        {16, "Paint density", true},
        {8, "Erase graftals from object", true},
        {-1, "Brush radius", false},
        {-2, "Density", false},
        {-1, "Spray rate", false},
        {0, nullptr, false},
        {9, "Undo scene change", false},
        {10, "Redo scene change", false},
        {0, nullptr, false},
        {5, "Set background color", false},
        {0, nullptr, false},
        {6, "Save current state of scene", false},
        {7, "Reload state for scene from disk", false},
        {11, "Export image", false},
        {15, "Render turntable…", false},
        {0, nullptr, false},
        {13, "Frame model", false},
        {0, "Show render frame", true},
        {0, "Show every graftal", true},
    };
    const QList<QAction *> view = ui.viewToolBar->actions();
    QCOMPARE(view.size(), int(std::size(expected)));
    for (int i = 0; i < view.size(); ++i) {
        if (!expected[i].text) {
            QVERIFY2(view[i]->isSeparator(), qPrintable(QString::number(i)));
            continue;
        }
        const QString text = QString::fromUtf8(expected[i].text);
        if (QWidget *button = ui.viewToolBar->widgetForAction(view[i]); expected[i].data > 11)
            QCOMPARE(button->accessibleName(), text);
        if (expected[i].data == -2) { // "Paint density"'s, from 0 graftals per square unit
            auto *box = qobject_cast<QDoubleSpinBox *>(ui.viewToolBar->widgetForAction(view[i]));
            QVERIFY2(box, expected[i].text);
            QCOMPARE(box->accessibleName(), QString::fromLatin1(expected[i].text));
            QCOMPARE(box->value(), 1.0);
            QCOMPARE(box->minimum(), 0.0);
            continue;
        }
        if (expected[i].data < 0) { // the brush's spin boxes, named for screen readers
            auto *box = qobject_cast<QSpinBox *>(ui.viewToolBar->widgetForAction(view[i]));
            QVERIFY2(box, expected[i].text);
            QCOMPARE(box->accessibleName(), QString::fromLatin1(expected[i].text));
            QCOMPARE(box->toolTip(), QString::fromLatin1(expected[i].text));
            QCOMPARE(box->value(), 1);
            QCOMPARE(box->minimum(), 1);
            QCOMPARE(box->maximum(), i == 8 ? 200 : 50);
            continue;
        }
        QCOMPARE(view[i]->text(), text);
        QCOMPARE(view[i]->data().toInt(), expected[i].data);
        QCOMPARE(view[i]->isCheckable(), expected[i].checkable);
        if (expected[i].data == 0) // a toggle of the view, shown by its text
            continue;
        QVERIFY(!view[i]->icon().isNull());
        if (i == 0) {
            // Ctrl+O is the menu's; the tool tip names the formats.
            QVERIFY(view[i]->shortcut().isEmpty());
            QVERIFY(view[i]->toolTip().contains(QStringLiteral("glTF")));
            continue;
        }
        QCOMPARE(view[i]->toolTip(), expected[i].data == 13 ? text + " (Home)" : text);
        // Home frames the model from anywhere in the window; Ctrl+S saves the scene.
        QCOMPARE(view[i]->shortcut(), expected[i].data == 13  ? QKeySequence(Qt::Key_Home)
                                      : expected[i].data == 6 ? QKeySequence(QKeySequence::Save)
                                                              : QKeySequence());
    }
    for (QAction *a : tree)
        QVERIFY(!a->icon().isNull());

    // The style row: its controls change the scene's style, and show a style restored with
    // a scene's view.
    auto *scale = ui.graftalToolBar->findChild<QDoubleSpinBox *>();
    QVERIFY(scale && scale->accessibleName() == QStringLiteral("Graftal scale"));
    QCOMPARE(scale->value(), 1.0);
    scale->setValue(2.5); // draws every graftal larger
    ViewStyle &style = ui.view->scene()->style;
    QCOMPARE(style.graftalScale, 2.5);
    ui.shadingBox->setCurrentIndex(int(Shading::Toon));
    QCOMPARE(style.shading, Shading::Toon);
    QVERIFY(ui.fitGraftalScaleAction->toolTip() == ui.fitGraftalScaleAction->text());
    style = ViewStyle{Shading::Shaded, true, 0.25};
    emit ui.view->styleShown();
    QCOMPARE(ui.shadingBox->currentText(), QStringLiteral("Shaded"));
    QVERIFY(ui.outlinesAction->isChecked());
    QCOMPARE(scale->value(), 0.25);
}

void TestMainWindow::modeGroupIsExclusive()
{
    ScopedWorkDir work;
    Tuftmill window;
    QList<QAction *> modes = window.form().modeGroup->actions();
    QCOMPARE(modes.size(), 6);
    // The view starts in the camera mode, and its action says so.
    QCOMPARE(window.form().view->mode(), int(GLRender::CameraMode));
    QVERIFY(modes[0]->isChecked());
    modes.removeAt(1); // the orbit, which the view's tests drive
    modes[1]->trigger();
    QVERIFY(modes[1]->isChecked());
    modes[2]->trigger();
    QVERIFY(modes[2]->isChecked());
    QVERIFY(!modes[1]->isChecked());
    QVERIFY(!modes[0]->isChecked());
    modes[0]->trigger();
    QVERIFY(modes[0]->isChecked());
    QVERIFY(!modes[2]->isChecked());
    modes[4]->trigger(); // the eraser is a mode of its own
    QVERIFY(modes[4]->isChecked());
    QVERIFY(!modes[0]->isChecked());
    QCOMPARE(window.form().view->mode(), int(GLRender::EraseMode));
    // "Paint density" stands beside "Increase mesh density", its density shown with it.
    QCOMPARE(modes[3]->text(), QStringLiteral("Paint density"));
    QVERIFY(!window.form().brushDensityAction->isVisible());
    modes[3]->trigger();
    QCOMPARE(window.form().view->mode(), int(GLRender::DensityBrushMode));
    QVERIFY(window.form().brushDensityAction->isVisible());
    window.form().brushDensityBox->setValue(2.5);
    QCOMPARE(window.form().view->brushDensity(), 2.5);
    modes[0]->trigger();
    QVERIFY(!window.form().brushDensityAction->isVisible());
}

void TestMainWindow::f12TogglesLibraryAndOtherKeysAreConsumed()
{
    ScopedWorkDir work;
    Tuftmill window;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWidget *library = window.form().libraryPanel;
    QVERIFY(library->isVisible());
    QTest::keyClick(&window, Qt::Key_F12);
    QVERIFY(!library->isVisible());
    QTest::keyClick(&window, Qt::Key_F12);
    QVERIFY(library->isVisible());

    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    other.ignore();
    QCoreApplication::sendEvent(&window, &other);
    QVERIFY(other.isAccepted());
    QVERIFY(library->isVisible());
}

void TestMainWindow::cleanRunLogsStartAndStop()
{
    QTemporaryDir dir;
    QProcess app;
    QVERIFY(testsupport::startApp(app, dir.path()));
    QVERIFY(QFileInfo(dir.filePath("graftals")).isDir());
    QVERIFY(QFileInfo(dir.filePath("scenes")).isDir());
    app.terminate(); // closes the window the orderly way
    QVERIFY(app.waitForFinished(60000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    const QStringList lines = testsupport::readLines(dir.filePath("logger.log"));
    QVERIFY(lines.size() >= 2);
    // Written at once; on a busy machine the stamp may already show a few milliseconds.
    QVERIFY2(QRegularExpression(
                 QStringLiteral("^\\[0000\\.0\\d\\d\\]   ___ @ logger: starting logger\\.\\.\\.$"))
                 .match(lines.first())
                 .hasMatch(),
             qPrintable(lines.first()));
    QVERIFY2(lines.last().endsWith(QStringLiteral("   ___ @ logger: exiting logger...")),
             qPrintable(lines.last()));
}

void TestMainWindow::unmakeableDirectoryEndsWithStatusOne()
{
    QTemporaryDir dir;
    {
        QFile blocker(dir.filePath("scenes"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    QProcess app;
    app.setWorkingDirectory(dir.path());
    app.start(QStringLiteral(TUFTMILL_APP_PATH), {});
    QVERIFY(app.waitForFinished(60000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 1);
    QVERIFY(QFileInfo(dir.filePath("scenes")).isFile());
}

void TestMainWindow::startListsStoredGraftalsOrUntitled()
{
    ScopedWorkDir work;
    {
        Tuftmill window;
        QTreeWidget *tree = window.form().graftalTree;
        QCOMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("Untitled 1"));
        QCOMPARE(tree->currentItem(), tree->topLevelItem(0));
        emit window.aboutToQuit(); // what quitting does: every graftal is saved
    }
    QVERIFY(QFileInfo::exists(work.file("graftals/Untitled_1.xml")));
    QVERIFY(QFileInfo::exists(work.file("graftals/Untitled_1_001.png")));
    TreeManager::destroyInstance();

    // Stored graftals are listed and no untitled one is added.
    for (const char *name : {"moss", "bark"}) {
        auto g = Graftal::create(3, QString::fromLatin1(name));
        QVERIFY(g->save());
    }
    Tuftmill window;
    QTreeWidget *tree = window.form().graftalTree;
    QCOMPARE(tree->topLevelItemCount(), 3);
    QStringList names;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        names << tree->topLevelItem(i)->text(0);
    QCOMPARE(names, (QStringList{"Untitled 1", "bark", "moss"}));
}

void TestMainWindow::selectionReachesPanelsInOrder()
{
    ScopedWorkDir work;
    Tuftmill window;
    const TuftmillClass &ui = window.form();
    ui.treeManager->addGraftal(); // Untitled 2, now selected
    Graftal *first = ui.treeManager->graftalById(1);
    first->addLevel(); // so that its level strip differs from the one shown
    QStringList order;
    connect(ui.configurator->nameField(), &QLineEdit::textChanged, this, [&](const QString &text) {
        if (text.isEmpty())
            return;
        // The view heard of the selection before the properties panel.
        order << (ui.view->scene()->currentGraftal() == first ? "view" : "view late");
        order << "properties";
    });
    connect(ui.textureManager, &TextureManager::pixmapSelected, this, [&] { order << "texture"; });
    connect(ui.detailNavigator->scroller()->scene(), &QGraphicsScene::sceneRectChanged, this,
            [&] { order << "detail"; });
    // Picking the first graftal's thumbnail selects it.
    ui.thumbnailNavigator->pixmapSelected(1);
    order.removeDuplicates();
    QCOMPARE(order, (QStringList{"view", "properties", "texture", "detail"}));
    QCOMPARE(ui.treeManager->currentGraftal(), first);
    QCOMPARE(ui.graftalTree->currentItem()->text(0), QStringLiteral("Untitled 1"));
    QCOMPARE(ui.textureManager->currentGraftal(), first);
    QCOMPARE(ui.detailNavigator->currentGraftal(), first);
}

void TestMainWindow::f12IsTheViewsOnceItHasTheFocus()
{
    ScopedWorkDir work;
    QVERIFY(testsupport::wallModel().save("wall.3ds"));
    Tuftmill window;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    const TuftmillClass &ui = window.form();
    QVERIFY(ui.view->openModel("wall.3ds"));
    QTest::mouseClick(ui.view, Qt::LeftButton, {}, ui.view->rect().center());
    // The click gave the view the window's focus; keys go there first.
    QCOMPARE(window.focusWidget(), static_cast<QWidget *>(ui.view));
    QTest::keyClick(window.focusWidget(), Qt::Key_F12);
    QVERIFY(ui.libraryPanel->isVisible()); // the view kept the key
    ui.graftalTree->setFocus();
    QTest::keyClick(&window, Qt::Key_F12);
    QVERIFY(!ui.libraryPanel->isVisible());
    QTest::keyClick(&window, Qt::Key_F12);
    QVERIFY(ui.libraryPanel->isVisible());
    QCOMPARE(ui.graftalTree->topLevelItemCount(), 1); // contents kept
}

void TestMainWindow::oneEditReachesStripsAndTextures()
{
    ScopedWorkDir work;
    Tuftmill window;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    emit window.afterLoaded();
    const TuftmillClass &ui = window.form();
    Graftal *g = ui.treeManager->currentGraftal();
    QVERIFY(g);
    QVERIFY(ui.view->renderer().textures().names(g)[0] != 0); // made when it was selected
    GraftalPainter *painter = ui.textureManager->painter();
    painter->setColor(Qt::red);
    for (int y = 150; y <= 250; y += 10) {
        QTest::mousePress(painter, Qt::LeftButton, {}, QPoint(150, y));
        QTest::mouseMove(painter, QPoint(250, y));
        QTest::mouseRelease(painter, Qt::LeftButton, {}, QPoint(250, y));
    }
    QCOMPARE(g->levels()[0].first.toImage().pixelColor(200, 200), QColor(Qt::red));
    QVERIFY(g->texturesDirty);
    // Both strips show the new first level.
    const QRgb preview = g->levelPreview(0).toImage().pixel(200, 200);
    QCOMPARE(ui.detailNavigator->scroller()->pixmapOf(0).toImage().pixel(200, 200), preview);
    const QImage thumbnail = ui.thumbnailNavigator->scroller()->pixmapOf(1).toImage();
    QCOMPARE(thumbnail.pixel(thumbnail.width() / 2, thumbnail.height() / 2), preview);
    // And the view's texture of the graftal carries it.
    ui.view->makeCurrent();
    glBindTexture(GL_TEXTURE_2D, ui.view->renderer().textures().names(g)[0]);
    std::vector<unsigned char> pixels(256 * 256 * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    ui.view->doneCurrent();
    const size_t centre =
        (size_t(128) * 256 + 128) * 4; // rows run bottom-up; the middle is the middle
    QCOMPARE(int(pixels[centre]), 255);
    QCOMPARE(int(pixels[centre + 1]), 0);
    QCOMPARE(int(pixels[centre + 3]), 255);

    // A level picked in the detail strip goes into the painter.
    ui.detailNavigator->addLevelOfDetail();
    ui.detailNavigator->pixmapSelected(1);
    QCOMPARE(g->currentLevel, 1);
    QCOMPARE(painter->currentPixmaps().first.toImage().pixelColor(200, 200).alpha(), 0);
}

void TestMainWindow::styleRowFitsGraftalsAndHomeFramesFromAnywhere()
{
    // A ball 1.5 across: a graftal of base size 1 would be two thirds of it.
    ScopedWorkDir work;
    QVERIFY(!testsupport::shapeModel("ball 0.75", QDir::currentPath()).isEmpty());
    Tuftmill window;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    const TuftmillClass &ui = window.form();
    QVERIFY(ui.view->openModel("ball_0.75.3ds"));
    // Every choice of the view's rows is in reach on a full-HD screen: a row that
    // overflows hides its boxes behind a menu that lists none of them.
    window.showNormal();
    window.resize(1920, 1000);
    QTRY_COMPARE(window.width(), 1920);
    for (QToolBar *row : {ui.viewToolBar, ui.styleToolBar, ui.graftalToolBar})
        for (QAction *a : row->actions())
            if (a->isVisible() && !a->isSeparator())
                QTRY_VERIFY2(row->widgetForAction(a)->isVisible(), qPrintable(a->text()));
    // Opened without a saved view, it starts fitted, and the status line says so.
    QCOMPARE(ui.view->scene()->style.graftalScale, 0.03);
    QCOMPARE(ui.graftalScaleBox->value(), 0.03);
    QCOMPARE(window.statusBar()->currentMessage(),
             QString::fromUtf8("Graftal scale fitted to this model: \u00d7 0.03"));
    // The counts stand at the status line's end, beside its messages.
    QCOMPARE(window.statusBar()->findChild<QLabel *>("graftalCounts")->text(),
             QStringLiteral("0 graftals, 0 of Untitled 1"));
    // A graftal's name is shown as written, never read as markup.
    QCOMPARE(window.statusBar()->findChild<QLabel *>("graftalCounts")->textFormat(),
             Qt::PlainText);
    // The fade's ends never cross: one moved past the other takes it along.
    ui.fadeFromBox->setValue(0.8);
    QCOMPARE(ui.view->scene()->style.fade, (FadeRange{0.8, 0.85}));
    ui.fadeToBox->setValue(0.3);
    QCOMPARE(ui.view->scene()->style.fade, (FadeRange{0.25, 0.3}));
    // A value typed in counts once it is whole: "0.5" on the way to "0.58" moves nothing.
    ui.fadeFromBox->setValue(0.55);
    ui.fadeToBox->setFocus();
    ui.fadeToBox->selectAll();
    QTest::keyClicks(ui.fadeToBox, QStringLiteral("0.58"));
    QTest::keyClick(ui.fadeToBox, Qt::Key_Enter);
    QCOMPARE(ui.view->scene()->style.fade, (FadeRange{0.55, 0.58}));
    // "Show every graftal" and S over the view are one toggle.
    ui.showAllAction->trigger();
    QVERIFY(ui.view->showsAllGraftals());
    QTest::keyClick(ui.view, Qt::Key_S);
    QVERIFY(!ui.view->showsAllGraftals() && !ui.showAllAction->isChecked());
    // S held down toggles once, not at every repeat.
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_S, Qt::NoModifier, QStringLiteral("s"), true);
    QApplication::sendEvent(ui.view, &repeat);
    QVERIFY(!ui.view->showsAllGraftals());
    ui.graftalScaleBox->setValue(2.0);
    QCOMPARE(ui.view->scene()->style.graftalScale, 2.0);
    QTest::mouseClick(ui.graftalToolBar->widgetForAction(ui.fitGraftalScaleAction), Qt::LeftButton);
    QCOMPARE(ui.view->scene()->style.graftalScale, 0.03);
    QCOMPARE(ui.graftalScaleBox->value(), 0.03);

    // Home frames the model with the focus in the graftal list, far from the view.
    Scene &scene = *ui.view->scene();
    ui.view->frameModel();
    const Camera framed = scene.camera();
    scene.setCamera(framed.dolly(4.0, OrbitDrag::centreOf(scene)));
    ui.graftalTree->setFocus();
    QCOMPARE(window.focusWidget(), static_cast<QWidget *>(ui.graftalTree));
    QTest::keyClick(ui.graftalTree, Qt::Key_Home);
    QVERIFY(std::abs(scene.camera().worldEye.z - framed.worldEye.z) < 1e-6 * framed.worldEye.z);

    // "Up axis" shows the format's axis and sets the style's.
    QCOMPARE(ui.upAxisBox->currentText(), QStringLiteral("+Z"));
    ui.upAxisBox->setCurrentIndex(0);
    QCOMPARE(scene.style.up, UpAxis::PlusX);
}

TUFTMILL_GL_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
