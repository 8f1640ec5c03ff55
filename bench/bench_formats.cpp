// Loading models of other formats and textured models through the model reader: a
// 100,000-triangle 3DS model with and without its 2048 x 2048 texture, and the same
// 1,000,000 triangles read from a 3DS file (lib3ds) and from an OBJ file (assimp).
#include "BenchSupport.h"
#include "LoggerOutput.h"
#include "ModelBuilder.h"
#include "ModelImport.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>

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

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;

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
    LoggerOutput::shutdown();
    return 0;
}
