#include "../support/ReaderSupport.h"
#include "../support/TestSupport.h"
#include "GlSetup.h"
#include "HeadlessContext.h"
#include "LoggerOutput.h"
#include "ModelBuilder.h"
#include "ModelImport.h"
#include "Scene.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::ScopedWorkDir;

namespace {

// Files of one test model by name; "->x" makes a link to x, "<dir>" a folder.
using Files = QMap<QString, QByteArray>;
using Corner = std::array<float, 3>;

// A box 1 x 1 wide and 2 high along axis `up` (0 x, 1 y, 2 z), as twelve triangles
// facing out.
std::vector<std::array<Corner, 3>> box(int up)
{
    auto at = [up](int i) {
        Corner c{};
        const int across[2] = {up == 0 ? 1 : 0, up == 2 ? 1 : 2};
        c[size_t(across[0])] = float(i & 1);
        c[size_t(across[1])] = float((i >> 1) & 1);
        c[size_t(up)] = (i >> 2) & 1 ? 2.0f : 0.0f;
        return c;
    };
    static const int quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                    {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    std::vector<std::array<Corner, 3>> out;
    // With y up the corners' axes are an odd permutation of x, y, z: the turn reverses.
    const int second = up == 1 ? 3 : 1, third = up == 1 ? 1 : 3;
    for (const auto &q : quads) {
        out.push_back({at(q[0]), at(q[second]), at(q[2])});
        out.push_back({at(q[0]), at(q[2]), at(q[third])});
    }
    return out;
}

QByteArray number(float v)
{
    return QByteArray::number(double(v));
}

QByteArray objBox(const QByteArray &head = {})
{
    QByteArray text = head;
    int n = 0;
    for (const auto &t : box(1)) {
        for (const Corner &c : t)
            text += "v " + number(c[0]) + " " + number(c[1]) + " " + number(c[2]) + "\nvt " +
                    number(c[0]) + " " + number(c[2]) + "\n";
        text += QByteArray("f %1/%1 %2/%2 %3/%3\n")
                    .replace("%1", QByteArray::number(n + 1))
                    .replace("%2", QByteArray::number(n + 2))
                    .replace("%3", QByteArray::number(n + 3));
        n += 3;
    }
    return text;
}

// Green at every corner, so the faces show the file's point colours.
QByteArray plyBox()
{
    QByteArray v, f;
    int n = 0;
    for (const auto &t : box(1)) {
        for (const Corner &c : t)
            v += number(c[0]) + " " + number(c[1]) + " " + number(c[2]) + " 0 255 0\n";
        f += "3 " + QByteArray::number(n) + " " + QByteArray::number(n + 1) + " " +
             QByteArray::number(n + 2) + "\n";
        n += 3;
    }
    return "ply\nformat ascii 1.0\nelement vertex 36\nproperty float x\nproperty float y\n"
           "property float z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
           "element face 12\nproperty list uchar int vertex_indices\nend_header\n" +
           v + f;
}

QByteArray stlBox(bool binary)
{
    QByteArray out = binary ? QByteArray(80, ' ') + QByteArray(4, '\0') : "solid box\n";
    if (binary)
        qToLittleEndian<quint32>(12, out.data() + 80);
    for (const auto &t : box(1)) {
        if (binary) {
            QByteArray facet(50, '\0');
            for (int k = 0; k < 9; ++k)
                qToLittleEndian<float>(t[size_t(k / 3)][size_t(k % 3)], facet.data() + 12 + 4 * k);
            out += facet;
            continue;
        }
        out += "facet normal 0 0 0\nouter loop\n";
        for (const Corner &c : t)
            out += "vertex " + number(c[0]) + " " + number(c[1]) + " " + number(c[2]) + "\n";
        out += "endloop\nendfacet\n";
    }
    return binary ? out : out + "endsolid box\n";
}

// A 2 x 2 PNG, red at the top left.
QByteArray png()
{
    QImage image(2, 2, QImage::Format_RGBA8888);
    image.fill(Qt::blue);
    image.setPixelColor(0, 0, Qt::red);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return buffer.data();
}

// A PNG header that declares 20000 x 20000 pixels and holds none.
QByteArray hugePng()
{
    QByteArray header = png().left(8) + QByteArray::fromHex("0000000d") + "IHDR" +
                        QByteArray(13, '\0') + QByteArray(4, '\0');
    qToBigEndian<quint32>(20000, header.data() + 16);
    qToBigEndian<quint32>(20000, header.data() + 20);
    header[24] = 8;
    header[25] = 6;
    return header;
}

// The box as glTF: positions and texture coordinates in one buffer, shown by one node at
// the origin and, with `twice`, by a second 5 to the side. `.glb` holds the buffer and a
// PNG as its binary chunk; `.gltf` has the buffer as a data URI.
QByteArray gltfBox(bool binary, bool twice)
{
    QByteArray data;
    for (const auto &t : box(1))
        for (const Corner &c : t)
            for (float v : c)
                data.append(reinterpret_cast<const char *>(&v), 4);
    const int positionBytes = int(data.size());
    for (const auto &t : box(1))
        for (const Corner &c : t)
            for (float v : {c[0], c[2]})
                data.append(reinterpret_cast<const char *>(&v), 4);
    const int imageAt = int(data.size());
    if (binary)
        data += png();
    while (data.size() % 4)
        data += '\0';
    QByteArray json = R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0NODES]}],
      "nodes":[{"mesh":0}SECOND],
      "meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1}MATERIAL}]}],
      "buffers":[{"byteLength":LENGTHURI}],
      "bufferViews":[{"buffer":0,"byteLength":POSBYTES},
        {"buffer":0,"byteOffset":POSBYTES,"byteLength":UVBYTES}IMAGEVIEW],
      "accessors":[{"bufferView":0,"componentType":5126,"count":36,"type":"VEC3",
          "min":[0,0,0],"max":[1,2,1]},
        {"bufferView":1,"componentType":5126,"count":36,"type":"VEC2"}]IMAGES})";
    json.replace("NODES", twice ? ",1" : "");
    json.replace("SECOND", twice ? R"(,{"mesh":0,"translation":[5,0,0]})" : "");
    json.replace("MATERIAL", binary ? R"(,"material":0)" : "");
    json.replace("LENGTH", QByteArray::number(data.size()));
    json.replace("URI", binary ? QByteArray()
                               : ",\"uri\":\"data:application/octet-stream;base64," +
                                     data.toBase64() + "\"");
    json.replace("UVBYTES", QByteArray::number(imageAt - positionBytes));
    json.replace("POSBYTES", QByteArray::number(positionBytes));
    json.replace("IMAGEVIEW", binary
                                  ? ",{\"buffer\":0,\"byteOffset\":" + QByteArray::number(imageAt) +
                                        ",\"byteLength\":" + QByteArray::number(png().size()) + "}"
                                  : QByteArray());
    json.replace("IMAGES", binary ? R"(,"images":[{"bufferView":2,"mimeType":"image/png"}],
        "textures":[{"source":0}],
        "materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}}])"
                                  : "");
    if (!binary)
        return json;
    while (json.size() % 4)
        json += ' ';
    QByteArray glb(12, '\0');
    auto chunk = [](const QByteArray &bytes, const QByteArray &type) {
        QByteArray head(4, '\0');
        qToLittleEndian<quint32>(quint32(bytes.size()), head.data());
        return head + type + bytes;
    };
    glb += chunk(json, "JSON") + chunk(data, QByteArray("BIN\0", 4));
    std::memcpy(glb.data(), "glTF", 4);
    qToLittleEndian<quint32>(2, glb.data() + 4);
    qToLittleEndian<quint32>(quint32(glb.size()), glb.data() + 8);
    return glb;
}

