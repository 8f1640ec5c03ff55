#pragma once

#include <QImage>
#include <QString>

namespace picturefile {
// Writes a PNG whole or not at all; false with the reason.
bool writePng(const QImage &image, const QString &path, QString &error);
} // namespace picturefile
