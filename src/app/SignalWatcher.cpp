#include "app/SignalWatcher.h"

#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int SignalPipe[2] = {-1, -1};
void OnSignal(int) {
    char c = 1;
    [[maybe_unused]] auto n = ::write(SignalPipe[0], &c, 1);
}
} // namespace
#endif

TSignalWatcher::TSignalWatcher(QObject* parent) : QObject(parent) {
#ifndef Q_OS_WIN
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalPipe) != 0) return;
    Notifier = new QSocketNotifier(SignalPipe[1], QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, [this] {
        char c;
        [[maybe_unused]] auto n = ::read(SignalPipe[1], &c, 1);
        emit Terminate();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
#endif
}

TSignalWatcher::~TSignalWatcher() {
#ifndef Q_OS_WIN
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
#endif
}
