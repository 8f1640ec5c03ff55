#pragma once

#include <QElapsedTimer>
#include <QIODevice>
#include <QMutex>
#include <QSemaphore>
#include <QStringList>
#include <QTextStream>
#include <QThread>
#include <memory>

// The single writer of the process: a thread that owns the log file and writes the
// lines handed to it through a bounded queue, so that callers never touch the file.
class LoggerOutput : public QThread
{
    Q_OBJECT
public:
    static constexpr int QueueCapacity = 10;

    // The process-wide writer on "logger.log" in the working directory, created and
    // started on the first call. Called from the GUI thread only.
    static LoggerOutput *instance();
    // Writes the stop line, drains the queue, ends the thread and closes the file.
    static void shutdown();
    // The writer if one is running, otherwise none; never creates one.
    static LoggerOutput *existing();

    // A writer on any device (the device is opened for append-writing if it is not
    // open yet). With start false the thread is not started until startWriting(),
    // which lets callers observe the queue while the writer is held up.
    explicit LoggerOutput(std::unique_ptr<QIODevice> device, bool start = true);
    ~LoggerOutput() override;

    void startWriting();

    // Formats one line and queues it; blocks while the queue is full.
    void log(const QString &tag, const QString &category, const QString &message);

    // The line for a message logged elapsedMs milliseconds after the writer started.
    static QString formatLine(const QString &tag, const QString &category, const QString &message,
                              qint64 elapsedMs);

protected:
    void run() override;

private:
    std::unique_ptr<QIODevice> file;
    QTextStream stream;
    QSemaphore freeSlots{QueueCapacity};
    QSemaphore usedSlots{0};
    QStringList queue;
    QMutex mutex;
    bool stopRequested = false;
    QElapsedTimer clock;
};
