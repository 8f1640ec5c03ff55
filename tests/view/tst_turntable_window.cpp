// "Render turntable…" in the window: the render runs under a "Rendering turntable" progress
// dialog, and its "Cancel" leaves nothing behind.
#include <GL/glew.h>

#include "../support/GlTestMain.h"
#include "../support/SphereView.h"
#include "LoggerOutput.h"
#include "TurntableExport.h"

#include <QPushButton>
#include <QSignalSpy>

class TestTurntableWindow : public QObject
{
    Q_OBJECT
private slots:
    void rendersOrCancels_data();
    void rendersOrCancels();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestTurntableWindow::rendersOrCancels_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("cancel");
    for (const char *output : {"turn_%04d.png", "turn.webm"}) {
        QTest::addRow("%s", output) << output << false;
        QTest::addRow("%s cancelled", output) << output << true;
    }
}

void TestTurntableWindow::rendersOrCancels()
{
    QFETCH(QString, output);
    QFETCH(bool, cancel);
    testsupport::SphereView v({Qt::red});
    const auto entries = [&] {
        return QDir(v.work.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    };
    const QStringList before = entries();
    TurntableRequest request;
    request.frames = cancel ? 1000 : 6; // a cancelled one is far from its end
    request.width = 160;
    request.height = 120;
    request.output = v.work.file(output);
    TurntableExport *job = TurntableExport::start(v.view, request);
    QSignalSpy over(job, &TurntableExport::over);
    QProgressDialog *progress = job->progressDialog();
    QVERIFY(progress->isVisible());
    QCOMPARE(progress->windowTitle(), QStringLiteral("Rendering turntable"));
    if (cancel) {
        while (progress->value() < 1) // one frame per turn of the event loop
            QCoreApplication::processEvents();
        // The frame goes to its file on a writer thread of its own.
        QTRY_VERIFY_WITH_TIMEOUT(entries() != before, 30000);
        QPushButton *button = progress->findChild<QPushButton *>();
        QCOMPARE(button->text(), QStringLiteral("Cancel"));
        button->click();
    }
    QTRY_COMPARE_WITH_TIMEOUT(over.size(), 1, 60000);
    QCOMPARE(over[0][0].toBool(), !cancel);
    QStringList added = entries();
    for (const QString &name : before)
        added.removeAll(name);
    QCOMPARE(added.size(), cancel ? 0 : output.endsWith(".png") ? 6 : 1);
}

TUFTMILL_GL_TEST_MAIN(TestTurntableWindow)
#include "tst_turntable_window.moc"
