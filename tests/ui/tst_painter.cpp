#include "../support/GlTestMain.h"
#include "../support/TestSupport.h"
#include "GraftalPainter.h"
#include "LoggerOutput.h"

#include <QAction>
#include <QPainter>
#include <QSignalSpy>
#include <QTabletEvent>

namespace {
LevelPair blankPair()
{
    return {testsupport::filledLevel(Qt::transparent), testsupport::filledLevel(Qt::transparent)};
}

// The box around every pixel with some alpha.
QRect paintedArea(const QPixmap &pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                box |= QRect(x, y, 1, 1);
    return box;
}

QColor at(const QPixmap &pixmap, int x, int y)
{
    return pixmap.toImage().pixelColor(x, y);
}

// A painter with the panel's Undo and Redo actions, as the texture panel sets it up.
struct Fixture
{
    GraftalPainter painter;
    QAction undo;
    QAction redo;
    QAction undoTrigger, redoTrigger;
    QAction textureAction, maskAction, drawAction, eraseAction;
    QSignalSpy changed{&painter, &GraftalPainter::pixmapChanged};

    Fixture()
    {
        painter.undoAction = &undo;
        painter.redoAction = &redo;
        undoTrigger.setData(0);
        redoTrigger.setData(1);
        textureAction.setData(0);
        maskAction.setData(1);
        drawAction.setData(0);
        eraseAction.setData(1);
        painter.show();
    }
    void stroke(QPoint from, QPoint to)
    {
        QTest::mousePress(&painter, Qt::LeftButton, {}, from);
        QTest::mouseMove(&painter, (from + to) / 2);
        QTest::mouseMove(&painter, to);
        QTest::mouseRelease(&painter, Qt::LeftButton, {}, to);
    }
    void tablet(QEvent::Type type, const QPointingDevice *device, QPoint pos, double pressure)
    {
        QTabletEvent event(type, device, QPointF(pos), painter.mapToGlobal(QPointF(pos)), pressure,
                           0, 0, 0, 0, 0, Qt::NoModifier,
                           type == QEvent::TabletRelease ? Qt::NoButton : Qt::LeftButton,
                           type == QEvent::TabletRelease ? Qt::NoButton : Qt::LeftButton);
        QCoreApplication::sendEvent(&painter, &event);
        QVERIFY(event.isAccepted());
    }
};
} // namespace