// The box exported by Debian's assimp command from OBJ into `format`, standing on axis `up`
// of the file; `edit` then changes the file's text (its declared up axis).
QByteArray exported(const QString &format, const QString &ext, int up,
                    const std::function<QByteArray(QByteArray)> &edit)
{
    QByteArray obj;
    for (const auto &t : box(up))
        for (const Corner &c : t)
            obj += "v " + number(c[0]) + " " + number(c[1]) + " " + number(c[2]) + "\n";
    for (int i = 0; i < 12; ++i)
        obj += "f " + QByteArray::number(3 * i + 1) + " " + QByteArray::number(3 * i + 2) + " " +
               QByteArray::number(3 * i + 3) + "\n";
    QTemporaryDir dir;
    QFile source(dir.filePath("box.obj"));
    source.open(QIODevice::WriteOnly);
    source.write(obj);
    source.close();
    const QString target = dir.filePath("box." + ext);
    QProcess assimp;
    assimp.setStandardOutputFile(QProcess::nullDevice());
    assimp.start(QStringLiteral("assimp"),
                 {QStringLiteral("export"), source.fileName(), target, "-f" + format});
    assimp.waitForFinished();
    return edit(testsupport::readBytes(target));
}

QByteArray same(QByteArray b)
{
    return b;
}

