// Makes the sample workspace: graftals drawn here with QPainter (grass, fur, a leaf, an
// ink stroke, each with levels of detail that simplify), 3DS models written through
// lib3ds (a torus, a terrain patch, a snowman of several meshes and materials) and one
// painted scene. Deterministic: running it again gives the same files.
//
//   tuftmill_make_samples <workspace directory>
#include "Graftal.h"
#include "LoggerOutput.h"
#include "ModelBuilder.h"
#include "Random.h"
#include "Scene.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {
constexpr int S = Graftal::LevelSide;

using Draw = std::function<void(QPainter &texture, QPainter &mask, int level)>;

struct Sample
{
    int id;
    const char *name;
    double baseSize;
    int levels;
    Draw draw;
};

QPixmap blank()
{
    QPixmap p(S, S);
    p.fill(Qt::transparent);
    return p;
}

// A blade bending to one side, as a filled outline from a wide base to a sharp tip.
QPainterPath blade(double baseX, double width, double height, double bend)
{
    QPainterPath path(QPointF(baseX - width / 2, S));
    path.quadTo(QPointF(baseX - width / 4 + bend * 0.4, S - height * 0.55),
                QPointF(baseX + bend, S - height));
    path.quadTo(QPointF(baseX + width / 4 + bend * 0.4, S - height * 0.55),
                QPointF(baseX + width / 2, S));
    path.closeSubpath();
    return path;
}

void drawGrass(QPainter &t, QPainter &m, int level)
{
    const int counts[] = {11, 7, 5, 3, 1};
    const int n = counts[level];
    for (int i = 0; i < n; ++i) {
        const double f = n == 1 ? 0.5 : double(i) / (n - 1);
        const double x = 70 + f * 260;
        const double height = 250 + 110 * std::sin(f * 9.0 + 1.0) * 0.5 + 60;
        const double width = 18 + level * 14;
        const double bend = (f - 0.5) * 160 + 20 * std::sin(i * 2.3);
        const QPainterPath path = blade(x, width, std::min(height, 390.0), bend);
        QLinearGradient green(0, S, 0, S - height);
        green.setColorAt(0, QColor(40, 90, 20));
        green.setColorAt(0.6, QColor(90, 160, 40));
        green.setColorAt(1, QColor(190, 220, 90));
        t.fillPath(path, green);
        // Roots take the surface's own colour.
        m.save();
        m.setClipRect(QRectF(0, S - height * 0.25, S, height * 0.25));
        m.fillPath(path, Qt::black);
        m.restore();
    }
}

void drawFur(QPainter &t, QPainter &m, int level)
{
    const int counts[] = {48, 24, 12, 6};
    const int n = counts[level];
    const double thickness = 3 + level * 4;
    for (int i = 0; i < n; ++i) {
        const double f = (i + 0.5) / n;
        const double angle = (f - 0.5) * 1.9; // radians from straight up
        const double length = 230 + 120 * std::fabs(std::sin(i * 1.7));
        const QPointF root(200 + (f - 0.5) * 120, S - 10);
        const QPointF tip(root.x() + std::sin(angle) * length, root.y() - std::cos(angle) * length);
        const QPointF control(root.x() + std::sin(angle) * length * 0.3, root.y() - length * 0.6);
        QPainterPath strand(root);
        strand.quadTo(control, tip);
        const int shade = 90 + int(60 * std::fabs(std::sin(i * 3.1)));
        t.setPen(
            QPen(QColor(shade + 40, shade, shade / 2), thickness, Qt::SolidLine, Qt::RoundCap));
        t.drawPath(strand);
    }
    QRadialGradient base(QPointF(200, S), 150);
    base.setColorAt(0, QColor(0, 0, 0, 255));
    base.setColorAt(0.6, QColor(0, 0, 0, 160));
    base.setColorAt(1, QColor(0, 0, 0, 0));
    m.setBrush(base);
    m.setPen(Qt::NoPen);
    m.drawEllipse(QPointF(200, S), 150, 110);
}

void drawLeaf(QPainter &t, QPainter &m, int level)
{
    QPainterPath leaf(QPointF(200, 360));
    leaf.cubicTo(QPointF(60, 300), QPointF(80, 110), QPointF(200, 30));
    leaf.cubicTo(QPointF(320, 110), QPointF(340, 300), QPointF(200, 360));
    if (level == 3) {
        t.setBrush(QColor(70, 140, 50));
        t.setPen(Qt::NoPen);
        t.drawEllipse(QPointF(200, 200), 110, 160);
        m.setBrush(Qt::black);
        m.setPen(Qt::NoPen);
        m.drawRect(QRectF(185, 340, 30, 60));
        return;
    }
    QLinearGradient green(120, 0, 280, 0);
    green.setColorAt(0, QColor(50, 120, 40));
    green.setColorAt(1, QColor(110, 180, 60));
    t.fillPath(leaf, green);
    t.setPen(QPen(QColor(30, 80, 25), 6 + level * 2, Qt::SolidLine, Qt::RoundCap));
    t.drawLine(QPointF(200, 399), QPointF(200, 60)); // stem and midrib
    if (level == 0)
        for (int i = 0; i < 6; ++i) {
            const double y = 300 - i * 40;
            t.setPen(QPen(QColor(40, 95, 30), 3, Qt::SolidLine, Qt::RoundCap));
            t.drawLine(QPointF(200, y), QPointF(200 - 70 + i * 8, y - 45));
            t.drawLine(QPointF(200, y), QPointF(200 + 70 - i * 8, y - 45));
        }
    if (level <= 1) {
        t.setPen(QPen(QColor(35, 90, 30), 2));
        t.setBrush(Qt::NoBrush);
        t.drawPath(leaf);
    }
    m.setPen(QPen(Qt::black, 14, Qt::SolidLine, Qt::RoundCap));
    m.drawLine(QPointF(200, 399), QPointF(200, 350));
}

