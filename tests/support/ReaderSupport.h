#pragma once

#include "ModelReaderProcess.h"
#include "ModelTransfer.h"

#include <QByteArray>
#include <QtGlobal>
#include <lib3ds/mesh.h>
#include <vector>

namespace testsupport {

// Makes every model reader started meanwhile fail on purpose ("crash", "hang", "memory",
// "slow:<ms>"); an empty fault changes nothing.
class ReaderFault
{
public:
    explicit ReaderFault(const QByteArray &fault) : active(!fault.isEmpty())
    {
        if (active)
            qputenv("TUFTMILL_READER_TEST_FAULT", fault);
    }
    ~ReaderFault()
    {
        if (active)
            qunsetenv("TUFTMILL_READER_TEST_FAULT");
    }
    ReaderFault(const ReaderFault &) = delete;
    ReaderFault &operator=(const ReaderFault &) = delete;

private:
    bool active;
};

// Reader limits small enough that a hanging or greedy reader is stopped within seconds.
class ShortReaderLimits
{
public:
    ShortReaderLimits() : previous(ModelReaderProcess::limits())
    {
        ModelReaderProcess::Limits limits;
        limits.seconds = 2;
        limits.memoryMb = 256;
        limits.outputMb = 64;
        ModelReaderProcess::setLimitsForTests(limits);
    }
    ~ShortReaderLimits() { ModelReaderProcess::setLimitsForTests(previous); }
    ShortReaderLimits(const ShortReaderLimits &) = delete;
    ShortReaderLimits &operator=(const ShortReaderLimits &) = delete;

private:
    ModelReaderProcess::Limits previous;
};

// A mesh read by lib3ds in the form the reader hands meshes on.
struct MeshRecords
{
    std::vector<float> points;
    std::vector<ModelTransfer::FaceRecord> faces;
};

inline MeshRecords recordsOf(const Lib3dsMesh *mesh)
{
    MeshRecords r;
    for (Lib3dsDword i = 0; i < mesh->points; ++i)
        r.points.insert(r.points.end(), mesh->pointL[i].pos, mesh->pointL[i].pos + 3);
    for (Lib3dsDword i = 0; i < mesh->faces; ++i) {
        ModelTransfer::FaceRecord f{};
        for (int k = 0; k < 3; ++k)
            f.points[k] = mesh->faceL[i].points[k];
        f.smoothing = mesh->faceL[i].smoothing;
        f.material = ModelTransfer::NoMaterial;
        r.faces.push_back(f);
    }
    return r;
}

} // namespace testsupport
