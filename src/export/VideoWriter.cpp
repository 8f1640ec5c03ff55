#include "VideoWriter.h"

#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {
// Owners of FFmpeg's objects, each freed by its own call.
struct CodecFree
{
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameFree
{
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketFree
{
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct ScaleFree
{
    void operator()(SwsContext *s) const { sws_freeContext(s); }
};
// The container: its file is closed before the context goes.
struct FormatFree
{
    void operator()(AVFormatContext *f) const
    {
        if (f->pb)
            avio_closep(&f->pb);
        avformat_free_context(f);
    }
};

QString avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}
} // namespace

struct VideoWriter::State
{
    std::unique_ptr<AVFormatContext, FormatFree> format;
    std::unique_ptr<AVCodecContext, CodecFree> codec;
    std::unique_ptr<AVFrame, FrameFree> frame;
    std::unique_ptr<AVPacket, PacketFree> packet;
    std::unique_ptr<SwsContext, ScaleFree> scale;
    AVStream *stream = nullptr; // owned by the container
    QString output, temporary;
    int width = 0, height = 0;
    int64_t next = 0;
    bool finished = false;

    ~State()
    {
        if (!finished && !temporary.isEmpty()) {
            format.reset();
            QFile::remove(temporary);
        }
    }

    // A new empty file beside the output, so that the rename stays on one file system. It
    // is made as any new file is (0666 less the umask), so that the video keeps the mode
    // a file written straight under its name would have.
    bool reserveTemporary(const QString &outputPath, QString &error)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QString name =
                QStringLiteral("%1.%2.part")
                    .arg(outputPath)
                    .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
            const int fd = ::open(QFile::encodeName(name).constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                temporary = name;
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        const int code = errno;
        error = QStringLiteral("cannot write %1: %2").arg(outputPath, qt_error_string(code));
        return false;
    }

    QString writeError(int code) const
    {
        return QStringLiteral("cannot write %1: %2").arg(output, avError(code));
    }