void drawInk(QPainter &t, QPainter &, int level)
{
    const int bristles[] = {14, 6, 1};
    const int n = bristles[level];
    for (int b = 0; b < n; ++b) {
        const double offset = n == 1 ? 0 : (double(b) / (n - 1) - 0.5) * 60;
        QPainterPath path(QPointF(80 + offset, 380));
        path.cubicTo(QPointF(60 + offset, 250), QPointF(300 + offset, 260),
                     QPointF(230 + offset * 0.5, 30));
        const double width = n == 1 ? 60 : 70.0 / n + 2;
        QPen pen(QColor(15, 15, 25, 235), width, Qt::SolidLine, Qt::RoundCap);
        if (n > 1 && b % 3 == 1)
            pen.setDashPattern({8, 2, 14, 3}); // dry brush
        t.setPen(pen);
        t.drawPath(path);
    }
}

bool writeGraftal(const Sample &s)
{
    auto g = Graftal::create(s.id, QString::fromLatin1(s.name));
    g->setBaseSize(s.baseSize);
    for (int level = 0; level < s.levels; ++level) {
        if (level > 0)
            g->addLevel();
        QPixmap texture = blank(), mask = blank();
        {
            QPainter t(&texture), m(&mask);
            t.setRenderHint(QPainter::Antialiasing);
            m.setRenderHint(QPainter::Antialiasing);
            s.draw(t, m, level);
        }
        g->setLevel(level, {texture, mask});
    }
    QString error;
    if (!g->save(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    return true;
}

bool writeModels()
{
    QDir().mkpath("models");
    ModelBuilder torus;
    torus.addMaterial("sand", 0.85f, 0.72f, 0.45f);
    torus.addTorus("torus", {0, 0, 0}, 12, 5, 64, 32, "sand");
    ModelBuilder terrain;
    terrain.addMaterial("meadow", 0.35f, 0.55f, 0.25f);
    terrain.addTerrain("terrain", 60, 40, 28, "meadow");
    ModelBuilder figure;
    figure.addMaterial("snow", 0.95f, 0.95f, 0.97f);
    figure.addMaterial("coal", 0.1f, 0.1f, 0.12f);
    figure.addMaterial("carrot", 0.95f, 0.5f, 0.1f);
    figure.addMaterial("wood", 0.45f, 0.3f, 0.15f);
    figure.addSphere("body", {0, 0, 8}, 8, 20, 28, "snow");
    figure.addSphere("head", {0, 0, 19.5}, 5, 16, 24, "snow");
    figure.addBox("hat", {-3.5f, -3.5f, 23.5f}, {3.5f, 3.5f, 29}, "coal");
    figure.addBox("brim", {-5.5f, -5.5f, 23.2f}, {5.5f, 5.5f, 24}, "coal");
    figure.addBox("nose", {-0.6f, -8.5f, 19}, {0.6f, -4.5f, 20.2f}, "carrot");
    figure.addBox("arms", {-16, -0.5f, 11}, {16, 0.5f, 12}, "wood");
    return torus.save("models/torus.3ds") && terrain.save("models/terrain.3ds") &&
           figure.save("models/figure.3ds");
}

// Grass and a few tufts of fur spread over the torus, saved as its scene.
bool writeScene(const QList<std::shared_ptr<Graftal>> &graftals)
{
    Scene scene;
    QString error;
    if (!scene.loadModel("models/torus.3ds", error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    Random::reseedForTests(2026);
    const auto &faces = scene.meshFaces()[0];
    for (int i = 0; i < 900; ++i) {
        const MeshFace *face = faces[Random::next() * (faces.size() - 1) / Random::Max];
        scene.addInstance(face, Scene::randomBarycentric(), graftals[i % 9 == 0 ? 1 : 0].get());
    }
    scene.background = QColor(235, 240, 250);
    return scene.saveState();
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <workspace directory>\n", argv[0]);
        return 2;
    }
    if (!QDir().mkpath(QString::fromLocal8Bit(argv[1])) ||
        !QDir::setCurrent(QString::fromLocal8Bit(argv[1])))
        return 1;
    QDir().mkpath(Graftal::Directory);
    QDir().mkpath("scenes");
    const Sample samples[] = {
        {1, "Grass blades", 1.6, 5, drawGrass},
        {2, "Fur tuft", 1.2, 4, drawFur},
        {3, "Leaf", 1.4, 4, drawLeaf},
        {4, "Ink stroke", 1.8, 3, drawInk},
    };
    bool ok = true;
    QList<std::shared_ptr<Graftal>> made;
    for (const Sample &s : samples) {
        ok = writeGraftal(s) && ok;
        QString error;
        made.append(std::shared_ptr<Graftal>(
            Graftal::load(Graftal::fileNameFor(QString::fromLatin1(s.name)), error)));
    }
    ok = writeModels() && ok;
    ok = ok && writeScene(made);
    // The log of this run is not part of the workspace.
    LoggerOutput::shutdown();
    QFile::remove("logger.log");
    std::printf(ok ? "sample workspace written to %s\n"
                   : "could not write the sample workspace to %s\n",
                argv[1]);
    return ok ? 0 : 1;
}