// Writes the files (folders on the way made) and returns the model's name: box.* or bad.*
// in any folder, not its materials. "<fifo>" makes a named pipe.
QString write(const Files &files)
{
    QString model;
    for (auto f = files.begin(); f != files.end(); ++f) {
        QDir().mkpath(QFileInfo(f.key()).path());
        const QByteArray name = QFile::encodeName(f.key());
        if (f.value() == "<dir>") {
            QDir().mkdir(f.key());
        } else if (f.value() == "<fifo>") {
            mkfifo(name.constData(), 0600);
        } else if (f.value().startsWith("->")) {
            symlink(f.value().mid(2).constData(), name.constData());
        } else {
            QFile out(f.key());
            out.open(QIODevice::WriteOnly);
            out.write(f.value());
        }
        const QString base = QFileInfo(f.key()).fileName();
        if ((base.startsWith("box.") || base.startsWith("bad.")) && !base.endsWith(".mtl"))
            model = f.key();
    }
    return model;
}

// The glTF box's own buffer: a model that reads it from the decoy loads.
QByteArray boxBuffer()
{
    const QByteArray json = gltfBox(false, false);
    const int at = int(json.indexOf("base64,")) + 7;
    return QByteArray::fromBase64(json.mid(at, json.indexOf('"', at) - at));
}

// A 2 x 2 BMP stored top row first (height -2), red at the top left: a 54-byte header, then
// rows of two BGR pixels padded to four bytes.
QByteArray topDownBmp()
{
    return QByteArray::fromHex(
        "424d4600000000000000360000002800000002000000feffffff010018000000000000"
        "000000000000000000000000000000000000000000ffff00000000ff0000ff00000000");
}

// A glTF box whose one buffer is the file `uri`.
QByteArray gltfFrom(const QByteArray &uri)
{
    QByteArray json = gltfBox(false, false);
    const int at = int(json.indexOf("data:"));
    return json.left(at) + uri + json.mid(json.indexOf('"', at));
}

// The 3DS box with texture coordinates and one material whose map is `texture`.
QByteArray box3ds(const QString &texture)
{
    ModelBuilder b;
    b.addMaterial(QStringLiteral("skin"), 0.2f, 0.4f, 0.6f, texture);
    ModelBuilder::Mesh &mesh = b.addMesh(QStringLiteral("box"));
    for (const auto &t : box(2)) {
        const int first = int(mesh.points.size());
        for (const Corner &c : t) {
            mesh.addPoint(c[0], c[1], c[2]);
            mesh.texCoords.append({c[0], c[1]});
        }
        mesh.addFace(first, first + 1, first + 2, QStringLiteral("skin"));
    }
    QTemporaryDir dir;
    b.save(dir.filePath("b.3ds"));
    return testsupport::readBytes(dir.filePath("b.3ds"));
}

} // namespace

// Models in every format the reader takes: where they stand, their textures and notes,
// and damaged files.
class TestModelFormats : public QObject
{
    Q_OBJECT
private slots:
    void formatsStandUp_data();
    void formatsStandUp();
    void texturesAndNotes_data();
    void texturesAndNotes();
    void texturesGoIntoOpenGl();
    void rootsTakeTheTexturesColour_data();
    void rootsTakeTheTexturesColour();
    void sideFilesStayBelowTheModel_data();
    void sideFilesStayBelowTheModel();
    void damagedFilesAreRefused_data();
    void damagedFilesAreRefused();
    void modelsBeyondTheMachinesMemoryAreRefused();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestModelFormats::formatsStandUp_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<int>("faces");
    QTest::addColumn<float>("width");   // along x
    QTest::addColumn<QColor>("colour"); // of the first corner
    // Faces the file gives no colour are light grey, apart from the white background.
    auto row = [](const char *name, const Files &files, int faces = 12, float width = 1,
                  const QColor &colour = QColor::fromRgbF(0.8f, 0.8f, 0.8f)) {
        QTest::newRow(name) << files << faces << width << colour;
    };
    row("3ds, z up", {{"box.3ds", box3ds({})}}, 12, 1, QColor::fromRgbF(0.2f, 0.4f, 0.6f));
    row("obj", {{"box.obj", objBox()}});
    row("ply with point colours", {{"box.ply", plyBox()}}, 12, 1, Qt::green);
    row("stl text", {{"box.stl", stlBox(false)}});
    row("stl binary", {{"box.stl", stlBox(true)}});
    row("gltf", {{"box.gltf", gltfBox(false, false)}});
    row("gltf, one mesh on two nodes", {{"box.gltf", gltfBox(false, true)}}, 24, 6);
    row("glb", {{"box.glb", gltfBox(true, false)}}, 12, 1, Qt::white); // its texture's own
    row("collada, y up", {{"box.dae", exported("collada", "dae", 1, same)}});
    row("collada, z up", {{"box.dae", exported("collada", "dae", 2, [](QByteArray b) {
                               return b.replace("Y_UP", "Z_UP");
                           })}});
    row("fbx, y up", {{"box.fbx", exported("fbxa", "fbx", 1, same)}});
    row("fbx, z up", {{"box.fbx", exported("fbxa", "fbx", 2, [](QByteArray b) {
                           return b.replace("\"UpAxis\", \"int\", \"Integer\", \"\", 1",
                                            "\"UpAxis\", \"int\", \"Integer\", \"\", 2");
                       })}});
    // assimp's DirectX reader gives faces without a material its own mid grey.
    row("directx", {{"box.x", exported("x", "x", 1, same)}}, 12, 1,
        QColor::fromRgbF(0.5f, 0.5f, 0.5f));
}

