#include "LevelImageFiles.h"

#include "SafeFile.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

namespace levelimagefiles {

namespace {
// Enough for an image of the largest side with four bytes a pixel, and a little more.
constexpr int AllocationLimitMb = 8192LL * 8192 * 4 / (1024 * 1024) + 16;

const QList<QByteArray> &offeredFormats()
{
    static const QList<QByteArray> formats{"png", "jpg", "jpeg", "bmp", "webp"};
    return formats;
}
} // namespace

QString importFilter()
{
    const QList<QByteArray> readable = QImageReader::supportedImageFormats();
    QStringList patterns;
    for (const QByteArray &format : offeredFormats())
        if (readable.contains(format))
            patterns << QStringLiteral("*.") + QString::fromLatin1(format);
    return QStringLiteral("Images (%1)").arg(patterns.join(QLatin1Char(' ')));
}

bool importImage(const QString &path, QImage &level, QString &why)
{
    QImageReader reader(path);
    reader.setAllocationLimit(AllocationLimitMb);
    reader.setAutoTransform(true);
    const QByteArray format = reader.format().toLower();
    if (!offeredFormats().contains(format)) {
        why =
            QStringLiteral("%1 is not a PNG, JPEG, BMP or WebP image Tuftmill can read").arg(path);
        return false;
    }
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) {
        why = QStringLiteral("%1 could not be read: %2").arg(path, reader.errorString());
        return false;
    }
    if (size.width() > MaxImportSide || size.height() > MaxImportSide) {
        why = QStringLiteral("%1 is %2 x %3 pixels; Tuftmill reads images of at most %4 pixels "
                             "a side")
                  .arg(path)
                  .arg(size.width())
                  .arg(size.height())
                  .arg(MaxImportSide);
        return false;
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        why = QStringLiteral("%1 could not be read: %2").arg(path, reader.errorString());
        return false;
    }
    const int side = Graftal::LevelSide;
    const QImage fitted = image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                              .scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage result(side, side, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    {
        QPainter p(&result);
        p.drawImage((side - fitted.width()) / 2, (side - fitted.height()) / 2, fitted);
    }
    level = result;
    return true;
}

bool exportLevel(const LevelPair &level, const QString &path, QString &why)
{
    const int side = Graftal::LevelSide;
    QImage image(2 * side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.drawPixmap(0, 0, level.first);
        p.drawPixmap(side, 0, level.second);
    }
    // Through the one writer of whole files: never through a link, never over a folder,
    // a pipe or a device.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        why = QStringLiteral("%1 could not be written: the image could not be encoded").arg(path);
        return false;
    }
    return safefile::write(path, bytes, why); // the reason names the file
}

} // namespace levelimagefiles
