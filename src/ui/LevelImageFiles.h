#pragma once

#include "Graftal.h"

#include <QImage>
#include <QString>

// Pictures from elsewhere brought into a level, and levels written out as pictures. Image
// files are untrusted: their size is read from the header before anything is decoded.
namespace levelimagefiles {
// The largest side of an image file that is read at all.
constexpr int MaxImportSide = 8192;

// The picture in `path` scaled to fit a level (keeping its aspect, centred, its alpha
// kept) into `level` (premultiplied ARGB, Graftal::LevelSide square). False with a
// sentence in `why` when the file cannot be read or is too large; `level` is then untouched.
bool importImage(const QString &path, QImage &level, QString &why);
// The file name filter of the import dialog: the formats this Qt reads among PNG, JPEG,
// BMP and WebP.
QString importFilter();
// Writes a level as its level file lays it out (texture left, mask right, 800 x 400 PNG),
// whole or not at all.
bool exportLevel(const LevelPair &level, const QString &path, QString &why);
} // namespace levelimagefiles
