#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <X11/Xlib.h>
#include <unistd.h>

QString Desktop::run(const QString &program, const QStringList &args, int timeoutMs)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(timeoutMs);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

namespace {
// The processes started from this test and theirs (the application, its model reader): the
// ones whose work a step waits for.
QList<QByteArray> descendantStats()
{
    QHash<qint64, QList<qint64>> children;
    QHash<qint64, QByteArray> stats;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 id = pid.toLongLong(&number);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 2)
            continue;
        children[fields[1].toLongLong()].append(id);
        stats.insert(id, line);
    }
    QList<QByteArray> found;
    QList<qint64> open{qint64(getpid())};
    while (!open.isEmpty())
        for (qint64 child : children.value(open.takeLast())) {
            open.append(child);
            found.append(stats.value(child));
        }
    return found;
}

// Whether a thread of those processes runs or waits to run (or waits for the disk).
bool anyBusy()
{
    for (const QByteArray &process : descendantStats()) {
        const QByteArray pid = process.left(process.indexOf(' '));
        for (const QString &task :
             QDir(QStringLiteral("/proc/%1/task").arg(QString::fromLatin1(pid))).entryList(QDir::Dirs)) {
            QFile stat(QStringLiteral("/proc/%1/task/%2/stat").arg(QString::fromLatin1(pid), task));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray line = stat.readAll();
            const char state = line.size() > line.lastIndexOf(')') + 2
                                   ? line.at(line.lastIndexOf(')') + 2)
                                   : 'S';
            if (state == 'R' || state == 'D')
                return true;
        }
    }
    return false;
}
} // namespace

void Desktop::settle()
{
    // The server has taken every request sent so far (xdotool's connection has ended; a
    // round trip on one of our own), so what it made of them waits at the application,
    // which that woke. Then the step is done once every thread of the application (and of
    // its reader) is asleep on a few looks in a row: it has handled what it was given.
    static Display *display = XOpenDisplay(nullptr);
    if (display)
        XSync(display, False);
    QElapsedTimer clock;
    clock.start();
    for (int quiet = 0; quiet < 3 && clock.elapsed() < 60000;) {
        quiet = anyBusy() ? 0 : quiet + 1;
        QTest::qWait(2); // a poll; the test's own events go on meanwhile
    }
}

void Desktop::moveTo(QPoint p)
{
    xdotool({"mousemove", "--sync", QString::number(p.x()), QString::number(p.y())});
}

void Desktop::click(QPoint p)
{
    moveTo(p);
    settle();
    xdotool({"click", "1"});
    settle();
}

void Desktop::press(QPoint p, int button)
{
    moveTo(p);
    settle();
    xdotool({"mousedown", QString::number(button)});
    settle();
}

void Desktop::moveThrough(QPoint to)
{
    xdotool({"mousemove", QString::number(to.x()), QString::number(to.y())});
}

void Desktop::release(int button)
{
    settle();
    xdotool({"mouseup", QString::number(button)});
    settle();
}

void Desktop::drag(QPoint from, QPoint to, int steps, int pauseMs, int button)
{
    press(from, button);
    for (int i = 1; i <= steps; ++i) {
        moveThrough(from + (to - from) * i / steps);
        // Each step handled before the next, as a hand moves; `pauseMs` at least between.
        QElapsedTimer step;
        step.start();
        settle();
        if (step.elapsed() < pauseMs)
            QThread::msleep(ulong(pauseMs - step.elapsed()));
    }
    release(button);
}

void Desktop::key(const QString &keys)
{
    xdotool({"key", "--delay", "40", keys});
    settle();
}

void Desktop::type(const QString &text)
{
    xdotool({"type", "--delay", "20", text});
    settle();
}

bool Desktop::chooseFile(QPoint action, const QString &title, const QString &path)
{
    click(action);
    return answerFileDialog(title, path);
}

void Desktop::keep(const QImage &shot, const QString &name)
{
    const QString dir = qEnvironmentVariableIsSet("TUFTMILL_SCREENSHOT_DIR")
                            ? qEnvironmentVariable("TUFTMILL_SCREENSHOT_DIR")
                            : QDir::current().absoluteFilePath(QStringLiteral("e2e-shots"));
    QDir().mkpath(dir);
    shot.save(dir + QLatin1Char('/') + name);
}

bool Desktop::answerFileDialog(const QString &title, const QString &path)
{
    const qulonglong dialog = waitForWindow(title);
    if (!dialog)
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        focus(dialog);
        settle();
        key(QStringLiteral("ctrl+a"));
        type(path);
        key(QStringLiteral("Return"));
        if (waitForWindowGone(title, 8000))
            return true;
    }
    return false;
}

qulonglong Desktop::waitForWindow(const QString &title, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        const QString out = run(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name",
                                                            QStringLiteral("^%1$").arg(title)});
        if (!out.isEmpty())
            return out.split(QLatin1Char('\n')).first().toULongLong();
        QTest::qWait(200);
    }
    return 0;
}

bool Desktop::waitForWindowGone(const QString &title, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        const QString out = run(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name",
                                                            QStringLiteral("^%1$").arg(title)});
        if (out.isEmpty())
            return true;
        QTest::qWait(200);
    }
    return false;
}

QRect Desktop::windowGeometry(qulonglong id)
{
    // "Window N\n  Position: X,Y (screen: 0)\n  Geometry: WxH"
    const QString out = run(QStringLiteral("xdotool"), {"getwindowgeometry", QString::number(id)});
    QRect r;
    for (const QString &line : out.split(QLatin1Char('\n'))) {
        const QString t = line.trimmed();
        if (t.startsWith(QLatin1String("Position:"))) {
            const QStringList xy = t.mid(9).section(QLatin1Char(' '), 1, 1).split(QLatin1Char(','));
            r.moveTo(xy.value(0).toInt(), xy.value(1).toInt());
        } else if (t.startsWith(QLatin1String("Geometry:"))) {
            const QStringList wh = t.mid(9).trimmed().split(QLatin1Char('x'));
            r.setSize(QSize(wh.value(0).toInt(), wh.value(1).toInt()));
        }
    }
    return r;
}

void Desktop::focus(qulonglong id)
{
    xdotool({"windowfocus", "--sync", QString::number(id)});
    settle();
}

bool Desktop::requestClose(qulonglong id)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = Window(id);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, Window(id), False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
    return sent != 0;
}

QImage Desktop::screenshot()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("screen.png"));
    run(QStringLiteral("import"), {"-window", "root", file});
    return QImage(file);
}

QImage Desktop::settledScreenshot(const QRect &area, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QImage previous = screenshot();
    while (clock.elapsed() < timeoutMs) {
        QTest::qWait(400);
        const QImage next = screenshot();
        if (next.copy(area) == previous.copy(area))
            return next;
        previous = next;
    }
    return previous;
}

QImage Desktop::screenshotWhen(const std::function<bool(const QImage &)> &ready, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QImage shot = screenshot();
    while (!ready(shot) && clock.elapsed() < timeoutMs) {
        QTest::qWait(300);
        shot = screenshot();
    }
    return shot;
}
