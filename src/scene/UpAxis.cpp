#include "UpAxis.h"

#include "Camera.h"

#include <QFileInfo>
#include <array>

namespace upaxis {
namespace {
// The six axes from PlusX on: the axis as a vector of the file.
constexpr std::array<std::array<double, 3>, 6> Axes = {
    {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}}};
const char *const Names[] = {"x", "y", "z", "-x", "-y", "-z"};

// Formats the reader turns from Y up to Z up, (x, y, z) → (x, −z, y); the others (3DS,
// 3MF, ASE) keep their axes, and FBX files arrive as their own axis metadata stood them.
bool turnedFromYUp(const QString &modelPath)
{
    static const QStringList yUp = {"obj", "gltf", "glb", "ply", "stl",
                                    "off", "x",    "ac",  "lwo", "dae"};
    return yUp.contains(QFileInfo(modelPath).suffix().toLower());
}
} // namespace

QStringList labels()
{
    return {QStringLiteral("+X"),         QStringLiteral("+Y"),
            QStringLiteral("+Z"),         QString::fromUtf8("\u2212X"),
            QString::fromUtf8("\u2212Y"), QString::fromUtf8("\u2212Z")};
}

QString nameOf(UpAxis up)
{
    return up == UpAxis::Default ? QString() : QString::fromLatin1(Names[int(up) - 1]);
}

bool fromName(const QString &name, UpAxis &up)
{
    if (name.isEmpty()) {
        up = UpAxis::Default;
        return true;
    }
    for (int k = 0; k < 6; ++k)
        if (name == QLatin1String(Names[k])) {
            up = UpAxis(k + 1);
            return true;
        }
    return false;
}

UpAxis defaultFor(const QString &modelPath)
{
    return turnedFromYUp(modelPath) ? UpAxis::PlusY : UpAxis::PlusZ;
}

UpAxis resolved(UpAxis up, const QString &modelPath)
{
    return up == UpAxis::Default ? defaultFor(modelPath) : up;
}

Matrix4 orientationFor(UpAxis up, const QString &modelPath)
{
    std::array<double, 3> a = Axes[size_t(int(resolved(up, modelPath)) - 1)];
    // Into the reader's frame, where the model arrives; its default is the reader's +Z.
    if (turnedFromYUp(modelPath))
        a = {a[0], -a[2], a[1]};
    // The turn that takes `a` to the reader's +Z, then Z up as ever. A quarter turn about
    // X or Y for the sideways axes, a half turn about X for −Z.
    Matrix4 toZ;
    if (a[0] != 0.0)
        toZ = Matrix4::rotation(Vector3(0.0, 1.0, 0.0), a[0] > 0.0 ? 90.0 : -90.0);
    else if (a[1] != 0.0)
        toZ = Matrix4::rotation(Vector3(1.0, 0.0, 0.0), a[1] > 0.0 ? -90.0 : 90.0);
    else if (a[2] < 0.0)
        toZ = Matrix4::rotation(Vector3(1.0, 0.0, 0.0), 180.0);
    return toZ.preMultiplied(Camera::zUp());
}
} // namespace upaxis
