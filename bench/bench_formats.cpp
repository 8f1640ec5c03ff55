// Loading models of other formats and textured models through the model reader: a
// 100,000-triangle 3DS model with and without its 2048 x 2048 texture; the same 1,000,000
// triangles read from a 3DS file (lib3ds) and from an OBJ file (assimp); and 1,000,000
// triangles as binary PLY, OBJ and GLB opened in a view, against assimp reading the same
// file in this process. Needs an X display (run it under xvfb-run).
#include "BenchSupport.h"
#include "GLRender.h"
#include "LoadWatch.h"
#include "LoggerOutput.h"
#include "ModelBuilder.h"
#include "ModelImport.h"
#include "Scene.h"
#include "SmoothNormals.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <assimp/cimport.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <cmath>
#include <cstdio>
#include <malloc.h>

namespace {

// Every sphere's points get texture coordinates from where they stand around it.
void giveTexCoords(ModelBuilder &b)
{
    for (ModelBuilder::Mesh &m : b.meshes) {
        m.texCoords.clear();
        for (const auto &p : m.points)
            m.texCoords.append({float(std::atan2(p[1], p[0]) / (2 * M_PI)), p[2] / 24.0f});
    }
}

bool writeObj(const ModelBuilder &b, const QString &path)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    QByteArray text;
    int first = 1;
    for (const ModelBuilder::Mesh &m : b.meshes) {
        text += "o " + m.name.toUtf8() + "\n";
        for (const auto &p : m.points)
            text += "v " + QByteArray::number(p[0]) + " " + QByteArray::number(p[1]) + " " +
                    QByteArray::number(p[2]) + "\n";
        for (const ModelBuilder::Face &f : m.faces)
            text += "f " + QByteArray::number(f.a + first) + " " + QByteArray::number(f.b + first) +
                    " " + QByteArray::number(f.c + first) + "\n";
        first += int(m.points.size());
        out.write(text);
        text.clear();
    }
    return true;
}

// All the model's points and faces in one list, faces as indices into it.
struct Soup
{
    std::vector<float> points; // x, y, z
    std::vector<quint32> corners;
};