void TestModelFormats::formatsStandUp()
{
    QFETCH(Files, files);
    QFETCH(int, faces);
    QFETCH(float, width);
    ScopedWorkDir work;
    QString problem;
    const std::unique_ptr<LoadedModel> model = ModelImport::load(write(files), problem);
    QVERIFY2(model, qPrintable(problem));
    QCOMPARE(int(model->faceCount), faces);
    QVERIFY2(model->notes.isEmpty(), qPrintable(model->notes.join('\n')));
    // Standing: two high along +z from the ground, one deep.
    QCOMPARE(model->boundsMin[2], 0.0f);
    QCOMPARE(model->boundsMax[2], 2.0f);
    QCOMPARE(model->boundsMax[0] - model->boundsMin[0], width);
    QCOMPARE(model->boundsMax[1] - model->boundsMin[1], 1.0f);
    // Every corner of a closed box faces out: the normals point away from its middle.
    for (size_t f = 0; f < model->faceCount; ++f) {
        const float *p = &model->arrays.positions[f * 9];
        const float *n = &model->arrays.normals[f * 9];
        const float centre[3] = {std::floor(p[0] / 5) * 5 + 0.5f, model->boundsMin[1] + 0.5f, 1};
        double out = 0;
        for (int k = 0; k < 3; ++k)
            out += double(n[k]) * double(p[k] - centre[k]);
        QVERIFY2(out > 0, qPrintable(QString::number(f)));
    }
    QFETCH(QColor, colour);
    const float *c = model->arrays.colors.data();
    QCOMPARE(QColor::fromRgbF(c[0], c[1], c[2]).rgb(), colour.rgb());
}

void TestModelFormats::texturesAndNotes_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<QString>("note"); // empty: the texture shows
    const QByteArray obj = objBox("mtllib box.mtl\nusemtl skin\n");
    auto objWith = [&](const QByteArray &map, const Files &more) {
        Files f = more;
        f.insert("box.obj", obj);
        f.insert("box.mtl", "newmtl skin\nKd 0.2 0.4 0.6\nmap_Kd " + map + "\n");
        return f;
    };
    QTest::newRow("3ds: TEST.PNG finds test.png")
        << Files{{"box.3ds", box3ds(QStringLiteral("TEST.PNG"))}, {"test.png", png()}} << QString();
    QTest::newRow("3ds: missing") << Files{{"box.3ds", box3ds(QStringLiteral("GONE.JPG"))}}
                                  << QStringLiteral("GONE.JPG was not found beside box.3ds");
    QTest::newRow("obj: in a folder below")
        << objWith("maps\\skin.png", {{"maps", "<dir>"}, {"maps/skin.png", png()}}) << QString();
    QTest::newRow("obj: link") << objWith("skin.png",
                                          {{"real.png", png()}, {"skin.png", "->real.png"}})
                               << QStringLiteral("skin.png is a link; Tuftmill leaves it alone");
    QTest::newRow("obj: folder") << objWith("skin.png", {{"skin.png", "<dir>"}})
                                 << QStringLiteral(
                                        "skin.png is not a regular file; Tuftmill leaves it alone");
    QTest::newRow("obj: 20000 pixels a side, refused undecoded")
        << objWith("skin.png", {{"skin.png", hugePng()}})
        << QStringLiteral("skin.png is larger than 8192 pixels a side (20000 x 20000)");
    QTest::newRow("obj: not an image")
        << objWith("skin.png", {{"skin.png", "not a picture"}})
        << QStringLiteral("skin.png is not an image Tuftmill reads (PNG, JPEG, BMP or TGA)");
    QTest::newRow("glb: held in the file") << Files{{"box.glb", gltfBox(true, false)}} << QString();
    QTest::newRow("obj: a BMP stored top row first")
        << objWith("skin.bmp", {{"skin.bmp", topDownBmp()}}) << QString();
    QTest::newRow("obj: in Textures/, in another case")
        << objWith("skin.png", {{"Textures/SKIN.PNG", png()}}) << QString();
    QTest::newRow("obj: three folders down")
        << objWith("skin.png", {{"a/b/c/skin.png", png()}}) << QString();
    QTest::newRow("obj: four folders down, too deep")
        << objWith("skin.png", {{"a/b/c/d/skin.png", png()}})
        << QStringLiteral("skin.png was not found beside box.obj");
}