class TestPainter : public QObject
{
    Q_OBJECT
private slots:
    void emptyPainterIgnoresEverything();
    void aClickMakesARoundDotAndOneStep();
    void undoAndRedoWalkTheHistory();
    void aNewEditDropsTheRedoBranch();
    void maskStrokesAreBlackAndErasingRemovesAlpha();
    void clearKeepsTheOtherImage();
    void tabletPressureAndEraser();
    void newPairForgetsTheHistory();
    void switchingTargetKeepsTheHistory();
    void paintShowsBothImagesAndTheLiveStroke();
    void bracketKeysTabletAndOutlineFollowTheBrushSize();
    void pickingTakesTheColourWithAlpha_data();
    void pickingTakesTheColourWithAlpha();
    void zoomedStrokesLandOnThePixelUnderThePointer();
    void fillTakesTheSimilarRegionAsOneStep();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestPainter::emptyPainterIgnoresEverything()
{
    Fixture f;
    QCOMPARE(f.painter.size(), QSize(400, 400));
    f.painter.undoRedoAction(&f.undoTrigger);
    f.painter.undoRedoAction(&f.redoTrigger);
    f.painter.clearPixmap();
    f.stroke({10, 10}, {50, 50});
    QCOMPARE(f.changed.size(), 0);
    QVERIFY(!f.painter.hasPixmaps());
    // Only the checker shows.
    const QImage shown = f.painter.grab().toImage();
    QVERIFY(shown.pixelColor(4, 4) != shown.pixelColor(12, 4));
}

void TestPainter::aClickMakesARoundDotAndOneStep()
{
    Fixture f;
    f.painter.pixmapSelected(blankPair());
    QVERIFY(!f.undo.isEnabled() && !f.redo.isEnabled());
    QTest::mouseClick(&f.painter, Qt::LeftButton, {}, QPoint(100, 100));
    QCOMPARE(f.changed.size(), 1);
    QCOMPARE(f.painter.historySize(), 2);
    QCOMPARE(f.painter.historyPosition(), 1);
    QVERIFY(f.undo.isEnabled());
    QVERIFY(!f.redo.isEnabled());
    const QPixmap texture = f.painter.currentPixmaps().first;
    const QRect dot = paintedArea(texture);
    QVERIFY2(dot.width() >= 14 && dot.width() <= 16 && dot.height() == dot.width(),
             qPrintable(QString("%1x%2").arg(dot.width()).arg(dot.height())));
    QVERIFY(std::abs(dot.center().x() - 100) <= 1 && std::abs(dot.center().y() - 100) <= 1);
    QCOMPARE(at(texture, 100, 100), QColor(Qt::black));
    // Round: the corners of the box stay empty.
    QCOMPARE(at(texture, dot.left(), dot.top()).alpha(), 0);
    QVERIFY(paintedArea(f.painter.currentPixmaps().second).isEmpty());
}

void TestPainter::undoAndRedoWalkTheHistory()
{
    Fixture f;
    f.painter.pixmapSelected(blankPair()); // A
    f.stroke({20, 20}, {60, 20});          // B
    f.stroke({20, 80}, {60, 80});          // C
    QCOMPARE(f.painter.historySize(), 3);
    f.changed.clear();
    f.painter.undoRedoAction(&f.undoTrigger);
    f.painter.undoRedoAction(&f.undoTrigger);
    QCOMPARE(f.changed.size(), 2);
    QVERIFY(paintedArea(f.painter.currentPixmaps().first).isEmpty()); // A
    QVERIFY(!f.undo.isEnabled());
    QVERIFY(f.redo.isEnabled());
    f.painter.undoRedoAction(&f.undoTrigger);
    QCOMPARE(f.changed.size(), 2);
    f.painter.undoRedoAction(&f.redoTrigger);
    QCOMPARE(f.changed.size(), 3);
    QVERIFY(paintedArea(f.painter.currentPixmaps().first).contains(QPoint(40, 20))); // B
    QVERIFY(!paintedArea(f.painter.currentPixmaps().first).contains(QPoint(40, 80)));
    QVERIFY(f.undo.isEnabled() && f.redo.isEnabled());
    f.painter.undoRedoAction(&f.redoTrigger);
    QVERIFY(!f.redo.isEnabled());
    f.painter.undoRedoAction(&f.redoTrigger);
    QCOMPARE(f.changed.size(), 4);
}

void TestPainter::aNewEditDropsTheRedoBranch()
{
    for (bool clear : {false, true}) {
        Fixture f;
        f.painter.pixmapSelected(blankPair());
        f.stroke({20, 20}, {60, 20});
        f.stroke({20, 80}, {60, 80});
        f.painter.undoRedoAction(&f.undoTrigger);
        f.painter.undoRedoAction(&f.undoTrigger);
        if (clear)
            f.painter.clearPixmap();
        else
            f.stroke({200, 200}, {220, 220});
        QCOMPARE(f.painter.historySize(), 2);
        QCOMPARE(f.painter.historyPosition(), 1);
        QVERIFY(!f.redo.isEnabled());
        QVERIFY(f.undo.isEnabled());
        f.painter.undoRedoAction(&f.redoTrigger);
        QCOMPARE(f.painter.historyPosition(), 1);
    }
}

void TestPainter::maskStrokesAreBlackAndErasingRemovesAlpha()
{
    Fixture f;
    f.painter.pixmapSelected(
        {testsupport::filledLevel(Qt::red), testsupport::filledLevel(Qt::transparent)});
    f.painter.setColor(Qt::green);
    f.painter.changeDrawMode(&f.maskAction);
    QVERIFY(!f.painter.editsTexture());
    f.stroke({50, 50}, {150, 50});
    QCOMPARE(at(f.painter.currentPixmaps().second, 100, 50), QColor(Qt::black));
    QCOMPARE(at(f.painter.currentPixmaps().first, 100, 50), QColor(Qt::red));

    f.painter.changeDrawMode(&f.textureAction);
    f.stroke({50, 150}, {150, 150});
    QCOMPARE(at(f.painter.currentPixmaps().first, 100, 150), QColor(Qt::green));

    f.painter.changeMouseMode(&f.eraseAction);
    QVERIFY(!f.painter.mouseDrawsStrokes());
    f.stroke({50, 250}, {150, 250});
    QCOMPARE(at(f.painter.currentPixmaps().first, 100, 250).alpha(), 0);
    QCOMPARE(at(f.painter.currentPixmaps().first, 100, 300), QColor(Qt::red));
    // Erasing on the mask takes its alpha away too.
    f.painter.changeDrawMode(&f.maskAction);
    f.stroke({90, 30}, {110, 70});
    QCOMPARE(at(f.painter.currentPixmaps().second, 100, 50).alpha(), 0);
}

void TestPainter::clearKeepsTheOtherImage()
{
    Fixture f;
    f.painter.pixmapSelected(
        {testsupport::filledLevel(Qt::red), testsupport::filledLevel(Qt::black)});
    f.painter.clearPixmap();
    QCOMPARE(f.changed.size(), 1);
    const LevelPair after = f.painter.currentPixmaps();
    QCOMPARE(after.first.size(), QSize(400, 400));
    QVERIFY(paintedArea(after.first).isEmpty());
    QCOMPARE(at(after.second, 10, 10), QColor(Qt::black));
    QVERIFY(f.undo.isEnabled() && !f.redo.isEnabled());
}

void TestPainter::tabletPressureAndEraser()
{
    Fixture f;
    f.painter.pixmapSelected(
        {testsupport::filledLevel(Qt::transparent), testsupport::filledLevel(Qt::transparent)});
    const QPointingDevice pen(
        QStringLiteral("pen"), 101, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    const QPointingDevice eraser(
        QStringLiteral("eraser"), 102, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Eraser,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    f.tablet(QEvent::TabletPress, &pen, {100, 100}, 0.5);
    QCOMPARE(f.painter.currentPenWidth(), 12);
    f.tablet(QEvent::TabletMove, &pen, {200, 100}, 1.0);
    QCOMPARE(f.painter.currentPenWidth(), 25);
    f.tablet(QEvent::TabletRelease, &pen, {200, 100}, 0.0);
    QCOMPARE(f.changed.size(), 1);
    const QRect line = paintedArea(f.painter.currentPixmaps().first);
    QVERIFY(line.contains(QPoint(150, 100)));
    QVERIFY2(line.height() >= 23 && line.height() <= 27,
             qPrintable(QString::number(line.height())));

    // The eraser end erases although the painter is set to draw.
    QVERIFY(f.painter.mouseDrawsStrokes());
    f.tablet(QEvent::TabletPress, &eraser, {150, 100}, 1.0);
    f.tablet(QEvent::TabletMove, &eraser, {160, 100}, 1.0);
    f.tablet(QEvent::TabletRelease, &eraser, {160, 100}, 1.0);
    QCOMPARE(at(f.painter.currentPixmaps().first, 155, 100).alpha(), 0);
    QCOMPARE(at(f.painter.currentPixmaps().first, 190, 100).alpha(), 255);

    // A release without a press still makes a step, equal to the one before.
    const int steps = f.painter.historySize();
    f.tablet(QEvent::TabletRelease, &pen, {10, 10}, 0.0);
    QCOMPARE(f.painter.historySize(), steps + 1);
    QVERIFY(paintedArea(f.painter.currentPixmaps().first).contains(QPoint(190, 100)));
    QVERIFY(!paintedArea(f.painter.currentPixmaps().first).contains(QPoint(10, 10)));
}

void TestPainter::newPairForgetsTheHistory()
{
    Fixture f;
    f.painter.pixmapSelected(blankPair());
    f.stroke({20, 20}, {60, 20});
    f.painter.undoRedoAction(&f.undoTrigger);
    QVERIFY(f.redo.isEnabled());
    f.changed.clear();
    f.painter.pixmapSelected(
        {testsupport::filledLevel(Qt::blue), testsupport::filledLevel(Qt::transparent)});
    QCOMPARE(f.changed.size(), 0);
    QCOMPARE(f.painter.historySize(), 1);
    QVERIFY(!f.undo.isEnabled() && !f.redo.isEnabled());
    QCOMPARE(at(f.painter.currentPixmaps().first, 5, 5), QColor(Qt::blue));
}

void TestPainter::switchingTargetKeepsTheHistory()
{
    Fixture f;
    f.painter.pixmapSelected(
        {testsupport::filledLevel(Qt::red), testsupport::filledLevel(Qt::transparent)});
    f.stroke({20, 20}, {60, 20});
    f.painter.changeDrawMode(&f.maskAction);
    QCOMPARE(f.painter.historySize(), 2);
    QCOMPARE(f.painter.historyPosition(), 1);
    f.painter.changeDrawMode(&f.textureAction);
    QCOMPARE(f.painter.historySize(), 2);
}

void TestPainter::paintShowsBothImagesAndTheLiveStroke()
{
    Fixture f;
    f.painter.pixmapSelected(
        {testsupport::filledLevel(Qt::red), testsupport::filledLevel(Qt::transparent)});
    QImage shown = f.painter.grab().toImage();
    QCOMPARE(shown.pixelColor(200, 200), QColor(Qt::red));
    // Editing the mask shows the texture at half strength over the checker.
    f.painter.changeDrawMode(&f.maskAction);
    shown = f.painter.grab().toImage();
    const QColor half = shown.pixelColor(200, 200);
    QVERIFY2(half.red() > 200 && half.green() > 80 && half.green() < 180, qPrintable(half.name()));
    // A stroke in progress shows at three quarters of its strength.
    f.painter.changeDrawMode(&f.textureAction);
    f.painter.setColor(Qt::blue);
    QTest::mousePress(&f.painter, Qt::LeftButton, {}, QPoint(100, 300));
    QTest::mouseMove(&f.painter, QPoint(200, 300));
    shown = f.painter.grab().toImage();
    const QColor live = shown.pixelColor(150, 300);
    QVERIFY2(std::abs(live.blue() - 191) <= 3 && std::abs(live.red() - 64) <= 3,
             qPrintable(live.name()));
    QTest::mouseRelease(&f.painter, Qt::LeftButton, {}, QPoint(200, 300));
    QCOMPARE(f.painter.grab().toImage().pixelColor(150, 300), QColor(Qt::blue));
}

void TestPainter::bracketKeysTabletAndOutlineFollowTheBrushSize()
{
    Fixture f;
    f.painter.pixmapSelected(blankPair());
    QSignalSpy resized(&f.painter, &GraftalPainter::brushSizeChanged);
    QTest::keyClick(&f.painter, ']');
    QCOMPARE(f.painter.brushSize(), GraftalPainter::MousePenWidth + 1);
    QTest::keyClick(&f.painter, '[');
    QTest::keyClick(&f.painter, '[');
    QCOMPARE(f.painter.brushSize(), GraftalPainter::MousePenWidth - 1);
    QCOMPARE(resized.size(), 3);
    // Full pressure is the brush size times 25 / 15.
    f.painter.setBrushSize(30);
    const QPointingDevice pen(
        QStringLiteral("pen"), 103, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    f.tablet(QEvent::TabletPress, &pen, {100, 100}, 1.0);
    QCOMPARE(f.painter.currentPenWidth(), 50);
    f.tablet(QEvent::TabletRelease, &pen, {100, 100}, 0.0);
    // The pointer shows the brush's outline at its size: dark on the ring, not inside.
    QMouseEvent hover(QEvent::MouseMove, QPointF(300, 300),
                      f.painter.mapToGlobal(QPointF(300, 300)), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&f.painter, &hover);
    const QImage shown = f.painter.grab().toImage();
    int darkest = 255;
    for (int x = 312; x <= 318; ++x)
        darkest = std::min(darkest, qGray(shown.pixel(x, 300)));
    QVERIFY2(darkest < 160, qPrintable(QString::number(darkest)));
    QVERIFY(qGray(shown.pixel(305, 300)) > 150);
}

void TestPainter::pickingTakesTheColourWithAlpha_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("tool") << "tool";
    QTest::newRow("ctrl+click") << "ctrl";
    QTest::newRow("I key") << "key";
}

void TestPainter::pickingTakesTheColourWithAlpha()
{
    QFETCH(QString, how);
    Fixture f;
    QPixmap half = testsupport::filledLevel(Qt::transparent);
    {
        QPainter p(&half);
        p.fillRect(200, 0, 200, 400, QColor(200, 40, 20, 128));
    }
    f.painter.pixmapSelected({half, testsupport::filledLevel(Qt::transparent)});
    QSignalSpy picked(&f.painter, &GraftalPainter::colorPicked);
    QAction pickTool;
    pickTool.setData(GraftalPainter::PickTool);
    if (how == "tool") {
        f.painter.changeMouseMode(&pickTool);
        QTest::mouseClick(&f.painter, Qt::LeftButton, {}, QPoint(300, 100));
    } else if (how == "ctrl") {
        QTest::mouseClick(&f.painter, Qt::LeftButton, Qt::ControlModifier, QPoint(300, 100));
    } else {
        QMouseEvent hover(QEvent::MouseMove, QPointF(300, 100),
                          f.painter.mapToGlobal(QPointF(300, 100)), Qt::NoButton, Qt::NoButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&f.painter, &hover);
        QTest::keyClick(&f.painter, Qt::Key_I);
    }
    QCOMPARE(picked.size(), 1);
    const QColor c = f.painter.color();
    QCOMPARE(c.alpha(), 128);
    QVERIFY2(std::abs(c.red() - 200) <= 1 && std::abs(c.green() - 40) <= 1, qPrintable(c.name()));
    QCOMPARE(f.painter.historySize(), 1); // picking changes no pixel
}

void TestPainter::zoomedStrokesLandOnThePixelUnderThePointer()
{
    Fixture f;
    f.painter.pixmapSelected(blankPair());
    f.painter.setBrushSize(3);
    const QPoint anchor(100, 100);
    for (int step = 0; step < 2; ++step) {
        QWheelEvent wheel(anchor, f.painter.mapToGlobal(anchor), {}, QPoint(0, 120), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&f.painter, &wheel);
    }
    QCOMPARE(f.painter.view().zoom(), 4);
    // The image point under the anchor stayed there: 4 frame pixels per image pixel around it.
    const QPoint click(210, 130);
    const QPoint pixel(anchor.x() + (click.x() - anchor.x()) / 4,
                       anchor.y() + (click.y() - anchor.y()) / 4);
    QTest::mouseClick(&f.painter, Qt::LeftButton, {}, click);
    const QPixmap texture = f.painter.currentPixmaps().first;
    QCOMPARE(at(texture, pixel.x(), pixel.y()).alpha(), 255);
    QCOMPARE(paintedArea(texture).center(), pixel);
    QVERIFY(paintedArea(texture).width() <= 5);
    // At 400 % a faint grid lies between image pixels; Ctrl+0 goes back to 100 %.
    const QImage shown = f.painter.grab().toImage();
    QVERIFY(shown.pixel(0, 2) != shown.pixel(1, 2) || shown.pixel(2, 0) != shown.pixel(2, 1));
    QTest::keyClick(&f.painter, Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(f.painter.view().zoom(), 1);
}

void TestPainter::fillTakesTheSimilarRegionAsOneStep()
{
    Fixture f;
    QPixmap image = testsupport::filledLevel(Qt::blue);
    {
        QPainter p(&image);
        p.fillRect(0, 0, 200, 400, QColor(255, 0, 0));
        p.fillRect(50, 50, 1, 1, QColor(250, 4, 0));   // close enough to join
        p.fillRect(0, 100, 200, 2, QColor(200, 0, 0)); // a wall too far off
    }
    f.painter.pixmapSelected({image, testsupport::filledLevel(Qt::transparent)});
    f.painter.setColor(Qt::green);
    QAction fillTool;
    fillTool.setData(GraftalPainter::FillTool);
    f.painter.changeMouseMode(&fillTool);
    QTest::mouseClick(&f.painter, Qt::LeftButton, {}, QPoint(20, 20));
    QCOMPARE(f.painter.historySize(), 2);
    const QPixmap filled = f.painter.currentPixmaps().first;
    QCOMPARE(at(filled, 20, 20), QColor(Qt::green));
    QCOMPARE(at(filled, 50, 50), QColor(Qt::green));
    QCOMPARE(at(filled, 20, 100), QColor(200, 0, 0));
    QCOMPARE(at(filled, 20, 200), QColor(Qt::red));
    QCOMPARE(at(filled, 300, 20), QColor(Qt::blue));
    f.painter.undoRedoAction(&f.undoTrigger);
    QCOMPARE(at(f.painter.currentPixmaps().first, 20, 20), QColor(Qt::red));
}

TUFTMILL_GL_TEST_MAIN(TestPainter)
#include "tst_painter.moc"
