// The real executable killed without warning: what the artist drew and named before the
// last autosave is on disk, once, under its name.
#include "../support/GlTestMain.h"
#include "../support/TestSupport.h"
#include "Configurator.h"
#include "Desktop.h"
#include "GraftalPainter.h"
#include "LoggerOutput.h"
#include "TextureManager.h"
#include "TreeManager.h"
#include "Tuftmill.h"
#include "WindowLayout.h"

#include <QLineEdit>
#include <algorithm>

namespace {
constexpr int AutosaveMs = 1500;

// How many pixels of that part of a level image are (nearly) opaque.
qsizetype opaquePixels(const QImage &image, const QRect &area)
{
    const QImage alpha = image.copy(area).convertToFormat(QImage::Format_Alpha8);
    qsizetype n = 0;
    for (int y = 0; y < alpha.height(); ++y) {
        const uchar *row = alpha.constScanLine(y);
        n += std::count_if(row, row + alpha.width(), [](uchar a) { return a > 200; });
    }
    return n;
}
} // namespace

class TestAutosave : public QObject
{
    Q_OBJECT
private slots:
    void strokeAndNameSurviveAKill();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestAutosave::strokeAndNameSurviveAKill()
{
    QTemporaryDir scratch, work;
    const WindowLayout at(scratch.path());
    const QRect painter = at.painter;
    const QPoint nameField = at.nameField;

    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TUFTMILL_TEST_AUTOSAVE_MS"), QString::number(AutosaveMs));
    app.setProcessEnvironment(env);
    QVERIFY(testsupport::startApp(app, work.path()));
    Desktop::settledScreenshot(painter);

    // Strokes on the new graftal's texture, then a name for it.
    for (int i = 0; i < 4; ++i)
        Desktop::drag(painter.topLeft() + QPoint(80 + i * 70, 340),
                      painter.topLeft() + QPoint(110 + i * 70, 70), 12);
    Desktop::click(nameField);
    Desktop::key(QStringLiteral("ctrl+a"));
    Desktop::type(QStringLiteral("Moss bed"));
    Desktop::key(QStringLiteral("Return"));

    // Once the autosave has written the strokes under the new name, the process dies
    // without any chance to save.
    const QDir graftals(work.filePath(QStringLiteral("graftals")));
    const QStringList saved{"Moss_bed.xml", "Moss_bed_001.png"};
    const auto written = [&] {
        return QDir(graftals.path()).entryList(QDir::Files, QDir::Name) == saved &&
               testsupport::readBytes(graftals.filePath("Moss_bed.xml"))
                   .contains("<name type=\"10\">Moss bed</name>") &&
               opaquePixels(QImage(graftals.filePath("Moss_bed_001.png")), QRect(0, 0, 400, 400)) >
                   2000;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(written(), "the strokes and the name were not autosaved", 60000);
    QCOMPARE(app.state(), QProcess::Running);
    app.kill();
    QVERIFY(testsupport::ended(app, 10000));
    QCOMPARE(app.exitStatus(), QProcess::CrashExit);

    QVERIFY(written());
    const QImage level(graftals.filePath("Moss_bed_001.png"));
    QCOMPARE(level.size(), QSize(800, 400));
    QVERIFY2(opaquePixels(level, QRect(0, 0, 400, 400)) > 2000, "the strokes are not on disk");
    QCOMPARE(opaquePixels(level, QRect(400, 0, 400, 400)), qsizetype(0));

    // Started again and closed: the one graftal is found, nothing is added or moved.
    QProcess again;
    again.setProcessEnvironment(env);
    QVERIFY(testsupport::startApp(again, work.path()));
    QVERIFY(Desktop::requestClose(testsupport::windowsOf(again.processId()).first().toULongLong()));
    QVERIFY(testsupport::ended(again, 60000));
    QCOMPARE(again.exitCode(), 0);
    QCOMPARE(graftals.entryList(QDir::Files, QDir::Name), saved);
    QCOMPARE(QImage(graftals.filePath("Moss_bed_001.png")), level);
}

TUFTMILL_GL_TEST_MAIN(TestAutosave)
#include "tst_autosave.moc"
