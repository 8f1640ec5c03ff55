#include "SurfaceColours.h"

#include "ModelImport.h"

#include <algorithm>
#include <cmath>

void SurfaceColours::build(const RenderArrays &arrays, size_t faces, const QList<QImage> &textures)
{
    clear();
    bool anyTexture = false;
    for (size_t f = 0; f < faces && !anyTexture; ++f)
        anyTexture = arrays.faceTexture[f] >= 0;
    if (!anyTexture)
        return;
    texCoords.assign(&arrays.texCoords[0], &arrays.texCoords[0] + faces * 6);
    faceTexture.assign(&arrays.faceTexture[0], &arrays.faceTexture[0] + faces);
    for (const QImage &image : textures) {
        QImage small = image;
        if (small.width() > MaxSide || small.height() > MaxSide)
            small = small.scaled(MaxSide, MaxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        images.append(small.convertToFormat(QImage::Format_RGBA8888));
    }
}

void SurfaceColours::clear()
{
    texCoords = {};
    faceTexture = {};
    images.clear();
}

std::optional<SurfaceColours::Rgb> SurfaceColours::at(int faceIndex, double u, double v) const
{
    if (faceIndex < 0 || size_t(faceIndex) >= faceTexture.size())
        return std::nullopt;
    const int t = faceTexture[size_t(faceIndex)];
    if (t < 0 || t >= images.size() || images[t].isNull())
        return std::nullopt;
    const float *c = &texCoords[size_t(faceIndex) * 6];
    const double s = c[0] + u * (c[2] - c[0]) + v * (c[4] - c[0]);
    const double r = c[1] + u * (c[3] - c[1]) + v * (c[5] - c[1]);
    if (!std::isfinite(s) || !std::isfinite(r))
        return std::nullopt;
    // Textures repeat, as they are drawn; v = 0 is the image's bottom row.
    const QImage &image = images[t];
    const auto texel = [](double coordinate, int side) {
        const double wrapped = coordinate - std::floor(coordinate);
        return std::clamp(int(wrapped * side), 0, side - 1);
    };
    const int x = texel(s, image.width());
    const int y = image.height() - 1 - texel(r, image.height());
    const uchar *p = image.constScanLine(y) + size_t(x) * 4;
    return Rgb{p[0] / 255.0f, p[1] / 255.0f, p[2] / 255.0f};
}
