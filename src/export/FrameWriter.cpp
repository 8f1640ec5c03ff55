#include "FrameWriter.h"

#include "PictureFile.h"
#include "SafeFile.h"

#include <sys/resource.h>
#include <unistd.h>
#include <utility>

FrameWriter::FrameWriter() : worker(&FrameWriter::run, this) {}

FrameWriter::~FrameWriter()
{
    {
        std::unique_lock<std::mutex> held(lock);
        waitIdle(held);
        stopping = true;
    }
    changed.notify_all();
    worker.join();
}

void FrameWriter::waitIdle(std::unique_lock<std::mutex> &held)
{
    changed.wait(held, [this] { return !handed; });
}

bool FrameWriter::write(const QImage &frame, const QString &frameName, QString &error)
{
    {
        std::unique_lock<std::mutex> held(lock);
        waitIdle(held);
        if (!failure.isEmpty()) {
            error = failure;
            return false;
        }
        picture = frame;
        name = frameName;
        handed = true;
    }
    changed.notify_all();
    return true;
}

bool FrameWriter::wait(QString &error)
{
    std::unique_lock<std::mutex> held(lock);
    waitIdle(held);
    if (failure.isEmpty())
        return true;
    error = failure;
    return false;
}

QStringList FrameWriter::created()
{
    std::unique_lock<std::mutex> held(lock);
    waitIdle(held);
    return done;
}

void FrameWriter::run()
{
    // The drawing is what the turntable waits for: the encoding takes what time the drawing
    // leaves the processors, and the drawing waits for it only when it falls a frame behind.
    setpriority(PRIO_PROCESS, id_t(gettid()), 19);
    std::unique_lock<std::mutex> held(lock);
    for (;;) {
        changed.wait(held, [this] { return handed || stopping; });
        if (!handed)
            return;
        // The picture is the thread's own while it is written, and gone before the next is
        // taken; the drawing goes on meanwhile.
        const QString frameName = name;
        QString error;
        bool ok = false;
        // A frame that was there before is the user's: it is replaced whole or kept, and
        // never removed.
        const bool fresh = !safefile::exists(frameName);
        {
            const QImage frame = std::exchange(picture, QImage());
            held.unlock();
            ok = picturefile::write(frame, frameName, error, picturefile::Packing::Quick);
        }
        held.lock();
        if (!ok)
            failure = QStringLiteral("cannot write %1: %2").arg(frameName, error);
        else if (fresh)
            done.append(frameName);
        handed = false;
        changed.notify_all();
    }
}
