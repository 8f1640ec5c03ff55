#include "SceneViewFile.h"

#include "SafeFile.h"
#include "UpAxis.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <optional>

namespace {
const QString Kind = QStringLiteral("tuftmill-view");
constexpr int Version = 1;
constexpr double Tolerance = 1e-6;

QJsonArray numbers(const double *values, int count)
{
    QJsonArray a;
    for (int i = 0; i < count; ++i)
        a.append(values[i]);
    return a;
}

// Exactly `count` finite numbers into `out`.
bool readNumbers(const QJsonValue &value, double *out, int count)
{
    const QJsonArray a = value.toArray();
    if (!value.isArray() || a.size() != count)
        return false;
    for (int i = 0; i < count; ++i) {
        if (!a[i].isDouble() || !std::isfinite(a[i].toDouble()))
            return false;
        out[i] = a[i].toDouble();
    }
    return true;
}

bool isRotation(const Matrix4 &m)
{
    for (int i = 0; i < 3; ++i) {
        if (std::abs(m.at(i, 3)) > Tolerance || std::abs(m.at(3, i)) > Tolerance)
            return false;
        for (int j = 0; j < 3; ++j) {
            double dot = 0.0;
            for (int k = 0; k < 3; ++k)
                dot += m.at(k, i) * m.at(k, j);
            if (std::abs(dot - (i == j ? 1.0 : 0.0)) > Tolerance)
                return false;
        }
    }
    return std::abs(m.at(3, 3) - 1.0) <= Tolerance;
}

bool isTranslation(const Matrix4 &m)
{
    for (int i = 0; i < 16; ++i)
        if (i < 12 && std::abs(m[i] - Matrix4::identity[i]) > Tolerance)
            return false;
    return std::abs(m[15] - 1.0) <= Tolerance;
}

std::optional<Shading> shadingNamed(const QString &name)
{
    for (Shading s : {Shading::Flat, Shading::Shaded, Shading::Toon})
        if (SceneViewFile::shadingName(s) == name)
            return s;
    return std::nullopt;
}

} // namespace

std::optional<unsigned int> colorNamed(const QString &name)
{
    if (name.size() != 7 || !name.startsWith(QLatin1Char('#')))
        return std::nullopt;
    for (QChar c : name.mid(1))
        if (!c.isDigit() && !QStringLiteral("abcdefABCDEF").contains(c))
            return std::nullopt;
    return name.mid(1).toUInt(nullptr, 16);
}

namespace {
struct VectorField
{
    const char *name;
    Vector3 Camera::*member;
};
struct MatrixField
{
    const char *name;
    Matrix4 Camera::*member;
};
const VectorField Vectors[] = {{"worldForward", &Camera::worldForward},
                               {"worldEye", &Camera::worldEye},
                               {"viewDir", &Camera::viewDir},
                               {"eye", &Camera::eye}};
const MatrixField Matrices[] = {{"cameraTranslation", &Camera::cameraTranslation},
                                {"cameraRotation", &Camera::cameraRotation},
                                {"modelMatrix", &Camera::modelMatrix},
                                {"normalization", &Camera::normalization},
                                {"orientation", &Camera::orientation}};
} // namespace

QString SceneViewFile::besideScene(const QString &sceneFile)
{
    QString base = sceneFile;
    if (base.endsWith(QLatin1String(".dat")))
        base.chop(4);
    return base + QStringLiteral(".view.json");
}

QString SceneViewFile::shadingName(Shading shading)
{
    switch (shading) {
    case Shading::Shaded:
        return QStringLiteral("shaded");
    case Shading::Toon:
        return QStringLiteral("toon");
    case Shading::Flat:
        break;
    }
    return QStringLiteral("flat");
}

QByteArray SceneViewFile::encode() const
{
    QJsonObject cam;
    for (const VectorField &f : Vectors)
        cam.insert(QLatin1String(f.name), numbers((camera.*f.member).data(), 3));
    for (const MatrixField &f : Matrices)
        cam.insert(QLatin1String(f.name), numbers((camera.*f.member).data(), 16));
    QJsonObject root{{"format", Kind},
                           {"version", Version},
                           {"model", modelPath},
                           {"camera", cam},
                           {"shading", shadingName(style.shading)},
                           {"outlines", style.outlines},
                           {"graftalScale", style.graftalScale},
                           {"up", style.up == UpAxis::Default ? QStringLiteral("default") : upaxis::nameOf(style.up)},
                           {"twoSided", style.twoSided}};
    root.insert(QLatin1String("outlineWidth"), style.outlineWidth);
    root.insert(QLatin1String("outlineColor"),
                QStringLiteral("#%1").arg(style.outlineColor, 6, 16, QLatin1Char('0')));
    root.insert(QLatin1String("light"), style.lightOnModel ? QStringLiteral("model")
                                                           : QStringLiteral("camera"));
    root.insert(QLatin1String("bands"), style.bands);
    root.insert(QLatin1String("antialiasing"), style.antialiasing);
    root.insert(QLatin1String("fadeFrom"), style.fade.from);
    root.insert(QLatin1String("fadeTo"), style.fade.to);
    root.insert(QLatin1String("smoothAngle"), style.smoothAngle);
    return QJsonDocument(root).toJson();
}

