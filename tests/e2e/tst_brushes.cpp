// Dressing with the brush as an artist does it in the real application: a wide spray, the
// eraser, undo and redo from keys and toolbar, a picture export, the "Unsaved scene"
// question and the end of a session; every step checked on disk.
#include "../support/GlTestMain.h"
#include "../support/TestSupport.h"
#include "Desktop.h"
#include "GLRender.h"
#include "LoggerOutput.h"
#include "TreeManager.h"
#include "Tuftmill.h"
#include "WindowLayout.h"

#include <QAction>
#include <QSpinBox>
#include <QToolBar>
#include <csignal>

namespace {
// The records in a scene file (15 bytes of header, 24 per graftal).
int records(const QByteArray &state)
{
    return state.size() < 15 ? -1 : int((state.size() - 15) / 24);
}

void typeInto(QPoint field, const QString &value)
{
    Desktop::click(field);
    Desktop::key(QStringLiteral("ctrl+a"));
    Desktop::type(value);
    Desktop::key(QStringLiteral("Return"));
}

} // namespace

class TestBrushes : public QObject
{
    Q_OBJECT
private slots:
    void brushEraseUndoExportAndQuit();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestBrushes::brushEraseUndoExportAndQuit()
{
    QTemporaryDir scratch, work;
    const WindowLayout at(scratch.path());
    const QString examples = QStringLiteral(TUFTMILL_SOURCE_DIR "/examples");
    for (const QString &sub : {QStringLiteral("graftals"), QStringLiteral("models")}) {
        QVERIFY(QDir().mkpath(work.filePath(sub)));
        for (const QString &file : QDir(examples + "/" + sub).entryList(QDir::Files))
            QVERIFY(
                QFile::copy(examples + "/" + sub + "/" + file, work.filePath(sub + "/" + file)));
    }
    const QString state = work.filePath("scenes/torus.dat");
    // The scene as "Save current state of scene" writes it: the file goes first, so that
    // it is there again once the save is done (a file that never comes reads as empty).
    auto saved = [&] {
        QFile::remove(state);
        Desktop::click(at.viewAction[GLRender::SaveStateAction]);
        if (!QTest::qWaitFor([&] { return QFileInfo::exists(state); }, 30000))
            qWarning("the scene file did not come back");
        return testsupport::readBytes(state);
    };

    QProcess app;
    QVERIFY(testsupport::startApp(app, work.path()));
    Desktop::settledScreenshot(QRect(0, 0, 1920, 1080));
    Desktop::click(at.viewAction[GLRender::OpenAction]);
    QVERIFY(Desktop::answerFileDialog(QStringLiteral("Open 3DS model"),
                                      work.filePath("models/torus.3ds")));
    const QImage start = Desktop::screenshot();
    Desktop::screenshotWhen(
        [&](const QImage &shot) { return differingPixels(start, shot, at.view, 2) > 1000; });
    const QImage bare = Desktop::settledScreenshot(at.view);
    const QByteArray empty = saved();
    QCOMPARE(records(empty), 0);

    // A wide brush: radius 60 pixels, 20 graftals per event, dragged along the ring.
    Desktop::click(at.viewAction[GLRender::PaintMode]);
    typeInto(at.brushRadius, QStringLiteral("60"));
    typeInto(at.sprayRate, QStringLiteral("20"));
    const QPoint c = at.view.center();
    Desktop::drag(c + QPoint(-200, -60), c + QPoint(200, -60), 10, 30);
    const QImage sprayed = Desktop::settledScreenshot(at.view);
    Desktop::keep(sprayed, "brush-sprayed.png");
    QVERIFY(differingPixels(bare, sprayed, at.view, 2) > 300);
    const QByteArray afterSpray = saved();
    // Twenty graftals an event: more than two events' worth, however many moves a busy
    // display server merges into one.
    QVERIFY2(records(afterSpray) > 40, qPrintable(QString::number(records(afterSpray))));

    // Undo and redo from the keyboard: the files say exactly what was there.
    Desktop::moveTo(c);
    Desktop::key(QStringLiteral("ctrl+z"));
    QCOMPARE(saved(), empty);
    Desktop::key(QStringLiteral("ctrl+shift+z"));
    QCOMPARE(saved(), afterSpray);

    // The eraser over part of the stroke; the toolbar's undo brings it all back.
    Desktop::click(at.viewAction[GLRender::EraseMode]);
    Desktop::drag(c + QPoint(-200, -60), c + QPoint(0, -60), 8, 30);
    const QImage erased = Desktop::settledScreenshot(at.view);
    Desktop::keep(erased, "brush-erased.png");
    const QByteArray afterErase = saved();
    QVERIFY(records(afterErase) > 0 && records(afterErase) < records(afterSpray) - 20);
    Desktop::click(at.viewAction[GLRender::UndoAction]);
    QCOMPARE(saved(), afterSpray);
    Desktop::click(at.viewAction[GLRender::RedoAction]);
    QCOMPARE(saved(), afterErase);

    // A picture of the view at twice its size.
    Desktop::click(at.viewAction[GLRender::ExportAction]);
    QVERIFY(
        Desktop::answerFileDialog(QStringLiteral("Export image"), work.filePath("torus-picture")));
    const QString picturePath = work.filePath("torus-picture.png");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(picturePath), 20000);
    const QImage picture(picturePath);
    QCOMPARE(picture.size(), at.view.size() * 2);
    // Scaled down to the view it is what the view shows.
    const QImage halved =
        picture.scaled(at.view.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage shown = Desktop::settledScreenshot(at.view).copy(at.view);
    int close = 0;
    for (int y = 0; y < shown.height(); y += 4)
        for (int x = 0; x < shown.width(); x += 4) {
            const QColor a = shown.pixelColor(x, y), b = halved.pixelColor(x, y);
            close += std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                         std::abs(a.blue() - b.blue()) <
                     60;
        }
    QVERIFY2(close > shown.width() * shown.height() / 16 * 9 / 10,
             qPrintable(QString::number(close)));

    // More graftals, then the question when the window closes: Cancel keeps it open,
    // Save writes the scene and closes.
    Desktop::click(at.viewAction[GLRender::PaintMode]);
    Desktop::drag(c + QPoint(-150, 60), c + QPoint(150, 60), 6, 30);
    const qulonglong window = testsupport::windowsOf(app.processId()).first().toULongLong();
    QVERIFY(Desktop::requestClose(window));
    qulonglong question = Desktop::waitForWindow(QStringLiteral("Unsaved scene"));
    QVERIFY2(question, "no question about the unsaved scene");
    Desktop::keep(Desktop::screenshot(), "unsaved-scene.png");
    Desktop::focus(question);
    Desktop::key(QStringLiteral("Escape"));
    QVERIFY(Desktop::waitForWindowGone(QStringLiteral("Unsaved scene")));
    QCOMPARE(app.state(), QProcess::Running);
    QCOMPARE(testsupport::readBytes(state), afterErase);
    QVERIFY(Desktop::requestClose(window));
    question = Desktop::waitForWindow(QStringLiteral("Unsaved scene"));
    QVERIFY(question);
    Desktop::focus(question);
    Desktop::key(QStringLiteral("Return")); // "Save" is the default
    QVERIFY(testsupport::ended(app, 60000));
    QCOMPARE(app.exitCode(), 0);
    const QByteArray atQuit = testsupport::readBytes(state);
    QVERIFY(records(atQuit) > records(afterErase));

    // The end of a session saves a painted scene without asking.
    QProcess again;
    QVERIFY(testsupport::startApp(again, work.path()));
    Desktop::settledScreenshot(QRect(0, 0, 1920, 1080));
    Desktop::click(at.viewAction[GLRender::OpenAction]);
    QVERIFY(Desktop::answerFileDialog(QStringLiteral("Open 3DS model"),
                                      work.filePath("models/torus.3ds")));
    Desktop::settledScreenshot(at.view);
    Desktop::click(at.viewAction[GLRender::ReloadStateAction]);
    Desktop::settle();
    Desktop::click(at.viewAction[GLRender::PaintMode]);
    Desktop::drag(c + QPoint(-150, 0), c + QPoint(150, 0), 6, 30);
    Desktop::settledScreenshot(at.view);
    ::kill(pid_t(again.processId()), SIGTERM);
    QVERIFY(testsupport::ended(again, 60000));
    QCOMPARE(again.exitCode(), 0);
    const QByteArray atEnd = testsupport::readBytes(state);
    QVERIFY(records(atEnd) > records(atQuit));
}

TUFTMILL_GL_TEST_MAIN(TestBrushes)
#include "tst_brushes.moc"
