#include "PictureFile.h"

#include "QuickPng.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>
#include <cerrno>

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
    // Encoded in memory first, then written unbuffered and counted: a short write (a full
    // disk, a file size limit) is seen there, and the file is then not committed.
    QByteArray bytes;
    if (!encode(image, format, packing, bytes, error))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        error = file.errorString();
        return false;
    }
    errno = 0;
    if (file.write(bytes) != bytes.size()) {
        // A short write is no error to Qt; the system's reason is the one to give.
        const int code = errno;
        error = code ? qt_error_string(code) : file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace picturefile
