#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <mutex>
#include <thread>

// Writes a turntable's PNG frames on a thread of its own, so that the next frame is drawn
// while the last one is encoded. It holds one frame at a time: `write` first waits for the
// frame before it, so that no more than two pictures (the one being drawn and the one being
// encoded) are ever in memory. Each file is written whole or not at all, under a temporary
// name that takes the frame's name once complete, never through a link nor over what is
// not a regular file; the first failure stops the writing and every later call gives its
// reason.
class FrameWriter
{
public:
    FrameWriter();
    // Waits for the frame being written, then ends the thread.
    ~FrameWriter();
    FrameWriter(const FrameWriter &) = delete;
    FrameWriter &operator=(const FrameWriter &) = delete;

    // Hands over a picture to be written under `name` once the frame before is written;
    // false with the reason when a frame before could not be written.
    bool write(const QImage &picture, const QString &name, QString &error);
    // Waits for the frame handed last; false with the reason of the first failure.
    bool wait(QString &error);
    // Waits for the frame handed last and gives the names of the frames written whole where
    // nothing stood before: the files this writer made, and no others.
    QStringList created();

private:
    void run();
    // Until nothing is handed and not yet written; `lock` held.
    void waitIdle(std::unique_lock<std::mutex> &held);

    std::mutex lock;
    std::condition_variable changed;
    QImage picture;
    QString name;
    bool handed = false; // a frame waits for the thread or is being written
    bool stopping = false;
    QString failure;
    QStringList done; // frames written whole under names that were free
    std::thread worker; // last, so that it starts once the rest is made
};
