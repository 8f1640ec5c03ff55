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

#include <QAction>
#include <QSpinBox>
#include <QToolBar>
#include <csignal>

namespace {
// Where the view and its toolbar are, from a window built the same way off screen.
struct ViewLayout
{
    QRect view;
    QMap<int, QPoint> action; // by action data
    QPoint radius, rate;

    explicit ViewLayout(const QString &scratchDir)
    {
        const QString previous = QDir::currentPath();
        QDir::setCurrent(scratchDir);
        {
            Tuftmill window;
            window.setAttribute(Qt::WA_DontShowOnScreen);
            window.show();
            QTest::qWait(200);
            const TuftmillClass &ui = window.form();
            auto centre = [](QWidget *w) { return w->mapToGlobal(w->rect().center()); };
            view = QRect(ui.view->mapToGlobal(QPoint(0, 0)), ui.view->size());
            for (QAction *a : ui.viewToolBar->actions())
                if (!a->isSeparator() && a->data().toInt() > 0)
                    action[a->data().toInt()] = centre(ui.viewToolBar->widgetForAction(a));
            radius = centre(ui.brushRadiusBox);
            rate = centre(ui.sprayRateBox);
            window.close();
        }
        TreeManager::destroyInstance();
        QDir::setCurrent(previous);
    }
};

// The records in a scene file (15 bytes of header, 24 per graftal).
int records(const QByteArray &state)
{
    return state.size() < 15 ? -1 : int((state.size() - 15) / 24);
}

int differingPixels(const QImage &a, const QImage &b, const QRect &area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); y += 2)
        for (int x = area.left(); x <= area.right(); x += 2)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

// Answers a file dialog of the given title with a path; false if it never came or stayed.
bool answerFileDialog(const QString &title, const QString &path)
{
    const qulonglong dialog = Desktop::waitForWindow(title);
    if (!dialog)
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        Desktop::focus(dialog);
        Desktop::settle(800);
        Desktop::key(QStringLiteral("ctrl+a"));
        Desktop::type(path);
        Desktop::key(QStringLiteral("Return"));
        if (Desktop::waitForWindowGone(title, 8000))
            return true;
    }
    return false;
}

void typeInto(QPoint field, const QString &value)
{
    Desktop::click(field);
    Desktop::key(QStringLiteral("ctrl+a"));
    Desktop::type(value);
    Desktop::key(QStringLiteral("Return"));
}

