#pragma once

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>

// Drives the X display the way a person would: pointer, buttons and keys through
// xdotool, screenshots through ImageMagick's import, and closing a window the way its
// close button does.
class Desktop
{
public:
    static QString run(const QString &program, const QStringList &args, int timeoutMs = 20000);
    static void xdotool(const QStringList &args) { run(QStringLiteral("xdotool"), args); }

    static void moveTo(QPoint p);
    static void click(QPoint p);
    static void drag(QPoint from, QPoint to, int steps, int pauseMs = 15, int button = 1);
    static void press(QPoint p, int button = 1);
    static void moveThrough(QPoint to);
    static void release(int button = 1);
    static void key(const QString &keys);
    static void type(const QString &text);
    // Until the application has handled every event sent so far (the server has taken
    // them, and no thread of the application or its reader is running).
    static void settle();

    // The first visible window whose title matches, waiting for it; 0 if none came.
    static qulonglong waitForWindow(const QString &title, int timeoutMs = 30000);
    static bool waitForWindowGone(const QString &title, int timeoutMs = 10000);
    static QRect windowGeometry(qulonglong id);
    static void focus(qulonglong id);
    // Asks the window to close (WM_DELETE_WINDOW), as its close button would.
    static bool requestClose(qulonglong id);

    // Types `path` into the file dialog titled `title` (waiting for it) and confirms; tries
    // again if the dialog was still busy and did not take it. False if it never came or
    // stayed.
    static bool answerFileDialog(const QString &title, const QString &path);
    // The same after clicking `action`, which opens the dialog.
    static bool chooseFile(QPoint action, const QString &title, const QString &path);
    // Keeps a screenshot for people to look at: in $TUFTMILL_SCREENSHOT_DIR, or in
    // e2e-shots/ of the working directory.
    static void keep(const QImage &shot, const QString &name);

    static QImage screenshot();
    // A screenshot once the area has stopped changing (the application has caught up).
    static QImage settledScreenshot(const QRect &area, int timeoutMs = 15000);
    // Screenshots until `ready` holds for one, or the time is up; returns the last.
    static QImage screenshotWhen(const std::function<bool(const QImage &)> &ready,
                                 int timeoutMs = 15000);
};