    // Sends a frame (or the end, for null) and writes every packet the encoder gives at
    // once, so that a full disk or an encoder fault stops the video at the frame it hit.
    bool encode(AVFrame *f, QString &error)
    {
        int rc = avcodec_send_frame(codec.get(), f);
        if (rc < 0) {
            error = QStringLiteral("the encoder refused frame %1: %2").arg(next).arg(avError(rc));
            return false;
        }
        for (;;) {
            rc = avcodec_receive_packet(codec.get(), packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return true;
            if (rc < 0) {
                error = QStringLiteral("the encoder failed at frame %1: %2")
                            .arg(next)
                            .arg(avError(rc));
                return false;
            }
            // Each picture lasts one tick of the codec's clock; without it the container
            // counts the stream one frame short and players may drop the last picture.
            if (packet->duration <= 0)
                packet->duration = 1;
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            rc = av_interleaved_write_frame(format.get(), packet.get());
            if (rc >= 0 && format->pb->error < 0)
                rc = format->pb->error;
            if (rc < 0) {
                error = writeError(rc);
                return false;
            }
        }
    }
};

VideoWriter::VideoWriter() = default;
VideoWriter::~VideoWriter() = default;

namespace {
bool isMp4(const QString &path)
{
    return QFileInfo(path).suffix().toLower() == QLatin1String("mp4");
}

const char *encoderFor(const QString &path)
{
    return isMp4(path) ? "libx264" : "libvpx-vp9";
}
} // namespace

bool VideoWriter::isVideoName(const QString &path)
{
    return isMp4(path) || QFileInfo(path).suffix().toLower() == QLatin1String("webm");
}

bool VideoWriter::usable(const QString &path, int width, int height, QString &error)
{
    if (!avcodec_find_encoder_by_name(encoderFor(path))) {
        error = QStringLiteral("the %1 encoder for %2 is not available here")
                    .arg(QLatin1String(encoderFor(path)), QFileInfo(path).fileName());
        return false;
    }
    if (width % 2 || height % 2) {
        error = QStringLiteral("a video needs an even width and height, not %1x%2")
                    .arg(width)
                    .arg(height);
        return false;
    }
    return true;
}

bool VideoWriter::open(const QString &path, int width, int height, int fps, QString &error)
{
    state = std::make_unique<State>();
    State &s = *state;
    if (!usable(path, width, height, error))
        return false;
    const bool mp4 = isMp4(path);
    const char *encoderName = encoderFor(path);
    const AVCodec *encoder = avcodec_find_encoder_by_name(encoderName);
    if (!safefile::replaceable(path, error) ||
        !s.reserveTemporary(QFileInfo(path).absoluteFilePath(), error))
        return false;
    s.output = path;
    s.width = width;
    s.height = height;
    AVFormatContext *format = nullptr;
    int rc = avformat_alloc_output_context2(&format, nullptr, mp4 ? "mp4" : "webm",
                                            QFile::encodeName(s.temporary).constData());
    if (rc < 0 || !format) {
        error = QStringLiteral("cannot make a video container: %1").arg(avError(rc));
        return false;
    }
    s.format.reset(format);
    s.codec.reset(avcodec_alloc_context3(encoder));
    s.frame.reset(av_frame_alloc());
    s.packet.reset(av_packet_alloc());
    s.stream = avformat_new_stream(format, nullptr);
    if (!s.codec || !s.frame || !s.packet || !s.stream) {
        error = QStringLiteral("out of memory for the video");
        return false;
    }
    AVCodecContext *c = s.codec.get();
    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    // Untagged, players guess the matrix by the picture's size (BT.601 below HD, BT.709
    // above): every size is tagged BT.709 in limited range and converted with that matrix.
    c->colorspace = AVCOL_SPC_BT709;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    c->time_base = AVRational{1, fps};
    c->framerate = AVRational{fps, 1};
    c->gop_size = 2 * fps;
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (mp4) {
        // x264 by default keeps 40 pictures ahead for its rate control and B-frames, each with
        // planes of its own: hundreds of MiB at 1920 x 1080. A turntable's motion is steady,
        // so each picture is coded as it comes, against one picture before, on two threads;
        // the quality (the constant rate factor) is the same, the file about half as large
        // again.
        av_opt_set(c->priv_data, "preset", "fast", 0);
        av_opt_set_int(c->priv_data, "rc-lookahead", 0, 0);
        c->max_b_frames = 0;
        c->refs = 1;
        c->thread_count = 2;
        // The two threads code halves of the same picture rather than two pictures at
        // once: about 20 MiB less held at 1920 x 1080, for some 5 % more time.
        c->thread_type = FF_THREAD_SLICE;
    } else {
        c->bit_rate = 0;
        av_opt_set_int(c->priv_data, "crf", 32, 0);
    }
    if ((rc = avcodec_open2(c, encoder, nullptr)) < 0) {
        error = QStringLiteral("cannot start the %1 encoder: %2")
                    .arg(QLatin1String(encoderName), avError(rc));
        return false;
    }
    avcodec_parameters_from_context(s.stream->codecpar, c);
    s.stream->time_base = c->time_base;
    // "file:" keeps a colon in the name from being read as another protocol.
    if ((rc = avio_open(&format->pb, "file:" + QFile::encodeName(s.temporary),
                        AVIO_FLAG_WRITE)) < 0 ||
        (rc = avformat_write_header(format, nullptr)) < 0) {
        error = s.writeError(rc);
        return false;
    }
    // Every packet goes to the file as it is written: a write that fails shows at once.
    format->flush_packets = 1;
    s.frame->format = c->pix_fmt;
    s.frame->width = width;
    s.frame->height = height;
    s.frame->colorspace = c->colorspace;
    s.frame->color_primaries = c->color_primaries;
    s.frame->color_trc = c->color_trc;
    s.frame->color_range = c->color_range;
    if (av_frame_get_buffer(s.frame.get(), 0) < 0) {
        error = QStringLiteral("out of memory for the video");
        return false;
    }
    s.scale.reset(sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height, c->pix_fmt,
                                 SWS_BICUBIC, nullptr, nullptr, nullptr));
    const int *bt709 = sws_getCoefficients(SWS_CS_ITU709);
    if (!s.scale ||
        sws_setColorspaceDetails(s.scale.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16) < 0) {
        error = QStringLiteral("cannot convert pictures for the video");
        return false;
    }
    return true;
}

bool VideoWriter::add(const QImage &picture, QString &error)
{
    State &s = *state;
    if (picture.size() != QSize(s.width, s.height)) {
        error = QStringLiteral("a frame of the wrong size for the video");
        return false;
    }
    // The renderer's opaque pictures have the bytes of RGBA already.
    const QImage rgba = picture.format() == QImage::Format_RGBX8888
                            ? picture
                            : picture.convertToFormat(QImage::Format_RGBA8888);
    if (av_frame_make_writable(s.frame.get()) < 0) {
        error = QStringLiteral("out of memory for the video");
        return false;
    }
    const uint8_t *source[1] = {rgba.constBits()};
    const int stride[1] = {int(rgba.bytesPerLine())};
    sws_scale(s.scale.get(), source, stride, 0, s.height, s.frame->data, s.frame->linesize);
    s.frame->pts = s.next++;
    return s.encode(s.frame.get(), error);
}

bool VideoWriter::finish(QString &error)
{
    State &s = *state;
    if (!s.encode(nullptr, error))
        return false;
    int rc = av_write_trailer(s.format.get());
    if (rc >= 0) {
        avio_flush(s.format->pb);
        rc = s.format->pb->error;
    }
    if (rc >= 0)
        rc = avio_closep(&s.format->pb);
    if (rc < 0) {
        error = s.writeError(rc);
        return false;
    }
    s.format.reset();
    // Checked again at the last moment: a link or a special file put there meanwhile is
    // left alone (rename would replace it).
    if (!safefile::replaceable(s.output, error))
        return false;
    if (std::rename(QFile::encodeName(s.temporary).constData(),
                    QFile::encodeName(s.output).constData()) != 0) {
        const int code = errno;
        error = QStringLiteral("cannot write %1: %2").arg(s.output, qt_error_string(code));
        return false;
    }
    s.finished = true;
    return true;
}
