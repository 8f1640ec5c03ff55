#pragma once

#include <QImage>
#include <QString>
#include <memory>

// Writes pictures as a video: H.264 (libx264) for a .mp4 name, VP9 (libvpx-vp9) for .webm,
// yuv420p, at a fixed frame rate, through FFmpeg's libraries. The video goes to a
// temporary file beside the output and takes the output's name only at `finish`; a writer
// destroyed before that removes its temporary file.
class VideoWriter
{
public:
    VideoWriter();
    ~VideoWriter();
    VideoWriter(const VideoWriter &) = delete;
    VideoWriter &operator=(const VideoWriter &) = delete;

    // Whether the name asks for a video (.mp4 or .webm).
    static bool isVideoName(const QString &path);
    // Opens the encoder and the temporary file; false with the reason.
    bool open(const QString &path, int width, int height, int fps, QString &error);
    // Encodes one picture of the opened size.
    bool add(const QImage &picture, QString &error);
    // Flushes the encoder, closes the file and renames it to the output.
    bool finish(QString &error);

private:
    struct State;
    std::unique_ptr<State> state;
};
