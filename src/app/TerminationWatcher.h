#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a session logging out, Ctrl+C in the terminal)
// into an orderly close of every window, so that the normal quit path runs and the
// graftals are saved instead of the process dying with unsaved work.
class TerminationWatcher : public QObject
{
    Q_OBJECT
public:
    explicit TerminationWatcher(QObject *parent = nullptr);
    ~TerminationWatcher() override;

    // For work that runs without an event loop (the render command between frames): the
    // signal that came since the last call, or 0. Never waits.
    int takeSignal();

signals:
    void terminationRequested();

private:
    static void handleSignal(int signal);
    void readSignal();

    std::unique_ptr<QSocketNotifier> notifier;
};
