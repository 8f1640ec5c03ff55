#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace picturefile {
// The image format a picture's file name asks for: "png" for .png, "jpeg" for .jpg and
// .jpeg (in any case); false with the reason for any other name.
bool formatFor(const QString &path, QByteArray &format, QString &error);
// How hard a PNG is squeezed: stills as small as Qt makes them; the frames of a sequence
// quickly (one filter for every row and zlib's run-length packing: in about a third of the
// time, and some 10 to 40 % larger).
enum class Packing
{
    Small,
    Quick
};
// Writes the picture in the format its name asks for, whole or not at all, never through a
// link and never over a folder, a pipe or a device; false with the reason.
bool write(const QImage &image, const QString &path, QString &error,
           Packing packing = Packing::Small);
} // namespace picturefile