bool SceneViewFile::decode(const QByteArray &bytes, QString &why)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        why = QStringLiteral("it is not JSON");
        return false;
    }
    const QJsonObject root = doc.object();
    if (root.value(QLatin1String("format")).toString() != Kind ||
        root.value(QLatin1String("version")).toInt() != Version) {
        why = QStringLiteral("it is not a view saved by this Tuftmill");
        return false;
    }
    why = QStringLiteral("it is damaged");
    SceneViewFile read;
    const QJsonObject cam = root.value(QLatin1String("camera")).toObject();
    for (const VectorField &f : Vectors) {
        Vector3 &v = read.camera.*f.member;
        if (!readNumbers(cam.value(QLatin1String(f.name)), &v.x, 3))
            return false;
    }
    for (const MatrixField &f : Matrices)
        if (!readNumbers(cam.value(QLatin1String(f.name)), (read.camera.*f.member).m, 16))
            return false;
    const std::optional<Shading> shading =
        shadingNamed(root.value(QLatin1String("shading")).toString());
    const QJsonValue outlines = root.value(QLatin1String("outlines"));
    const QJsonValue scale = root.value(QLatin1String("graftalScale"));
    const QJsonValue model = root.value(QLatin1String("model"));
    if (!shading || !outlines.isBool() || !scale.isDouble() || !model.isString() ||
        !(scale.toDouble() > 0.0) || !std::isfinite(scale.toDouble()) ||
        !isRotation(read.camera.cameraRotation) || !isTranslation(read.camera.cameraTranslation))
        return false;
    read.style.shading = *shading;
    read.style.outlines = outlines.toBool();
    read.style.graftalScale = scale.toDouble();
    // Views saved before these keys: the format's up axis, and sides as the model has them.
    const QJsonValue up = root.value(QLatin1String("up"));
    const QJsonValue twoSided = root.value(QLatin1String("twoSided"));
    const QString upName = up.toString();
    if ((!up.isUndefined() && !up.isString()) ||
        (!upaxis::fromName(upName == QLatin1String("default") ? QString() : upName,
                           read.style.up)) ||
        (!twoSided.isUndefined() && !twoSided.isBool()))
        return false;
    read.style.twoSided = twoSided.isBool() ? twoSided.toBool() : style.twoSided;
    // The finishing choices came later: a view without them has their defaults.
    const ViewStyle defaults;
    const int width = root.value(QLatin1String("outlineWidth")).toInt(defaults.outlineWidth);
    const int bands = root.value(QLatin1String("bands")).toInt(defaults.bands);
    const std::optional<unsigned int> color =
        colorNamed(root.value(QLatin1String("outlineColor")).toString(QStringLiteral("#14141a")));
    const QString light = root.value(QLatin1String("light")).toString(QStringLiteral("camera"));
    const QJsonValue smooth = root.value(QLatin1String("smoothAngle"));
    const double smoothAngle = smooth.toDouble(defaults.smoothAngle);
    if (width < 1 || width > 8 || bands < 2 || bands > 6 || !color ||
        (light != QLatin1String("camera") && light != QLatin1String("model")) ||
        (!smooth.isUndefined() && !smooth.isDouble()) || !(smoothAngle >= 0.0) ||
        smoothAngle > 180.0)
        return false;
    read.style.smoothAngle = smoothAngle;
    read.style.outlineWidth = width;
    read.style.outlineColor = *color;
    read.style.lightOnModel = light == QLatin1String("model");
    read.style.bands = bands;
    read.style.antialiasing =
        root.value(QLatin1String("antialiasing")).toBool(defaults.antialiasing);
    const QJsonValue fadeFrom = root.value(QLatin1String("fadeFrom"));
    const QJsonValue fadeTo = root.value(QLatin1String("fadeTo"));
    if ((!fadeFrom.isUndefined() && !fadeFrom.isDouble()) ||
        (!fadeTo.isUndefined() && !fadeTo.isDouble()))
        return false;
    read.style.fade = {fadeFrom.toDouble(defaults.fade.from), fadeTo.toDouble(defaults.fade.to)};
    if (!read.style.fade.valid())
        return false;
    read.modelPath = model.toString();
    *this = read;
    why.clear();
    return true;
}

bool SceneViewFile::write(const QString &path, QString &why) const
{
    return safefile::write(path, encode(), why);
}

SceneViewFile::Outcome SceneViewFile::read(const QString &path, QString &why)
{
    if (safefile::kindOf(path) == safefile::Kind::Missing)
        return Outcome::Missing;
    QByteArray bytes;
    if (!safefile::read(path, MaxBytes, bytes, why) || !decode(bytes, why))
        return Outcome::Refused;
    return Outcome::Read;
}

Camera SceneViewFile::cameraFor(const Camera &current) const
{
    if (camera.modelMatrix == current.modelMatrix &&
        camera.normalization == current.normalization &&
        camera.orientation == current.orientation) {
        // The planes follow the model as it is now.
        Camera c = camera;
        c.reach = current.reach;
        return c;
    }
    Camera c = current.lookingThrough(camera.cameraRotation).standingAt(camera.cameraTranslation);
    c.cameraRotation = camera.cameraRotation;
    c.cameraTranslation = camera.cameraTranslation;
    return c;
}