void TestModelFormats::texturesAndNotes()
{
    QFETCH(Files, files);
    QFETCH(QString, note);
    ScopedWorkDir work;
    QString problem;
    const QString name = write(files);
    const std::unique_ptr<LoadedModel> model = ModelImport::load(name, problem);
    QVERIFY2(model, qPrintable(problem));
    QCOMPARE(int(model->faceCount), 12);
    const RenderArrays &a = model->arrays;
    if (!note.isEmpty()) {
        // The model loads with its colours and the status line says why.
        QCOMPARE(model->notes, QStringList{note});
        QVERIFY(model->textures.isEmpty());
        for (size_t f = 0; f < model->faceCount; ++f)
            QCOMPARE(a.faceTexture[f], int16_t(-1));
        QCOMPARE(a.colors[1], 0.4f);
        return;
    }
    QVERIFY2(model->notes.isEmpty(), qPrintable(model->notes.join('\n')));
    QCOMPARE(model->textures.size(), 1);
    const QImage &image = model->textures[0];
    QCOMPARE(image.size(), QSize(2, 2));
    QCOMPARE(image.format(), QImage::Format_RGBA8888);
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::red));
    QCOMPARE(image.pixelColor(1, 1), QColor(Qt::blue));
    // Each corner carries the texture coordinates the file gives its point: the box's two
    // sides across its height, as the files were written (glTF's rows run downwards).
    const bool downwards = name.endsWith(".glb");
    for (size_t f = 0; f < model->faceCount; ++f) {
        QCOMPARE(a.faceTexture[f], int16_t(0));
        for (int k = 0; k < 3; ++k) {
            const float *p = &a.positions[f * 9 + size_t(k) * 3];
            const float *t = &a.texCoords[f * 6 + size_t(k) * 2];
            const float across = name.endsWith(".3ds") ? p[1] : -p[1];
            QCOMPARE(t[0], p[0]);
            QCOMPARE(t[1], downwards ? 1 - across : across);
        }
    }
}

void TestModelFormats::texturesGoIntoOpenGl()
{
    // Half the box's faces textured, half coloured: one element buffer each, together
    // naming every vertex once; the texture's rows go in bottom row first.
    ScopedWorkDir work;
    QByteArray obj;
    int faces = 0;
    for (const QByteArray &line : objBox("mtllib box.mtl\nusemtl skin\n").split('\n'))
        obj += line + (line.startsWith("f ") && ++faces == 6 ? "\nusemtl plain\n" : "\n");
    write({{"box.obj", obj},
           {"box.mtl", "newmtl skin\nmap_Kd skin.png\nnewmtl plain\nKd 1 1 0\n"},
           {"skin.png", png()}});
    QString problem;
    std::unique_ptr<LoadedModel> model = ModelImport::load(QStringLiteral("box.obj"), problem);
    QVERIFY2(model, qPrintable(problem));
    HeadlessContext context;
    if (!context.createSurfaceless(problem) && !context.createThroughWindowSystem(problem))
        QSKIP(qPrintable(problem));
    QVERIFY(glsetup::loadEntryPoints(problem));
    Scene scene;
    scene.setGlReady(true);
    scene.installModel(QStringLiteral("box.obj"), std::move(model));
    QCOMPARE(scene.modelBuffers().size(), size_t(1));
    const ModelBuffers &buffers = scene.modelBuffers()[0];
    QCOMPARE(buffers.byTexture.size(), size_t(2));
    std::vector<int> seen(36, 0);
    for (const TextureElements &e : buffers.byTexture) {
        QCOMPARE(e.texture, int(&e - buffers.byTexture.data()) - 1);
        std::vector<GLuint> indices(size_t(e.count));
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, e.indices.get());
        glGetBufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0, GLsizeiptr(indices.size() * 4),
                           indices.data());
        for (GLuint i : indices)
            ++seen[std::min<size_t>(i, 35)];
        QCOMPARE(e.count, 18);
    }
    QCOMPARE(seen, std::vector<int>(36, 1));
    QCOMPARE(scene.modelTextures().size(), size_t(1));
    const ModelTexture &t = scene.modelTextures()[0];
    QCOMPARE(QSize(t.width, t.height), QSize(2, 2));
    unsigned char rows[16] = {};
    glBindTexture(GL_TEXTURE_2D, t.texture.get());
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, rows);
    QCOMPARE(QColor(rows[8], rows[9], rows[10]), QColor(Qt::red)); // top row, left
    QCOMPARE(QColor(rows[0], rows[1], rows[2]), QColor(Qt::blue));
}