Soup soupOf(const ModelBuilder &b)
{
    Soup soup;
    for (const ModelBuilder::Mesh &m : b.meshes) {
        const auto first = quint32(soup.points.size() / 3);
        for (const auto &p : m.points)
            soup.points.insert(soup.points.end(), p.begin(), p.end());
        for (const ModelBuilder::Face &f : m.faces)
            soup.corners.insert(soup.corners.end(),
                                {first + quint32(f.a), first + quint32(f.b), first + quint32(f.c)});
    }
    return soup;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

bool writePly(const Soup &soup, const QString &path)
{
    QByteArray bytes = "ply\nformat binary_little_endian 1.0\nelement vertex " +
                       QByteArray::number(qulonglong(soup.points.size() / 3)) +
                       "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
                       QByteArray::number(qulonglong(soup.corners.size() / 3)) +
                       "\nproperty list uchar uint vertex_indices\nend_header\n";
    bytes.append(reinterpret_cast<const char *>(soup.points.data()),
                 qsizetype(soup.points.size() * sizeof(float)));
    for (size_t i = 0; i < soup.corners.size(); i += 3) {
        bytes.append(char(3));
        for (size_t k = 0; k < 3; ++k) {
            char le[4];
            qToLittleEndian(soup.corners[i + k], le);
            bytes.append(le, 4);
        }
    }
    return writeBytes(path, bytes);
}

// One mesh of one primitive: positions, then 32-bit indices, in the binary chunk.
bool writeGlb(const Soup &soup, const QString &path)
{
    const QByteArray positions(reinterpret_cast<const char *>(soup.points.data()),
                               qsizetype(soup.points.size() * sizeof(float)));
    const QByteArray indices(reinterpret_cast<const char *>(soup.corners.data()),
                             qsizetype(soup.corners.size() * sizeof(quint32)));
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
    for (size_t i = 0; i < soup.points.size(); ++i) {
        lo[i % 3] = std::min(lo[i % 3], soup.points[i]);
        hi[i % 3] = std::max(hi[i % 3], soup.points[i]);
    }
    const QJsonObject json{
        {"asset", QJsonObject{{"version", "2.0"}}},
        {"scene", 0},
        {"scenes", QJsonArray{QJsonObject{{"nodes", QJsonArray{0}}}}},
        {"nodes", QJsonArray{QJsonObject{{"mesh", 0}}}},
        {"meshes",
         QJsonArray{QJsonObject{
             {"primitives", QJsonArray{QJsonObject{{"attributes", QJsonObject{{"POSITION", 0}}},
                                                   {"indices", 1}}}}}}},
        {"buffers", QJsonArray{QJsonObject{{"byteLength", positions.size() + indices.size()}}}},
        {"bufferViews",
         QJsonArray{QJsonObject{{"buffer", 0}, {"byteLength", positions.size()}},
                    QJsonObject{{"buffer", 0},
                                {"byteOffset", positions.size()},
                                {"byteLength", indices.size()}}}},
        {"accessors",
         QJsonArray{QJsonObject{{"bufferView", 0},
                                {"componentType", 5126},
                                {"count", qint64(soup.points.size() / 3)},
                                {"type", "VEC3"},
                                {"min", QJsonArray{lo[0], lo[1], lo[2]}},
                                {"max", QJsonArray{hi[0], hi[1], hi[2]}}},
                    QJsonObject{{"bufferView", 1},
                                {"componentType", 5125},
                                {"count", qint64(soup.corners.size())},
                                {"type", "SCALAR"}}}}};
    QByteArray text = QJsonDocument(json).toJson(QJsonDocument::Compact);
    while (text.size() % 4)
        text.append(' ');
    const QByteArray bin = positions + indices;
    QByteArray glb(12, '\0');
    auto chunk = [&glb](const QByteArray &data, quint32 type) {
        char head[8];
        qToLittleEndian(quint32(data.size()), head);
        qToLittleEndian(type, head + 4);
        glb.append(head, 8);
        glb.append(data);
    };
    chunk(text, 0x4E4F534A); // "JSON"
    chunk(bin, 0x004E4942);  // "BIN"
    qToLittleEndian(quint32(0x46546C67), glb.data()); // "glTF"
    qToLittleEndian(quint32(2), glb.data() + 4);
    qToLittleEndian(quint32(glb.size()), glb.data() + 8);
    return writeBytes(path, glb);
}

// assimp alone, in this process, with the steps the reader asks of it and those it does
// itself (joining vertices, normals smoothed by angle).
double bareAssimpMs(const QString &path)
{
    return bench::medianMs(3, [&] {
        const aiScene *scene = aiImportFile(
            QFile::encodeName(path).constData(),
            aiProcess_ValidateDataStructure | aiProcess_Triangulate | aiProcess_SortByPType |
                aiProcess_JoinIdenticalVertices | aiProcess_GenSmoothNormals |
                aiProcess_FindDegenerates);
        if (!scene)
            std::printf("  assimp did not read %s: %s\n", qPrintable(path), aiGetErrorString());
        aiReleaseImport(scene);
    });
}

// The model opened in a new view as "Open 3DS file" does: the median time to its first
// frame, and the resident memory the first load added per face.
void viewFigures(const QString &format, const QString &path, double bareMs, double target)
{
    GLRender view;
    view.resize(1920, 1080);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        return;
    view.grabFramebuffer();
    // What earlier loads freed goes back to the system first, so that this load cannot hide
    // in it.
    malloc_trim(0);
    const double before = bench::residentMiB();
    const bench::LoadWatch first(view, path);
    const double added = bench::residentMiB() - before;
    const int faces = view.scene()->faceCount();
    if (!first.loaded || faces == 0) {
        std::printf("%s: did not load\n", qPrintable(format));
        return;
    }
    std::vector<double> times{first.ms};
    for (int i = 0; i < 2; ++i)
        times.push_back(bench::LoadWatch(view, path).ms);
    std::sort(times.begin(), times.end());
    std::printf("%s, %d triangles: to the first frame %.0f ms (median of 3), bare assimp %.0f ms, "
                "ratio %.2f (target <= %.1f); resident %.0f bytes per face (target <= 600)\n",
                qPrintable(format), faces, times[1], bareMs, times[1] / bareMs, target,
                added * 1024 * 1024 / faces);
    std::fflush(stdout);
}

double loadMs(const QString &path, int runs, size_t *faces = nullptr, int *textures = nullptr)
{
    return bench::medianMs(runs, [&] {
        QString problem;
        const std::unique_ptr<LoadedModel> model = ModelImport::load(path, problem);
        if (!model) {
            std::printf("  %s did not load: %s\n", qPrintable(path), qPrintable(problem));
            return;
        }
        if (faces)
            *faces = model->faceCount;
        if (textures)
            *textures = int(model->textures.size());
    });
}

// Smoothing by angle (60 degrees) on a faceted model: the computation on its own, median of
// 3 (in the window it runs off the GUI thread), and in a view from the choice to the normals
// drawn, with the longest the GUI thread went without handling events meanwhile.
void smoothingFigures(const QString &path)
{
    QString problem;
    const std::unique_ptr<LoadedModel> model = ModelImport::load(path, problem);
    if (!model) {
        std::printf("faceted model did not load: %s\n", qPrintable(problem));
        return;
    }
    std::vector<float> normals(model->faceCount * 9);
    const double computeMs = bench::medianMs(3, [&] {
        smoothnormals::compute(model->faceStore.data(), model->faceCount, 60.0, normals.data());
    });
    GLRender view;
    view.resize(1920, 1080);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view) || !bench::LoadWatch(view, path).loaded)
        return;
    // What one frame of the model costs the GUI thread, drawn whatever the normals.
    const double frameMs = bench::medianMs(3, [&] { view.grabFramebuffer(); });
    QElapsedTimer clock, sinceTick;
    double longestStallMs = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestStallMs = std::max(longestStallMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });
    QEventLoop waiting;
    QObject::connect(&view.smoothShading(), &SmoothShading::followed, &waiting, &QEventLoop::quit);
    clock.start();
    sinceTick.start();
    ticker.start();
    view.scene()->style.smoothAngle = 60.0;
    view.update();
    waiting.exec();
    const double shownMs = clock.nsecsElapsed() / 1e6;
    std::printf("smooth by angle, %zu faceted triangles: computed in %.0f ms (median of 3); in the "
                "view %.0f ms from the choice to the smoothed normals, the GUI thread at most "
                "%.0f ms without handling events (one frame of the view: %.0f ms)\n",
                model->faceCount, computeMs, shownMs, longestStallMs, frameMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    GLRender::setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    QTemporaryDir dir;

    // Smoothing by angle on N million faceted triangles (default 1); "smooth N" runs it alone.
    const bool smoothOnly = argc > 1 && QByteArray(argv[1]) == "smooth";
    {
        const int millions = smoothOnly && argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
        ModelBuilder faceted = ModelBuilder::spheres(100 * millions, 51, 100);
        for (ModelBuilder::Mesh &m : faceted.meshes)
            m.facet();
        faceted.save(dir.filePath("faceted.3ds"));
        smoothingFigures(dir.filePath("faceted.3ds"));
        if (smoothOnly) {
            LoggerOutput::shutdown();
            return 0;
        }
    }

    // 10 spheres of 10,000 triangles, textured or not.
    ModelBuilder textured = ModelBuilder::spheres(10, 51, 100);
    giveTexCoords(textured);
    ModelBuilder plain = textured;
    for (ModelBuilder::Material &m : textured.materials)
        m.texture = QStringLiteral("skin.png");
    QImage skin(2048, 2048, QImage::Format_RGB32);
    for (int y = 0; y < skin.height(); ++y)
        for (int x = 0; x < skin.width(); ++x)
            skin.setPixel(x, y, qRgb(x & 255, y & 255, (x ^ y) & 255));
    skin.save(dir.filePath("skin.png"));
    textured.save(dir.filePath("textured.3ds"));
    plain.save(dir.filePath("plain.3ds"));
    size_t faces = 0;
    int textures = 0;
    const double withTexture = loadMs(dir.filePath("textured.3ds"), 5, &faces, &textures);
    const double without = loadMs(dir.filePath("plain.3ds"), 5);
    std::printf("3DS, %zu triangles, with a 2048 x 2048 PNG texture (%d): %.0f ms, without: %.0f "
                "ms\n",
                faces, textures, withTexture, without);

    // 1,000,000 triangles in 100 meshes, read by lib3ds and by assimp.
    const ModelBuilder big = ModelBuilder::spheres(100, 51, 100);
    big.save(dir.filePath("big.3ds"));
    writeObj(big, dir.filePath("big.obj"));
    const double lib3ds = loadMs(dir.filePath("big.3ds"), 3, &faces);
    std::printf("3DS (lib3ds), %zu triangles: %.0f ms\n", faces, lib3ds);
    const double assimp = loadMs(dir.filePath("big.obj"), 3, &faces);
    std::printf("OBJ (assimp), %zu triangles: %.0f ms\n", faces, assimp);

    // The same triangles in the formats people bring, each in a view of its own.
    const Soup soup = soupOf(big);
    writePly(soup, dir.filePath("big.ply"));
    writeGlb(soup, dir.filePath("big.glb"));
    viewFigures(QStringLiteral("binary PLY"), dir.filePath("big.ply"),
                bareAssimpMs(dir.filePath("big.ply")), 1.5);
    viewFigures(QStringLiteral("OBJ"), dir.filePath("big.obj"),
                bareAssimpMs(dir.filePath("big.obj")), 2.0);
    viewFigures(QStringLiteral("GLB"), dir.filePath("big.glb"),
                bareAssimpMs(dir.filePath("big.glb")), 1.5);
    LoggerOutput::shutdown();
    return 0;
}
