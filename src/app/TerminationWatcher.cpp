#include "TerminationWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};
}

TerminationWatcher::TerminationWatcher(QObject *parent) : QObject(parent)
{
    if (signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    notifier = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &TerminationWatcher::readSignal);

    struct sigaction action = {};
    action.sa_handler = &TerminationWatcher::handleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &action, nullptr);
}

TerminationWatcher::~TerminationWatcher()
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        std::signal(sig, SIG_DFL);
}

void TerminationWatcher::handleSignal(int signal)
{
    // Only async-signal-safe work here: wake the event loop through the socket, with the
    // signal's number.
    const char byte = char(signal);
    [[maybe_unused]] ssize_t written = ::write(signalPipe[0], &byte, 1);
}

void TerminationWatcher::readSignal()
{
    char byte;
    [[maybe_unused]] ssize_t got = ::read(signalPipe[1], &byte, 1);
    emit terminationRequested();
}

int TerminationWatcher::takeSignal()
{
    char byte = 0;
    if (signalPipe[1] < 0 || ::recv(signalPipe[1], &byte, 1, MSG_DONTWAIT) != 1)
        return 0;
    return byte ? int(byte) : SIGTERM;
}
