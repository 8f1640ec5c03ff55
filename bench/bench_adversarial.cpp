// Model files shaped to make loading slow: 3DS files with many faces around one point (also
// in many smoothing groups), many meshes, many animation keys in one track; an OBJ polygon
// of a million corners, a glTF accessor and a PLY header that claim far more than they hold. For each, how long the
// application took to load it or to refuse it, and the longest the GUI thread went without
// answering meanwhile. Needs an X display (run it under xvfb-run).
#include "BenchSupport.h"
#include "ChunkTree.h"
#include "GLRender.h"
#include "LoadWatch.h"
#include "LoggerOutput.h"
#include "ModelBuilder.h"
#include "Scene.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <cstdio>

using namespace chunkdata;

namespace {

bool write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Faces around one point: a fan of the most faces one mesh can hold, and a second fan
// around the same spot, 100,000 faces in all.
bool fan(const QString &path)
{
    ModelBuilder b;
    for (const int faces : {65535, 100000 - 65535}) {
        ModelBuilder::Mesh &m = b.addMesh(QStringLiteral("fan%1").arg(faces));
        const int centre = m.addPoint(0, 0, 0);
        const int rim = std::min(faces + 1, 65534);
        for (int i = 0; i < rim; ++i)
            m.addPoint(float(100 * std::cos(2 * M_PI * i / rim)),
                       float(100 * std::sin(2 * M_PI * i / rim)), float(i % 7));
        for (int i = 0; i < faces; ++i)
            m.addFace(centre, 1 + i % rim, 1 + (i + 1) % rim);
    }
    return b.save(path);
}

bool emptyMeshes(const QString &path, int count)
{
    Chunk root(0x4D4D);
    Chunk &mdata = root.add(0x3D3D);
    for (int i = 0; i < count; ++i)
        mdata.add(0x4000, name("m" + QByteArray::number(i))).add(0x4100);
    return write(path, root.bytes());
}

bool manyKeys(const QString &path, int chunks, int keys)
{
    QByteArray track = word(0) + dword(0) + dword(0) + dword(uint32_t(keys));
    for (int k = 0; k < keys; ++k)
        track += dword(uint32_t(k)) + word(0) + real(k) + real(0) + real(0);
    Chunk root(0x4D4D);
    root.add(0x3D3D);
    Chunk &node = root.add(0xB000).add(0xB002);
    node.add(0xB010, name("n") + word(0) + word(0) + word(0xFFFF));
    for (int c = 0; c < chunks; ++c)
        node.add(0xB020, track);
    return write(path, root.bytes());
}

// Meshes whose last point is the centre of a fan of 40,000 faces, each face in smoothing
// group 32 and some of groups 1 to 31, then filled up to 65,535 faces with loose ones: the
// normals at that point need every set of groups, and every point after a busy one must
// still cost only its own faces.
bool smoothingFans(const QString &path, int meshes)
{
    uint32_t random = 7;
    auto next = [&random] { return random = random * 1664525u + 1013904223u; };
    auto coordinate = [&next] { return float(int(next() >> 8) % 2001 - 1000) / 1000.0f; };
    const int rim = 400, fanFaces = 40000, points = 65535, faces = 65535;
    Chunk root(0x4D4D);
    Chunk &mdata = root.add(0x3D3D);
    for (int m = 0; m < meshes; ++m) {
        Chunk &mesh = mdata.add(0x4000, name("trap" + QByteArray::number(m))).add(0x4100);
        QByteArray pointData = word(uint16_t(points));
        for (int p = 0; p < points - 1; ++p)
            pointData += real(coordinate()) + real(coordinate()) + real(coordinate());
        pointData += real(0) + real(0) + real(0); // the centre, last
        QByteArray faceData = word(uint16_t(faces)), smoothing;
        int made = 0, loose = rim;
        for (int a = 0; a < rim && made < fanFaces; ++a)
            for (int b = a + 1; b < rim && made < fanFaces; ++b, ++made) {
                faceData +=
                    word(uint16_t(points - 1)) + word(uint16_t(a)) + word(uint16_t(b)) + word(7);
                smoothing += dword(0x80000000u | (next() & 0x7fffffffu));
            }
        for (; made < faces; ++made, loose = (loose + 3) % (points - 4)) {
            faceData += word(uint16_t(loose)) + word(uint16_t(loose + 1)) +
                        word(uint16_t(loose + 2)) + word(7);
            smoothing += dword(1);
        }
        mesh.add(0x4110, pointData);
        mesh.add(0x4120, faceData).add(0x4150, smoothing);
    }
    return write(path, root.bytes());
}

// An OBJ of one polygon with a million corners around a circle.
bool bigPolygon(const QString &path, int corners)
{
    QByteArray text;
    text.reserve(corners * 40);
    for (int i = 0; i < corners; ++i)
        text += "v " + QByteArray::number(std::cos(2 * M_PI * i / corners)) + " " +
                QByteArray::number(std::sin(2 * M_PI * i / corners)) + " 0\n";
    text += "f";
    for (int i = 1; i <= corners; ++i)
        text += " " + QByteArray::number(i);
    return write(path, text + "\n");
}

// A glTF triangle whose position accessor claims 2^31 points in a 36-byte buffer.
bool hugeAccessor(const QString &path)
{
    const QByteArray points = QByteArray::fromHex("000000000000000000000000"
                                                  "0000803f0000000000000000"
                                                  "000000000000803f00000000");
    return write(path, R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],)"
                       R"("nodes":[{"mesh":0}],"meshes":[{"primitives":[{"attributes":)"
                       R"({"POSITION":0}}]}],"buffers":[{"byteLength":36,"uri":)"
                       R"("data:application/octet-stream;base64,)" +
                           points.toBase64() +
                           R"("}],"bufferViews":[{"buffer":0,"byteLength":36}],)"
                           R"("accessors":[{"bufferView":0,"componentType":5126,)"
                           R"("count":2147483648,"type":"VEC3"}]})");
}