void TestModelFormats::rootsTakeTheTexturesColour_data()
{
    QTest::addColumn<int>("face");
    QTest::addColumn<QPointF>("barycentric");
    QTest::addColumn<QColor>("colour"); // invalid: none
    QTest::newRow("bottom left") << 0 << QPointF(0.1, 0.1) << QColor(Qt::blue);
    QTest::newRow("bottom right") << 0 << QPointF(0.8, 0.1) << QColor(Qt::white);
    QTest::newRow("top left") << 0 << QPointF(0.1, 0.8) << QColor(Qt::red);
    QTest::newRow("repeats") << 0 << QPointF(1.3, 0.1) << QColor(Qt::blue);
    QTest::newRow("face without texture") << 1 << QPointF(0.1, 0.1) << QColor();
    QTest::newRow("face past the model") << 2 << QPointF(0.1, 0.1) << QColor();
    QTest::newRow("negative face") << -1 << QPointF(0.1, 0.1) << QColor();
}

void TestModelFormats::rootsTakeTheTexturesColour()
{
    // Face 0 spans the texture with (0,0), (1,0), (0,1) at its corners; face 1 has none.
    QFETCH(int, face);
    QFETCH(QPointF, barycentric);
    QFETCH(QColor, colour);
    RenderArrays arrays;
    arrays.texCoords = LargeBuffer<float>(12);
    arrays.faceTexture = LargeBuffer<int16_t>(2);
    const float coords[12] = {0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    std::copy(coords, coords + 12, arrays.texCoords.data());
    arrays.faceTexture[0] = 0;
    arrays.faceTexture[1] = -1;
    QImage image(2, 2, QImage::Format_RGB32); // top row first
    image.setPixelColor(0, 0, Qt::red);
    image.setPixelColor(1, 0, Qt::green);
    image.setPixelColor(0, 1, Qt::blue);
    image.setPixelColor(1, 1, Qt::white);
    SurfaceColours surface;
    surface.build(arrays, 2, {image});
    const std::optional<SurfaceColours::Rgb> c = surface.at(face, barycentric.x(), barycentric.y());
    QCOMPARE(c.has_value(), colour.isValid());
    if (c)
        QCOMPARE(QColor::fromRgbF((*c)[0], (*c)[1], (*c)[2]), colour);
}

void TestModelFormats::sideFilesStayBelowTheModel_data()
{
    // The model lies in m/; decoy/ beside it holds a green material, a far triangle and an
    // image. "@" stands for the absolute path of the folder holding both.
    QTest::addColumn<Files>("files");
    QTest::addColumn<QString>("note"); // the status line's note, or the refusal's reason
    QTest::addColumn<bool>("loads");
    const QByteArray box = objBox("mtllib NAME\nusemtl evil\n");
    auto obj = [&](const QByteArray &mtl, const Files &more) {
        Files f = more;
        f.insert("m/box.obj", QByteArray(box).replace("NAME", mtl));
        return f;
    };
    auto objMap = [&](const QByteArray &map, const Files &more) {
        Files f = more;
        f.insert("m/box.obj", QByteArray(box).replace("NAME", "box.mtl"));
        f.insert("m/box.mtl", "newmtl evil\nKd 0.2 0.4 0.6\nmap_Kd " + map + "\n");
        return f;
    };
    auto gltf = [&](const QByteArray &uri, const Files &more) {
        Files f = more;
        f.insert("m/box.gltf", gltfFrom(uri));
        return f;
    };
    auto outside = [](const char *name, const char *model) {
        return QStringLiteral("%1 lies outside the folder of %2; Tuftmill leaves it alone")
            .arg(QLatin1String(name), QLatin1String(model));
    };
    auto link = [](const char *name) {
        return QStringLiteral("%1 is a link; Tuftmill leaves it alone").arg(QLatin1String(name));
    };
    auto special = [](const char *name) {
        return QStringLiteral("%1 is not a regular file; Tuftmill leaves it alone")
            .arg(QLatin1String(name));
    };
    const QString notFound = QStringLiteral("skin.png was not found beside box.obj");
    QTest::newRow("mtl: ../") << obj("../decoy/evil.mtl", {})
                              << outside("../decoy/evil.mtl", "box.obj") << true;
    QTest::newRow("mtl: absolute")
        << obj("@/decoy/evil.mtl", {}) << outside("@/decoy/evil.mtl", "box.obj") << true;
    QTest::newRow("mtl: a link") << obj("evil.mtl", {{"m/evil.mtl", "->../decoy/evil.mtl"}})
                                 << link("evil.mtl") << true;
    QTest::newRow("mtl: a linked folder")
        << obj("sub/evil.mtl", {{"m/sub", "->../decoy"}}) << link("sub/evil.mtl") << true;
    QTest::newRow("mtl: a linked folder two down")
        << obj("a/sub/evil.mtl", {{"m/a/sub", "->../../decoy"}}) << link("a/sub/evil.mtl") << true;
    QTest::newRow("mtl: a link to a device")
        << obj("zero.mtl", {{"m/zero.mtl", "->/dev/zero"}}) << link("zero.mtl") << true;
    QTest::newRow("mtl: a device by ../")
        << obj("../../../../../../../../../../dev/zero", {})
        << outside("../../../../../../../../../../dev/zero", "box.obj") << true;
    QTest::newRow("mtl: a named pipe")
        << obj("pipe.mtl", {{"m/pipe.mtl", "<fifo>"}}) << special("pipe.mtl") << true;
    QTest::newRow("buffer: ../") << gltf("../decoy/d.bin", {})
                                 << outside("../decoy/d.bin", "box.gltf") << false;
    QTest::newRow("buffer: a linked folder")
        << gltf("sub/d.bin", {{"m/sub", "->../decoy"}}) << link("sub/d.bin") << false;
    QTest::newRow("buffer: a named pipe")
        << gltf("pipe.bin", {{"m/pipe.bin", "<fifo>"}}) << special("pipe.bin") << false;
    QTest::newRow("buffer: /etc/passwd by ../")
        << gltf("../../../../../../../../../../etc/passwd", {})
        << outside("../../../../../../../../../../etc/passwd", "box.gltf") << false;
    QTest::newRow("texture: ../ finds nothing above")
        << objMap("../decoy/skin.png", {}) << notFound << true;
    QTest::newRow("texture: above the model's folder")
        << objMap("skin.png", {}) << notFound << true;
    QTest::newRow("texture: a linked folder")
        << objMap("sub/skin.png", {{"m/sub", "->../decoy"}}) << link("skin.png") << true;
    QTest::newRow("texture of a 3ds: a linked folder")
        << Files{{"m/box.3ds", box3ds(QStringLiteral("sub/skin.png"))}, {"m/sub", "->../decoy"}}
        << link("skin.png") << true;
    QTest::newRow("texture: textures/ is a link, never searched")
        << objMap("skin.png", {{"m/textures", "->../decoy"}}) << notFound << true;
}

void TestModelFormats::sideFilesStayBelowTheModel()
{
    QFETCH(Files, files);
    QFETCH(QString, note);
    QFETCH(bool, loads);
    ScopedWorkDir work;
    const testsupport::ShortReaderLimits limits;
    const QByteArray here = QFile::encodeName(QDir::currentPath());
    Files all{{"decoy/evil.mtl", "newmtl evil\nKd 0.1 0.9 0.1\nmap_Kd skin.png\n"},
              {"decoy/d.bin", boxBuffer()},
              {"decoy/skin.png", png()}};
    for (auto f = files.begin(); f != files.end(); ++f)
        all.insert(f.key(),
                   f.key().endsWith(".3ds") ? f.value() : QByteArray(f.value()).replace("@", here));
    note.replace(QLatin1Char('@'), QString::fromUtf8(here));
    const QString model = write(all);
    auto decoyHash = [] {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        QStringList names;
        for (QDirIterator it(QStringLiteral("decoy"), QDir::Files); it.hasNext();)
            names << it.next();
        names.sort();
        for (const QString &n : names)
            hash.addData(n.toUtf8() + testsupport::readBytes(n));
        return hash.result();
    };
    const QByteArray before = decoyHash();

    QString problem;
    const std::unique_ptr<LoadedModel> loaded = ModelImport::load(model, problem);
    QCOMPARE(decoyHash(), before);
    if (!loads) {
        QVERIFY(!loaded);
        QVERIFY2(problem.contains(note), qPrintable(problem));
        return;
    }
    QVERIFY2(loaded, qPrintable(problem));
    QVERIFY2(loaded->notes.contains(note), qPrintable(loaded->notes.join('\n')));
    // Nothing of the decoy shows: no green, no image.
    QCOMPARE(int(loaded->faceCount), 12);
    QVERIFY(loaded->textures.isEmpty());
    for (size_t i = 0; i < loaded->faceCount * 9; i += 3)
        QVERIFY2(loaded->arrays.colors[i + 1] < 0.85f, qPrintable(QString::number(i)));
}

void TestModelFormats::damagedFilesAreRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("first");  // the message's first line
    QTest::addColumn<QString>("reason"); // what the reason says, or empty
    QTest::newRow("obj face past its points")
        << "bad.obj" << QByteArray("v 0 0 0\nv 1 0 0\nf 1 2 3000000000\n")
        << "OBJ file couldn't be loaded" << QString();
    QTest::newRow("obj of points and lines only")
        << "bad.obj" << QByteArray("v 0 0 0\nv 1 0 0\nv 0 1 0\np 1 2 3\nl 1 2\n")
        << "OBJ file couldn't be loaded"
        << "the file holds no triangles (only points or lines)";
    QByteArray glb = gltfBox(true, false);
    qToLittleEndian<quint32>(0x7FFFFFF0, glb.data() + 12); // the JSON chunk's length
    QTest::newRow("glb chunk past its end")
        << "bad.glb" << glb << "glTF file couldn't be loaded"
        << "the file's content could not be read (it is not a sound GLB file)";
    QTest::newRow("ply of a billion points")
        << "bad.ply"
        << QByteArray("ply\nformat binary_little_endian 1.0\nelement vertex 1000000000\n"
                      "property float x\nproperty float y\nproperty float z\nelement face 1\n"
                      "property list uchar int vertex_indices\nend_header\n") +
               QByteArray(64, '\x7f')
        << "PLY file couldn't be loaded" << QString();
    // Nine levels of nodes each naming the next eight times: 8^9 placements from 600 bytes.
    QByteArray nodes;
    for (int i = 1; i <= 9; ++i)
        nodes += "{\"children\":[" + (QByteArray::number(i) + ",").repeated(8).chopped(1) + "]},";
    auto withNodes = [](const QByteArray &n) {
        return gltfBox(false, false).replace(R"("nodes":[{"mesh":0}])", "\"nodes\":[" + n + "]");
    };
    QTest::newRow("gltf nodes unfolding into millions")
        << "bad.gltf" << withNodes(nodes + "{\"mesh\":0}") << "glTF file couldn't be loaded"
        << "the file has more objects than Tuftmill reads (at most 20000)";
    QTest::newRow("gltf nodes in a loop")
        << "bad.gltf" << withNodes(R"({"children":[1]},{"children":[0],"mesh":0})")
        << "glTF file couldn't be loaded"
        << "the file's nodes hold one another in a loop";
    QTest::newRow("3ds cut short")
        << "bad.3ds" << box3ds({}).left(40) << "3DS file couldn't be loaded" << QString();
}

