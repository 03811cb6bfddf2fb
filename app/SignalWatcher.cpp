#include "SignalWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    // Only async-signal-safe work here: wake the event loop.
    const char Byte = 1;
    [[maybe_unused]] ssize_t N = ::write(SignalPipe[0], &Byte, 1);
}
} // namespace

TSignalWatcher::TSignalWatcher(QObject *Parent) : QObject(Parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, SignalPipe) != 0)
        return;
    FNotifier = new QSocketNotifier(SignalPipe[1], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TSignalWatcher::HandleSignal);
    struct sigaction Action = {};
    Action.sa_handler = OnSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &Action, nullptr);
    ::sigaction(SIGINT, &Action, nullptr);
}

TSignalWatcher::~TSignalWatcher() {
    if (SignalPipe[0] < 0)
        return;
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    delete FNotifier;
    ::close(SignalPipe[0]);
    ::close(SignalPipe[1]);
    SignalPipe[0] = SignalPipe[1] = -1;
}

void TSignalWatcher::HandleSignal() {
    char Buffer[16];
    while (::read(SignalPipe[1], Buffer, sizeof Buffer) > 0) {
    }
    Q_EMIT CloseRequested();
}
