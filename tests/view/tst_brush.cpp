// The brush, the eraser, undo and redo of strokes and picture export, in the OpenGL view.
#include "../support/HostileOutputs.h"
#include "../support/GlTestMain.h"
#include "../support/Models.h"
#include "../support/SphereView.h"
#include "../support/TestSupport.h"
#include "GLRender.h"
#include "Graftal.h"
#include "LoggerOutput.h"
#include "Random.h"
#include "Scene.h"
#include "TreeManager.h"

#include <QAction>
#include <QFileDialog>
#include <QImageReader>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QWheelEvent>
#include <set>

using testsupport::ScopedWorkDir;

namespace {
bool reddish(QRgb c)
{
    return qRed(c) > 150 && qGreen(c) < 100 && qBlue(c) < 100;
}

int countReddish(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += reddish(image.pixel(x, y));
    return n;
}

// A view on a sphere, come close, with a red and a blue graftal; the red one is selected.
struct Brushing : testsupport::SphereView
{
    Graftal *blue;
    Graftal *red;

    Brushing() : SphereView({Qt::blue, Qt::red})
    {
        blue = graftals[0];
        red = graftals[1];
    }
    void click(QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mousePress(&view, button, {}, at);
        QTest::mouseRelease(&view, button, {}, at);
    }
    QByteArray savedState()
    {
        act(GLRender::SaveStateAction);
        return testsupport::readBytes("scenes/sphere.dat");
    }
    std::set<GraftalInstance *> instances() const
    {
        const auto all = scene()->collectInstances();
        return {all.begin(), all.end()};
    }
    // Whether a graftal's anchor shows within `radius` pixels of the centre of pixel `at`,
    // on the face the picture shows there.
    bool showsUnder(const GraftalInstance *i, QPoint at, double radius) const
    {
        QPointF w;
        if (!scene()->projectToWindow(i->position, w))
            return false;
        const QPointF d = w - QPointF(at) - QPointF(0.5, 0.5);
        return std::hypot(d.x(), d.y()) <= radius &&
               scene()->pickFace(int(w.x()), int(w.y())) == i->face();
    }
};

// A view on a sheet of 20 x 20 units with a blue and a red graftal; the red one is selected.
struct DensityPainting : testsupport::SphereView
{
    static constexpr float Size = 20.0f;
    float slope;

    DensityPainting(float leaning, int cells)
        : SphereView({Qt::blue, Qt::red}, testsupport::sheetOfCells(Size, cells, leaning),
                     QStringLiteral("sheet.3ds"), 40),
          slope(leaning)
    {
    }
    void send(QEvent::Type type, QPoint at, Qt::KeyboardModifiers modifiers)
    {
        const bool release = type == QEvent::MouseButtonRelease;
        QMouseEvent event(type, QPointF(at), view.mapToGlobal(QPointF(at)),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          release ? Qt::NoButton : Qt::LeftButton, modifiers);
        QCoreApplication::sendEvent(&view, &event);
    }
    // One stroke along the path, as the pointer gives it.
    void stroke(const QList<QPoint> &path, Qt::KeyboardModifiers modifiers = {})
    {
        send(QEvent::MouseButtonPress, path.first(), modifiers);
        for (const QPoint &at : path.mid(1))
            send(QEvent::MouseMove, at, modifiers);
        send(QEvent::MouseButtonRelease, path.last(), modifiers);
    }
    // Pixels of the view, marked or not.
    struct Mask
    {
        int width, height;
        std::vector<char> marked;
        bool at(int x, int y) const
        {
            return x >= 0 && y >= 0 && x < width && y < height && marked[size_t(y * width + x)];
        }
    };
    // The pixels within `radius` of a point of the path that show the sheet.
    Mask brushed(const QList<QPoint> &path, int radius) const
    {
        Mask mask{view.width(), view.height(),
                  std::vector<char>(size_t(view.width() * view.height()))};
        for (int y = 0; y < mask.height; ++y)
            for (int x = 0; x < mask.width; ++x)
                for (const QPoint &c : path)
                    if ((x - c.x()) * (x - c.x()) + (y - c.y()) * (y - c.y()) <= radius * radius &&
                        scene()->pickFace(x, y)) {
                        mask.marked[size_t(y * mask.width + x)] = 1;
                        break;
                    }
        return mask;
    }
    // Whether a point of the model shows in the mask, give or take a pixel.
    bool inMask(const Mask &mask, const Vector3 &point) const
    {
        QPointF w;
        if (!scene()->projectToWindow(point, w))
            return false;
        const int x = int(std::floor(w.x())), y = int(std::floor(w.y()));
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (mask.at(x + dx, y + dy))
                    return true;
        return false;
    }
    // The sheet's surface in the mask, measured on a fine grid of points of the sheet.
    double areaIn(const Mask &mask) const
    {
        constexpr int N = 600;
        const double each = Size * Size * std::sqrt(1.0 + slope * slope) / (N * N);
        int inside = 0;
        for (int j = 0; j < N; ++j)
            for (int i = 0; i < N; ++i) {
                const double x = Size * ((i + 0.5) / N - 0.5), z = Size * ((j + 0.5) / N - 0.5);
                QPointF w;
                inside += scene()->projectToWindow(Vector3(x, slope * z, z), w) &&
                          mask.at(int(std::floor(w.x())), int(std::floor(w.y())));
            }
        return inside * each;
    }
    QByteArray savedState()
    {
        act(GLRender::SaveStateAction);
        return testsupport::readBytes("scenes/sheet.dat");
    }
};
} // namespace

