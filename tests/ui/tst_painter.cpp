#include "../support/GlTestMain.h"
#include "../support/TestSupport.h"
#include "BrushPanel.h"
#include "GraftalPainter.h"
#include "LoggerOutput.h"
#include "TextureManager.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QPainter>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabletEvent>
#include <QTemporaryDir>

Q_DECLARE_METATYPE(BrushSettings)

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
// Alpha of one pixel of an image.
int alphaAt(const QImage &image, int x, int y)
{
    return qAlpha(image.pixel(x, y));
}

// How many pixels of column `x` are at least half covered.
int widthAt(const QImage &image, int x)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        n += alphaAt(image, x, y) >= 128;
    return n;
}

// Sends the mouse or the tablet along `points`, `msPerStep` apart, as one stroke.
void replay(GraftalPainter &painter, const QList<QPoint> &points, int msPerStep, bool tablet)
{
    static const QPointingDevice pen(
        QStringLiteral("pen"), 110, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    static quint64 clock = 1000;
    for (int i = 0; i < points.size(); ++i) {
        const QPointF at(points[i]);
        const bool last = i == points.size() - 1 && i > 0;
        clock += msPerStep;
        if (tablet) {
            const auto type = i == 0 ? QEvent::TabletPress
                                     : last ? QEvent::TabletRelease : QEvent::TabletMove;
            QTabletEvent e(type, &pen, at, painter.mapToGlobal(at), 1.0, 0, 0, 0, 0, 0,
                           Qt::NoModifier, Qt::LeftButton, last ? Qt::NoButton : Qt::LeftButton);
            e.setTimestamp(clock);
            QCoreApplication::sendEvent(&painter, &e);
            continue;
        }
        const auto type = i == 0 ? QEvent::MouseButtonPress : QEvent::MouseMove;
        QMouseEvent e(type, at, painter.mapToGlobal(at), i == 0 ? Qt::LeftButton : Qt::NoButton,
                      Qt::LeftButton, Qt::NoModifier);
        e.setTimestamp(clock);
        QCoreApplication::sendEvent(&painter, &e);
        if (last) {
            QMouseEvent up(QEvent::MouseButtonRelease, at, painter.mapToGlobal(at),
                           Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
            up.setTimestamp(clock);
            QCoreApplication::sendEvent(&painter, &up);
        }
    }
}

// A straight path across the level, or one that zig-zags 8 pixels up and down.
QList<QPoint> path(bool zigzag)
{
    QList<QPoint> points;
    for (int x = 50; x <= 350; x += 10)
        points.append({x, 200 + (zigzag && x < 350 ? (x / 10 % 2 ? 8 : -8) : 0)});
    return points;
}
} // namespace

class TestPainter : public QObject
{
    Q_OBJECT
    QTemporaryDir settingsHome;
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
    void brushStrokes_data();
    void brushStrokes();
    void presetsAndChoicesAreRemembered();
    void initTestCase();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestPainter::initTestCase()
{
    // The brush is remembered with QSettings: here, in a folder of the test's own.
    QVERIFY(settingsHome.isValid());
    qputenv("XDG_CONFIG_HOME", settingsHome.path().toLocal8Bit());
    QCoreApplication::setOrganizationName(QStringLiteral("TuftmillTest"));
}

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

void TestPainter::brushStrokes_data()
{
    QTest::addColumn<BrushSettings>("brush");
    QTest::addColumn<bool>("mirror");
    QTest::addColumn<bool>("mask");
    QTest::addColumn<QString>("how"); // dot, line, fast, zigzag, tablet, erase, fill
    QTest::addColumn<QString>("check");
    const BrushSettings pen;
    BrushSettings soft{40, 100, 0, false, 0, false, 0};
    BrushSettings edge{20, 100, 100, true, 0, false, 0};
    BrushSettings tapered{30, 100, 100, false, 30, false, 0};
    BrushSettings thinning{30, 100, 100, false, 0, true, 0};
    BrushSettings steady{5, 100, 100, false, 0, false, 100};
    BrushSettings shaky = steady;
    shaky.smoothing = 0;
    BrushSettings blade{30, 100, 70, true, 30, false, 60};
    QTest::newRow("soft dot") << soft << false << false << "dot" << "levels";
    QTest::newRow("soft dot on the mask") << soft << false << true << "dot" << "levels";
    QTest::newRow("smooth edge") << edge << false << false << "dot" << "edge";
    QTest::newRow("taper") << tapered << false << false << "line" << "taper";
    QTest::newRow("taper on the mask") << tapered << false << true << "line" << "taper";
    QTest::newRow("taper, smoothed") << blade << false << false << "line" << "taper";
    QTest::newRow("taper with pressure") << tapered << false << false << "tablet" << "taper";
    QTest::newRow("slow mouse") << thinning << false << false << "line" << "full";
    QTest::newRow("fast mouse") << thinning << false << false << "fast" << "thin";
    QTest::newRow("fast mouse, speed ignored") << tapered << false << false << "fast" << "full";
    QTest::newRow("smoothed zig-zag") << steady << false << false << "zigzag" << "straight";
    QTest::newRow("shaky zig-zag") << shaky << false << false << "zigzag" << "shaky";
    QTest::newRow("mirrored pen") << pen << true << false << "line" << "mirror";
    QTest::newRow("mirrored blade, mask") << blade << true << true << "zigzag" << "mirror";
    QTest::newRow("mirrored blade, 200 %") << blade << true << false << "zoom" << "mirror";
    QTest::newRow("mirrored erase") << soft << true << false << "erase" << "mirror";
    QTest::newRow("mirrored fill") << pen << true << false << "fill" << "mirror";
}

void TestPainter::brushStrokes()
{
    QFETCH(BrushSettings, brush);
    QFETCH(bool, mirror);
    QFETCH(bool, mask);
    QFETCH(QString, how);
    QFETCH(QString, check);
    Fixture f;
    QPixmap start = testsupport::filledLevel(Qt::transparent);
    if (how == "erase" || how == "fill") {
        // Something to erase or fill: an off-centre bar and, for the fill, its mirror image.
        QPainter p(&start);
        p.fillRect(0, 0, 400, 400, how == "erase" ? QColor(Qt::red) : QColor(Qt::transparent));
        p.fillRect(20, 20, 40, 60, Qt::blue);
        if (how == "fill")
            p.fillRect(340, 20, 40, 60, Qt::darkRed);
    }
    f.painter.pixmapSelected({start, start});
    if (mask)
        f.painter.changeDrawMode(&f.maskAction);
    f.painter.setBrush(brush);
    f.painter.setMirror(mirror);
    QCOMPARE(f.painter.brush(), brush);
    if (how == "dot") {
        replay(f.painter, {{100, 100}, {100, 100}}, 10, false);
    } else if (how == "fill") {
        QAction fillTool;
        fillTool.setData(GraftalPainter::FillTool);
        f.painter.changeMouseMode(&fillTool);
        QTest::mouseClick(&f.painter, Qt::LeftButton, {}, QPoint(40, 40));
    } else {
        if (how == "erase")
            f.painter.changeMouseMode(&f.eraseAction);
        if (how == "zoom")
            f.painter.zoomAt(1, QPointF(200, 200));
        QList<QPoint> points = path(how == "zigzag" || how == "zoom");
        if (check == "mirror" && how != "erase")
            for (QPoint &p : points)
                p.rx() /= 3; // all on the left, for the mirror to repeat on the right
        replay(f.painter, points, how == "fast" ? 2 : 100, how == "tablet");
    }
    // One step, which undo takes back.
    QCOMPARE(f.painter.historySize(), 2);
    const LevelPair after = f.painter.currentPixmaps();
    const QImage image = (mask ? after.second : after.first).toImage().convertToFormat(
        QImage::Format_ARGB32);
    QVERIFY(paintedArea(mask ? after.first : after.second) == paintedArea(start));

    if (check == "levels" || check == "edge") {
        // From the centre outwards the alpha only falls, through many levels or a soft rim.
        QSet<int> levels;
        int partial = 0;
        for (int x = 100, last = 255; x < 130; ++x) {
            const int a = alphaAt(image, x, 100);
            QVERIFY2(a <= last, qPrintable(QString("%1 at %2").arg(a).arg(x)));
            last = a;
            levels.insert(a);
            partial += a > 0 && a < 255;
        }
        QVERIFY(alphaAt(image, 100, 100) >= 240);
        if (check == "levels")
            QVERIFY2(levels.size() >= 8, qPrintable(QString::number(levels.size())));
        else
            QVERIFY2(partial >= 2, qPrintable(QString::number(partial)));
    } else if (check == "taper") {
        const int middle = widthAt(image, 200);
        QVERIFY2(middle * 10 >= brush.size * 8, qPrintable(QString::number(middle)));
        for (int x : {62, 338})
            QVERIFY2(widthAt(image, x) * 3 < middle,
                     qPrintable(QString("%1 at %2 of %3").arg(widthAt(image, x)).arg(x).arg(middle)));
    } else if (check == "full" || check == "thin") {
        const int middle = widthAt(image, 200);
        if (check == "full")
            QVERIFY2(middle >= brush.size - 1, qPrintable(QString::number(middle)));
        else
            QVERIFY2(middle <= brush.size / 2, qPrintable(QString::number(middle)));
    } else if (check == "straight" || check == "shaky") {
        // Across the middle the line wanders as much as the pointer, or far less; and it
        // ends where the pointer ended.
        int top = 400, bottom = 0;
        for (int y = 0; y < 400; ++y)
            for (int x = 150; x <= 250; ++x)
                if (alphaAt(image, x, y) >= 128) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        const int spread = bottom - top + 1 - brush.size;
        QVERIFY2(check == "straight" ? spread <= 6 : spread >= 14, qPrintable(QString::number(spread)));
        QCOMPARE(alphaAt(image, 350, 200), 255);
    } else if (check == "mirror") {
        if (how == "fill") {
            QCOMPARE(image.pixelColor(360, 40), QColor(Qt::black));
            QCOMPARE(image.pixelColor(39, 40), QColor(Qt::black));
            QCOMPARE(image.pixelColor(200, 40).alpha(), 0);
        } else if (how == "erase") {
            QCOMPARE(alphaAt(image, 50, 200), 0);
            QCOMPARE(alphaAt(image, 349, 200), 0);
            QCOMPARE(alphaAt(image, 200, 300), 255);
        } else {
            const QRect painted = paintedArea(QPixmap::fromImage(image));
            QVERIFY(painted.left() < 150 && painted.right() > 250);
            QVERIFY(image == image.mirrored(true, false));
        }
    }
    f.painter.undoRedoAction(&f.undoTrigger);
    QCOMPARE((mask ? f.painter.currentPixmaps().second : f.painter.currentPixmaps().first)
                 .toImage()
                 .convertToFormat(QImage::Format_ARGB32),
             start.toImage().convertToFormat(QImage::Format_ARGB32));
}

void TestPainter::presetsAndChoicesAreRemembered()
{
    QSettings().clear();
    const BrushSettings mine{42, 55, 20, true, 35, true, 70};
    {
        TextureManager panel;
        panel.setupToolBar();
        GraftalPainter *painter = panel.painter();
        QCOMPARE(painter->brush(), BrushSettings());
        QCOMPARE(painter->mirrors(), false);
        BrushPanel *choices = panel.brushPanel();
        QStringList names;
        for (int i = 0; i < choices->presetBox()->count(); ++i)
            names.append(choices->presetBox()->itemText(i));
        QCOMPARE(names, QStringList({"Hard pen", "Soft airbrush", "Tapered blade", "Ink"}));
        // The boxes of the popup and the row set the painter's brush.
        panel.brushSizeBox()->setValue(mine.size);
        panel.opacityBox()->setValue(mine.opacity);
        choices->hardnessBox()->setValue(mine.hardness);
        choices->smoothEdgeBox()->setChecked(mine.smoothEdge);
        choices->taperBox()->setValue(mine.taper);
        choices->speedThinsBox()->setChecked(mine.speedThins);
        choices->smoothingBox()->setValue(mine.smoothing);
        QCOMPARE(painter->brush(), mine);
        panel.saveBrushPreset(QStringLiteral("Mine"));
        panel.action(QStringLiteral("Mirror"))->trigger();
        QVERIFY(painter->mirrors());
        // A shipped preset, then the saved one, each restore every choice.
        QCOMPARE(choices->presetBox()->currentText(), QStringLiteral("Mine"));
        choices->presetBox()->activated(0);
        QCOMPARE(painter->brush(), BrushSettings());
        QCOMPARE(choices->taperBox()->value(), 0);
        choices->presetBox()->activated(4);
        QCOMPARE(painter->brush(), mine);
        choices->presetBox()->activated(2);
        QCOMPARE(painter->brush(), brushpresets::shipped().at(2).brush);
    }
    // The next start finds the last brush, the mirror and the saved preset.
    TextureManager again;
    again.setupToolBar();
    QCOMPARE(again.painter()->brush(), brushpresets::shipped().at(2).brush);
    QVERIFY(again.painter()->mirrors());
    QCOMPARE(again.brushPanel()->presetBox()->itemText(4), QStringLiteral("Mine"));
    again.brushPanel()->presetBox()->activated(4);
    QCOMPARE(again.painter()->brush(), mine);
    QCOMPARE(again.brushSizeBox()->value(), mine.size);
    QCOMPARE(again.opacityBox()->value(), mine.opacity);
}

TUFTMILL_GL_TEST_MAIN(TestPainter)
#include "tst_painter.moc"
