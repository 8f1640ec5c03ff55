#pragma once

#include <QFile>
#include <QImage>
#include <QStringList>
#include <QSize>
#include <QString>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace testsupport {

struct Decoded
{
    int frames = 0;
    QSize size;
    QString codec;
    QImage first; // converted by the matrix and range the stream is tagged with
    QStringList tags; // colour space, primaries, transfer, range
};

// A decoded picture in RGB, read as a player does: by its tags.
inline QImage toRgb(const AVFrame *frame)
{
    QImage image(frame->width, frame->height, QImage::Format_RGBX8888);
    SwsContext *s = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format),
                                   frame->width, frame->height, AV_PIX_FMT_RGBA, SWS_BICUBIC,
                                   nullptr, nullptr, nullptr);
    if (!s)
        return {};
    const int *table = sws_getCoefficients(frame->colorspace);
    sws_setColorspaceDetails(s, table, frame->color_range == AVCOL_RANGE_JPEG, table, 1, 0,
                             1 << 16, 1 << 16);
    uint8_t *rows[1] = {image.bits()};
    const int stride[1] = {int(image.bytesPerLine())};
    sws_scale(s, frame->data, frame->linesize, 0, frame->height, rows, stride);
    sws_freeContext(s);
    return image;
}


// Every picture of the file's video stream, decoded.
inline Decoded decode(const QString &path)
{
    Decoded d;
    AVFormatContext *opened = nullptr;
    if (avformat_open_input(&opened, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return d;
    const auto closeInput = [](AVFormatContext *f) { avformat_close_input(&f); };
    const std::unique_ptr<AVFormatContext, decltype(closeInput)> format(opened, closeInput);
    const AVCodec *decoder = nullptr;
    const int stream = avformat_find_stream_info(opened, nullptr) < 0
                           ? -1
                           : av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream < 0)
        return d;
    const auto freeCodec = [](AVCodecContext *c) { avcodec_free_context(&c); };
    const std::unique_ptr<AVCodecContext, decltype(freeCodec)> codec(
        avcodec_alloc_context3(decoder), freeCodec);
    const auto freeFrame = [](AVFrame *f) { av_frame_free(&f); };
    const std::unique_ptr<AVFrame, decltype(freeFrame)> frame(av_frame_alloc(), freeFrame);
    const auto freePacket = [](AVPacket *p) { av_packet_free(&p); };
    const std::unique_ptr<AVPacket, decltype(freePacket)> packet(av_packet_alloc(), freePacket);
    if (avcodec_parameters_to_context(codec.get(), opened->streams[stream]->codecpar) < 0 ||
        avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return d;
    d.codec = QString::fromLatin1(avcodec_get_name(codec->codec_id));
    const auto drain = [&] {
        while (avcodec_receive_frame(codec.get(), frame.get()) >= 0) {
            if (d.frames == 0) {
                d.first = toRgb(frame.get());
                for (const char *tag : {av_color_space_name(frame->colorspace),
                                        av_color_primaries_name(frame->color_primaries),
                                        av_color_transfer_name(frame->color_trc),
                                        av_color_range_name(frame->color_range)})
                    d.tags.append(QString::fromLatin1(tag ? tag : "?"));
            }
            ++d.frames;
            d.size = QSize(frame->width, frame->height);
        }
    };
    while (av_read_frame(opened, packet.get()) >= 0) {
        if (packet->stream_index == stream && avcodec_send_packet(codec.get(), packet.get()) >= 0)
            drain();
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    drain();
    return d;
}

} // namespace testsupport