void TestModelFormats::damagedFilesAreRefused()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, first);
    QFETCH(QString, reason);
    ScopedWorkDir work;
    const testsupport::ShortReaderLimits limits;
    write({{name, bytes}});
    QString problem;
    QVERIFY(!ModelImport::load(name, problem));
    QVERIFY2(!problem.isEmpty() && !problem.contains("crashed") && !problem.contains("invalid") &&
                 !problem.contains("No suitable reader"),
             qPrintable(problem));
    if (!reason.isEmpty())
        QCOMPARE(problem, reason);
    const QString message = Scene::loadError(name, problem);
    QCOMPARE(message.section('\n', 0, 0), first);
    QCOMPARE(message.section('\n', 1), name + ": " + problem);
}

void TestModelFormats::modelsBeyondTheMachinesMemoryAreRefused()
{
    // The box's 12 triangles in a machine of just too little memory, then of just enough.
    ScopedWorkDir work;
    write({{"box.obj", objBox()}});
    for (const uint64_t faces : {11, 12}) {
        ModelImport::setMachineMemoryForTests(faces * ModelImport::BytesPerFace);
        QString problem;
        const std::unique_ptr<LoadedModel> model = ModelImport::load("box.obj", problem);
        ModelImport::setMachineMemoryForTests(0);
        QCOMPARE(bool(model), faces == 12);
        if (faces == 11)
            QCOMPARE(problem,
                     QStringLiteral("its 12 triangles need about 0 MB; this machine has 0 MB"));
    }
}

QTEST_GUILESS_MAIN(TestModelFormats)
#include "tst_model_formats.moc"
