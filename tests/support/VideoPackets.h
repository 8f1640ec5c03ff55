#pragma once

#include <QFile>
#include <QSize>
#include <QString>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

namespace testsupport {

struct VideoStream
{
    int packets = 0; // one per frame for the encoders we write with
    QSize size;
    QString codec;
};

// What FFmpeg reads of a video file's first video stream, without decoding it.
inline VideoStream videoStream(const QString &path)
{
    VideoStream v;
    AVFormatContext *opened = nullptr;
    if (avformat_open_input(&opened, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return v;
    const auto closeInput = [](AVFormatContext *f) { avformat_close_input(&f); };
    const std::unique_ptr<AVFormatContext, decltype(closeInput)> format(opened, closeInput);
    const int stream = avformat_find_stream_info(opened, nullptr) < 0
                           ? -1
                           : av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0)
        return v;
    const AVCodecParameters *parameters = opened->streams[stream]->codecpar;
    v.size = QSize(parameters->width, parameters->height);
    v.codec = QString::fromLatin1(avcodec_get_name(parameters->codec_id));
    const auto freePacket = [](AVPacket *p) { av_packet_free(&p); };
    const std::unique_ptr<AVPacket, decltype(freePacket)> packet(av_packet_alloc(), freePacket);
    while (packet && av_read_frame(opened, packet.get()) >= 0) {
        v.packets += packet->stream_index == stream;
        av_packet_unref(packet.get());
    }
    return v;
}

} // namespace testsupport
