#pragma once

#include <optional>

#include "Camera.h"
#include "ViewStyle.h"

#include <QByteArray>
#include <QString>

// How a painted scene was looked at, kept beside its scene file: scenes/<name>.view.json
// next to scenes/<name>.dat. It holds the camera (every matrix and vector), the view
// style and the absolute path of the model it was painted on. The scene file itself
// stays as it is; this file is ours alone and is read and written only through SafeFile.
//
// A file that is not JSON, not of this kind, or holds a number that is not finite, a
// matrix without 16 values, a rotation that is not one or a translation that is not one
// is refused whole.
struct SceneViewFile
{
    static constexpr qint64 MaxBytes = 64 * 1024;

    Camera camera;
    ViewStyle style;
    QString modelPath;

    enum class Outcome
    {
        Read,
        Missing,
        Refused
    };

    // "scenes/horse.dat" → "scenes/horse.view.json".
    static QString besideScene(const QString &sceneFile);

    QByteArray encode() const;
    // False with the reason; this value is unchanged then.
    bool decode(const QByteArray &bytes, QString &why);

    // Written whole or not at all; false with the reason.
    bool write(const QString &path, QString &why) const;
    // Missing when nothing is at `path`; Refused with the reason for a link, a special
    // file, a larger file or one decode refuses.
    Outcome read(const QString &path, QString &why);

    // The saved camera for a model now seen through `current`: as saved when its model
    // matrices are those of `current`, else its rotation and eye with the current model's
    // matrices.
    Camera cameraFor(const Camera &current) const;

    static QString shadingName(Shading shading);
};

// A colour written "#RRGGBB" as 0xRRGGBB; missing for anything else.
std::optional<unsigned int> colorNamed(const QString &name);
