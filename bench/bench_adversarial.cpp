// 3DS files shaped to make loading slow: many faces around one point, many meshes, many
// animation keys in one track. For each, how long the application took to load it or to
// refuse it, and the longest the GUI thread went without answering meanwhile. Needs an X
// display (run it under xvfb-run).
#include "BenchSupport.h"
#include "ChunkTree.h"
#include "GLRender.h"
#include "LoadWatch.h"
#include "LoggerOutput.h"
#include "ModelBuilder.h"
#include "Scene.h"

#include <QApplication>
#include <QDir>
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
        {"50,000 empty meshes", "meshes.3ds", emptyMeshes("meshes.3ds", 50000)},
        {"one node, 64 position-track chunks of 20,000 keys", "keys.3ds",
         manyKeys("keys.3ds", 64, 20000)},
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

    std::printf("%-80s %10s %16s\n", "shape", "time", "longest stall");
    for (const Shape &s : shapes) {
        if (!s.made) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(s.file));
            return 1;
        }
        const bench::LoadWatch watch(view, s.file);
        std::printf("%-80s %7.0f ms %13.0f ms   %s (target <= 2000 ms)\n", s.what, watch.ms,
                    watch.longestStallMs, watch.loaded ? "loaded" : "refused");
        std::fflush(stdout);
    }
    LoggerOutput::shutdown();
    return 0;
}
