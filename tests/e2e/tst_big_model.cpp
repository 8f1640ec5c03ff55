// A model of a million triangles opened in the real application: while it loads, the
// progress shows and the rest of the window keeps working; then the model draws. The
// reader is held up on purpose, so that the load outlasts the click however fast the
// machine and the build read the model.
#include "../support/GlTestMain.h"
#include "../support/TestSupport.h"
#include "Desktop.h"
#include "GLRender.h"
#include "LoggerOutput.h"
#include "ModelBuilder.h"
#include "WindowLayout.h"

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
    const WindowLayout at(scratch.path());
    const QRect view = at.view;
    const QString model = work.filePath(QStringLiteral("million.3ds"));
    QVERIFY(ModelBuilder::spheres(100, 51, 100).save(model));

    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TUFTMILL_READER_TEST_FAULT"), QStringLiteral("slow:15000"));
    app.setProcessEnvironment(environment);
    QVERIFY(testsupport::startApp(app, work.path()));
    // Screenshots are of the whole screen; areas are in screen coordinates.
    const QImage empty = Desktop::settledScreenshot(view);
    const QImage oneGraftal = Desktop::settledScreenshot(at.graftalStrip);

    QVERIFY(Desktop::chooseFile(at.viewAction[GLRender::OpenAction],
                                QStringLiteral("Open 3DS model"), model));
    const qulonglong progress = Desktop::waitForWindow(QStringLiteral("Opening model"), 20000);
    QVERIFY2(progress, "no progress was shown");
    Desktop::keep(Desktop::screenshot(), "big-loading.png");

    // A click on another panel is handled at once: a second graftal shows in the strip
    // while the model is still on its way.
    Desktop::click(at.newGraftal);
    const QImage twoGraftals = Desktop::screenshotWhen(
        [&](const QImage &shot) {
            return differingPixels(oneGraftal, shot, at.graftalStrip, 2) > 100;
        },
        20000);
    QVERIFY2(differingPixels(oneGraftal, twoGraftals, at.graftalStrip, 2) > 100,
             "the new graftal did not show");
    QVERIFY2(testsupport::windowsOf(app.processId()).contains(QString::number(progress)),
             "the model had loaded before the click was answered");

    // Then the progress goes and the model draws (looked for away from where the progress
    // was: without a compositor its picture stays on screen until the view repaints).
    QVERIFY(Desktop::waitForWindowGone(QStringLiteral("Opening model"), 120000));
    const QRect centre(view.left() + view.width() * 2 / 5, view.top() + view.height() / 4,
                       view.width() * 2 / 5, view.height() / 2);
    const QImage loaded = Desktop::screenshotWhen(
        [&](const QImage &shot) { return differingPixels(empty, shot, centre, 2) > 2000; }, 30000);
    QVERIFY2(differingPixels(empty, loaded, centre, 2) > 2000, "the model did not show");
    Desktop::keep(loaded, "big-loaded.png");

    app.terminate();
    QVERIFY(testsupport::ended(app, 60000));
    QCOMPARE(app.exitCode(), 0);
}

QTEST_MAIN(TestBigModel)
#include "tst_big_model.moc"
