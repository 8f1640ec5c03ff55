#include "PictureFile.h"

#include "QuickPng.h"
#include "SafeFile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>

namespace picturefile {

bool formatFor(const QString &path, QByteArray &format, QString &error)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("png"))
        format = "png";
    else if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        format = "jpeg";
    else {
        error = QStringLiteral("%1 is not a .png, .jpg or .jpeg name: Tuftmill writes only those")
                    .arg(QFileInfo(path).fileName());
        return false;
    }
    return true;
}

namespace {
bool encode(const QImage &image, const QByteArray &format, Packing packing, QByteArray &bytes,
            QString &error)
{
    if (format == "png" && packing == Packing::Quick)
        return quickpng::encode(image, bytes, error);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    // JPEG has no transparency: the picture is opaque anyway.
    const QImage written = format == "jpeg" ? image.convertToFormat(QImage::Format_RGB888) : image;
    if (format == "jpeg")
        writer.setQuality(92);
    if (!writer.write(written)) {
        error = writer.errorString();
        return false;
    }
    return true;
}
} // namespace

bool write(const QImage &image, const QString &path, QString &error, Packing packing)
{
    QByteArray format;
    if (!formatFor(path, format, error))
        return false;
    // Encoded in memory first, then written and counted: a short write (a full disk, a file
    // size limit) leaves the name as it was.
    QByteArray bytes;
    if (!encode(image, format, packing, bytes, error))
        return false;
    // Through the one writer of whole files: a new file beside the name, renamed over it; a
    // link, a folder, a pipe or a device at the name is left alone and refused.
    if (!safefile::write(path, bytes, error)) {
        const QString prefix = path + QStringLiteral(": ");
        if (error.startsWith(prefix))
            error = error.mid(prefix.size());
        return false;
    }
    return true;
}

} // namespace picturefile
