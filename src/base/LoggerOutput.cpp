#include "LoggerOutput.h"

#include <QFile>

namespace {
LoggerOutput *theWriter = nullptr;
}

LoggerOutput *LoggerOutput::instance()
{
    if (!theWriter)
        theWriter = new LoggerOutput(std::make_unique<QFile>(QStringLiteral("logger.log")));
    return theWriter;
}

LoggerOutput *LoggerOutput::existing()
{
    return theWriter;
}

void LoggerOutput::shutdown()
{
    delete theWriter;
    theWriter = nullptr;
}

LoggerOutput::LoggerOutput(std::unique_ptr<QIODevice> device, bool start) : file(std::move(device))
{
    // Append, never truncate: the log grows across runs. A file that cannot be
    // opened only makes the writes below go nowhere.
    if (!file->isOpen())
        file->open(QIODevice::WriteOnly | QIODevice::Append);
    stream.setDevice(file.get());
    // Times count from the first line, however long a busy disk took to open the file.
    clock.start();
    log(QStringLiteral("___"), QStringLiteral("logger"), QStringLiteral("starting logger..."));
    if (start)
        startWriting();
}

LoggerOutput::~LoggerOutput()
{
    // A writer that was held up must run now, or the stop line could wait forever.
    if (!isRunning() && !isFinished())
        startWriting();
    log(QStringLiteral("___"), QStringLiteral("logger"), QStringLiteral("exiting logger..."));
    stopRequested = true;
    usedSlots.release();
    wait();
    stream.flush();
    file->close();
}

void LoggerOutput::startWriting()
{
    start(QThread::InheritPriority);
}

QString LoggerOutput::formatLine(const QString &tag, const QString &category,
                                 const QString &message, qint64 elapsedMs)
{
    return QStringLiteral("[%3.%4] %1 @ %2: ")
               .arg(tag, 5)
               .arg(category)
               .arg(elapsedMs / 1000, 4, 10, QLatin1Char('0'))
               .arg(elapsedMs % 1000, 3, 10, QLatin1Char('0')) +
           message + QLatin1Char('\n');
}

void LoggerOutput::log(const QString &tag, const QString &category, const QString &message)
{
    const QString line = formatLine(tag, category, message, clock.elapsed());
    freeSlots.acquire();
    {
        QMutexLocker lock(&mutex);
        queue.append(line);
    }
    usedSlots.release();
}

void LoggerOutput::run()
{
    for (;;) {
        usedSlots.acquire();
        {
            QMutexLocker lock(&mutex);
            if (stopRequested && queue.isEmpty())
                return;
            stream << queue.takeFirst();
            stream.flush();
        }
        freeSlots.release();
    }
}
