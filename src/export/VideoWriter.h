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
    // Whether a video of that name and size can be written here (its encoder is built in,
    // the sides are even); false with the reason.
    static bool usable(const QString &path, int width, int height, QString &error);
    // Opens the encoder and the temporary file; false with the reason.
    bool open(const QString &path, int width, int height, int fps, QString &error);
    // Encodes one picture of the opened size and writes what the encoder gives; false with
    // the reason at the first encoder or write fault.
    bool add(const QImage &picture, QString &error);
    // Flushes the encoder, closes the file and renames it to the output.
    bool finish(QString &error);

private:
    struct State;
    std::unique_ptr<State> state;
};
