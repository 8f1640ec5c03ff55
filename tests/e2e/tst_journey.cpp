// The whole tool as an artist meets it: the real executable in a fresh working
// directory, driven by pointer and keyboard events on the X display.
#include "../support/GlTestMain.h"
#include "../support/Models.h"
#include "../support/RenderWorkspace.h"
#include "../support/TestSupport.h"
#include "Configurator.h"
#include "Desktop.h"
#include "GLRender.h"
#include "GraftalDetailNavigator.h"
#include "GraftalPainter.h"
#include "GraftalThumbnailNavigator.h"
#include "LoggerOutput.h"
#include "PixmapScroller.h"
#include "TextureManager.h"
#include "TreeManager.h"
#include "Tuftmill.h"
#include "WindowLayout.h"
#include <QRegularExpression>

#include <QAction>
#include <QColorDialog>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QToolBar>

namespace {
// Where things are on the screen, and in the colour dialog, relative to its top left corner.
struct Layout : WindowLayout
{
    QPoint colourField, colourOk;

    explicit Layout(const QString &scratchDir) : WindowLayout(scratchDir)
    {
        QColorDialog dialog(Qt::white);
        dialog.setAttribute(Qt::WA_DontShowOnScreen);
        dialog.show();
        laidOut(dialog);
        for (QLineEdit *edit : dialog.findChildren<QLineEdit *>())
            if (edit->text().startsWith(QLatin1Char('#')))
                colourField = edit->mapTo(&dialog, edit->rect().center());
        for (QPushButton *button : dialog.findChildren<QPushButton *>())
            if (button->isDefault())
                colourOk = button->mapTo(&dialog, button->rect().center());
        dialog.hide();
    }
};

// How many different colours a thumbnail shows around its centre: 1 for an empty place,
// 2 for the bare checker, more for a drawing.
int coloursAround(const QImage &shot, QPoint centre)
{
    QSet<QRgb> seen;
    for (int y = -30; y <= 30; y += 3)
        for (int x = -30; x <= 30; x += 3)
            seen.insert(shot.pixel(centre + QPoint(x, y)));
    return int(seen.size());
}

int opaquePixels(const QImage &image, const QRect &area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += qAlpha(image.pixel(x, y)) > 200;
    return n;
}

// What a part of a screenshot shows, every second pixel in both directions: the box of
// what is not the view's white background, how many such pixels, how many dark ones and
// how many colours.
struct Drawn
{
    QRect box;
    int pixels = 0, dark = 0, colours = 0;
};
Drawn drawnIn(const QImage &shot, const QRect &area)
{
    Drawn d;
    QSet<QRgb> seen;
    for (int y = area.top(); y <= area.bottom(); y += 2)
        for (int x = area.left(); x <= area.right(); x += 2) {
            const QRgb c = shot.pixel(x, y);
            seen.insert(c);
            d.dark += qGray(c) < 40;
            if ((c & 0xffffff) != 0xffffff) {
                d.box |= QRect(x, y, 1, 1);
                ++d.pixels;
            }
        }
    d.colours = int(seen.size());
    return d;
}

// Types a file name into the "Open 3DS model" dialog and confirms it.
bool chooseFile(const QPoint &openAction, const QString &path)
{
    return Desktop::chooseFile(openAction, QStringLiteral("Open 3DS model"), path);
}
} // namespace

