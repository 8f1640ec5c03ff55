#pragma once

#include "LargeBuffer.h"
#include "MeshFace.h"

#include <QImage>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <array>
#include <atomic>
#include <memory>

// The render arrays of a model, waiting to be uploaded: positions, normals, colours (three
// floats a corner) and face-id colours (three bytes a corner), nine values per face;
// texture coordinates, two floats a corner (u, v with v = 0 at the image's bottom row;
// zeros where the mesh has none), six per face; and the texture each face shows, an
// index into LoadedModel::textures or -1 for none, one per face.
struct RenderArrays
{
    LargeBuffer<float> positions, normals, colors;
    LargeBuffer<unsigned char> idColors;
    LargeBuffer<float> texCoords;
    LargeBuffer<int16_t> faceTexture;
};

// Everything the scene needs of a model, built off the GUI thread.
struct LoadedModel
{
    using Rgb = std::array<float, 3>;
    LargeBuffer<MeshFace> faceStore;
    size_t faceCount = 0;
    RenderArrays arrays;
    QList<QList<const MeshFace *>> meshFaces; // point into faceStore
    QMap<int, Rgb> meshColors;
    QStringList meshNames;
    // The materials' diffuse images (Format_RGBA8888, top row first) that faces show.
    QList<QImage> textures;
    // Lines for the status line about the load: textures that were missing or refused.
    QStringList notes;
    float boundsMin[3] = {0, 0, 0};
    float boundsMax[3] = {0, 0, 0};
    // Some edge borders one face only (an open sheet); models of many faces count as closed.
    bool openEdges = false;
};

// Shared between a load and whoever waits for it: the load reports how far it got, the
// waiter may cancel it.
struct LoadControl
{
    enum Stage
    {
        Reading = 0,
        Building = 1,
    };
    std::atomic_bool cancel{false};
    std::atomic_int stage{Reading};
    std::atomic<qint64> facesBuilt{0};
    std::atomic<qint64> faceTotal{0};
};

// Turns a model file (3DS or any format the reader takes) into a LoadedModel: the model
// reader process reads the file, then what it handed back is checked (counts, sizes,
// indices, finite numbers, image sizes) and built into faces, render arrays, mesh colours,
// textures and the bounding box. Safe to call from any thread.
class ModelImport
{
public:
    // None on failure, with `problem` saying why (empty when the load was cancelled).
    static std::unique_ptr<LoadedModel> load(const QString &path, QString &problem,
                                             LoadControl *control = nullptr);
    // Checks one result of the reader and builds the model from it.
    static std::unique_ptr<LoadedModel> build(const unsigned char *data, size_t size,
                                              QString &problem, LoadControl *control = nullptr);
    // The threads loads run on, loads and the meshes they build in their own pools: Qt's
    // global pool also carries the window's own drawing work (the raster engine hands fills
    // to it and waits), which must never queue behind a model being built.
    static QThreadPool &loadThreads();
    static QThreadPool &buildThreads();
    // The colour that stands for a face in the face-id picture picking reads: face index + 1
    // in 24 bits, red the highest byte (0 is the background).
    static std::array<unsigned char, 3> faceIdColor(size_t faceIndex);

    // What the application holds for each triangle it draws: the face for placing graftals
    // (corners, edges, normal, 152 bytes), the render arrays (143), the pointer of its mesh's
    // list and OpenGL's copy of the arrays, about 440 bytes measured; counted generously. A
    // model whose triangles would need more than the machine's memory is refused before
    // anything is built.
    static constexpr uint64_t BytesPerFace = 512;
    // The machine's physical memory; tests may pretend another (0: the machine's again).
    static uint64_t machineMemory();
    static void setMachineMemoryForTests(uint64_t bytes);
};
