#pragma once

#include "ModelBuilder.h"
#include "TestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QRect>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

namespace testsupport {

// Two meshes with two materials: a red square of two triangles at z = 0 and a blue
// triangle above it; a third mesh has no faces.
inline ModelBuilder twoMeshModel()
{
    ModelBuilder b;
    b.addMaterial(QStringLiteral("red"), 1.0f, 0.0f, 0.0f);
    b.addMaterial(QStringLiteral("blue"), 0.0f, 0.0f, 1.0f);
    // lib3ds keeps meshes sorted by name.
    ModelBuilder::Mesh &square = b.addMesh(QStringLiteral("a_square"));
    square.addPoint(0, 0, 0);
    square.addPoint(10, 0, 0);
    square.addPoint(10, 10, 0);
    square.addPoint(0, 10, 0);
    square.addFace(0, 1, 2, QStringLiteral("red"));
    square.addFace(0, 2, 3);
    ModelBuilder::Mesh &roof = b.addMesh(QStringLiteral("b_roof"));
    roof.addPoint(0, 0, 5);
    roof.addPoint(10, 0, 5);
    roof.addPoint(5, 10, 5);
    roof.addFace(0, 1, 2, QStringLiteral("blue"));
    b.addMesh(QStringLiteral("c_empty"));
    return b;
}

// A square sheet of `size` units in the XZ plane facing the start view, of cells x cells
// squares of two triangles each, leaning back by `slope` (y = slope z).
inline ModelBuilder sheetOfCells(float size, int cells, float slope)
{
    ModelBuilder b;
    b.addMaterial(QStringLiteral("green"), 0.1f, 0.6f, 0.1f);
    ModelBuilder::Mesh &m = b.addMesh(QStringLiteral("sheet"));
    for (int j = 0; j <= cells; ++j)
        for (int i = 0; i <= cells; ++i) {
            const float x = size * (float(i) / cells - 0.5f), z = size * (float(j) / cells - 0.5f);
            m.addPoint(x, slope * z, z);
        }
    const auto at = [&](int i, int j) { return j * (cells + 1) + i; };
    for (int j = 0; j < cells; ++j)
        for (int i = 0; i < cells; ++i) {
            m.addFace(at(i, j), at(i + 1, j), at(i + 1, j + 1), QStringLiteral("green"));
            m.addFace(at(i, j), at(i + 1, j + 1), at(i, j + 1), QStringLiteral("green"));
        }
    return b;
}

inline QString realModel(const QString &name);

// A shape of the framing tests written into `dir`; its file name, empty for an unknown
// spec. "ball S": a green ball of radius S; "box X Y Z": a red box of those sides from the
// origin; "sheet": a red square standing in the XZ plane, its front towards +Y (away from the
// start view); "obj box X Y Z": the box as an OBJ file with its MTL; "data NAME": a copy of
// tests/data/NAME. "faceted " before a 3DS shape: without smoothing groups, every face with
// points of its own, as STL files are.
inline QString shapeModel(const QString &spec, const QString &dir)
{
    QStringList w = spec.split(QLatin1Char(' '));
    const bool faceted = w[0] == QLatin1String("faceted");
    if (faceted)
        w.removeFirst();
    const auto at = [&](int i) { return w.value(i).toFloat(); };
    if (w[0] == QLatin1String("data")) // a real model of tests/data
        return QFile::copy(realModel(w[1]), dir + QLatin1Char('/') + w[1]) ? w[1] : QString();
    ModelBuilder b;
    b.addMaterial(QStringLiteral("green"), 0.1f, 0.6f, 0.1f);
    b.addMaterial(QStringLiteral("red"), 0.8f, 0.1f, 0.1f);
    const QString name = QString(spec).replace(QLatin1Char(' '), QLatin1Char('_'));
    if (w[0] == QLatin1String("ball")) {
        b.addSphere(QStringLiteral("ball"), {0, 0, 0}, at(1), 16, 24, QStringLiteral("green"));
    } else if (w[0] == QLatin1String("box")) {
        b.addBox(QStringLiteral("box"), {0, 0, 0}, {at(1), at(2), at(3)}, QStringLiteral("red"));
    } else if (w[0] == QLatin1String("sheet")) {
        ModelBuilder::Mesh &m = b.addMesh(QStringLiteral("sheet"));
        m.addPoint(-1, 0, -1);
        m.addPoint(1, 0, -1);
        m.addPoint(1, 0, 1);
        m.addPoint(-1, 0, 1);
        m.addFace(0, 2, 1, QStringLiteral("red"));
        m.addFace(0, 3, 2, QStringLiteral("red"));
    } else if (w[0] == QLatin1String("obj")) {
        // Y up as OBJ files are: the box's corners, its faces turning outwards.
        QByteArray obj = "mtllib shape.mtl\nusemtl red\n";
        for (int c = 0; c < 8; ++c)
            obj += QByteArray("v ") + QByteArray::number(c & 1 ? at(2) : 0.0f) + ' ' +
                   QByteArray::number(c & 2 ? at(3) : 0.0f) + ' ' +
                   QByteArray::number(c & 4 ? at(4) : 0.0f) + '\n';
        obj += "f 1 3 4 2\nf 5 6 8 7\nf 1 2 6 5\nf 3 7 8 4\nf 1 5 7 3\nf 2 4 8 6\n";
        const QString file = name + QStringLiteral(".obj");
        if (!writeBytes(dir + QLatin1Char('/') + file, obj) ||
            !writeBytes(dir + QStringLiteral("/shape.mtl"), "newmtl red\nKd 0.8 0.1 0.1\n"))
            return {};
        return file;
    } else {
        return {};
    }
    if (faceted)
        for (ModelBuilder::Mesh &m : b.meshes)
            m.facet();
    const QString file = name + QStringLiteral(".3ds");
    return b.save(dir + QLatin1Char('/') + file) ? file : QString();
}

// The largest step of a colour channel between neighbouring pixels well inside the model
// (both pixels and all their neighbours off the background): a lit ball of flat faces jumps
// at every edge between them, a smoothly shaded one changes a little at a time.
inline int largestStep(const QImage &image, QRgb background)
{
    const auto inside = [&](int x, int y) {
        for (const auto &[dx, dy] : {std::pair{0, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}})
            if (x + dx < 0 || y + dy < 0 || x + dx >= image.width() || y + dy >= image.height() ||
                (image.pixel(x + dx, y + dy) | 0xff000000u) == (background | 0xff000000u))
                return false;
        return true;
    };
    int largest = 0;
    for (int y = 0; y + 1 < image.height(); ++y)
        for (int x = 0; x + 1 < image.width(); ++x) {
            if (!inside(x, y))
                continue;
            const QRgb p = image.pixel(x, y);
            for (const auto &[dx, dy] : {std::pair{1, 0}, {0, 1}}) {
                if (!inside(x + dx, y + dy))
                    continue;
                const QRgb q = image.pixel(x + dx, y + dy);
                largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                    std::abs(qGreen(p) - qGreen(q)),
                                    std::abs(qBlue(p) - qBlue(q))});
            }
        }
    return largest;
}