class TestBrush : public QObject
{
    Q_OBJECT
private slots:
    void smallestBrushSpraysAsBefore();
    void largeBrushPlacesRateInsideTheCircle_data();
    void largeBrushPlacesRateInsideTheCircle();
    void eraserTakesOnlyVisibleSelectedInsideTheCircle();
    void undoAndRedoRestoreTheExactLists();
    void historyIsBoundedAndStartsAfreshOnLoads();
    void secondPressNeverAbandonsADensityStroke();
    void densityBrushFillsWhatItCrosses_data();
    void densityBrushFillsWhatItCrosses();
    void unsavedChangesAreTracked();
    void exportWritesTwiceTheViewSize();
    void exportFailuresSayWhy();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestBrush::smallestBrushSpraysAsBefore()
{
    Brushing b;
    QCOMPARE(b.view.brushRadius(), 1);
    QCOMPARE(b.view.sprayRate(), 1);
    const QList<QPoint> path = {{200, 150}, {205, 148}, {240, 170}, {180, 130}, {150, 160}};
    // Through the view with the brush at its defaults...
    Random::reseedForTests(42);
    b.act(GLRender::PaintMode);
    for (const QPoint &p : path)
        b.click(p);
    const QByteArray brushed = b.savedState();
    // ... and the same presses as one graftal each on the face under the pointer.
    b.scene()->clearInstances();
    Random::reseedForTests(42);
    for (const QPoint &p : path)
        b.scene()->paintAt(p.x(), p.y());
    QCOMPARE(b.scene()->instanceCount(), 5);
    QCOMPARE(b.savedState(), brushed);
    QCOMPARE(brushed.size(), 15 + 24 * 5);
}

void TestBrush::largeBrushPlacesRateInsideTheCircle_data()
{
    QTest::addColumn<int>("radius");
    QTest::addColumn<int>("rate");
    QTest::newRow("radius 40, rate 50") << 40 << 50;
    QTest::newRow("radius 12, rate 7") << 12 << 7;
    QTest::newRow("radius 1, rate 5") << 1 << 5;
    QTest::newRow("radius 25, rate 1") << 25 << 1;
}

void TestBrush::largeBrushPlacesRateInsideTheCircle()
{
    QFETCH(int, radius);
    QFETCH(int, rate);
    Brushing b;
    for (int dy = -radius; dy <= radius; ++dy) // the whole circle lies on the ball
        QVERIFY(b.scene()->pickFace(b.centre.x(), b.centre.y() + dy));
    b.view.setBrushRadius(radius);
    b.view.setSprayRate(rate);
    b.act(GLRender::PaintMode);
    for (int event = 1; event <= 3; ++event) {
        const QPoint at = b.centre + QPoint(event * 3, -event * 2);
        const std::set<GraftalInstance *> before = b.instances();
        if (event == 1)
            QTest::mousePress(&b.view, Qt::LeftButton, {}, at);
        else
            QTest::mouseMove(&b.view, at);
        const std::set<GraftalInstance *> after = b.instances();
        QCOMPARE(int(after.size() - before.size()), rate);
        for (GraftalInstance *i : after) {
            if (before.count(i))
                continue;
            QCOMPARE(i->graftal(), b.red);
            // Projected back, the anchor is inside the circle, on the face shown there.
            QVERIFY(b.showsUnder(i, at, radius + 0.01));
        }
    }
    QTest::mouseRelease(&b.view, Qt::LeftButton, {}, b.centre);
    QCOMPARE(b.scene()->allInstances().size(), size_t(3 * rate));
    // A brush over the background places nothing.
    QTest::mouseClick(&b.view, Qt::LeftButton, {}, QPoint(3, 3));
    QCOMPARE(b.scene()->instanceCount(), 3 * rate);
}

void TestBrush::eraserTakesOnlyVisibleSelectedInsideTheCircle()
{
    Brushing b;
    Scene *s = b.scene();
    b.act(GLRender::PaintMode);
    b.view.setSprayRate(50);
    b.view.setBrushRadius(20);
    b.click(b.centre); // red, well inside the eraser's circle
    const std::set<GraftalInstance *> redInside = b.instances();
    b.click(b.centre + QPoint(80, 0)); // red, outside it
    b.library->setSelected(b.blue);
    b.click(b.centre); // blue, inside it
    b.library->setSelected(b.red);
    // Red ones on the far side of the ball, where the circle shows the near side.
    std::set<GraftalInstance *> hidden;
    for (int f = 0; f < s->faceCount(); ++f) {
        const MeshFace *face = s->face(f);
        GraftalInstance probe(face, {0.3, 0.3}, b.red);
        QPointF w;
        if (Vector3::dot(face->normal, s->camera().viewDir) > 0.2 &&
            s->projectToWindow(probe.position, w) && std::hypot(w.x() - 200.5, w.y() - 150.5) < 25)
            hidden.insert(s->addInstance(face, {0.3, 0.3}, b.red));
    }
    QVERIFY(hidden.size() >= 3);
    const int total = s->instanceCount();

    b.act(GLRender::EraseMode);
    b.view.setBrushRadius(30);
    b.click(b.centre);
    const std::set<GraftalInstance *> left = b.instances();
    QCOMPARE(total - int(left.size()), int(redInside.size()));
    for (GraftalInstance *i : left)
        QVERIFY(!redInside.count(i));
    for (GraftalInstance *i : hidden)
        QVERIFY(left.count(i));
    QCOMPARE(int(std::count_if(left.begin(), left.end(),
                               [&](GraftalInstance *i) { return i->graftal() == b.blue; })),
             50);
    // A second stroke finds nothing more of red there that shows.
    b.click(b.centre);
    QCOMPARE(int(b.instances().size()), int(left.size()));
    for (GraftalInstance *i : left)
        if (i->graftal() == b.red)
            QVERIFY(!b.showsUnder(i, b.centre, 30));
}

void TestBrush::undoAndRedoRestoreTheExactLists()
{
    Brushing b;
    QSignalSpy undoable(&b.view, &GLRender::undoAvailable);
    QSignalSpy redoable(&b.view, &GLRender::redoAvailable);
    QList<QByteArray> states{b.savedState()};
    b.act(GLRender::PaintMode);
    b.view.setBrushRadius(30);
    b.view.setSprayRate(20);
    b.drag(b.centre - QPoint(60, 0), b.centre + QPoint(60, 0), 12); // a spray stroke
    states.append(b.savedState());
    QCOMPARE(undoable.last().first().toBool(), true);
    b.act(GLRender::DensityMode);
    QTest::mousePress(&b.view, Qt::LeftButton, {}, b.centre);
    QTest::mouseMove(&b.view, b.centre - QPoint(0, 30)); // 120 more
    QTest::mouseMove(&b.view, b.centre + QPoint(0, 10)); // down past the press: 40 fewer
    QTest::mouseRelease(&b.view, Qt::LeftButton, {}, b.centre + QPoint(0, 10));
    states.append(b.savedState());
    b.act(GLRender::EraseMode);
    b.drag(b.centre - QPoint(40, 10), b.centre + QPoint(40, 10), 6);
    states.append(b.savedState());
    b.drag(b.centre + QPoint(-40, 25), b.centre + QPoint(40, 25), 6); // a second erase stroke
    const QByteArray erasedTwice = b.savedState();
    QVERIFY(erasedTwice.size() < states.last().size());
    for (int i = 1; i < states.size(); ++i)
        QVERIFY2(states[i] != states[i - 1], qPrintable(QString::number(i)));

    // Back through the keys and the toolbar, then forward again.
    b.view.setFocus();
    QTest::keyClick(&b.view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(b.savedState(), states[3]);
    QTest::keyClick(&b.view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(b.savedState(), states[2]);
    b.act(GLRender::UndoAction);
    QCOMPARE(b.savedState(), states[1]);
    QTest::keyClick(&b.view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(b.savedState(), states[0]);
    QCOMPARE(undoable.last().first().toBool(), false);
    QTest::keyClick(&b.view, Qt::Key_Z, Qt::ControlModifier); // nothing left to undo
    QCOMPARE(b.savedState(), states[0]);
    QCOMPARE(GraftalInstance::liveCount(), 0);
    QTest::keyClick(&b.view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(b.savedState(), states[1]);
    QTest::keyClick(&b.view, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(b.savedState(), states[2]);
    b.act(GLRender::RedoAction);
    QCOMPARE(b.savedState(), states[3]);
    b.act(GLRender::RedoAction);
    QCOMPARE(b.savedState(), erasedTwice);
    QCOMPARE(redoable.last().first().toBool(), false);
    QCOMPARE(b.scene()->allInstances().size(), size_t(b.scene()->instanceCount()));
    QCOMPARE(GraftalInstance::liveCount(), b.scene()->instanceCount());

    // A new stroke after an undo drops what could have been redone.
    b.act(GLRender::UndoAction);
    b.act(GLRender::UndoAction);
    QVERIFY(b.scene()->canRedo());
    b.act(GLRender::PaintMode);
    b.click(b.centre);
    QVERIFY(!b.scene()->canRedo());
    QCOMPARE(redoable.last().first().toBool(), false);
    b.act(GLRender::UndoAction);
    QCOMPARE(b.savedState(), states[2]);
    // The eraser after all that takes off exactly what shows under it.
    b.act(GLRender::EraseMode);
    b.click(b.centre);
    for (GraftalInstance *i : b.instances())
        QVERIFY(!b.showsUnder(i, b.centre, 30));
}

void TestBrush::historyIsBoundedAndStartsAfreshOnLoads()
{
    Brushing b;
    b.act(GLRender::PaintMode);
    for (int i = 0; i < SceneHistory::MaxSteps + 5; ++i)
        b.click(b.centre + QPoint(i % 40, 0));
    QCOMPARE(b.scene()->undoSteps(), SceneHistory::MaxSteps);
    QCOMPARE(b.scene()->instanceCount(), SceneHistory::MaxSteps + 5);
    while (b.scene()->canUndo())
        b.act(GLRender::UndoAction);
    QCOMPARE(b.scene()->instanceCount(), 5); // the oldest steps are out of reach
    QCOMPARE(b.scene()->redoSteps(), SceneHistory::MaxSteps);
    // A click on the background changes nothing and makes no step.
    b.click(QPoint(2, 2));
    QCOMPARE(b.scene()->redoSteps(), SceneHistory::MaxSteps);

    b.act(GLRender::SaveStateAction);
    b.act(GLRender::RedoAction);
    {
        testsupport::MessageBoxCatcher discard(QMessageBox::Discard); // what was painted since
        b.act(GLRender::ReloadStateAction);
        QCOMPARE(discard.titles, QStringList{"Unsaved scene"});
    }
    QVERIFY(!b.scene()->canUndo() && !b.scene()->canRedo());
    QCOMPARE(b.scene()->instanceCount(), 5);
    b.click(b.centre);
    QVERIFY(b.scene()->canUndo());
    QVERIFY(b.view.openModel("sphere.3ds"));
    QVERIFY(!b.scene()->canUndo());
}

void TestBrush::secondPressNeverAbandonsADensityStroke()
{
    Brushing b;
    b.act(GLRender::PaintMode);
    b.view.setBrushRadius(20);
    b.view.setSprayRate(50);
    b.click(b.centre + QPoint(50, 0));
    QVERIFY(b.scene()->instanceCount() > 20);
    b.act(GLRender::DensityMode);
    for (QPoint second : {QPoint(3, 3), b.centre}) { // over the background, then the ball
        const int start = b.scene()->instanceCount();
        QTest::mousePress(&b.view, Qt::LeftButton, {}, b.centre);
        QTest::mouseMove(&b.view, b.centre - QPoint(0, 10));
        QTest::mouseMove(&b.view, b.centre + QPoint(0, 2)); // some taken off, kept aside
        QTest::mousePress(&b.view, Qt::RightButton, {}, second, 20);
        QCOMPARE(b.scene()->removedInstanceCount(), 0);
        QCOMPARE(b.scene()->instanceCount(), std::max(0, start - 8));
        if (second != b.centre) // over the ball the second press starts a stroke of its own
            QCOMPARE(b.scene()->allInstances().size(), size_t(b.scene()->instanceCount()));
        QTest::mouseMove(&b.view, second - QPoint(0, 5));
        QTest::mouseRelease(&b.view, Qt::RightButton, {}, second - QPoint(0, 5));
        QTest::mouseRelease(&b.view, Qt::LeftButton, {}, second - QPoint(0, 5));
        QCOMPARE(GraftalInstance::liveCount(), b.scene()->instanceCount());
    }
    // The next spray draws every graftal, not only itself.
    b.act(GLRender::PaintMode);
    b.click(b.centre + QPoint(60, 0));
    QCOMPARE(b.scene()->allInstances().size(), size_t(b.scene()->instanceCount()));
    b.view.grabFramebuffer();
    QCOMPARE(b.view.renderer().lastDrawOrder().size(), size_t(b.scene()->instanceCount()));
    // Each press made its own step: undone one by one, back to the single graftal.
    while (b.scene()->canUndo())
        b.act(GLRender::UndoAction);
    QCOMPARE(b.scene()->instanceCount(), 0);
    for (int i = 0; i < 4; ++i)
        b.act(GLRender::RedoAction);
    QVERIFY(b.scene()->instanceCount() > 1);
}

void TestBrush::densityBrushFillsWhatItCrosses_data()
{
    QTest::addColumn<float>("slope");
    QTest::addColumn<int>("cells");
    QTest::addColumn<double>("density");
    QTest::newRow("facing, faces larger than the brush's cells") << 0.0f << 10 << 10.0;
    QTest::newRow("leaning back 60 degrees") << 1.732f << 10 << 10.0;
    QTest::newRow("faces of a few pixels") << 0.0f << 100 << 10.0;
    QTest::newRow("sparse: a few graftals per cell") << 0.0f << 10 << 1.0;
}

void TestBrush::densityBrushFillsWhatItCrosses()
{
    QFETCH(float, slope);
    QFETCH(int, cells);
    QFETCH(double, density);
    DensityPainting p(slope, cells);
    QCOMPARE(p.view.devicePixelRatioF(), 1.0);
    Random::reseedForTests(7);
    // Blue graftals sprayed first stay as they are: the brush counts and thins the red.
    p.view.currentGraftalChanged(p.graftals[0]);
    p.act(GLRender::PaintMode);
    p.view.setBrushRadius(40);
    p.view.setSprayRate(50);
    p.stroke({p.centre});
    p.view.currentGraftalChanged(p.graftals[1]);
    Graftal *red = p.graftals[1];
    const int blues = p.scene()->instanceCountOf(p.graftals[0]);
    QCOMPARE(blues, 50);

    constexpr int radius = 30;
    QList<QPoint> path;
    for (int x = 110; x <= 290; x += 9) // over the sheet's left edge too
        path << QPoint(x, 150 + (x - 200) / 6);
    const DensityPainting::Mask mask = p.brushed(path, radius);
    const double wanted = density * p.areaIn(mask);
    QVERIFY2(wanted > 50 * density, qPrintable(QString::number(wanted)));
    p.act(GLRender::DensityBrushMode);
    p.view.setBrushRadius(radius);
    p.view.setBrushDensity(density);
    const int steps = p.scene()->undoSteps();
    p.stroke(path);
    QCOMPARE(p.scene()->undoSteps(), steps + 1);
    const int once = p.scene()->instanceCountOf(red);
    QVERIFY2(std::abs(once - wanted) <= std::max(3.0, 0.04 * wanted),
             qPrintable(QStringLiteral("%1 placed, %2 wanted").arg(once).arg(wanted)));
    for (const GraftalInstance *i : p.scene()->collectInstances())
        QVERIFY(i->graftal() != red || p.inMask(mask, i->position));
    // A second pass over the same path adds next to nothing.
    p.stroke(path);
    const int twice = p.scene()->instanceCountOf(red);
    QVERIFY2(twice - once <= std::max(2.0, 0.03 * once),
             qPrintable(QStringLiteral("%1, then %2").arg(once).arg(twice)));
    // Shift thins to the density, taking off only the red.
    const QByteArray filled = p.savedState();
    p.view.setBrushDensity(density / 3);
    p.stroke(path, Qt::ShiftModifier);
    const int thinned = p.scene()->instanceCountOf(red);
    QVERIFY2(std::abs(thinned - wanted / 3) <= std::max(3.0, 0.05 * wanted / 3),
             qPrintable(QStringLiteral("%1 left, %2 wanted").arg(thinned).arg(wanted / 3)));
    QCOMPARE(p.scene()->instanceCountOf(p.graftals[0]), blues);
    QCOMPARE(GraftalInstance::liveCount(), p.scene()->instanceCount());
    QCOMPARE(p.scene()->allInstances().size(), size_t(p.scene()->instanceCount()));
    // Undo takes back exactly the thinning stroke; redo brings it again.
    p.act(GLRender::UndoAction);
    QCOMPARE(p.savedState(), filled);
    p.act(GLRender::RedoAction);
    QCOMPARE(p.scene()->instanceCountOf(red), thinned);
}

void TestBrush::unsavedChangesAreTracked()
{
    Brushing b;
    Scene *s = b.scene();
    QVERIFY(!s->changedSinceSaved());
    b.act(GLRender::PaintMode);
    b.click(b.centre);
    QVERIFY(s->changedSinceSaved());
    b.act(GLRender::UndoAction); // back to what was loaded
    QVERIFY(!s->changedSinceSaved());
    b.act(GLRender::RedoAction);
    b.act(GLRender::SaveStateAction);
    QVERIFY(!s->changedSinceSaved());
    b.act(GLRender::UndoAction);
    QVERIFY(s->changedSinceSaved());
    {
        testsupport::MessageBoxCatcher discard(QMessageBox::Discard); // what was painted since
        b.act(GLRender::ReloadStateAction);
        QCOMPARE(discard.titles, QStringList{"Unsaved scene"});
    }
    QVERIFY(!s->changedSinceSaved());
    s->markChanged(); // a new background colour
    QVERIFY(s->changedSinceSaved());
    QVERIFY(b.view.openModel("sphere.3ds"));
    QVERIFY(!s->changedSinceSaved());
}

void TestBrush::exportWritesTwiceTheViewSize()
{
    Brushing b;
    b.act(GLRender::PaintMode);
    b.view.setBrushRadius(120);
    b.view.setSprayRate(50);
    for (int i = 0; i < 8; ++i)
        b.click(b.centre + QPoint(i, 0));
    b.scene()->background = QColor(250, 240, 200);
    const QImage shown = b.view.grabFramebuffer();
    b.scene()->toggleAxes(); // overlays stay out of the picture

    testsupport::ModalDriver driver([](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        if (!dialog || dialog->windowTitle() != QStringLiteral("Export image"))
            return false;
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
            ->setText(QDir::current().filePath("picture"));
        static_cast<QDialog *>(dialog)->accept();
        return true;
    });
    QSignalSpy status(&b.view, &GLRender::statusMessage);
    b.act(GLRender::ExportAction);
    QTRY_COMPARE(driver.handled, 1);
    QCOMPARE(status.last()[0].toString(),
             "Image exported to " + QDir::current().filePath("picture.png"));
    const QImage picture("picture.png"); // the suffix added
    QCOMPARE(picture.size(), shown.size() * 2);
    QCOMPARE(picture.pixelColor(4, 4), QColor(250, 240, 200));
    QCOMPARE(picture.pixelColor(picture.width() - 4, 4), QColor(250, 240, 200)); // no axes
    // The same scene as the view shows, four times the pixels of graftals.
    const int big = countReddish(picture), small = countReddish(shown);
    QVERIFY2(small > 100 && big > 3 * small && big < 5 * small,
             qPrintable(QStringLiteral("%1 %2").arg(small).arg(big)));
    QCOMPARE(QDir().entryList(QDir::Files).filter("picture").size(), 1); // nothing left beside
}

void TestBrush::exportFailuresSayWhy()
{
    {
        ScopedWorkDir work;
        GLRender empty;
        empty.resize(200, 150);
        empty.show();
        QVERIFY(QTest::qWaitForWindowExposed(&empty));
        testsupport::MessageBoxCatcher catcher;
        QAction action;
        action.setData(GLRender::ExportAction);
        empty.dispatchAction(&action);
        QCOMPARE(catcher.title, QStringLiteral("Export image"));
        QVERIFY(catcher.text.contains("open a model first"));
    }
    Brushing b;
    QString error;
    QVERIFY(testsupport::writeBytes("kept.png", "an older picture"));
    QDir().mkdir("folder.png");
    QVERIFY(!b.view.exportImage("folder.png", error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!b.view.exportImage("missing/dir/x.png", error));
    QVERIFY(!error.isEmpty());
    QVERIFY(b.view.exportImage("kept.png", error));
    QCOMPARE(QImage("kept.png").size(), b.view.grabFramebuffer().size() * 2);
    // A .jpg name writes a JPEG; other names, or a view that shows none of the model, nothing.
    QVERIFY(b.view.exportImage("kept.jpg", error));
    QCOMPARE(QImageReader("kept.jpg").format(), QByteArray("jpeg"));
    QVERIFY(!b.view.exportImage("kept.gif", error));
    QVERIFY2(error.contains("kept.gif is not a .png, .jpg or .jpeg name"), qPrintable(error));
    // Nothing is written through a link, over a folder or a pipe, nor left on a full disk.
    for (const testsupport::HostileOutput &h : testsupport::hostileOutputs()) {
        QTemporaryDir place;
        const testsupport::HostileFolder folder(h.row, place.path(), "out.png");
        if (!folder.skipReason().isEmpty()) {
            qInfo("%s: %s", h.row, qPrintable(folder.skipReason()));
            continue;
        }
        QVERIFY2(!b.view.exportImage(folder.path("out.png"), error), h.row);
        QVERIFY2(error.contains(h.says), qPrintable(h.row + QStringLiteral(": ") + error));
        QVERIFY2(folder.changes().isEmpty(), qPrintable(h.row + QStringLiteral(": ") + folder.changes()));
    }
    b.scene()->commitRotation(180, 0);
    QVERIFY(!b.view.exportImage("away.png", error));
    QCOMPARE(error, QString::fromLatin1(imageexport::MissedModel));
    QVERIFY(!QFileInfo::exists("kept.gif") && !QFileInfo::exists("away.png"));
    b.scene()->commitRotation(180, 0);

    testsupport::MessageBoxCatcher catcher;
    testsupport::ModalDriver driver([](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        if (!dialog)
            return false;
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
            ->setText(QDir::current().filePath("no/such/dir/p.png"));
        static_cast<QDialog *>(dialog)->accept();
        return true;
    });
    b.act(GLRender::ExportAction);
    QTRY_COMPARE(catcher.seen, 1);
    QCOMPARE(catcher.title, QStringLiteral("Export image"));
    QVERIFY2(catcher.text.contains("no/such/dir/p.png") && catcher.text.contains("No such file"),
             qPrintable(catcher.text));
}

TUFTMILL_GL_TEST_MAIN(TestBrush)
#include "tst_brush.moc"
