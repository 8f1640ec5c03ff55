#include "VideoWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cstdio>

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

    // Sends a frame (or the end, for null) and writes every packet the encoder gives.
    bool encode(AVFrame *f, QString &error)
    {
        int rc = avcodec_send_frame(codec.get(), f);
        if (rc < 0) {
            error = QStringLiteral("the encoder refused a frame: %1").arg(avError(rc));
            return false;
        }
        while ((rc = avcodec_receive_packet(codec.get(), packet.get())) >= 0) {
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            rc = av_interleaved_write_frame(format.get(), packet.get());
            if (rc < 0) {
                error = QStringLiteral("cannot write %1: %2").arg(output, avError(rc));
                return false;
            }
        }
        return rc == AVERROR(EAGAIN) || rc == AVERROR_EOF;
    }
};

VideoWriter::VideoWriter() = default;
VideoWriter::~VideoWriter() = default;

bool VideoWriter::isVideoName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("mp4") || suffix == QLatin1String("webm");
}

bool VideoWriter::open(const QString &path, int width, int height, int fps, QString &error)
{
    state = std::make_unique<State>();
    State &s = *state;
    const bool mp4 = QFileInfo(path).suffix().toLower() == QLatin1String("mp4");
    const char *encoderName = mp4 ? "libx264" : "libvpx-vp9";
    const AVCodec *encoder = avcodec_find_encoder_by_name(encoderName);
    if (!encoder) {
        error = mp4 ? QStringLiteral("the H.264 encoder is not available")
                    : QStringLiteral("the VP9 encoder is not available");
        return false;
    }
    if (width % 2 || height % 2) {
        error = QStringLiteral("a video needs an even width and height, not %1x%2")
                    .arg(width)
                    .arg(height);
        return false;
    }
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.isDir() || !folder.isWritable()) {
        error = QStringLiteral("the folder %1 is missing or not writable").arg(folder.filePath());
        return false;
    }
    // A name of our own beside the output, so that the rename stays on one file system.
    {
        QTemporaryFile reserve(QFileInfo(path).absoluteFilePath() + QStringLiteral(".XXXXXX.part"));
        reserve.setAutoRemove(false);
        if (!reserve.open()) {
            error = QStringLiteral("cannot write %1: %2").arg(path, reserve.errorString());
            return false;
        }
        s.temporary = reserve.fileName();
    }
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
    c->time_base = AVRational{1, fps};
    c->framerate = AVRational{fps, 1};
    c->gop_size = 2 * fps;
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (mp4)
        av_opt_set(c->priv_data, "preset", "medium", 0);
    else {
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
    if ((rc = avio_open(&format->pb, QFile::encodeName(s.temporary).constData(),
                        AVIO_FLAG_WRITE)) < 0 ||
        (rc = avformat_write_header(format, nullptr)) < 0) {
        error = QStringLiteral("cannot write %1: %2").arg(path, avError(rc));
        return false;
    }
    s.frame->format = c->pix_fmt;
    s.frame->width = width;
    s.frame->height = height;
    if (av_frame_get_buffer(s.frame.get(), 0) < 0) {
        error = QStringLiteral("out of memory for the video");
        return false;
    }
    s.scale.reset(sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height, c->pix_fmt,
                                 SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!s.scale) {
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
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
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
    if (rc >= 0)
        rc = avio_closep(&s.format->pb);
    if (rc < 0) {
        error = QStringLiteral("cannot write %1: %2").arg(s.output, avError(rc));
        return false;
    }
    s.format.reset();
    if (std::rename(QFile::encodeName(s.temporary).constData(),
                    QFile::encodeName(s.output).constData()) != 0) {
        error = QStringLiteral("cannot write %1: %2").arg(s.output, qt_error_string(errno));
        return false;
    }
    s.finished = true;
    return true;
}
