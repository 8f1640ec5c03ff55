#pragma once

#include "Scene.h"

#include <QFile>
#include <QString>

// One fuzzed file through the whole load path (reader process, checks, normals, box,
// arrays). The outcome must be a consistent model or a message in the usual form; anything
// else is described in `failure`.
struct FuzzOutcome
{
    bool loaded = false;
    QString failure;
};

inline FuzzOutcome loadFuzzCase(Scene &scene, const QString &path, const QByteArray &bytes)
{
    FuzzOutcome outcome;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        outcome.failure = QStringLiteral("cannot write %1").arg(path);
        return outcome;
    }
    file.close();
    QString error;
    outcome.loaded = scene.loadModel(path, error);
    if (outcome.loaded) {
        qint64 faces = 0;
        for (const auto &list : scene.meshFaces())
            faces += list.size();
        bool finite = true;
        for (int k = 0; k < 3; ++k)
            finite = finite && std::isfinite(scene.boundsMin[k]) &&
                     std::isfinite(scene.boundsMax[k]) && std::isfinite(scene.extent[k]) &&
                     scene.boundsMin[k] <= scene.boundsMax[k];
        if (faces != scene.faceCount() || scene.meshColors().size() != scene.meshCount() || !finite)
            outcome.failure =
                QStringLiteral("an inconsistent model was loaded: %1 of %2 faces, %3 colours "
                               "for %4 meshes, box %5 %6 %7 to %8 %9 %10")
                    .arg(faces)
                    .arg(scene.faceCount())
                    .arg(scene.meshColors().size())
                    .arg(scene.meshCount())
                    .arg(scene.boundsMin[0])
                    .arg(scene.boundsMin[1])
                    .arg(scene.boundsMin[2])
                    .arg(scene.boundsMax[0])
                    .arg(scene.boundsMax[1])
                    .arg(scene.boundsMax[2]);
    } else if (error.section(QLatin1Char('\n'), 0, 0) !=
                   QStringLiteral("3DS file couldn't be loaded") ||
               error.section(QLatin1Char('\n'), 1).isEmpty()) {
        outcome.failure = QStringLiteral("an unusual message: %1").arg(error);
    }
    return outcome;
}
