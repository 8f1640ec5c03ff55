#pragma once

#include <QDir>
#include <QPixmap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

namespace testsupport {

// Runs a test body in a fresh working directory and returns to the previous one.
class ScopedWorkDir
{
public:
    ScopedWorkDir() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~ScopedWorkDir() { QDir::setCurrent(previous); }
    QString path() const { return dir.path(); }
    QString file(const QString &name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QString previous;
};

// A 400 x 400 image of one colour, the size of a level of detail.
inline QPixmap filledLevel(const QColor &color)
{
    QPixmap p(400, 400);
    p.fill(color);
    return p;
}

inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    return f.write(bytes) == bytes.size();
}

inline QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The X windows that a process has mapped, found through xdotool.
inline QStringList windowsOf(qint64 pid)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                   QStringLiteral("--pid"), QString::number(pid)});
    xdotool.waitForFinished(5000);
    return QString::fromLatin1(xdotool.readAllStandardOutput())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Whether the process has ended within `ms`. QProcess::waitForFinished alone says false for
// a process whose end was already noticed while the test waited for something else.
inline bool ended(QProcess &process, int ms = 60000)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(ms) ||
           process.state() == QProcess::NotRunning;
}

// Starts the real application in a working directory and waits until it shows a window.
inline bool startApp(QProcess &app, const QString &workDir, int timeoutMs = 60000)
{
    app.setWorkingDirectory(workDir);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QStringLiteral(TUFTMILL_APP_PATH), {});
    if (!app.waitForStarted(10000))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (app.state() != QProcess::Running)
            return false;
        if (!windowsOf(app.processId()).isEmpty())
            return true;
        QTest::qWait(200);
    }
    return false;
}

} // namespace testsupport

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace testsupport {

// Answers every modal message box as soon as it shows, with `choice` where the box has
// that button and OK otherwise, keeping the titles and texts.
class MessageBoxCatcher : public QObject
{
public:
    QString title;
    QString text;
    QStringList titles, texts;
    int seen = 0;

    explicit MessageBoxCatcher(QMessageBox::StandardButton choice = QMessageBox::NoButton)
    {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, this, [this, choice] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                titles << (title = box->windowTitle());
                texts << (text = box->text());
                ++seen;
                if (QAbstractButton *b = box->button(choice))
                    b->click();
                else
                    box->accept();
            }
        });
        timer.start();
    }

private:
    QTimer timer;
};

} // namespace testsupport

#include <QPointer>
#include <functional>

namespace testsupport {

// Acts on the next modal dialog as soon as it shows: `act` gets the dialog and returns
// true when it is the one wanted. The action is repeated until that dialog has closed
// (a file dialog may still be reading its folder when it is first asked to accept).
class ModalDriver : public QObject
{
public:
    explicit ModalDriver(std::function<bool(QWidget *)> act) : action(std::move(act))
    {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, this, [this] {
            if (engaged) {
                if (target && target->isVisible()) {
                    action(target);
                    return;
                }
                ++handled; // closed, or already deleted by its owner
                timer.stop();
                return;
            }
            if (QWidget *modal = QApplication::activeModalWidget())
                if (action(modal)) {
                    target = modal;
                    engaged = true;
                }
        });
        timer.start();
    }
    int handled = 0;

private:
    std::function<bool(QWidget *)> action;
    QPointer<QWidget> target;
    bool engaged = false;
    QTimer timer;
};

} // namespace testsupport
