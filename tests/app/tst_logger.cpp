#include "Logger.h"
#include "LoggerOutput.h"

#include <QBuffer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {
QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(f.readAll());
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList messagesOf(const QByteArray &bytes)
{
    QStringList out;
    for (const QString &line :
         QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out << line.section(QStringLiteral(": "), 1);
    return out;
}
} // namespace

class TestLogger : public QObject
{
    Q_OBJECT
private slots:
    void lineFormat_data();
    void lineFormat();
    void writerLinesAreWholeAndOrdered();
    void eleventhCallerWaitsForStalledWriter();
    void appendsAcrossRunsAndStopsLast();
    void frontEndComposesMessages();
};

void TestLogger::lineFormat_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("expected");
    QTest::newRow("start") << "___" << qint64(0) << "[0000.000]   ___ @ cat: msg\n";
    QTest::newRow("1234 ms") << "INFO" << qint64(1234) << "[0001.234]  INFO @ cat: msg\n";
    QTest::newRow("12.5 s") << "WARN" << qint64(12500) << "[0012.500]  WARN @ cat: msg\n";
    QTest::newRow("10000 s grows")
        << "ERROR" << qint64(10000000) << "[10000.000] ERROR @ cat: msg\n";
    QTest::newRow("long tag whole")
        << "VERYLONGTAG" << qint64(7) << "[0000.007] VERYLONGTAG @ cat: msg\n";
}

void TestLogger::lineFormat()
{
    QFETCH(QString, tag);
    QFETCH(qint64, ms);
    QFETCH(QString, expected);
    QCOMPARE(LoggerOutput::formatLine(tag, QStringLiteral("cat"), QStringLiteral("msg"), ms),
             expected);
}

void TestLogger::writerLinesAreWholeAndOrdered()
{
    QByteArray bytes;
    {
        LoggerOutput writer(std::make_unique<QBuffer>(&bytes));
        for (int i = 0; i < 200; ++i)
            writer.log(QStringLiteral("INFO"), QStringLiteral("t"), QString::number(i));
    }
    const QStringList messages = messagesOf(bytes);
    QCOMPARE(messages.size(), 202);
    QCOMPARE(messages.first(), QStringLiteral("starting logger..."));
    QCOMPARE(messages.last(), QStringLiteral("exiting logger..."));
    for (int i = 0; i < 200; ++i)
        QCOMPARE(messages.at(i + 1), QString::number(i));
    QVERIFY(bytes.startsWith("[0000.0"));
    QVERIFY(!bytes.contains('\r'));
}

void TestLogger::eleventhCallerWaitsForStalledWriter()
{
    QByteArray bytes;
    {
        // The writer is held up before it writes anything: the start line and nine
        // more fill the ten places of the queue.
        LoggerOutput writer(std::make_unique<QBuffer>(&bytes), false);
        for (int i = 1; i <= 9; ++i)
            writer.log(QStringLiteral("INFO"), QStringLiteral("t"), QString::number(i));

        std::unique_ptr<QThread> eleventh(QThread::create([&writer] {
            writer.log(QStringLiteral("INFO"), QStringLiteral("t"), QStringLiteral("eleventh"));
        }));
        eleventh->start();
        QVERIFY(!eleventh->wait(300));
        QVERIFY(bytes.isEmpty());

        writer.startWriting();
        QVERIFY(eleventh->wait(5000));
    }
    QStringList expected{QStringLiteral("starting logger...")};
    for (int i = 1; i <= 9; ++i)
        expected << QString::number(i);
    expected << QStringLiteral("eleventh") << QStringLiteral("exiting logger...");
    QCOMPARE(messagesOf(bytes), expected);
}

void TestLogger::appendsAcrossRunsAndStopsLast()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    {
        QFile f(QStringLiteral("logger.log"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("an earlier line\n");
    }
    for (int run = 0; run < 2; ++run) {
        Logger logger(QStringLiteral("app.test"));
        for (int i = 0; i < 30; ++i)
            logger.info(QStringLiteral("run %1 line %2").arg(run).arg(i));
        LoggerOutput::shutdown();
        QVERIFY(LoggerOutput::existing() == nullptr);
        logger.info(QStringLiteral("dropped after shutdown"));
    }
    const QStringList lines = readLines(QStringLiteral("logger.log"));
    QDir::setCurrent(previous);

    QCOMPARE(lines.size(), 1 + 2 * 32);
    QCOMPARE(lines.first(), QStringLiteral("an earlier line"));
    const QRegularExpression start(
        QStringLiteral(R"(^\[\d{4}\.\d{3}\]   ___ @ logger: starting logger\.\.\.$)"));
    const QRegularExpression stop(
        QStringLiteral(R"(^\[\d{4}\.\d{3}\]   ___ @ logger: exiting logger\.\.\.$)"));
    for (int run = 0; run < 2; ++run) {
        const int base = 1 + run * 32;
        QVERIFY2(start.match(lines.at(base)).hasMatch(), qPrintable(lines.at(base)));
        for (int i = 0; i < 30; ++i)
            QVERIFY(
                lines.at(base + 1 + i)
                    .endsWith(QStringLiteral(" INFO @ app.test: run %1 line %2").arg(run).arg(i)));
        QVERIFY2(stop.match(lines.at(base + 31)).hasMatch(), qPrintable(lines.at(base + 31)));
    }
    QVERIFY(!lines.join(QLatin1Char('\n')).contains(QStringLiteral("dropped")));
}

void TestLogger::frontEndComposesMessages()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    {
        Logger logger(QStringLiteral("app.compose"));
        logger.stream() << "value " << 42;
        logger.flush(QStringLiteral("WARN"));
        logger.stream() << "next";
        logger.flush(QStringLiteral("ERROR"));
        LoggerOutput::shutdown();
    }
    const QStringList lines = readLines(QStringLiteral("logger.log"));
    QDir::setCurrent(previous);
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines.at(1).endsWith(QStringLiteral("  WARN @ app.compose: value 42")));
    QVERIFY2(lines.at(2).endsWith(QStringLiteral(" ERROR @ app.compose: next")),
             qPrintable(lines.at(2)));
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