class TestJourney : public QObject
{
    Q_OBJECT
private slots:
    void artistJourney();
    void firstStartOnTheSamples();
    void otherFormatsOpenStandAndSave();
    void stylesAndCameraByPointerAndKeys();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestJourney::artistJourney()
{
    QTemporaryDir scratch, work;
    const Layout at(scratch.path());
    const QString models = QStringLiteral(TUFTMILL_SOURCE_DIR "/examples/models");
    QVERIFY(QFile::exists(models + "/torus.3ds"));

    QProcess app;
    QVERIFY(testsupport::startApp(app, work.path()));
    const qulonglong window = testsupport::windowsOf(app.processId()).first().toULongLong();
    Desktop::keep(Desktop::settledScreenshot(QRect(0, 0, 1920, 1080)), "1-start.png");

    // A new graftal, drawn on its texture and its mask.
    Desktop::click(at.newGraftal);
    Desktop::settle();
    const QRect p = at.painter;
    for (int i = 0; i < 5; ++i)
        Desktop::drag(p.topLeft() + QPoint(60 + i * 60, 350),
                      p.topLeft() + QPoint(100 + i * 60, 60), 12);
    Desktop::click(at.maskAction);
    Desktop::drag(p.topLeft() + QPoint(40, 380), p.topLeft() + QPoint(360, 380), 12);
    Desktop::click(at.textureAction);

    // A second level of detail, drawn too.
    Desktop::click(at.addLevel);
    Desktop::settle();
    Desktop::moveTo(at.detailThumbnail(1));
    Desktop::click(at.detailThumbnail(1));
    Desktop::settle();
    Desktop::drag(p.topLeft() + QPoint(200, 390), p.topLeft() + QPoint(200, 20), 12);
    Desktop::keep(Desktop::settledScreenshot(QRect(0, 0, 1920, 1080)), "2-drawing.png");

    // Its name and base size.
    Desktop::click(at.nameField);
    Desktop::key(QStringLiteral("ctrl+a"));
    Desktop::type(QStringLiteral("Tall grass"));
    Desktop::key(QStringLiteral("Return"));
    Desktop::click(at.baseSizeField);
    Desktop::key(QStringLiteral("ctrl+a"));
    Desktop::type(QStringLiteral("2.5"));
    Desktop::key(QStringLiteral("Return"));

    // A model, through the file dialog.
    const QImage empty = Desktop::settledScreenshot(at.view);
    QVERIFY(chooseFile(at.viewAction[1], models + "/torus.3ds"));
    Desktop::screenshotWhen(
        [&](const QImage &shot) { return differingPixels(empty, shot, at.view) > 1000; });
    const QImage loaded = Desktop::settledScreenshot(at.view);
    QVERIFY2(differingPixels(empty, loaded, at.view) > 1000, "the model did not show");

    // Graftals sprayed along the top and bottom of the ring, then a density stroke.
    Desktop::click(at.viewAction[3]);
    const QPoint c = at.view.center();
    for (int dx : {-220, -140, -60, 60, 140, 220})
        Desktop::drag(c + QPoint(dx, -90), c + QPoint(dx, 90), 24, 10);
    Desktop::click(at.viewAction[4]);
    Desktop::press(c + QPoint(0, 30));
    for (int up = 1; up <= 30; ++up) {
        Desktop::moveThrough(c + QPoint(0, 30 - up));
        Desktop::settle();
    }
    Desktop::release();
    const QImage sprayed = Desktop::settledScreenshot(at.view);
    QVERIFY2(differingPixels(loaded, sprayed, at.view) > 200, "no graftals showed on the model");
    Desktop::keep(sprayed, "3-sprayed.png");

    // A background colour, typed into the colour dialog.
    Desktop::click(at.viewAction[5]);
    const qulonglong colorDialog = Desktop::waitForWindow(QStringLiteral("Select Color"));
    QVERIFY(colorDialog);
    QVERIFY(!at.colourField.isNull() && !at.colourOk.isNull());
    const QPoint origin = Desktop::windowGeometry(colorDialog).topLeft();
    Desktop::focus(colorDialog);
    Desktop::click(origin + at.colourField);
    Desktop::key(QStringLiteral("ctrl+a"));
    Desktop::type(QStringLiteral("#ffe0b0"));
    Desktop::click(origin + at.colourOk);
    const QPoint corner = at.view.topLeft() + QPoint(5, 5);
    const QImage coloured = Desktop::screenshotWhen(
        [&](const QImage &shot) { return shot.pixelColor(corner) == QColor(0xff, 0xe0, 0xb0); });
    QCOMPARE(coloured.pixelColor(corner), QColor(0xff, 0xe0, 0xb0));

    // Save the scene, paint more, reload: the saved state is back.
    const QImage atSave = Desktop::settledScreenshot(at.view);
    Desktop::click(at.viewAction[6]);
    Desktop::settle();
    Desktop::click(at.viewAction[3]);
    Desktop::drag(c + QPoint(-100, -90), c + QPoint(100, 90), 30, 10);
    const QImage more = Desktop::settledScreenshot(at.view);
    QVERIFY(differingPixels(atSave, more, at.view) > 0);
    Desktop::click(at.viewAction[7]);
    // Asked first about what was painted since the save: it goes.
    const qulonglong question = Desktop::waitForWindow(QStringLiteral("Unsaved scene"));
    QVERIFY2(question, "no question before the reload");
    Desktop::focus(question);
    Desktop::key(QStringLiteral("alt+d"));
    QVERIFY(Desktop::waitForWindowGone(QStringLiteral("Unsaved scene")));
    const QImage reloaded = Desktop::screenshotWhen(
        [&](const QImage &shot) { return differingPixels(atSave, shot, at.view) == 0; });
    Desktop::keep(reloaded, "4-reloaded.png");
    QCOMPARE(differingPixels(atSave, reloaded, at.view), 0);

    // A damaged model gives the "Error" box, and the tool goes on working.
    QByteArray torus = testsupport::readBytes(models + "/torus.3ds");
    torus.truncate(torus.size() / 3);
    QVERIFY(testsupport::writeBytes(work.filePath("broken.3ds"), torus));
    QVERIFY(chooseFile(at.viewAction[1], work.filePath("broken.3ds")));
    const qulonglong error = Desktop::waitForWindow(QStringLiteral("Error"));
    QVERIFY2(error, "no error message for a damaged model");
    Desktop::keep(Desktop::screenshot(), "5-error.png");
    Desktop::focus(error);
    Desktop::key(QStringLiteral("Return"));
    QVERIFY(Desktop::waitForWindowGone(QStringLiteral("Error")));
    QCOMPARE(app.state(), QProcess::Running);
    QVERIFY(testsupport::windowsOf(app.processId()).contains(QString::number(window)));
    QCOMPARE(differingPixels(reloaded, Desktop::settledScreenshot(at.view), at.view), 0);

    // Quit as the close button would.
    QVERIFY(Desktop::requestClose(window));
    QVERIFY(testsupport::ended(app, 60000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);

    // What is on disk.
    const QDir dir(work.path());
    QCOMPARE(
        QString::fromUtf8(testsupport::readBytes(dir.filePath("graftals/Tall_grass.xml"))),
        QStringLiteral("<config>\n  <baseSize type=\"6\">2.5</baseSize>\n  <id type=\"3\">2</id>\n"
                       "  <name type=\"10\">Tall grass</name>\n</config>\n"));
    QVERIFY(QFile::exists(dir.filePath("graftals/Untitled_1.xml")));
    const QImage level1(dir.filePath("graftals/Tall_grass_001.png"));
    const QImage level2(dir.filePath("graftals/Tall_grass_002.png"));
    QCOMPARE(level1.size(), QSize(800, 400));
    QCOMPARE(level2.size(), QSize(800, 400));
    QVERIFY(opaquePixels(level1, QRect(0, 0, 400, 400)) > 3000);   // texture strokes
    QVERIFY(opaquePixels(level1, QRect(400, 0, 400, 400)) > 2000); // mask stroke
    QVERIFY(opaquePixels(level1, QRect(400, 0, 400, 300)) == 0);   // only along the bottom
    QVERIFY(opaquePixels(level2, QRect(0, 0, 400, 400)) > 3000);
    QCOMPARE(opaquePixels(level2, QRect(400, 0, 400, 400)), 0);
    QVERIFY(!QFile::exists(dir.filePath("graftals/Untitled_2.xml")));

    const QByteArray state = testsupport::readBytes(dir.filePath("scenes/torus.dat"));
    QVERIFY(state.size() > 15);
    QCOMPARE((state.size() - 15) % 24, 0);
    QCOMPARE(state.left(11).toHex(), QByteArray("01ffffffffe0e0b0b00000"));
    const quint32 n = (quint8(state[11]) << 24) | (quint8(state[12]) << 16) |
                      (quint8(state[13]) << 8) | quint8(state[14]);
    QCOMPARE(qint64(n), qint64((state.size() - 15) / 24));
    QVERIFY(n > 120); // the sprayed ones and the density stroke's
    QCOMPARE(state.mid(19, 4).toHex(), QByteArray("00000002")); // all of Tall grass

    const QStringList log = testsupport::readLines(dir.filePath("logger.log"));
    // Written at once; on a busy machine the stamp may already show a few milliseconds.
    QVERIFY2(QRegularExpression(
                 QStringLiteral("^\\[0000\\.0\\d\\d\\]   ___ @ logger: starting logger\\.\\.\\.$"))
                 .match(log.first())
                 .hasMatch(),
             qPrintable(log.first()));
    QVERIFY(log.last().endsWith(QStringLiteral("exiting logger...")));

    // A restart lists both graftals again; Tall grass comes first and shows both its levels.
    QProcess again;
    QVERIFY(testsupport::startApp(again, work.path()));
    const QImage restarted = Desktop::settledScreenshot(QRect(0, 0, 1920, 1080));
    Desktop::keep(restarted, "6-restarted.png");
    auto colours = [&](QPoint centre) { return coloursAround(restarted, centre); };
    QVERIFY(colours(at.thumbnail(at.graftalStrip, 0)) > 2);  // Tall grass, drawn on
    QVERIFY(colours(at.thumbnail(at.graftalStrip, 1)) >= 2); // Untitled 1, blank
    QCOMPARE(colours(at.thumbnail(at.graftalStrip, 2)), 1);
    QVERIFY(colours(at.detailThumbnail(0)) > 2);
    QVERIFY(colours(at.detailThumbnail(1)) > 2);
    QCOMPARE(colours(at.detailThumbnail(2)), 1);
    QVERIFY(Desktop::requestClose(testsupport::windowsOf(again.processId()).first().toULongLong()));
    QVERIFY(testsupport::ended(again, 60000));
    QCOMPARE(again.exitCode(), 0);
}

void TestJourney::firstStartOnTheSamples()
{
    // The run command's first start: a copy of the sample workspace.
    QTemporaryDir scratch, work;
    const Layout at(scratch.path());
    const QString examples = QStringLiteral(TUFTMILL_SOURCE_DIR "/examples");
    for (const QString &sub :
         {QStringLiteral("graftals"), QStringLiteral("models"), QStringLiteral("scenes")}) {
        QVERIFY(QDir().mkpath(work.filePath(sub)));
        for (const QString &file : QDir(examples + "/" + sub).entryList(QDir::Files))
            QVERIFY(
                QFile::copy(examples + "/" + sub + "/" + file, work.filePath(sub + "/" + file)));
    }
    QProcess app;
    QVERIFY(testsupport::startApp(app, work.path()));
    const qulonglong window = testsupport::windowsOf(app.processId()).first().toULongLong();
    const QImage start = Desktop::settledScreenshot(QRect(0, 0, 1920, 1080));
    Desktop::keep(start, "samples-start.png");
    // The four sample graftals in the thumbnail strip, each showing its drawing over the
    // checker, and nothing after them.
    auto colours = [&](QPoint centre) { return coloursAround(start, centre); };
    for (int i = 0; i < 4; ++i)
        QVERIFY2(colours(at.thumbnail(at.graftalStrip, i)) > 6, qPrintable(QString::number(i)));
    QCOMPARE(colours(at.thumbnail(at.graftalStrip, 4)), 1);

    QVERIFY(chooseFile(at.viewAction[1], work.filePath("models/torus.3ds")));
    Desktop::screenshotWhen(
        [&](const QImage &shot) { return differingPixels(start, shot, at.view) > 1000; });
    const QImage bare = Desktop::settledScreenshot(at.view);
    Desktop::click(at.viewAction[7]); // the saved scene of the torus
    Desktop::screenshotWhen(
        [&](const QImage &shot) { return differingPixels(bare, shot, at.view) > 2000; });
    const QImage dressed = Desktop::settledScreenshot(at.view);
    QVERIFY2(differingPixels(bare, dressed, at.view) > 2000, "the sample scene shows no graftals");
    // Come closer, rise a little and look down at the ring, as an artist would.
    Desktop::click(at.viewAction[2]);
    const QPoint c = at.view.center();
    Desktop::moveTo(c);
    for (int i = 0; i < 20; ++i)
        Desktop::xdotool({"click", "4"}); // wheel up: 15 units closer each
    Desktop::drag(c + QPoint(0, -300), c + QPoint(0, 300), 30, 15, 3); // the eye 100 units up
    Desktop::drag(c, c + QPoint(0, 68), 20, 15);                       // and 11 degrees down
    const QImage closer = Desktop::settledScreenshot(at.view);
    Desktop::keep(closer, "samples-torus.png");
    QVERIFY(differingPixels(dressed, closer, at.view) > 2000);

    QVERIFY(Desktop::requestClose(window));
    QVERIFY(testsupport::ended(app, 60000));
    QCOMPARE(app.exitCode(), 0);
    // The samples themselves are untouched.
    QCOMPARE(testsupport::readBytes(examples + "/scenes/torus.dat"),
             testsupport::readBytes(work.filePath("scenes/torus.dat")));
}

void TestJourney::otherFormatsOpenStandAndSave()
{
    // A figure three times as tall as it is wide, standing along y as OBJ files do, and the
    // same figure as GLB and FBX by Debian's assimp: each opens through the dialog standing,
    // takes graftals, saves its scene and renders from the command line.
    QTemporaryDir scratch;
    const Layout at(scratch.path());
    const testsupport::Workspace space; // a red graftal to paint with
    const QDir work(space.dir.path());
    QByteArray obj;
    for (int k = 0; k < 8; ++k)
        obj += QByteArray("v %1 %2 %3\n")
                   .replace("%1", k & 1 ? "1" : "-1")
                   .replace("%2", k & 2 ? "6" : "0")
                   .replace("%3", k & 4 ? "1" : "-1");
    obj += "f 1 2 4 3\nf 5 7 8 6\nf 1 5 6 2\nf 3 4 8 7\nf 1 3 7 5\nf 2 6 8 4\n";
    QVERIFY(testsupport::writeBytes(work.filePath("figure-obj.obj"), obj));
    // (FBX as text: assimp 5.2 cannot read back the binary FBX it writes.)
    for (const char *format : {"glb2", "fbxa"}) {
        const QString ext = QString::fromLatin1(format).left(3);
        QProcess assimp;
        assimp.setStandardOutputFile(QProcess::nullDevice());
        assimp.start("assimp", {"export", work.filePath("figure-obj.obj"),
                                work.filePath("figure-" + ext + "." + ext), "-f" + QString(format)});
        QVERIFY(assimp.waitForFinished(60000) && assimp.exitCode() == 0);
    }

    QProcess app;
    QVERIFY(testsupport::startApp(app, work.path()));
    const QString window = testsupport::windowsOf(app.processId()).first();
    for (const QString ext : {"obj", "glb", "fbx"}) {
        const QString name = "figure-" + ext;
        QVERIFY(chooseFile(at.viewAction[1], work.filePath(name + "." + ext)));
        // The title names a model once it is the one shown.
        QTRY_VERIFY_WITH_TIMEOUT(
            Desktop::run("xdotool", {"getwindowname", window}).startsWith(name + "." + ext), 10000);
        const QRect figure = drawnIn(Desktop::settledScreenshot(at.view), at.view).box;
        QVERIFY2(figure.height() > 2 * figure.width(),
                 qPrintable(QStringLiteral("%1: %2 x %3").arg(ext).arg(figure.width()).arg(figure.height())));
        Desktop::click(at.viewAction[3]);
        const QPoint c = figure.center();
        Desktop::drag(c + QPoint(0, -figure.height() / 3), c + QPoint(0, figure.height() / 3), 24, 10);
        Desktop::keep(Desktop::settledScreenshot(at.view), "format-" + ext + ".png");
        Desktop::click(at.viewAction[6]);
        const QString scene = work.filePath("scenes/" + name + ".dat");
        QTRY_VERIFY_WITH_TIMEOUT(testsupport::readBytes(scene).size() > 15 + 24, 5000);

        QProcess render;
        render.setWorkingDirectory(work.path());
        render.start(QStringLiteral(TUFTMILL_APP_PATH),
                     {"--render", name + "." + ext, "--scene", scene, "--output", name + ".png",
                      "--size", "320x240"});
        QVERIFY(render.waitForFinished(120000));
        QCOMPARE(render.exitCode(), 0);
        QVERIFY(!QImage(work.filePath(name + ".png")).isNull());
    }
    QVERIFY(Desktop::requestClose(window.toULongLong()));
    QVERIFY(testsupport::ended(app, 60000));
}

void TestJourney::stylesAndCameraByPointerAndKeys()
{
    // The style row, the orbit, "Frame model" and the title's star on the sample torus.
    QTemporaryDir scratch;
    const Layout at(scratch.path());
    const testsupport::Workspace space; // a red graftal to paint with
    const QDir work(space.dir.path());
    QProcess app;
    QVERIFY(testsupport::startApp(app, work.path()));
    const QString window = testsupport::windowsOf(app.processId()).first();
    auto title = [&] { return Desktop::run("xdotool", {"getwindowname", window}); };
    QVERIFY(chooseFile(at.viewAction[1], TUFTMILL_SOURCE_DIR "/examples/models/torus.3ds"));
    Desktop::screenshotWhen([&](const QImage &shot) { return drawnIn(shot, at.view).pixels > 1000; });
    const QImage flat = Desktop::settledScreenshot(at.view);
    const QRect torus = drawnIn(flat, at.view).box;
    QCOMPARE(title(), QString::fromUtf8("torus.3ds \u2014 Tuftmill"));

    // Painting across the top silhouette, where graftals stand, marks the scene unsaved.
    Desktop::click(at.viewAction[3]);
    const QPoint c = torus.center();
    for (int dx : {-torus.width() / 3, 0, torus.width() / 3})
        Desktop::drag(QPoint(c.x() + dx, torus.top() - 15), QPoint(c.x() + dx, torus.top() + 40),
                      24, 10);
    const QImage painted = Desktop::settledScreenshot(at.view);
    QVERIFY(differingPixels(flat, painted, at.view, 2) > 20);
    QCOMPARE(title(), QString::fromUtf8("torus.3ds* \u2014 Tuftmill"));

    // Shaded from the list by keys: many more colours; outlines: dark lines.
    Desktop::click(at.shading);
    Desktop::key("Down");
    Desktop::key("Return");
    const QImage shaded = Desktop::screenshotWhen([&](const QImage &shot) {
        return drawnIn(shot, torus).colours > 3 * drawnIn(painted, torus).colours;
    });
    QVERIFY2(drawnIn(shaded, torus).colours > 3 * drawnIn(painted, torus).colours,
             qPrintable(QStringLiteral("%1 against %2")
                            .arg(drawnIn(shaded, torus).colours)
                            .arg(drawnIn(painted, torus).colours)));
    Desktop::click(at.outlines);
    const QImage outlined = Desktop::screenshotWhen(
        [&](const QImage &shot) { return drawnIn(shot, torus).dark > drawnIn(shaded, torus).dark + 100; });
    QVERIFY(drawnIn(outlined, torus).dark > drawnIn(shaded, torus).dark + 100);
    Desktop::keep(outlined, "styles-outlined.png");

    // An orbit of 480 pixels keeps the torus in view; a turn in "Move camera around subject" sends it
    // away, and Home brings it back.
    Desktop::click(at.viewAction[12]);
    Desktop::drag(c + QPoint(-240, 0), c + QPoint(240, 0), 24, 10);
    const QImage orbited = Desktop::settledScreenshot(at.view);
    QVERIFY(drawnIn(orbited, at.view).pixels > 1000);
    QVERIFY(differingPixels(orbited, outlined, at.view, 2) > 100);
    Desktop::click(at.viewAction[2]);
    Desktop::drag(c + QPoint(-300, 0), c + QPoint(300, 0), 24, 10);
    QVERIFY(drawnIn(Desktop::settledScreenshot(at.view), at.view).pixels < 100);
    Desktop::key("Home");
    const QImage framed = Desktop::screenshotWhen(
        [&](const QImage &shot) { return drawnIn(shot, at.view).pixels > 1000; });
    QVERIFY(drawnIn(framed, at.view).pixels > 1000);
    Desktop::keep(framed, "styles-framed.png");

    // Saving takes the star away.
    Desktop::click(at.viewAction[6]);
    QTRY_COMPARE_WITH_TIMEOUT(title(), QString::fromUtf8("torus.3ds \u2014 Tuftmill"), 5000);
    QVERIFY(QFile::exists(work.filePath("scenes/torus.view.json")));
    QVERIFY(Desktop::requestClose(window.toULongLong()));
    QVERIFY(testsupport::ended(app, 60000));
}

TUFTMILL_GL_TEST_MAIN(TestJourney)
#include "tst_journey.moc"
