// A model of a million triangles opened in the real application: while it loads, the
// progress shows and the rest of the window keeps working; then the model draws.
#include "../support/GlTestMain.h"
#include "../support/TestSupport.h"
#include "Desktop.h"
#include "GraftalThumbnailNavigator.h"
#include "LoggerOutput.h"
#include "ModelBuilder.h"
#include "PixmapScroller.h"
#include "TreeManager.h"
#include "Tuftmill.h"

#include <QAction>
#include <QPushButton>
#include <QToolBar>

namespace {
int differingPixels(const QImage &a, const QImage &b, const QRect &area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); y += 2)
        for (int x = area.left(); x <= area.right(); x += 2)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}
} // namespace

class TestBigModel : public QObject
{
    Q_OBJECT
private slots:
    void windowAnswersWhileAMillionTrianglesLoad();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestBigModel::windowAnswersWhileAMillionTrianglesLoad()
{
    QTemporaryDir scratch, work;
    // Where things are: a window built the same way here, laid out off screen.
    QPoint openAction, newGraftal;
    QRect view, graftalStrip;
    {
        const QString previous = QDir::currentPath();
        QDir::setCurrent(scratch.path());
        Tuftmill window;
        window.setAttribute(Qt::WA_DontShowOnScreen);
        window.show();
        QTest::qWait(200);
        const TuftmillClass &ui = window.form();
        for (QAction *a : ui.viewToolBar->actions())
            if (a->data().toInt() == 1)
                openAction = ui.viewToolBar->widgetForAction(a)->mapToGlobal(
                    ui.viewToolBar->widgetForAction(a)->rect().center());
        QPushButton *add = ui.thumbnailNavigator->button(0);
        newGraftal = add->mapToGlobal(add->rect().center());
        view = QRect(ui.view->mapToGlobal(QPoint(0, 0)), ui.view->size());
        QWidget *strip = ui.thumbnailNavigator->scroller()->viewport();
        graftalStrip = QRect(strip->mapToGlobal(QPoint(0, 0)), strip->size());
        window.close();
        TreeManager::destroyInstance();
        QDir::setCurrent(previous);
    }
    const QString model = work.filePath(QStringLiteral("million.3ds"));
    QVERIFY(ModelBuilder::spheres(100, 51, 100).save(model));

    QProcess app;
    QVERIFY(testsupport::startApp(app, work.path()));
    // Screenshots are of the whole screen; areas are in screen coordinates.
    const QImage empty = Desktop::settledScreenshot(view);
    const QImage oneGraftal = Desktop::settledScreenshot(graftalStrip);

    QVERIFY(Desktop::chooseFile(openAction, QStringLiteral("Open 3DS model"), model));
    const qulonglong progress = Desktop::waitForWindow(QStringLiteral("Opening model"), 20000);
    QVERIFY2(progress, "no progress was shown");
    Desktop::screenshot().save(work.filePath("loading.png"));

    // A click on another panel is handled at once: a second graftal shows in the strip
    // while the model is still on its way.
    Desktop::click(newGraftal);
    const QImage twoGraftals = Desktop::screenshotWhen(
        [&](const QImage &shot) { return differingPixels(oneGraftal, shot, graftalStrip) > 100; },
        20000);
    QVERIFY2(differingPixels(oneGraftal, twoGraftals, graftalStrip) > 100,
             "the new graftal did not show");
    QVERIFY2(testsupport::windowsOf(app.processId()).contains(QString::number(progress)),
             "the model had loaded before the click was answered");

    // Then the progress goes and the model draws (looked for away from where the progress
    // was: without a compositor its picture stays on screen until the view repaints).
    QVERIFY(Desktop::waitForWindowGone(QStringLiteral("Opening model"), 120000));
    const QRect centre(view.left() + view.width() * 2 / 5, view.top() + view.height() / 4,
                       view.width() * 2 / 5, view.height() / 2);
    const QImage loaded = Desktop::screenshotWhen(
        [&](const QImage &shot) { return differingPixels(empty, shot, centre) > 2000; }, 30000);
    QVERIFY2(differingPixels(empty, loaded, centre) > 2000, "the model did not show");
    loaded.save(work.filePath("loaded.png"));
    if (qEnvironmentVariableIsSet("TUFTMILL_SCREENSHOT_DIR")) {
        const QString shots = qEnvironmentVariable("TUFTMILL_SCREENSHOT_DIR");
        QDir().mkpath(shots);
        QFile::copy(work.filePath("loading.png"), shots + "/big-loading.png");
        QFile::copy(work.filePath("loaded.png"), shots + "/big-loaded.png");
    }

    app.terminate();
    QVERIFY(app.waitForFinished(60000));
    QCOMPARE(app.exitCode(), 0);
}

QTEST_MAIN(TestBigModel)
#include "tst_big_model.moc"