// The framing table, through the command line and the view's "Frame model": a shape of
// shapeModel, the command's options after --frame (the view does the same), turntable frames
// (0: a still), the group whose pictures must cover the same share, the least share of the
// picture, the range of the model's width over its height, and its colour.
struct FramedShape
{
    QString shape; // also the row's name
    QStringList args;
    int frames;
    const char *same;
    double least, aspectLow, aspectHigh;
    char colour; // 'g' green, 'r' red, 'a' any
};

inline QList<FramedShape> framedShapes()
{
    QList<FramedShape> rows;
    for (const char *r : {"0.00005", "1", "1000", "50000"})
        rows.append({QStringLiteral("ball ") + r, {}, 0, "ball", 0.2, 0.9, 1.1, 'g'});
    // The sheet seen from its back, then edge-on; the box 4 along X stood on X stays tall in
    // every frame of its turntable; OBJ files stand on their Y.
    rows += QList<FramedShape>{
        {"sheet", {}, 0, "", 0.2, 0.8, 1.25, 'r'},
        {"sheet", {"--azimuth", "90"}, 0, "", 0.2, 0.8, 1.25, 'r'},
        {"box 4 1 1", {}, 0, "", 0.15, 3.0, 5.0, 'r'},
        {"box 4 2 1", {"--elevation", "90"}, 0, "", 0.2, 1.5, 2.6, 'r'},
        {"box 4 2 1", {"--azimuth", "90"}, 0, "", 0.1, 1.4, 2.8, 'r'},
        {"box 4 1 1", {"--up", "x"}, 0, "", 0.05, 0.15, 0.4, 'r'},
        {"box 4 1 1", {"--up", "x", "--elevation", "30"}, 6, "", 0.05, 0.15, 0.8, 'r'},
        {"obj box 1 4 1", {}, 0, "", 0.05, 0.15, 0.4, 'r'},
        {"obj box 1 1 4", {"--up", "-z"}, 0, "", 0.05, 0.15, 0.4, 'r'},
        // Its keyframer nodes put its box away from where its meshes are drawn.
        {"data assimp_CameraRollAnimWithChildObject.3ds", {}, 0, "", 0.05, 0.2, 5.0, 'a'}};
    return rows;
}

// What of a picture shows the model (anything but a white background): the share of its
// pixels, the width over the height of the box round them, and the share of the model's
// pixels in its colour.
struct Coverage
{
    double share = 0.0, aspect = 0.0, colourShare = 0.0;
    bool atEdge = false; // some model pixel on the picture's border
};