void keep(const QImage &shot, const QString &name)
{
    const QString dir = qEnvironmentVariableIsSet("TUFTMILL_SCREENSHOT_DIR")
                            ? qEnvironmentVariable("TUFTMILL_SCREENSHOT_DIR")
                            : QDir::current().absoluteFilePath(QStringLiteral("e2e-shots"));
    QDir().mkpath(dir);
    shot.save(dir + QLatin1Char('/') + name);
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
    const ViewLayout at(scratch.path());
    const QString examples = QStringLiteral(TUFTMILL_SOURCE_DIR "/examples");
    for (const QString &sub : {QStringLiteral("graftals"), QStringLiteral("models")}) {
        QVERIFY(QDir().mkpath(work.filePath(sub)));
        for (const QString &file : QDir(examples + "/" + sub).entryList(QDir::Files))
            QVERIFY(
                QFile::copy(examples + "/" + sub + "/" + file, work.filePath(sub + "/" + file)));
    }
    const QString state = work.filePath("scenes/torus.dat");
    auto saved = [&] {
        Desktop::click(at.action[GLRender::SaveStateAction]);
        Desktop::settle(300);
        return testsupport::readBytes(state);
    };

    QProcess app;
    QVERIFY(testsupport::startApp(app, work.path()));
    Desktop::settledScreenshot(QRect(0, 0, 1920, 1080));
    Desktop::click(at.action[GLRender::OpenAction]);
    QVERIFY(answerFileDialog(QStringLiteral("Open 3DS model"), work.filePath("models/torus.3ds")));
    const QImage start = Desktop::screenshot();
    Desktop::screenshotWhen(
        [&](const QImage &shot) { return differingPixels(start, shot, at.view) > 1000; });
    const QImage bare = Desktop::settledScreenshot(at.view);
    const QByteArray empty = saved();
    QCOMPARE(records(empty), 0);

    // A wide brush: radius 60 pixels, 20 graftals per event, dragged along the ring.
    Desktop::click(at.action[GLRender::PaintMode]);
    typeInto(at.radius, QStringLiteral("60"));
    typeInto(at.rate, QStringLiteral("20"));
    const QPoint c = at.view.center();
    Desktop::drag(c + QPoint(-200, -60), c + QPoint(200, -60), 10, 30);
    const QImage sprayed = Desktop::settledScreenshot(at.view);
    keep(sprayed, "brush-sprayed.png");
    QVERIFY(differingPixels(bare, sprayed, at.view) > 300);
    const QByteArray afterSpray = saved();
    QVERIFY2(records(afterSpray) > 100, qPrintable(QString::number(records(afterSpray))));

    // Undo and redo from the keyboard: the files say exactly what was there.
    Desktop::moveTo(c);
    Desktop::key(QStringLiteral("ctrl+z"));
    QCOMPARE(saved(), empty);
    Desktop::key(QStringLiteral("ctrl+shift+z"));
    QCOMPARE(saved(), afterSpray);

    // The eraser over part of the stroke; the toolbar's undo brings it all back.
    Desktop::click(at.action[GLRender::EraseMode]);
    Desktop::drag(c + QPoint(-200, -60), c + QPoint(0, -60), 8, 30);
    const QImage erased = Desktop::settledScreenshot(at.view);
    keep(erased, "brush-erased.png");
    const QByteArray afterErase = saved();
    QVERIFY(records(afterErase) > 0 && records(afterErase) < records(afterSpray) - 20);
    Desktop::click(at.action[GLRender::UndoAction]);
    QCOMPARE(saved(), afterSpray);
    Desktop::click(at.action[GLRender::RedoAction]);
    QCOMPARE(saved(), afterErase);

    // A picture of the view at twice its size.
    Desktop::click(at.action[GLRender::ExportAction]);
    QVERIFY(answerFileDialog(QStringLiteral("Export image"), work.filePath("torus-picture")));
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
    Desktop::click(at.action[GLRender::PaintMode]);
    Desktop::drag(c + QPoint(-150, 60), c + QPoint(150, 60), 6, 30);
    const qulonglong window = testsupport::windowsOf(app.processId()).first().toULongLong();
    QVERIFY(Desktop::requestClose(window));
    qulonglong question = Desktop::waitForWindow(QStringLiteral("Unsaved scene"));
    QVERIFY2(question, "no question about the unsaved scene");
    keep(Desktop::screenshot(), "unsaved-scene.png");
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
    QVERIFY(app.waitForFinished(60000));
    QCOMPARE(app.exitCode(), 0);
    const QByteArray atQuit = testsupport::readBytes(state);
    QVERIFY(records(atQuit) > records(afterErase));

    // The end of a session saves a painted scene without asking.
    QProcess again;
    QVERIFY(testsupport::startApp(again, work.path()));
    Desktop::settledScreenshot(QRect(0, 0, 1920, 1080));
    Desktop::click(at.action[GLRender::OpenAction]);
    QVERIFY(answerFileDialog(QStringLiteral("Open 3DS model"), work.filePath("models/torus.3ds")));
    Desktop::settledScreenshot(at.view);
    Desktop::click(at.action[GLRender::ReloadStateAction]);
    Desktop::settle(500);
    Desktop::click(at.action[GLRender::PaintMode]);
    Desktop::drag(c + QPoint(-150, 0), c + QPoint(150, 0), 6, 30);
    Desktop::settledScreenshot(at.view);
    ::kill(pid_t(again.processId()), SIGTERM);
    QVERIFY(again.waitForFinished(60000));
    QCOMPARE(again.exitCode(), 0);
    const QByteArray atEnd = testsupport::readBytes(state);
    QVERIFY(records(atEnd) > records(atQuit));
}

TUFTMILL_GL_TEST_MAIN(TestBrushes)
#include "tst_brushes.moc"
