#include "Logger.h"

#include "LoggerOutput.h"

Logger::Logger(const QString &category)
    : categoryName(category), buffer(std::make_unique<QString>()),
      textStream(std::make_unique<QTextStream>(buffer.get(), QIODevice::ReadWrite))
{
    // The first logger of the process brings the writer up.
    LoggerOutput::instance();
}

Logger::~Logger() = default;

void Logger::log(const QString &tag, const QString &message)
{
    // After the writer was shut down nothing may log any more; late messages
    // (from destructors on the way out) are dropped rather than reopening the log.
    if (LoggerOutput *output = LoggerOutput::existing())
        output->log(tag, categoryName, message);
}

void Logger::flush(const QString &tag)
{
    textStream->flush();
    log(tag, *buffer);
    buffer->clear();
    textStream->seek(0);
}