// A binary PLY whose header claims 2^40 faces after three points and holds one.
bool lyingPly(const QString &path)
{
    QByteArray bytes = "ply\nformat binary_little_endian 1.0\nelement vertex 3\n"
                       "property float x\nproperty float y\nproperty float z\n"
                       "element face 1099511627776\nproperty list uchar int vertex_indices\n"
                       "end_header\n";
    const float points[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    bytes.append(reinterpret_cast<const char *>(points), sizeof points);
    const qint32 face[3] = {0, 1, 2};
    bytes.append(char(3));
    bytes.append(reinterpret_cast<const char *>(face), sizeof face);
    return write(path, bytes);
}

} // namespace

int main(int argc, char **argv)
{
    GLRender::setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    struct Shape
    {
        const char *what;
        QString file;
        bool made;
    };
    const Shape shapes[] = {
        {"fan: 100,000 faces around one point (65,535 in one mesh, the most it can hold)",
         "fan.3ds", fan("fan.3ds")},
        {"10 meshes of 65,535 faces, 40,000 of each around its last point in mixed groups",
         "smoothing.3ds", smoothingFans("smoothing.3ds", 10)},
        {"50,000 empty meshes", "meshes.3ds", emptyMeshes("meshes.3ds", 50000)},
        {"one node, 64 position-track chunks of 20,000 keys", "keys.3ds",
         manyKeys("keys.3ds", 64, 20000)},
        {"OBJ: one polygon of 1,000,000 corners", "polygon.obj",
         bigPolygon("polygon.obj", 1000000)},
        {"glTF: a position accessor claiming 2^31 points in 36 bytes", "accessor.gltf",
         hugeAccessor("accessor.gltf")},
        {"binary PLY: a header claiming 2^40 faces", "lying.ply", lyingPly("lying.ply")},
    };

    GLRender view;
    view.resize(1280, 800);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        return 1;
    // Refusals come as "Error" boxes; answer them at once.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::printf("    refused: %s\n", qPrintable(box->text().section(QLatin1Char('\n'), 1)));
            box->accept();
        }
    });
    answer.start(20);

    // A small model first: llvmpipe compiles its drawing code at the first frames of a
    // process, which belongs to no shape.
    {
        ModelBuilder b;
        b.addBox("warm-up", {0, 0, 0}, {1, 1, 1}, QString());
        if (!b.save("warm-up.3ds") || !bench::LoadWatch(view, "warm-up.3ds").loaded)
            return 1;
    }
    std::printf("%-80s %10s %16s %12s\n", "shape", "time", "longest stall", "one frame");
    for (const Shape &s : shapes) {
        if (!s.made) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(s.file));
            return 1;
        }
        const bench::LoadWatch watch(view, s.file);
        // What a frame of the model on screen costs, for comparison with the stall: drawing
        // shapes like these is slow in software whatever loaded them.
        QElapsedTimer frame;
        frame.start();
        view.grabFramebuffer();
        std::printf("%-80s %7.0f ms %13.0f ms %9.0f ms   %s (target <= 2000 ms)\n", s.what,
                    watch.ms, watch.longestStallMs, frame.nsecsElapsed() / 1e6,
                    watch.loaded ? "loaded" : "refused");
        std::fflush(stdout);
    }
    LoggerOutput::shutdown();
    return 0;
}
