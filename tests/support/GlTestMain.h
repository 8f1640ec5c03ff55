#pragma once

#include "GLRender.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QtTest>

namespace testsupport {

// Closes a modal dialog that stays open for seconds, so that a test that did not expect
// one fails at its next check instead of waiting forever.
class ModalWatchdog : public QObject
{
public:
    ModalWatchdog()
    {
        timer.setInterval(250);
        QObject::connect(&timer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (modal != seen) {
                seen = modal;
                clock.restart();
                return;
            }
            if (modal && clock.elapsed() > 5000) {
                qWarning("closing a dialog nobody answered: %s", qPrintable(modal->windowTitle()));
                if (auto *dialog = qobject_cast<QDialog *>(modal))
                    dialog->reject();
                else
                    modal->close();
            }
        });
        clock.start();
        timer.start();
    }

private:
    QTimer timer;
    QPointer<QWidget> seen;
    QElapsedTimer clock;
};

} // namespace testsupport

// Like QTEST_MAIN, with the surface format the OpenGL view needs set first and a
// watchdog against forgotten dialogs.
#define TUFTMILL_GL_TEST_MAIN(TestClass)                                                           \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        GLRender::setDefaultSurfaceFormat();                                                       \
        QApplication app(argc, argv);                                                              \
        testsupport::ModalWatchdog watchdog;                                                       \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
