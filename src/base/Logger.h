#pragma once

#include <QObject>
#include <QString>
#include <QTextStream>
#include <memory>

class LoggerOutput;

// Per-class front-end of the log: composes messages under its category and hands
// finished lines to the process's single writer.
class Logger : public QObject
{
    Q_OBJECT
public:
    explicit Logger(const QString &category);
    ~Logger() override;

    void info(const QString &message) { log(QStringLiteral("INFO"), message); }
    void warn(const QString &message) { log(QStringLiteral("WARN"), message); }
    void error(const QString &message) { log(QStringLiteral("ERROR"), message); }
    void log(const QString &tag, const QString &message);

    // Composing a message piece by piece: stream() << ...; then flush(tag).
    QTextStream &stream() { return *textStream; }
    void flush(const QString &tag);

private:
    QString categoryName;
    std::unique_ptr<QString> buffer;
    std::unique_ptr<QTextStream> textStream;
};
