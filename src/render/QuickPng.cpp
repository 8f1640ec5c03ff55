#include "QuickPng.h"

#include <csetjmp>
#include <new>
#include <png.h>
#include <zlib.h>

namespace quickpng {
namespace {
struct Sink
{
    QByteArray *bytes = nullptr;
    char message[200] = {};
};

void append(png_structp png, png_bytep data, png_size_t length)
{
    auto *sink = static_cast<Sink *>(png_get_io_ptr(png));
    bool kept = true;
    try {
        sink->bytes->append(reinterpret_cast<const char *>(data), qsizetype(length));
    } catch (const std::bad_alloc &) {
        kept = false;
    }
    // Out of the handler first: the failure leaves through libpng by a long jump.
    if (!kept)
        png_error(png, "out of memory");
}

void flush(png_structp) {}

void failed(png_structp png, png_const_charp message)
{
    auto *sink = static_cast<Sink *>(png_get_error_ptr(png));
    qstrncpy(sink->message, message, sizeof sink->message);
    png_longjmp(png, 1);
}

void warned(png_structp, png_const_charp) {}

// The writing itself, between libpng's setjmp and the longjmp of a failure: nothing here
// has a destructor, so that a jump out of it skips none.
bool writeRows(png_structp png, png_infop info, const QImage &image, bool alpha)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_write_info(png, info);
    // Four bytes a pixel in memory; the fourth is dropped for an opaque picture.
    if (!alpha)
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < image.height(); ++y)
        png_write_row(png, image.constScanLine(y));
    png_write_end(png, info);
    return true;
}
} // namespace

bool encode(const QImage &image, QByteArray &png, QString &error)
{
    if (image.isNull()) {
        error = QStringLiteral("the picture is empty");
        return false;
    }
    const bool alpha = image.hasAlphaChannel();
    const QImage::Format layout = alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888;
    const QImage rows = image.format() == layout ? image : image.convertToFormat(layout);
    if (rows.isNull()) {
        error = QStringLiteral("out of memory");
        return false;
    }
    Sink sink;
    sink.bytes = &png;
    png.clear();
    png_structp writer =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, failed, warned);
    png_infop info = writer ? png_create_info_struct(writer) : nullptr;
    if (!info) {
        png_destroy_write_struct(&writer, nullptr);
        error = QStringLiteral("out of memory");
        return false;
    }
    png_set_write_fn(writer, &sink, append, flush);
    const bool ok = writeRows(writer, info, rows, alpha);
    png_destroy_write_struct(&writer, &info);
    if (!ok) {
        png.clear();
        error = QString::fromLatin1(sink.message);
    }
    return ok;
}
} // namespace quickpng