inline Coverage coverageOf(const QImage &image, char colour)
{
    int n = 0, coloured = 0;
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if ((p & 0xffffffu) == 0xffffffu)
                continue;
            ++n;
            const int r = qRed(p), g = qGreen(p), b = qBlue(p);
            coloured += colour == 'g'   ? g > r + 40 && g > b + 40
                        : colour == 'r' ? r > g + 60 && r > b + 60
                                        : 1;
            box |= QRect(x, y, 1, 1);
        }
    return {double(n) / (double(image.width()) * image.height()),
            box.isEmpty() ? 0.0 : double(box.width()) / box.height(),
            n ? double(coloured) / n : 0.0,
            box.left() == 0 || box.top() == 0 || box.right() == image.width() - 1 ||
                box.bottom() == image.height() - 1};
}

// Checks a framed picture against its row; `shares` holds the first share of each group.
inline bool framedAsWanted(const QImage &picture, const FramedShape &row,
                           QMap<QString, double> &shares, QString &seen)
{
    const Coverage c = coverageOf(picture, row.colour);
    seen = QStringLiteral("share %1, aspect %2, colour %3")
               .arg(c.share)
               .arg(c.aspect)
               .arg(c.colourShare);
    const double first = shares.value(QLatin1String(row.same), c.share);
    if (*row.same)
        shares.insert(QLatin1String(row.same), first);
    // The same shape framed at any scale covers the same share of the picture.
    return c.share >= row.least && c.aspect >= row.aspectLow && c.aspect <= row.aspectHigh &&
           c.colourShare > 0.8 && !c.atEdge && std::abs(c.share - first) <= 0.1 * first;
}

// The real 3DS files made by other tools, kept with the tests (see data/README.md).
inline QString realModel(const QString &name)
{
    return QStringLiteral(TUFTMILL_DATA_DIR "/") + name;
}

// Offset of the first chunk with the given id, walking the chunk tree of a 3DS file
// through the chunks that hold a model's meshes; -1 if there is none.
inline qint64 findChunk(const QByteArray &bytes, quint16 wanted)
{
    auto word = [&](qint64 at) {
        return quint16(quint8(bytes[at]) | (quint8(bytes[at + 1]) << 8));
    };
    auto dword = [&](qint64 at) {
        return quint32(quint8(bytes[at])) | (quint32(quint8(bytes[at + 1])) << 8) |
               (quint32(quint8(bytes[at + 2])) << 16) | (quint32(quint8(bytes[at + 3])) << 24);
    };
    std::function<qint64(qint64, qint64)> walk = [&](qint64 at, qint64 end) -> qint64 {
        while (at + 6 <= end) {
            const quint16 id = word(at);
            const qint64 length = dword(at + 2);
            if (length < 6 || at + length > end)
                return -1;
            if (id == wanted)
                return at;
            qint64 body = at + 6;
            if (id == 0x4000) // named object: a name, then its chunks
                body = bytes.indexOf('\0', body) + 1;
            if (id == 0x4D4D || id == 0x3D3D || id == 0x4000 || id == 0x4100) {
                const qint64 found = walk(body, at + length);
                if (found >= 0)
                    return found;
            }
            at += length;
        }
        return -1;
    };
    return walk(0, bytes.size());
}

} // namespace testsupport

namespace testsupport {

// A green square wall of 100 x 100 in the plane y = 0, facing the reset camera (which
// looks along +y with +z up), and a red square behind it at y = 50, twice as wide.
inline ModelBuilder wallModel()
{
    ModelBuilder b;
    b.addMaterial(QStringLiteral("green"), 0.0f, 1.0f, 0.0f);
    b.addMaterial(QStringLiteral("red"), 1.0f, 0.0f, 0.0f);
    ModelBuilder::Mesh &wall = b.addMesh(QStringLiteral("a_wall"));
    wall.addPoint(-50, 0, -50);
    wall.addPoint(50, 0, -50);
    wall.addPoint(50, 0, 50);
    wall.addPoint(-50, 0, 50);
    wall.addFace(0, 1, 2, QStringLiteral("green"));
    wall.addFace(0, 2, 3, QStringLiteral("green"));
    ModelBuilder::Mesh &back = b.addMesh(QStringLiteral("b_back"));
    back.addPoint(-100, 50, -100);
    back.addPoint(100, 50, -100);
    back.addPoint(100, 50, 100);
    back.addPoint(-100, 50, 100);
    back.addFace(0, 1, 2, QStringLiteral("red"));
    back.addFace(0, 2, 3, QStringLiteral("red"));
    return b;
}

// A blue floor of 100 x 100 at z = 0 (normal +z), seen edge-on by the reset camera, so
// graftals on it stand at the silhouette.
inline ModelBuilder floorModel()
{
    ModelBuilder b;
    b.addMaterial(QStringLiteral("blue"), 0.0f, 0.0f, 1.0f);
    ModelBuilder::Mesh &floor = b.addMesh(QStringLiteral("floor"));
    floor.addPoint(-50, -50, 0);
    floor.addPoint(50, -50, 0);
    floor.addPoint(50, 50, 0);
    floor.addPoint(-50, 50, 0);
    floor.addFace(0, 1, 2, QStringLiteral("blue"));
    floor.addFace(0, 2, 3, QStringLiteral("blue"));
    return b;
}

} // namespace testsupport
